// The private runtime folder of the user, for sockets, and why there is none when there is none.
#include "platform/runtime_dir.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Empty when the folder is a private folder of ours, else what is wrong with it.
QString folderProblem(const QString &path)
{
    struct stat st {};
    if (lstat(QFile::encodeName(path).constData(), &st) != 0)
        return QStringLiteral("%1 cannot be looked at: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("%1 is not a folder").arg(path);
    if (st.st_uid != getuid())
        return QStringLiteral("the folder %1 belongs to another user (uid %2); remove it").arg(path).arg(st.st_uid);
    if ((st.st_mode & 077) != 0)
        return QStringLiteral("the folder %1 is open to other users (mode %2); remove it or make it mode 700")
            .arg(path)
            .arg(st.st_mode & 0777, 3, 8, QLatin1Char('0'));
    return QString();
}

bool isPrivateFolder(const QString &path)
{
    return folderProblem(path).isEmpty();
}

QString fallbackFolder()
{
    // QDir::tempPath() is empty when TMPDIR names a missing folder: never fall to the root.
    QString temp = QDir::tempPath();
    if (temp.isEmpty() || !QFileInfo(temp).isDir())
        temp = QStringLiteral("/tmp");
    return temp + QStringLiteral("/vks74xx-runtime-%1").arg(getuid());
}

} // namespace

QString runtimeDirProblem()
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty() && isPrivateFolder(xdg))
        return QString();
    runtimeDir();  // makes the fallback folder when it can
    const QString problem = folderProblem(fallbackFolder());
    return problem.isEmpty() ? QString() : QStringLiteral("No private runtime folder: ") + problem;
}

QString runtimeDir()
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty() && isPrivateFolder(xdg))
        return xdg;

    const QString own = fallbackFolder();
    const QByteArray native = QFile::encodeName(own);
    if (mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return QString();
    return isPrivateFolder(own) ? own : QString();
}

void exportRuntimeDir()
{
    const QString dir = runtimeDir();
    if (!dir.isEmpty() && dir != qEnvironmentVariable("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir));
}

} // namespace platform
