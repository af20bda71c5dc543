#pragma once
// The system's font configuration (fontconfig): its configuration files and the caches of every
// font folder. The first font lookup of the window framework reads them; that is about as much
// work as building the whole window, and none of it needs the window framework.

namespace platform {

// Reads the configuration and the font caches, once per process; later calls, here or inside the
// window framework, find them loaded. Safe on any thread.
void LoadFontConfiguration();

} // namespace platform
