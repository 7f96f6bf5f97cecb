#include "platform/runtime_dir.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

bool isPrivateFolder(const QString &path)
{
    struct stat st {};
    if (lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

} // namespace

QString runtimeDir()
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty() && isPrivateFolder(xdg))
        return xdg;

    // QDir::tempPath() is empty when TMPDIR names a missing folder: never fall to the root.
    QString temp = QDir::tempPath();
    if (temp.isEmpty() || !QFileInfo(temp).isDir())
        temp = QStringLiteral("/tmp");
    const QString own = temp + QStringLiteral("/vks74xx-runtime-%1").arg(getuid());
    const QByteArray native = QFile::encodeName(own);
    if (mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    return isPrivateFolder(own) ? own : QString();
}

} // namespace platform
