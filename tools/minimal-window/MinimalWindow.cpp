// The yardstick of bench/startup.sh: the smallest Qt Widgets program that shows a window of the
// tool's size, so the tool's start-up is measured against what Qt itself needs. Built with
// WITH_TEXT, the window also shows one label and one edit box, as the tool's window does dozens:
// what the first text on a window costs (the font database, one font's engine, text shaping).
#include <QApplication>
#include <QWidget>
#if WITH_TEXT
#include <QLabel>
#include <QLineEdit>
#endif

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal window"));
    window.resize(523, 354);
#if WITH_TEXT
    (new QLabel(QStringLiteral("Skin name:"), &window))->move(16, 16);
    (new QLineEdit(QStringLiteral("ocean"), &window))->move(16, 40);
#endif
    window.show();
    return application.exec();
}
