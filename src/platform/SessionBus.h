#pragma once
// The desktop's session bus. On X11 and Wayland the window framework's accessibility bridge opens
// it at the first change of a control's text, and the main thread waits until it is open. Opened
// beforehand on a helper thread, the main thread finds the connection made (or refused).
//
// Where neither the environment nor the user's runtime folder names the bus, the bus library
// looks for one by forking this process to run a bus launcher. A child forked while another thread
// holds an allocator's lock waits for that lock forever when it allocates before running the
// launcher, as the library's child does (AddressSanitizer's allocator does not guard itself across
// fork). Such a connection is therefore made before other threads are busy, not beside them.

#include "platform/HelperThread.h"

namespace platform {

// Opens the process's session bus connection unless the window platform asked for
// (QT_QPA_PLATFORM) is one without a desktop (offscreen, minimal, ...), where nothing asks for it
// at start-up. Safe on any thread, also before the application object exists.
void ConnectSessionBus();

// Whether the bus library finds the session bus without a launcher: DBUS_SESSION_BUS_ADDRESS is
// set, or $XDG_RUNTIME_DIR/bus is a socket of this user's (the library's own two places).
bool SessionBusFoundWithoutLauncher();

// Opens the session bus ahead of its first use: on the returned helper where the bus is found
// without a launcher, otherwise at once on this thread (the helper then has no work). Called
// before other threads are busy.
HelperThread OpenSessionBusAhead();

} // namespace platform
