// The EEPROM copies from the main window against the simulated instrument: the file dialogs,
// the size questions, the bytes on the line and in the files, and the files that cannot be used.
#include "tests/support/setup_transfer_fixture.h"
#include "tests/support/stderr_capture.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <thread>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace transfers;

namespace {

QByteArray RandomBytes(int n)
{
    QByteArray bytes(n, Qt::Uninitialized);
    for (char &b : bytes)
        b = char(QRandomGenerator::global()->bounded(256));
    return bytes;
}

const QString Smaller = QStringLiteral("Размер файла меньше размера EEPROM прибора!\nВсе равно записать?");
const QString Larger = QStringLiteral("Размер файла больше размера EEPROM прибора!\nВсе равно записать?");

} // namespace

class TestEEPROMCopies : public QObject {
    Q_OBJECT
    TFixture f;

    QString Path(const QString &name) const { return f.Folder.filePath(name); }

    // Loads a file of the given bytes, answering the size question (if one comes) with answer.
    QStringList Load(const QByteArray &bytes, QMessageBox::StandardButton answer = QMessageBox::Yes)
    {
        if (!QTest::qVerify(putFile(Path(QStringLiteral("copy.bin")), bytes), "putFile", "", __FILE__, __LINE__))
            return {};
        auto *script = new TScript;
        script->Choose(Path(QStringLiteral("copy.bin")));
        if (bytes.size() != 2048)
            script->Answer(answer);
        script->Answer(QMessageBox::Ok);
        return f.Run(f.Ui().TB8, script);
    }

    // Starts "Write EEPROM from file" with path chosen; does not wait for its end.
    void Script(const QString &path)
    {
        f.Script.reset(&(new TScript)->Choose(path).Answer(QMessageBox::Ok));
        f.Ui().M2N4->trigger();
    }

private slots:
    void init() { f.Init(); }
    void cleanup() { f.Cleanup(); }

    void saveWritesTheFirst2048BytesAndReplacesTheFile()
    {
        QVERIFY(putFile(Path(QStringLiteral("old.bin")), QByteArray(5000, 'x')));
        const QStringList seen =
            f.Run(f.Ui().M2N3, &(new TScript)->Choose(Path(QStringLiteral("old.bin"))).Answer(QMessageBox::Ok));
        QCOMPARE(seen, QStringList({"<EEPROMSaveDialog>", "Чтение EEPROM завершено."}));
        QCOMPARE(Trace(*f.Line), QStringList{"2 0"} + Repeat("3", 2048));
        const auto image = f.Line->instrument().eeprom;
        QCOMPARE(fileBytes(Path(QStringLiteral("old.bin"))), QByteArray(reinterpret_cast<const char *>(image.data()), 2048));
        QCOMPARE(f.Window->ProgramControl->SaveDir(), f.Folder.path() + QLatin1Char('/'));
        f.VerifyIdle();
    }

    // A copy marked read-only stays as it was, for the superuser too, and a folder that is
    // missing takes no copy: both are refused before the instrument is read, with a message that
    // names the file and says why.
    void saveRefusesATargetBeforeReading()
    {
        const QString missing = Path(QStringLiteral("none/copy.bin"));
        const QStringList seen = f.Run(f.Ui().M2N3, &(new TScript)->Choose(missing).Answer(QMessageBox::Ok));
        QCOMPARE(seen.value(1), QStringLiteral("Не удалось записать файл \"%1\":\nПапка файла не существует.").arg(missing));
        QVERIFY(f.Line->log().empty());

        const QString path = Path(QStringLiteral("kept.bin"));
        const QByteArray old(2048, '\x33');
        QVERIFY(putFile(path, old));
        const auto readOnly = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
        QVERIFY(QFile::setPermissions(path, readOnly));
        const QStringList seenReadOnly = f.Run(f.Ui().M2N3, &(new TScript)->Choose(path).Answer(QMessageBox::Ok));
        QCOMPARE(seenReadOnly, QStringList({"<EEPROMSaveDialog>",
                                            QStringLiteral("Не удалось записать файл \"%1\":\nФайл доступен только для чтения.").arg(path)}));
        QVERIFY(f.Line->log().empty());
        QCOMPARE(fileBytes(path), old);
        QCOMPARE(QFile::permissions(path) & 0x7077, readOnly);
        QCOMPARE(QDir(f.Folder.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("kept.bin")),
                 QStringList{QStringLiteral("kept.bin")});
        f.VerifyIdle();
    }

