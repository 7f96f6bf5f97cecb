// Replacing a file whole (platform/atomic_file.h): the data is on the disk before the name
// points at it, a link stays a link, a file marked read-only stays as it was, a refusal says why
// in the user's words, and the temporary files of saves killed half way go with the next save
// while a running save keeps its own.
#include "platform/atomic_file.h"
#include "platform/profile.h"
#include "platform/user_file.h"
#include "tests/support/lock_holder_process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QCoreApplication>
#include <QTest>

#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// --- Every sync and rename of the process, seen through our own fsync and rename ---

namespace spy {

struct Event {
    enum Kind { Sync, Rename };
    Kind kind;
    dev_t dev;
    ino_t ino;
    off_t size;    // Sync: the file's size when it was synced
    QByteArray to; // Rename: the new name
};

std::mutex mutex;
std::vector<Event> events;

void sync(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) == 0) {
        std::lock_guard lock(mutex);
        events.push_back({Event::Sync, info.st_dev, info.st_ino, info.st_size, {}});
    }
}

void rename(int dirfd, const char *from, const char *to)
{
    struct stat info {};
    if (::fstatat(dirfd, from, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        std::lock_guard lock(mutex);
        events.push_back({Event::Rename, info.st_dev, info.st_ino, info.st_size, QByteArray(to)});
    }
}

template <typename Fn>
Fn real(const char *name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

} // namespace spy

extern "C" int fsync(int fd)
{
    spy::sync(fd);
    static const auto real = spy::real<int (*)(int)>("fsync");
    return real(fd);
}

extern "C" int fdatasync(int fd)
{
    spy::sync(fd);
    static const auto real = spy::real<int (*)(int)>("fdatasync");
    return real(fd);
}

extern "C" int rename(const char *from, const char *to) noexcept
{
    spy::rename(AT_FDCWD, from, to);
    static const auto real = spy::real<int (*)(const char *, const char *)>("rename");
    return real(from, to);
}

extern "C" int renameat(int fromDir, const char *from, int toDir, const char *to) noexcept
{
    spy::rename(fromDir, from, to);
    static const auto real = spy::real<int (*)(int, const char *, int, const char *)>("renameat");
    return real(fromDir, from, toDir, to);
}

extern "C" int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned flags) noexcept
{
    spy::rename(fromDir, from, to);
    static const auto real = spy::real<int (*)(int, const char *, int, const char *, unsigned)>("renameat2");
    return real(fromDir, from, toDir, to, flags);
}

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void putFile(const QString &path, const QByteArray &bytes, mode_t mode = 0644)
{
    // A file left read-only by the last round is opened for writing by its owner, not only by
    // the superuser.
    (void)::chmod(QFile::encodeName(path).constData(), 0600);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
    file.close();
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

mode_t modeOf(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

const QString ReadOnly = QStringLiteral("Файл доступен только для чтения.");

} // namespace

class TestAtomicFile : public QObject {
    Q_OBJECT
    std::optional<QTemporaryDir> m_dir;

    QString path(const QString &name) const { return m_dir->filePath(name); }

private slots:
    void init()
    {
        m_dir.emplace();
        QVERIFY(m_dir->isValid());
    }
    void cleanup()
    {
        // Whatever a test left read-only goes too.
        for (const QString &name : entries(m_dir->path()))
            ::chmod(QFile::encodeName(path(name)).constData(), 0755);
        m_dir.reset();
    }

    // The synced file is the one renamed, synced with all of its bytes, before the rename; the
    // folder is synced after the rename.
    void dataReachesTheDiskBeforeTheRename()
    {
        const QString target = path(QStringLiteral("job.prj"));
        const QByteArray target8 = QFile::encodeName(target);
        struct stat folder {};
        QCOMPARE(::stat(QFile::encodeName(m_dir->path()).constData(), &folder), 0);
        // Empty when the file renamed onto target was synced with size bytes before the rename
        // and the folder after it.
        const auto syncedBeforeRename = [&](qsizetype size) -> QByteArray {
            std::lock_guard lock(spy::mutex);
            const auto rename = std::find_if(spy::events.begin(), spy::events.end(), [&](const spy::Event &e) {
                return e.kind == spy::Event::Rename && e.to == target8;
            });
            const bool renamed = rename != spy::events.end();
            const bool synced = renamed && std::any_of(spy::events.begin(), rename, [&](const spy::Event &e) {
                return e.kind == spy::Event::Sync && e.dev == rename->dev && e.ino == rename->ino && e.size == size;
            });
            const bool folderSynced = renamed && std::any_of(rename, spy::events.end(), [&](const spy::Event &e) {
                return e.kind == spy::Event::Sync && e.dev == folder.st_dev && e.ino == folder.st_ino;
            });
            spy::events.clear();
            return !renamed        ? "the file was not renamed into place"
                   : !synced       ? "the data was renamed into place before it was synced"
                   : !folderSynced ? "the folder was not synced after the rename"
                                   : QByteArray();
        };
        spy::events.clear();
        const QByteArray first(100000, 'a');
        QCOMPARE(platform::replaceFile(target, first), QString());
        QCOMPARE(syncedBeforeRename(first.size()), QByteArray());
        const QByteArray second = "second";
        QCOMPARE(platform::replaceFile(target, second), QString());
        QCOMPARE(syncedBeforeRename(second.size()), QByteArray());
        QCOMPARE(fileBytes(target), second);

        // A profile write goes the same way.
        platform::ProfileFile(target).writeString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("v"));
        QCOMPARE(syncedBeforeRename(QFileInfo(target).size()), QByteArray());
    }

    // A save through a link (and a chain of links, relative ones in another folder) replaces
    // the file at the end of the chain; every link stays and still points where it did.
    void linksKeepPointingAtTheSavedFile()
    {
        QVERIFY(QDir().mkpath(path(QStringLiteral("real"))));
        QVERIFY(QDir().mkpath(path(QStringLiteral("links"))));
        const QString file = path(QStringLiteral("real/copy.bin"));
        putFile(file, "old", 0640);
        const QString one = path(QStringLiteral("links/one.bin")), two = path(QStringLiteral("links/two.bin"));
        QCOMPARE(::symlink("../real/copy.bin", QFile::encodeName(one).constData()), 0);
        QCOMPARE(::symlink("one.bin", QFile::encodeName(two).constData()), 0);

        QCOMPARE(platform::replaceFile(one, "through one"), QString());
        QCOMPARE(fileBytes(file), QByteArray("through one"));
        QCOMPARE(platform::replaceFile(two, "through two"), QString());
        QCOMPARE(fileBytes(file), QByteArray("through two"));
        platform::ProfileFile(two).writeString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("v"));
        QCOMPARE(fileBytes(file), QByteArray("through two\r\n[S]\r\nK=v\r\n"));

        QCOMPARE(QFile::symLinkTarget(one), file);
        QCOMPARE(QFile(one).symLinkTarget(), file);
        QCOMPARE(QFileInfo(one).isSymLink(), true);
        QCOMPARE(QFileInfo(two).isSymLink(), true);
        QCOMPARE(QFileInfo(two).symLinkTarget(), one);
        QCOMPARE(modeOf(file), mode_t(0640));
        QCOMPARE(entries(path(QStringLiteral("links"))), QStringList({"one.bin", "two.bin"}));
        QCOMPARE(entries(path(QStringLiteral("real"))), QStringList({"copy.bin"}));

        // A chain whose last link points at nothing: the save makes the file it points at.
        QCOMPARE(::symlink("../real/new.bin", QFile::encodeName(path(QStringLiteral("links/b.bin"))).constData()), 0);
        QCOMPARE(::symlink("b.bin", QFile::encodeName(path(QStringLiteral("links/a.bin"))).constData()), 0);
        QCOMPARE(platform::replaceFile(path(QStringLiteral("links/a.bin")), "new"), QString());
        QCOMPARE(fileBytes(path(QStringLiteral("real/new.bin"))), QByteArray("new"));
        QCOMPARE(QFileInfo(path(QStringLiteral("links/b.bin"))).symLinkTarget(), path(QStringLiteral("real/new.bin")));
        QCOMPARE(QFileInfo(path(QStringLiteral("links/a.bin"))).symLinkTarget(), path(QStringLiteral("links/b.bin")));
    }

    // A file without its owner's write permission is read-only, whoever saves it (the superuser
    // too): it stays as it was, with its permissions, and the refusal says so.
    void readOnlyFilesStayAsTheyWere()
    {
        const QString file = path(QStringLiteral("copy.bin"));
        for (const mode_t mode : {mode_t(0444), mode_t(0400), mode_t(0464), mode_t(0466)}) {
            putFile(file, "kept", mode);
            QCOMPARE(platform::replaceFile(file, "lost"), ReadOnly);
            QCOMPARE(fileBytes(file), QByteArray("kept"));
            QCOMPARE(modeOf(file), mode);
            try {
                platform::ProfileFile(file).writeString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("v"));
                QFAIL("a read-only profile file was written");
            } catch (const platform::ProfileWriteError &e) {
                QCOMPARE(e.text(), QStringLiteral("Unable to write to ") + file);
                QCOMPARE(e.message(), QStringLiteral("Unable to write to ") + file + QLatin1Char('\n') + ReadOnly);
            }
            QCOMPARE(fileBytes(file), QByteArray("kept"));
            QCOMPARE(entries(m_dir->path()), QStringList{"copy.bin"});
        }
        // The owner's write bit alone makes it writable again.
        putFile(file, "kept", 0200 | 0444);
        QCOMPARE(platform::replaceFile(file, "new"), QString());
        QCOMPARE(fileBytes(file), QByteArray("new"));
        QCOMPARE(modeOf(file), mode_t(0644));
    }

    // A save by the superuser (a run under sudo) leaves the file its owner's: owner, group and
    // permissions, set-group-id bit too, for a replacement and a profile write alike.
    void ownerAndGroupStay()
    {
        if (::geteuid() != 0)
            QSKIP("only the superuser can save a file that another user owns");
        const QString file = path(QStringLiteral("job.prj"));
        const uid_t user = 4242;
        const gid_t group = 4343;
        putFile(file, "[S]\r\nK=old\r\n", 0640);
        QCOMPARE(::chown(QFile::encodeName(file).constData(), user, group), 0);
        QCOMPARE(::chmod(QFile::encodeName(file).constData(), 02660), 0);
        const auto owner = [&] {
            struct stat info {};
            ::stat(QFile::encodeName(file).constData(), &info);
            return std::make_pair(info.st_uid, info.st_gid);
        };
        QCOMPARE(platform::replaceFile(file, "[S]\r\nK=replaced\r\n"), QString());
        QCOMPARE(owner(), std::make_pair(user, group));
        QCOMPARE(modeOf(file), mode_t(02660));
        platform::ProfileFile(file).writeString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("written"));
        QCOMPARE(fileBytes(file), QByteArray("[S]\r\nK=written\r\n"));
        QCOMPARE(owner(), std::make_pair(user, group));
        QCOMPARE(modeOf(file), mode_t(02660));
    }

    // The common causes are said in Russian; the rest keeps the system's text.
    void refusalsSayWhy()
    {
        const QString notAFile = QStringLiteral("Это не обычный файл (канал, устройство или папка).");
        QCOMPARE(platform::replaceFile(path(QStringLiteral("no/such/folder/x.bin")), "x"),
                 QStringLiteral("Папка файла не существует."));
        QVERIFY(QDir().mkpath(path(QStringLiteral("folder.bin"))));
        QCOMPARE(platform::replaceFile(path(QStringLiteral("folder.bin")), "x"), notAFile);
        const QString fifo = path(QStringLiteral("pipe.bin"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QCOMPARE(platform::replaceFile(fifo, "x"), notAFile);
        QCOMPARE(platform::replaceFile(path(QString(300, u'n')), "x"), QStringLiteral("Слишком длинное имя файла."));
        // The longest name a file may have still saves: its temporary file's name is cut to fit.
        const QString longest = path(QString(255, u'n'));
        QCOMPARE(platform::replaceFile(longest, "x"), QString());
        QCOMPARE(platform::replaceFile(longest, "y"), QString());
        QCOMPARE(fileBytes(longest), QByteArray("y"));
        QVERIFY(QFile::remove(longest));

        // Links that come back to themselves lead to no file.
        const QString loop = path(QStringLiteral("loop.bin")), back = path(QStringLiteral("back.bin"));
        QCOMPARE(::symlink("back.bin", QFile::encodeName(loop).constData()), 0);
        QCOMPARE(::symlink("loop.bin", QFile::encodeName(back).constData()), 0);
        const QString looping = QStringLiteral("Ссылки на файл замыкаются в круг или их цепочка слишком длинна.");
        QCOMPARE(platform::replaceFile(loop, "x"), looping);
        try {
            platform::ProfileFile(loop).writeString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("v"));
            QFAIL("a profile was written through a loop of links");
        } catch (const platform::ProfileWriteError &e) {
            QCOMPARE(e.reason(), looping);
        }
        QVERIFY(QFileInfo(loop).isSymLink() && QFileInfo(back).isSymLink());
        QVERIFY(QFile::remove(loop) && QFile::remove(back));

        // A folder this process may not write into.
        const QString locked = path(QStringLiteral("locked"));
        QVERIFY(QDir().mkpath(locked));
        QCOMPARE(::chmod(QFile::encodeName(locked).constData(), 0555), 0);
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::seteuid(65534), 0); // nobody: permissions apply again
        const QString noPermission = platform::replaceFile(locked + QStringLiteral("/x.bin"), "x");
        if (root)
            QCOMPARE(::seteuid(0), 0);
        QCOMPARE(noPermission, QStringLiteral("Нет прав на запись в файл или его папку."));
        QCOMPARE(entries(locked), QStringList());

        // Reading a file the user named says why in the same words.
        try {
            QFile opened;
            platform::openRegularFile(opened, path(QStringLiteral("none.bin")));
            QFAIL("a missing file was opened");
        } catch (const platform::UserFileError &e) {
            QCOMPARE(e.reason(), QStringLiteral("Файл не найден."));
        }
    }

    // Writers killed in the middle of their save leave their temporary files; the next save of
    // the same file removes them, but not the one of a writer that is still at work, nor files
    // that only look alike.
    void interruptedSavesLeaveNothingBehind()
    {
        const QString file = path(QStringLiteral("job.prj"));
        putFile(file, "[S]\r\nK=old\r\n");
        const QString writer = QCoreApplication::applicationDirPath() + QStringLiteral("/atomic_writer");
        const auto temporaries = [&] {
            QStringList names = entries(m_dir->path()).filter(
                QRegularExpression(QStringLiteral("^\\.job\\.prj\\.[a-z0-9]{6}\\.vks-save$")));
            return names;
        };
        // Three writers stopped in their sync at once, each a save of its own that left the
        // others' files alone (twice a plain replacement, once a profile write); then killed.
        {
            Holder writers[3];
            const char *modes[3] = {"replace", "profile", "replace"};
            for (int i = 0; i < 3; ++i) {
                QVERIFY(writers[i].startProgram(writer, {QString::fromLatin1(modes[i]), file, QStringLiteral("killed")}));
                QVERIFY(writers[i].waitForLine("syncing"));
                QCOMPARE(temporaries().size(), i + 1);
            }
            for (Holder &killed : writers) {
                killed.kill();
                QVERIFY(killed.waitForExit());
            }
        }
        QCOMPARE(temporaries().size(), 3);
        // Names that are not temporary files of this file: the user's own, however alike.
        QStringList expected = {QStringLiteral("job.prj.backup.tmp"),     QStringLiteral("job.prj.2024v1.tmp"),
                                QStringLiteral(".job.prj.abcdefg.vks-save"), QStringLiteral(".job.prj.ab_def.vks-save"),
                                QStringLiteral(".other.prj.abcdef.vks-save"), QStringLiteral("job.prj.abcdef.vks-save"),
                                QStringLiteral(".job.prj.abcdef.vks-save.bak"), QStringLiteral("xjob.prj.abcdef.vks-save"),
                                QStringLiteral("job.prj")};
        for (const QString &name : expected.mid(0, expected.size() - 1))
            putFile(path(name), "other");
        expected.sort();

        QCOMPARE(platform::replaceFile(file, "mine"), QString());
        QCOMPARE(fileBytes(file), QByteArray("mine"));
        QCOMPARE(entries(m_dir->path()), expected);

        // A writer at work, stopped in its sync, keeps its file through another save.
        Holder running;
        QVERIFY(running.startProgram(writer, {QStringLiteral("replace"), file, QStringLiteral("running")}));
        QVERIFY(running.waitForLine("syncing"));
        const QStringList runningTemporary = temporaries();
        QCOMPARE(runningTemporary.size(), 1);
        QCOMPARE(platform::replaceFile(file, "mine again"), QString());
        QCOMPARE(temporaries(), runningTemporary);

        // The running writer finishes its save as if nothing had happened.
        running.writeLine();
        QVERIFY(running.waitForLine("done"));
        QVERIFY(running.waitForExit());
        QCOMPARE(running.exitCode(), 0);
        QCOMPARE(fileBytes(file), QByteArray("running"));
        QCOMPARE(entries(m_dir->path()), expected);
    }
};

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "tst_atomic_file.moc"
