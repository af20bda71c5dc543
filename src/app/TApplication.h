#pragma once
// The application object: routes every exception that escapes an event handler to the program's
// single unhandled-exception point instead of letting it tear the event loop down.

#include <QApplication>

namespace app {

class TApplication : public QApplication
{
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;

    // Loads the window font (Tahoma) from the Wine font folder, which fontconfig does not scan.
    static void loadWindowFonts();
};

} // namespace app
