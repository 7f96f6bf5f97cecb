#pragma once
// Why a file could not be read or written, in the user's words. The common causes (a full disk,
// a read-only file or file system, a missing permission, something that is not a file, a name
// too long, a missing folder, links that loop) are said in Russian; anything rarer keeps the
// system's own text.
// Every message about a user's file takes its reason from here, so that one cause reads the
// same wherever it happens.
#include <QString>

namespace platform {

// What was being done with the file: the same system error means different things for a read
// (a missing name is the file) and a write (a missing name is its folder).
enum class FileAccess { Read, Write };

// Refusals of our own, beside the system's errno values (which are all positive).
enum FileRefusal : int {
    NotRegularFile = -1, // a named pipe, a device, a folder, a socket
    ReadOnlyFile = -2,   // the file lacks its owner's write permission
};

// The reason for error (an errno value or a FileRefusal), one sentence ending in a full stop.
QString fileErrorText(int error, FileAccess access);

} // namespace platform
