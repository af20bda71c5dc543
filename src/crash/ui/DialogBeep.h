#pragma once
// The crash windows' beep (QApplication::beep), behind one replaceable handler so tests can count
// the beeps that stand in for refused actions.

#include <functional>

namespace crash::ui {

// Callable from any thread.
void DialogBeep();

// Returns the handler in force before; an empty handler restores the real beep.
std::function<void()> SetDialogBeepHandler(std::function<void()> handler);

} // namespace crash::ui
