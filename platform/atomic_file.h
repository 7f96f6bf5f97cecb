#pragma once
// Replacing a file whole. The new content goes into a temporary file beside the old one, is
// written out and synced to the disk, and only then renamed over the old name, and the folder is
// synced after the rename so that the new name lasts through a power cut; on any failure
// (a full disk, a write error, a vanished folder) the old file stays as it was, byte for byte,
// and the temporary file is removed. Every write checks its result itself: a buffered writer
// that drops a failed flush (as QSaveFile::commit() does on this Qt) would put an empty or cut
// file in place of the old one and call it success.
//
// The temporary file is ".<name>.<6 letters or digits>.vks-save" (the name cut where the whole
// would be too long for the file system), and its writer holds an flock on it until the rename.
// A writer killed half way leaves it behind; the next replacement of the same file removes those
// whose lock it can take (their writer is gone) and leaves the ones that another running writer
// still holds. Nothing else is ever removed: no user names a file like that.
#include <QByteArrayView>
#include <QString>

namespace platform {

// The file that a replacement of path writes: the end of a chain of symbolic links (where the
// last link points at nothing, the name it points at), else path itself. A chain that loops, or
// is longer than the system follows, ends at a link, which the system then refuses to follow.
QString replacementTarget(const QString &path);

// Replaces the file at path (its link target for a symbolic link, which stays a link) with
// content, keeping the old file's permission bits, and its owner and group where this process
// may set them (the superuser always may; anyone else keeps at least the group where they are
// in it); a new file gets the umask's bits and this process's owner. Refused, and left alone: a
// path that names something other than a regular file (a named pipe, a device, a folder); a
// file its owner may not write (marked read-only), for the superuser too; a file this process
// may not write; links that loop. Empty on success, otherwise the reason in the user's words
// (file_error.h).
QString replaceFile(const QString &path, QByteArrayView content);

// Why replaceFile(path) would be refused, judged without writing: what it refuses of the file
// itself, and a folder that is missing or where this process may make no file. Empty when
// nothing stands in the way (the replacement still checks everything). For a long operation
// that ends in a save, to refuse before the work rather than after it.
QString replacementRefusal(const QString &path);

} // namespace platform
