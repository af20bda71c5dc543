// Another program's window: a plain red window at the geometry given as "x y width height", kept
// until a line arrives on standard input (or 30 s pass). Prints "ready" once it is on the screen.
#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 5)
        return 2;
    QWidget cover(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
    cover.setAutoFillBackground(true);
    QPalette palette = cover.palette();
    palette.setColor(QPalette::Window, Qt::red);
    cover.setPalette(palette);
    cover.setGeometry(atoi(argv[1]), atoi(argv[2]), atoi(argv[3]), atoi(argv[4]));
    cover.show();
    QTimer::singleShot(300, [] {
        std::printf("ready\n");
        std::fflush(stdout);
    });
    QTimer poller;
    int waited = 0;
    QObject::connect(&poller, &QTimer::timeout, [&] {
        pollfd in{STDIN_FILENO, POLLIN, 0};
        if (poll(&in, 1, 0) > 0 || (waited += 50) > 30000)
            QCoreApplication::exit(0);
    });
    poller.start(50);
    return app.exec();
}
