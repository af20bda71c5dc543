#pragma once
// The fonts of the crash reporter's windows. Tahoma comes from Wine's font folder when it is
// installed; without it the texts fall back to the system's sans font (standing in for
// "MS Sans Serif") and the report to the system's fixed font (standing in for "Courier New").

#include <QFont>

namespace crash::ui {

class DialogFonts
{
public:
    // Tahoma 11 px, else the sans fallback at 12 px.
    static QFont text();
    // Courier New 11 px, else the system's fixed font at 11 px.
    static QFont report();
    // Arial 15 px bold: the assistant forms' heading.
    static QFont heading();
    // Whether Tahoma could be loaded; for tests and the missing-font case.
    static bool hasTahoma();
    // Tests: pretend Tahoma is missing.
    static void setTahomaDisabled(bool disabled);

private:
    static void loadWineFonts();
};

} // namespace crash::ui
