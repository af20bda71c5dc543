#pragma once
// The crash reporter's working folder, "<program>.Halvorn": private to this user (see
// platform::PrivateFolder for where it lies), it holds every temporary file of a send, each send's
// in a task folder of its own that is removed when the send ends.

#include "platform/PrivateFolder.h"

#include <QString>
#include <memory>

namespace crash {

class ReporterWorkFolder
{
public:
    // The executable's file name without extension, then ".Halvorn".
    static QString name();
    // Null when no private folder could be had.
    static std::unique_ptr<platform::PrivateFolder> open();
    // What earlier handlings left there, except what a live send still holds.
    static void removeLeftovers();
};

} // namespace crash