    void loadOfAFullCopyAsksNothing()
    {
        const QByteArray bytes = RandomBytes(2048);
        QCOMPARE(Load(bytes), QStringList({"<EEPROMOpenDialog>", "Запись EEPROM завершена."}));
        QCOMPARE(Trace(*f.Line), QStringList{"2 0"} + Writes(bytes) + QStringList{"11"});
        const auto image = f.Line->instrument().eeprom;
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(image.data()), 2048), bytes);
        f.VerifyIdle();
    }

    void loadOfOtherSizesAsksFirst()
    {
        // Forced: asked even with confirmations off.
        f.Ui().M1N3->setChecked(false);
        QByteArray bytes = RandomBytes(2047);
        QCOMPARE(Load(bytes), QStringList({"<EEPROMOpenDialog>", Smaller, "Запись EEPROM завершена."}));
        QCOMPARE(f.Line->log().size(), std::size_t(1 + 2047 + 1));
        QCOMPARE(f.Line->log()[2047].argument, std::to_string(std::uint8_t(bytes[2046])));

        f.Line->clearLog();
        bytes = RandomBytes(3000);
        QCOMPARE(Load(bytes).mid(1, 1), QStringList{Larger});
        QCOMPARE(f.Line->log().size(), std::size_t(1 + 3000 + 1));  // all of it, from address 0

        f.Line->clearLog();
        QCOMPARE(Load(RandomBytes(100), QMessageBox::No), QStringList({"<EEPROMOpenDialog>", Smaller}));
        QVERIFY(f.Line->log().empty());
        f.VerifyIdle();
    }

    void filesThatCannotBeLoaded()
    {
        // Empty: asked, and after Yes nothing is written.
        QCOMPARE(Load(QByteArray()).last(), QStringLiteral("Файл \"%1\" пуст: в прибор ничего не записано.")
                                                .arg(QDir::toNativeSeparators(Path(QStringLiteral("copy.bin")))));
        // Beyond the image: refused before any question.
        const QStringList tooLong = Load(QByteArray(65536, 0));
        QVERIFY2(tooLong.value(1).contains(QStringLiteral("слишком велик")), qPrintable(tooLong.join('|')));
        QCOMPARE(tooLong.size(), 2);
        // Missing.
        const QStringList missing = f.Run(
            f.Ui().TS5Button2, &(new TScript)->Choose(Path(QStringLiteral("none.bin"))).Answer(QMessageBox::Ok));
        QCOMPARE(missing.value(1), QStringLiteral("Не удалось открыть файл \"%1\":\nФайл не найден.")
                                       .arg(QDir::toNativeSeparators(Path(QStringLiteral("none.bin")))));
        // Cancelled.
        QCOMPARE(f.Run(f.Ui().M2N4, &(new TScript)->Cancel()), QStringList{"<EEPROMOpenDialog>"});
        QVERIFY(f.Line->log().empty());
        f.VerifyIdle();
    }

    // A named pipe or a device chosen as a copy to load is refused with its name; the worker
    // never waits in the open, and nothing goes to the instrument.
    void pipesAndDevicesAreRefused()
    {
        const QString pipe = Path(QStringLiteral("copy.fifo"));
        QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        const QString device = Path(QStringLiteral("zero.bin"));
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), device));
        for (const QString &path : {pipe, device}) {
            Script(path);
            const bool ended = WaitFor([] { return TExchange::Running() == 0; }, 10000);
            if (!ended) { // stuck in the open: a writer lets it go, so the test can end
                const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
                QVERIFY(WaitFor([] { return TExchange::Running() == 0; }, 30000));
                ::close(fd);
            }
            QVERIFY2(ended, "the worker waited in the open");
            QCOMPARE(f.Script->Seen(),
                     QStringList({"<EEPROMOpenDialog>",
                                  QStringLiteral("\"%1\" не является обычным файлом (это канал, устройство или папка): "
                                                 "открыть его нельзя.").arg(path)}));
        }
        QVERIFY(f.Line->log().empty());
        f.VerifyIdle();
    }

    // The program ended from outside during a copy to a file: the reading stops at its next
    // exchange and no file is made; a copy into the instrument is written whole.
    void endFromOutsideStopsReadingNotWriting()
    {
        f.Line->setPacing(true);
        const QString path = Path(QStringLiteral("stopped.bin"));
        f.Script.reset(&(new TScript)->Choose(path));
        f.Ui().M2N3->trigger();
        QVERIFY(WaitFor([this] { return f.Line->log().size() >= 20; }, 30000));
        StderrCapture errors(Path(QStringLiteral("stderr.txt")));
        f.Window->EndUnattended(SIGTERM);
        QVERIFY(WaitFor([] { return TExchange::Running() == 0; }, 60000));
        const QByteArray said = errors.finish();  // the line first, whatever the close adds
        QVERIFY2(said.startsWith("vks74xx: ended by SIGTERM: the reading from the instrument is stopped; nothing read "
                                 "is kept\n"),
                 said.constData());
        // Far short of the whole copy, however late the worker was woken.
        QVERIFY2(f.Line->log().size() < 1024, qPrintable(QString::number(f.Line->log().size())));
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(f.Script->Seen().value(1), QStringLiteral("Чтение из прибора прервано: программа закрывается."));
        QTRY_VERIFY(!f.Window->isVisible());
        f.VerifyIdle();
    }

    void endFromOutsideLetsAWriteFinish()
    {
        const QByteArray bytes = RandomBytes(2048);
        QVERIFY(putFile(Path(QStringLiteral("copy.bin")), bytes));
        f.Script.reset(&(new TScript)->Choose(Path(QStringLiteral("copy.bin"))));
        f.Ui().M2N4->trigger();
        QVERIFY(WaitFor([this] { return f.Line->log().size() >= 20; }, 30000));
        StderrCapture errors(Path(QStringLiteral("stderr.txt")));
        f.Window->EndUnattended(SIGTERM);
        QVERIFY(WaitFor([] { return TExchange::Running() == 0; }, 60000));
        const QByteArray said = errors.finish();
        QVERIFY2(said.startsWith("vks74xx: ended by SIGTERM: the writing into the instrument is finished first\n"),
                 said.constData());
        QCOMPARE(Trace(*f.Line), QStringList{"2 0"} + Writes(bytes) + QStringList{"11"});
        QTRY_VERIFY(!f.Window->isVisible());
    }

    void saveThatCannotWriteItsFileCleansUp()
    {
        // The folder chosen is gone by the time the copy is written: it goes once the
        // instrument is being read, 2048 bytes before the file is made.
        const QString folder = Path(QStringLiteral("gone"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/copy.bin");
        auto *script = new TScript;
        script->Choose(path).Answer(QMessageBox::Ok);
        std::thread remover([&] {
            if (f.Line->waitForLog(2, std::chrono::seconds(30)))
                QDir(folder).removeRecursively();
        });
        const QStringList seen = f.Run(f.Ui().TS5Button1, script);
        remover.join();
        QCOMPARE(seen.value(1), QStringLiteral("Не удалось записать файл \"%1\":\nПапка файла не существует.").arg(path));
        QCOMPARE(f.Line->log().size(), std::size_t(1 + 2048));
        QVERIFY(!QFileInfo::exists(path));
        f.VerifyIdle();
    }
};

int main(int argc, char **argv)
{
    return RunIsolated<TestEEPROMCopies>(argc, argv);
}

#include "tst_eeprom_copies.moc"
