#include "app/TApplication.h"

#include "platform/FontConfiguration.h"
#include "platform/UnhandledException.h"
#include "platform/WindowsFonts.h"

#include <QEvent>
#include <QFontDatabase>
#include <atomic>

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

namespace {

std::atomic<bool> g_windowFontsLoaded{false};

QStringList WindowFontFiles()
{
    QStringList files;
    for (const QString& file : {QStringLiteral("tahoma.ttf"), QStringLiteral("tahomabd.ttf")})
        if (const QString path = platform::FindWindowsFont(file); !path.isEmpty())
            files << path;
    return files;
}

} // namespace

void TApplication::loadWindowFontsEarly()
{
    if (g_windowFontsLoaded.exchange(true))
        return;
    platform::AddFontFilesToConfiguration(WindowFontFiles());
}

void TApplication::loadWindowFonts()
{
    if (g_windowFontsLoaded.exchange(true))
        return;
    for (const QString& path : WindowFontFiles())
        QFontDatabase::addApplicationFont(path);
}

} // namespace app
