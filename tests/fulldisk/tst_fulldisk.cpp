// Saves on a full disk keep the old file byte for byte and say so with the file's name: the
// profile layer, a project save, a calibration file and an EEPROM copy, on a small tmpfs that
// the test mounts and fills (as root, or as an ordinary user in a user namespace of its own;
// where neither may mount, it is skipped with a message).
#include "tests/support/setup_transfer_fixture.h"

#include "platform/atomic_file.h"
#include "platform/profile.h"

#include <QDir>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace transfers;

class TestFullDisk : public QObject {
    Q_OBJECT
    QTemporaryDir FMountPoint;
    bool FMounted = false;
    TFixture f;

    QString Path(const QString &name) const { return FMountPoint.filePath(name); }

    // Fills the disk to its last byte with a file of its own.
    void Fill()
    {
        const int fd = ::open(QFile::encodeName(Path(QStringLiteral("filler"))).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        QVERIFY(fd >= 0);
        const QByteArray chunk(4096, 'f');
        for (qsizetype size = chunk.size(); size > 0; size /= 2) {
            while (::write(fd, chunk.constData(), size_t(size)) == size) {
            }
        }
        const int error = errno;
        ::close(fd);
        QCOMPARE(error, ENOSPC);
    }
    void Free() { QFile::remove(Path(QStringLiteral("filler"))); }

    // The folder holds these files and nothing else (no temporary file left behind).
    void VerifyOnly(QStringList names)
    {
        names << QStringLiteral("filler");
        names.sort();
        QCOMPARE(QDir(FMountPoint.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name), names);
    }

private slots:
    void initTestCase()
    {
        if (geteuid() != 0)
            QSKIP("mounting the small tmpfs that this test fills needs root or a user namespace, and this system "
                  "allows neither to this user");
        QVERIFY(FMountPoint.isValid());
        if (::mount("tmpfs", QFile::encodeName(FMountPoint.path()).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                    "size=256k,mode=0700") != 0)
            QSKIP(qPrintable(QStringLiteral("cannot mount a tmpfs to fill (%1); full disks are not tested here")
                                 .arg(QString::fromLocal8Bit(std::strerror(errno)))));
        FMounted = true;
    }
    void cleanupTestCase()
    {
        if (FMounted)
            ::umount2(QFile::encodeName(FMountPoint.path()).constData(), MNT_DETACH);
    }
    void init() { f.Init(); }
    void cleanup()
    {
        f.Cleanup();
        Free();
        for (const QString &name : QDir(FMountPoint.path()).entryList(QDir::Files | QDir::Hidden | QDir::System))
            QFile::remove(Path(name));
    }

    void profileWritesKeepTheOldFile()
    {
        const QString path = Path(QStringLiteral("settings.ini"));
        const QByteArray before = project::WindowsText({"[Program Settings]", "Left=10", "SaveDir=/home/"});
        QVERIFY(putFile(path, before));
        Fill();
        try {
            platform::ProfileFile(path).writeInteger(QStringLiteral("Program Settings"), QStringLiteral("Left"), 20);
            QFAIL("a write on a full disk counted as done");
        } catch (const platform::ProfileWriteError &e) {
            QCOMPARE(e.text(), QStringLiteral("Unable to write to ") + path);
        }
        platform::ProfileBatch batch(path);
        for (int i = 0; i < 100; ++i)
            batch.writeInteger(QStringLiteral("Sensors"), QStringLiteral("Sensor%1").arg(i), i);
        QVERIFY_THROWS_EXCEPTION(platform::ProfileWriteError, batch.commit());
        QCOMPARE(platform::replaceFile(path, QByteArray(10, 'x')), QStringLiteral("На диске нет места."));
        QCOMPARE(fileBytes(path), before);
        VerifyOnly({QStringLiteral("settings.ini")});
        // With room again the same write goes through.
        Free();
        platform::ProfileFile(path).writeInteger(QStringLiteral("Program Settings"), QStringLiteral("Left"), 20);
        QCOMPARE(platform::ProfileFile(path).readInteger(QStringLiteral("Program Settings"), QStringLiteral("Left"), 0), 20);
    }

    void projectAndCalibrationSavesSayTheyFailed()
    {
        const QString projectFile = Path(QStringLiteral("job.prj"));
        const QString calibrationFile = Path(QStringLiteral("coefs.clb"));
        f.Window->ProgramControl->SetProjectFileName(projectFile);
        f.Window->ProjectControl->WriteProject();
        TDevice::WriteCalibrationFile(calibrationFile, TCalibration{});
        const QByteArray project = fileBytes(projectFile), calibration = fileBytes(calibrationFile);
        QVERIFY(project.contains("[Device]"));
        f.Ui().TS0SE0->setValue(77);
        f.Ui().TS3Edit7->setText(QStringLiteral("4.5"));
        QCOMPARE(f.Window->ProjectControl->State(), psModified);
        Fill();

        project::TScript script;
        script.Answer(QMessageBox::Ok).Choose(calibrationFile).Answer(QMessageBox::Ok);
        f.Ui().M0N3->trigger();
        f.Ui().TS3Button9->click();
        QTRY_VERIFY(script.Done());
        const QString noSpace = QStringLiteral("\nНа диске нет места.");
        QCOMPARE(script.Seen(), QStringList({QStringLiteral("Unable to write to ") + projectFile + noSpace, "<CalibSaveDialog>",
                                             QStringLiteral("Unable to write to ") + calibrationFile + noSpace}));
        QCOMPARE(f.Window->ProjectControl->State(), psModified);
        QCOMPARE(fileBytes(projectFile), project);
        QCOMPARE(fileBytes(calibrationFile), calibration);
        VerifyOnly({QStringLiteral("coefs.clb"), QStringLiteral("job.prj")});
    }

    void eepromCopySaysItFailed()
    {
        const QString copy = Path(QStringLiteral("copy.bin"));
        const QByteArray old(2048, '\x5A');
        QVERIFY(putFile(copy, old));
        Fill();
        const QStringList seen = f.Run(f.Ui().M2N3, &(new project::TScript)->Choose(copy).Answer(QMessageBox::Ok));
        QCOMPARE(seen.size(), 2);
        QCOMPARE(seen[1], QStringLiteral("Не удалось записать файл \"%1\":\nНа диске нет места.").arg(copy));
        QCOMPARE(f.Line->log().size(), std::size_t(1 + 2048));
        QCOMPARE(fileBytes(copy), old);
        VerifyOnly({QStringLiteral("copy.bin")});
        f.VerifyIdle();
    }

    // The same disk mounted read-only: every save is refused in the user's words, and the files
    // stay as they were.
    void readOnlyFileSystemIsSaidSo()
    {
        const QString copy = Path(QStringLiteral("copy.bin")), projectFile = Path(QStringLiteral("job.prj"));
        const QByteArray old(2048, '\x5A');
        QVERIFY(putFile(copy, old));
        f.Window->ProgramControl->SetProjectFileName(projectFile);
        f.Window->ProjectControl->WriteProject();
        const QByteArray project = fileBytes(projectFile);
        f.Ui().TS3Edit7->setText(QStringLiteral("4.5"));
        QCOMPARE(f.Window->ProjectControl->State(), psModified);
        const QByteArray mountPoint = QFile::encodeName(FMountPoint.path());
        QCOMPARE(::mount("tmpfs", mountPoint.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV, nullptr), 0);
        const QString readOnly = QStringLiteral("Файловая система доступна только для чтения.");

        QCOMPARE(platform::replaceFile(copy, "x"), readOnly);
        QCOMPARE(platform::replaceFile(Path(QStringLiteral("new.bin")), "x"), readOnly);
        {
            project::TScript script;
            script.Answer(QMessageBox::Ok);
            f.Ui().M0N3->trigger();
            QTRY_VERIFY(script.Done());
            QCOMPARE(script.Seen(), QStringList{QStringLiteral("Unable to write to %1\n").arg(projectFile) + readOnly});
        }
        const QStringList seen = f.Run(f.Ui().M2N3, &(new project::TScript)->Choose(copy).Answer(QMessageBox::Ok));
        QCOMPARE(::mount("tmpfs", mountPoint.constData(), "tmpfs", MS_REMOUNT | MS_NOSUID | MS_NODEV, nullptr), 0);

        QCOMPARE(seen.value(1), QStringLiteral("Не удалось записать файл \"%1\":\n").arg(copy) + readOnly);
        QCOMPARE(fileBytes(copy), old);
        QCOMPARE(fileBytes(projectFile), project);
        f.VerifyIdle();
    }
};

namespace {

bool writeProcFile(const char *name, const QByteArray &text)
{
    QFile file(QString::fromLatin1(name));
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// An ordinary user mounts the tmpfs in a user and mount namespace of the test's own, where the
// test is the superuser of that namespace only and nothing outside sees the mount. Where the
// system allows no such namespace the test runs on as it is (and skips).
void becomeSuperuserOfOwnNamespace()
{
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (uid == 0 || ::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return;
    writeProcFile("/proc/self/setgroups", "deny");
    writeProcFile("/proc/self/uid_map", "0 " + QByteArray::number(uid) + " 1");
    writeProcFile("/proc/self/gid_map", "0 " + QByteArray::number(gid) + " 1");
}

} // namespace

int main(int argc, char **argv)
{
    becomeSuperuserOfOwnNamespace();
    return RunIsolated<TestFullDisk>(argc, argv);
}

#include "tst_fulldisk.moc"
