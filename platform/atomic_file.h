#pragma once
// Replacing a file whole. The new content goes into a temporary file beside the old one, is
// written out and synced to the disk, and only then renamed over the old name; on any failure
// (a full disk, a write error, a vanished folder) the old file stays as it was, byte for byte,
// and the temporary file is removed. Every write checks its result itself: a buffered writer
// that drops a failed flush (as QSaveFile::commit() does on this Qt) would put an empty or cut
// file in place of the old one and call it success.
#include <QByteArrayView>
#include <QString>

namespace platform {

// The file that a replacement of path writes: the target of a symbolic link, else path itself.
QString replacementTarget(const QString &path);

// Replaces the file at path (its link target for a symbolic link) with content, keeping the old
// file's permission bits; a new file gets those of the umask. A path that names something other
// than a regular file (a named pipe, a device, a folder) is refused and left alone. Empty on
// success, otherwise the system's text of what failed.
QString replaceFile(const QString &path, QByteArrayView content);

} // namespace platform
