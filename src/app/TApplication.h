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

    // The window font (Tahoma) from the Wine font folder, which fontconfig does not scan, loaded
    // once by whichever of these comes first. Before the application object exists, on any thread
    // (a start-up helper): into the font configuration, which the framework reads later.
    static void loadWindowFontsEarly();
    // On the main thread once the application object exists: into the framework's font database.
    static void loadWindowFonts();
};

} // namespace app
