#pragma once
#include <QString>

namespace platform {

// The user's private runtime folder: $XDG_RUNTIME_DIR when set and usable, otherwise a folder
// of our own under the temporary folder, created with mode 0700 and owned by the user.
// Lock files and sockets live here. Returns an empty string when no private folder can be had.
QString runtimeDir();

} // namespace platform
