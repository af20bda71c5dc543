#include "app/TApplication.h"

#include "platform/UnhandledException.h"
#include "platform/WindowsFonts.h"

#include <QEvent>
#include <QFontDatabase>

namespace app {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    // Read before dispatch: the handler may delete the event.
    platform::ExceptionOrigin origin;
    origin.kind = event->type() == QEvent::MetaCall ? platform::ExceptionOrigin::Kind::MarshalledCall
                                                    : platform::ExceptionOrigin::Kind::EventHandler;
    origin.receiver = receiver;
    try {
        platform::ExceptionFrame frame;
        return QApplication::notify(receiver, event);
    } catch (...) {
        platform::HandleApplicationException(std::current_exception(), origin);
    }
    return false;
}

void TApplication::loadWindowFonts()
{
    static bool loaded = false;
    if (loaded)
        return;
    loaded = true;
    for (const QString& file : {QStringLiteral("tahoma.ttf"), QStringLiteral("tahomabd.ttf")}) {
        const QString path = platform::FindWindowsFont(file);
        if (!path.isEmpty())
            QFontDatabase::addApplicationFont(path);
    }
}

} // namespace app
