#pragma once

namespace app {

// The program: single-instance check, application set-up, main window, message loop.
int SkinToolMain(int argc, char** argv);

} // namespace app
