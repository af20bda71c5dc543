#pragma once
// Text rules shared by the exception dialog and its small boxes.

#include <QString>

namespace crash::ui {

// Puts a line break (CR LF) after every sentence: a full stop at 1-based position 20 up to the
// length less 10 that is followed by a blank has that blank replaced. Short messages stay whole.
QString BreakSentences(const QString& message);

// The running program's file name without folder and extension: the small box's title.
QString ProgramBaseName();

// A caption as the user sees it: "&&" stays a literal "&", a single "&" marks the shortcut.
QString VisibleCaption(const QString& caption);

} // namespace crash::ui
