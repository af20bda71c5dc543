#pragma once
// The system's font configuration (fontconfig): its configuration files and the caches of every
// font folder. The first font lookup of the window framework reads them; that is about as much
// work as building the whole window, and none of it needs the window framework.

#include <QStringList>

namespace platform {

// Reads the configuration and the font caches, once per process; later calls, here or inside the
// window framework, find them loaded. Safe on any thread.
void LoadFontConfiguration();

// Adds font files of the program's own to the configuration's fonts, before the window framework's
// font database is filled (which lists them with the system's then): reading a font file is work
// a start-up helper can do. Answers how many of the files were fonts and were added. Not
// concurrently with the framework's own font lookups.
int AddFontFilesToConfiguration(const QStringList& files);

} // namespace platform
