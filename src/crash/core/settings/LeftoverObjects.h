#pragma once

namespace crash {

// Removes the named objects of the reporter (settings buffer and mutex, thread-name buffer, restart
// section) that ended processes left behind, once per module, before the first of them is opened.
void RemoveLeftoverObjectsOnce();

} // namespace crash
