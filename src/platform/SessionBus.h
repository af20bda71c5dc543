#pragma once
// The desktop's session bus. On X11 and Wayland the window framework's accessibility bridge opens
// it at the first change of a control's text, and the main thread waits until it is open; where no
// bus runs, that includes starting the bus's launcher and seeing it fail. Opened beforehand on a
// helper thread, the main thread finds the connection made (or refused).

namespace platform {

// Opens the process's session bus connection unless the window platform asked for
// (QT_QPA_PLATFORM) is one without a desktop (offscreen, minimal, ...), where nothing asks for it
// at start-up. Safe on any thread, also before the application object exists.
void ConnectSessionBus();

} // namespace platform
