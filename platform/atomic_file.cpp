#include "platform/atomic_file.h"

#include "platform/file_error.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <vector>

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr char TemporaryLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr int TemporaryRandomLength = 6;
// A temporary file is ".<name>.<6 letters or digits>.vks-save": hidden, and with an ending of
// our own, so that no file a user made is ever taken for one.
constexpr QByteArrayView TemporarySuffix = ".vks-save";
constexpr qsizetype MaxFileNameBytes = NAME_MAX;
// The links followed from the name saved to the file, as many as the system itself follows.
constexpr int MaxLinks = 40;

// The part of name that a temporary file's name starts with (after its dot): all of it, or as
// much as leaves room for the rest within the longest file name.
QByteArrayView temporaryStem(QByteArrayView name)
{
    return name.first(qMin(name.size(), MaxFileNameBytes - 2 - TemporaryRandomLength - TemporarySuffix.size()));
}

// Writes all of data, going on after a partial write or a signal.
bool writeAll(int fd, QByteArrayView data)
{
    const char *p = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

int lockFile(int fd, int how)
{
    int rc;
    do
        rc = ::flock(fd, how);
    while (rc != 0 && errno == EINTR);
    return rc;
}

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

// Whether entry is the name of a temporary file of a replacement of the file called name.
bool isTemporaryOf(QByteArrayView entry, QByteArrayView name)
{
    const QByteArrayView stem = temporaryStem(name);
    if (entry.size() != 1 + stem.size() + 1 + TemporaryRandomLength + TemporarySuffix.size() || entry[0] != '.'
        || !entry.sliced(1).startsWith(stem) || entry[1 + stem.size()] != '.' || !entry.endsWith(TemporarySuffix))
        return false;
    const QByteArrayView random = entry.sliced(1 + stem.size() + 1, TemporaryRandomLength);
    for (const char c : random) {
        if (QByteArrayView(TemporaryLetters).indexOf(c) < 0)
            return false;
    }
    return true;
}

// Removes the temporary files that dead writers left beside target. A live writer holds the
// flock of its temporary file until its rename, so a file whose lock can be taken has no writer;
// it is removed while the lock is held and only if the name still is that file.
void removeStaleTemporaries(const QByteArray &target)
{
    const QByteArray folder = folderOf(target);
    const QByteArray name = target.mid(target.lastIndexOf('/') + 1);
    std::vector<QByteArray> stale;
    if (DIR *dir = ::opendir(folder.constData())) {
        while (const dirent *entry = ::readdir(dir)) {
            if (isTemporaryOf(entry->d_name, name))
                stale.push_back(folder + '/' + entry->d_name);
        }
        ::closedir(dir);
    }
    for (const QByteArray &path : stale) {
        constexpr int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
        int fd = ::open(path.constData(), O_RDONLY | flags);
        if (fd < 0 && errno == EACCES)
            fd = ::open(path.constData(), O_WRONLY | flags);
        if (fd < 0)
            continue;
        struct stat byFd {}, byName {};
        if (::fstat(fd, &byFd) == 0 && S_ISREG(byFd.st_mode) && lockFile(fd, LOCK_EX | LOCK_NB) == 0
            && ::lstat(path.constData(), &byName) == 0 && byName.st_dev == byFd.st_dev && byName.st_ino == byFd.st_ino)
            ::unlink(path.constData());
        ::close(fd);
    }
}

// A new file beside target that no one else has, and the lock that keeps it from being taken
// for a dead writer's while it lives.
struct Temporary {
    QByteArray name;
    int fd = -1;     // written through
    int lockFd = -1; // holds the flock: a descriptor of its own, so that the written one can be
                     // closed (and its close checked) before the rename while the lock stays
};

bool createTemporary(const QByteArray &target, Temporary &temporary)
{
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray start = target.first(slash + 1) + '.' + temporaryStem(target.sliced(slash + 1)).toByteArray() + '.';
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray name = start;
        for (int i = 0; i < TemporaryRandomLength; ++i)
            name += TemporaryLetters[QRandomGenerator::global()->bounded(int(sizeof TemporaryLetters) - 1)];
        name += TemporarySuffix;
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        // Read-only, so that its close after the rename is no write to the file under its new
        // name; where the umask leaves no read permission, the written descriptor holds the lock.
        const int lockFd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
        // A file system without flock leaves the file unlocked; no one can then take it for a
        // dead writer's either.
        lockFile(lockFd >= 0 ? lockFd : fd, LOCK_EX);
        // Between the open and the lock another save may have taken the file for a dead
        // writer's and removed it: then start again with a new one.
        struct stat info {};
        if (::fstat(fd, &info) == 0 && info.st_nlink == 0) {
            ::close(fd);
            if (lockFd >= 0)
                ::close(lockFd);
            continue;
        }
        temporary = {std::move(name), fd, lockFd};
        return true;
    }
    errno = EEXIST;
    return false;
}

