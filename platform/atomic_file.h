#pragma once
// Replacing a whole file at once: the bytes go to a temporary file beside it, are flushed and
// checked, and only then renamed over the old file, so a crash or a full disk never leaves a
// truncated or empty file behind. (QSaveFile alone reports success on this Qt when flushing its
// buffer failed for a full disk, so the flush is checked first.)
#include <QByteArray>
#include <QString>

namespace platform {

// True when the file now holds exactly `bytes`; false (old file untouched) otherwise, with the
// reason in *error when given.
bool replaceFileAtomically(const QString &path, const QByteArray &bytes, QString *error = nullptr);

} // namespace platform
