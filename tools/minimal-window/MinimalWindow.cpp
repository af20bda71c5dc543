// The yardstick of bench/startup.sh: the smallest Qt Widgets program that shows a window of the
// tool's size, so the tool's start-up is measured against what Qt itself needs.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal window"));
    window.resize(523, 354);
    window.show();
    return application.exec();
}