// Gives the replacement the owner and group of the file it replaces: a save by the superuser
// (a run under sudo) must not take the user's file from them. Where this process may not give
// the file away (an ordinary user saving another's file that the group may write), it keeps at
// least the group, so that those who shared the file through it still can.
void keepOwner(int fd, const struct stat &old)
{
    struct stat now {};
    if (::fstat(fd, &now) != 0 || (now.st_uid == old.st_uid && now.st_gid == old.st_gid))
        return;
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 && now.st_gid != old.st_gid)
        (void)::fchown(fd, uid_t(-1), old.st_gid);
}

// Makes the rename itself last: until its folder is on the disk, a power cut can bring back the
// old file, or no file at all where there was none. A folder this process may not read cannot
// be synced, and a file system that has no sync for folders needs none.
int syncFolder(const QByteArray &target)
{
    const int fd = ::open(folderOf(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const int error = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS ? 0 : errno;
    ::close(fd);
    return error;
}

} // namespace

QString replacementTarget(const QString &path)
{
    // A chain of links ends at the file, or, where the last link points at nothing, at the name
    // the file is to have. A loop (or a chain longer than the system follows) ends at a link.
    QString target = path;
    for (int followed = 0; followed < MaxLinks; ++followed) {
        const QFileInfo info(target);
        if (!info.isSymLink())
            break;
        target = info.symLinkTarget();
    }
    return target;
}

namespace {

// What refuses the replacement of the file at target itself, as an error code (0: nothing);
// old holds its status where it exists.
int fileRefusal(const QByteArray &target, struct stat &old, bool &exists)
{
    exists = ::stat(target.constData(), &old) == 0;
    if (!exists)
        return errno == ENOENT ? 0 : errno;
    if (!S_ISREG(old.st_mode))
        return NotRegularFile;
    // A file without its owner's write permission was marked read-only: the rename would
    // replace it all the same (and the superuser could write it anyway), so it is refused here.
    if (!(old.st_mode & S_IWUSR))
        return ReadOnlyFile;
    if (::faccessat(AT_FDCWD, target.constData(), W_OK, AT_EACCESS) != 0)
        return errno;
    return 0;
}

} // namespace

QString replacementRefusal(const QString &path)
{
    const QByteArray target = QFile::encodeName(replacementTarget(path));
    struct stat old {};
    bool exists = false;
    int error = fileRefusal(target, old, exists);
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(target)).absolutePath());
    if (!error && ::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        error = errno;
    return error ? fileErrorText(error, FileAccess::Write) : QString();
}

QString replaceFile(const QString &path, QByteArrayView content)
{
    const auto refusal = [](int error) { return fileErrorText(error, FileAccess::Write); };
    const QByteArray target = QFile::encodeName(replacementTarget(path));
    struct stat old {};
    bool exists = false;
    if (const int error = fileRefusal(target, old, exists))
        return refusal(error);
    removeStaleTemporaries(target);

    Temporary temporary;
    if (!createTemporary(target, temporary))
        return refusal(errno);
    // The data must be on the disk before the name points at it: the sync is also where a
    // file system that allocates late reports a full disk.
    const int fd = temporary.fd;
    // The owner first: a change of owner clears the set-id bits that the mode then puts back.
    if (exists)
        keepOwner(fd, old);
    const bool written = (!exists || ::fchmod(fd, old.st_mode & 07777) == 0) && writeAll(fd, content)
                         && ::fsync(fd) == 0;
    int error = written ? 0 : errno;
    // The written descriptor is closed, and its close checked, before the rename, unless it is
    // the one that holds the lock: the lock stays until the name is settled.
    const bool separateLock = temporary.lockFd >= 0;
    if (separateLock && ::close(fd) != 0 && !error)
        error = errno;
    bool renamed = false;
    if (!error) {
        renamed = ::rename(temporary.name.constData(), target.constData()) == 0;
        error = renamed ? 0 : errno;
    }
    if (!renamed)
        ::unlink(temporary.name.constData());
    ::close(separateLock ? temporary.lockFd : fd);
    if (renamed)
        error = syncFolder(target);
    return error ? refusal(error) : QString();
}

} // namespace platform
