// A second process with a background progress window: prints "slot x y width height" and keeps
// the window until a line arrives on standard input (or 30 s pass).
#include "crash/ui/TIProgressAlert.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    crash::ui::TIProgressAlert alert(QStringLiteral("Sending bug report"));
    alert.addStep(QStringLiteral("Sending mail..."), 100);
    alert.show(false);
    QTimer::singleShot(300, [&] {
        const auto* w = alert.window();
        std::printf("%d %d %d %d %d\n", w->slot(), w->x(), w->y(), w->width(), w->height());
        std::fflush(stdout);
    });
    QTimer poller;
    int waited = 0;
    QObject::connect(&poller, &QTimer::timeout, [&] {
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (poll(&in, 1, 0) > 0 || (waited += 50) > 30000)
            QCoreApplication::exit(0); // quit() would ask the progress window, which refuses
    });
    poller.start(50);
    app.exec();
    alert.close();
    return 0;
}
