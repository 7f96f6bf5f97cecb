#pragma once
#include <QString>

namespace platform {

// The user's private runtime folder: $XDG_RUNTIME_DIR when set and usable, otherwise a folder
// of our own under the temporary folder, created with mode 0700 and owned by the user.
// Sockets live here. Returns an empty string when no private folder can be had: the fallback
// folder's name is known to everyone, so another user may have made it first, and a folder that
// others can enter or that is not ours is never used.
QString runtimeDir();

// Why runtimeDir() is empty, naming the folder; empty when it is not.
QString runtimeDirProblem();

// Names runtimeDir() in XDG_RUNTIME_DIR when the variable is unset or names no private folder,
// so that Qt, which looks at it on its own, finds the same folder and starts without warning
// about it, and the processes the program starts share it. Call first thing in main(), before
// the application object and anything that takes a named lock.
void exportRuntimeDir();

} // namespace platform
