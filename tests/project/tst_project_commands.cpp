// The five project commands from each project state with each answer, the closing question of
// the window, the reopening of the last project at start-up, a save during an exchange and a
// refused write.
#include "tests/support/setup_project_fixture.h"

#include "exchange_u.h"
#include "tests/support/rename_counter.h"
#include "tests/support/stderr_capture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include <atomic>

using namespace project;

namespace {

// What the script saw, in short: a token a box (with the number of its buttons) or dialog.
QString Expand(const QString &token)
{
    static const QHash<QString, QString> texts{
        {"close", TProjectControl::CloseQuestion},         {"save", TProjectControl::SaveQuestion},
        {"closesave", TProjectControl::CloseSaveQuestion}, {"again", TProjectControl::SaveAgainQuestion},
        {"noproject", TProjectControl::NoProjectNotice},   {"refusal", TProjectControl::NameRefusal},
        {"warning", TProjectControl::ReadWarning},         {"busy", TProjectControl::BusyRefusal},
    };
    if (token.startsWith(QLatin1Char('<')))
        return token;
    return QString(texts.value(token)).replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

} // namespace

class TestProjectCommands : public QObject, TProjectWindow {
    Q_OBJECT

    // Runs a command against a script; returns what it showed.
    QStringList Run(int (TProjectControl::*command)(), TScript &script)
    {
        pc->RunCommand([&] { (pc->*command)(); });
        return script.Seen();
    }
    // Brings the window into a state: "none", "saved" (a.prj open), "modified" (a.prj open and
    // the device address changed to 42), "new" (noname.prj, address 42).
    void Prepare(const QString &state)
    {
        QVERIFY(putFile(Path("a.prj"), WindowsText({"[Project Settings]", "COMDeviceAddress=5"})));
        TScript script;
        if (state == QLatin1String("new")) {
            script.Answer(QMessageBox::Ok);
            pc->NewProject();
        } else if (state != QLatin1String("none")) {
            script.Choose(Path("a.prj")).Answer(QMessageBox::Ok);
            pc->OpenProject();
        }
        if (state == QLatin1String("modified") || state == QLatin1String("new"))
            window->ui->TS0SE0->setValue(42);
        QVERIFY(script.Done());
    }
    // A worker takes the link lock (phase 1) and keeps it until phase leaves 1 (then 3).
    void HoldLinkOnWorker(std::atomic<int> &phase)
    {
        TExchange::Start([&phase] {
            COMPortMutex().lock();
            phase = 1;
            while (phase == 1)
                QThread::yieldCurrentThread();
            COMPortMutex().unlock();
            phase = 3;
        });
        QTRY_COMPARE(phase.load(), 1);
    }
    bool AWritten() const { return fileBytes(dir->filePath("a.prj")).contains("COMDeviceAddress=42"); }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        UseSaveDir(dir->path());
        MakeWindow();
    }
    void cleanup()
    {
        QTRY_COMPARE(TExchange::Running(), 0);
        window.reset();
        fixture::RemoveSettings();
    }

    void commandsByStateAndAnswer_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QStringList>("answers");  // yes, no, cancel, ok, a file name, "" cancelled
        QTest::addColumn<QStringList>("seen");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("written");   // a.prj got the changed address
        QTest::addColumn<QString>("name");   // the file-name part of the project name at the end

        using L = QStringList;
        QTest::newRow("new none") << "new" << "none" << L{"ok"} << L{"warning"} << 2 << false << "noname.prj";
        QTest::newRow("new saved no") << "new" << "saved" << L{"no"} << L{"close"} << 1 << false << "a.prj";
        QTest::newRow("new saved yes") << "new" << "saved" << L{"yes", "ok"} << L{"close", "warning"} << 2 << false << "noname.prj";
        QTest::newRow("new modified cancel") << "new" << "modified" << L{"cancel"} << L{"close"} << 2 << false << "a.prj";
        QTest::newRow("new modified yes no") << "new" << "modified" << L{"yes", "no", "ok"} << L{"close", "save", "warning"} << 2 << false << "noname.prj";
        QTest::newRow("new modified yes cancel") << "new" << "modified" << L{"yes", "cancel", "ok"} << L{"close", "save", "warning"} << 2 << false << "noname.prj";
        QTest::newRow("new modified yes yes") << "new" << "modified" << L{"yes", "yes", "ok"} << L{"close", "save", "warning"} << 2 << true << "noname.prj";
        QTest::newRow("open none cancelled") << "open" << "none" << L{""} << L{"<ProjectOpenDialog>"} << 0 << false << "";
        QTest::newRow("open saved yes cancelled") << "open" << "saved" << L{"yes", ""} << L{"close", "<ProjectOpenDialog>"} << 0 << false << "a.prj";
        QTest::newRow("open modified no") << "open" << "modified" << L{"no"} << L{"close"} << 2 << false << "a.prj";
        QTest::newRow("open modified yes cancel") << "open" << "modified" << L{"yes", "cancel"} << L{"close", "save"} << 2 << false << "a.prj";
        QTest::newRow("open modified yes yes") << "open" << "modified" << L{"yes", "yes", "b.prj", "ok"} << L{"close", "save", "<ProjectOpenDialog>", "warning"} << 1 << true << "b.prj";
        QTest::newRow("save none") << "save" << "none" << L{"cancel"} << L{"noproject"} << 0 << false << "";
        QTest::newRow("save saved no") << "save" << "saved" << L{"no"} << L{"again"} << 1 << false << "a.prj";
        QTest::newRow("save modified") << "save" << "modified" << L{} << L{} << 1 << true << "a.prj";
        QTest::newRow("save new noname refused") << "save" << "new" << L{"noname.prj", "ok"} << L{"<ProjectSaveDialog>", "refusal"} << 2 << false << "noname.prj";
        QTest::newRow("save new upper case") << "save" << "new" << L{"NONAME.PRJ"} << L{"<ProjectSaveDialog>"} << 1 << false << "NONAME.PRJ";
        QTest::newRow("save as none") << "saveas" << "none" << L{"cancel"} << L{"noproject"} << 0 << false << "";
        QTest::newRow("save as noname") << "saveas" << "saved" << L{"noname.prj"} << L{"<ProjectSaveDialog>"} << 1 << false << "noname.prj";
        QTest::newRow("close none") << "close" << "none" << L{"cancel"} << L{"noproject"} << 0 << false << "";
        QTest::newRow("close saved") << "close" << "saved" << L{} << L{} << 0 << false << "";
        QTest::newRow("close modified cancel") << "close" << "modified" << L{"cancel"} << L{"closesave"} << 2 << false << "a.prj";
        QTest::newRow("close modified no") << "close" << "modified" << L{"no"} << L{"closesave"} << 0 << false << "";
        QTest::newRow("close modified yes") << "close" << "modified" << L{"yes"} << L{"closesave"} << 0 << true << "";
        // Asked to save, and the save did not happen: the project stays open.
        QTest::newRow("close new yes cancelled") << "close" << "new" << L{"yes", ""} << L{"closesave", "<ProjectSaveDialog>"} << 2 << false << "noname.prj";
        QTest::newRow("close new yes refused") << "close" << "new" << L{"yes", "noname.prj", "ok"} << L{"closesave", "<ProjectSaveDialog>", "refusal"} << 2 << false << "noname.prj";
    }
    void commandsByStateAndAnswer()
    {
        QFETCH(QString, command);
        QFETCH(QString, start);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, seen);
        QFETCH(int, state);
        QFETCH(bool, written);
        QFETCH(QString, name);
        Prepare(start);

        TScript script;
        const QHash<QString, QMessageBox::StandardButton> buttons{
            {"yes", QMessageBox::Yes}, {"no", QMessageBox::No}, {"cancel", QMessageBox::Cancel}, {"ok", QMessageBox::Ok}};
        for (const QString &answer : answers) {
            if (buttons.contains(answer))
                script.Answer(buttons[answer]);
            else
                script.Choose(answer.isEmpty() ? QString() : Path(answer));
        }
        const QHash<QString, int (TProjectControl::*)()> commands{
            {"new", &TProjectControl::NewProject},   {"open", &TProjectControl::OpenProject},
            {"save", &TProjectControl::SaveProject}, {"saveas", &TProjectControl::SaveProjectAs},
            {"close", &TProjectControl::CloseProject}};
        QStringList expected;
        for (const QString &token : seen)
            expected << Expand(token);
        QCOMPARE(Run(commands[command], script), expected);
        QCOMPARE(int(pc->State()), state);
        QCOMPARE(AWritten(), written);
        QCOMPARE(FileNamePart(window->ProgramControl->ProjectFileName()), name);
        QVERIFY(window->windowTitle().endsWith(name.isEmpty() ? QStringLiteral("нет открытого проекта") : name));
        if (written)
            QVERIFY(fileBytes(Path("a.prj")).contains("\r\n[Device]\r\nCRC="));
    }

    void newLoadsNonameOfSaveDir()
    {
        Prepare("new");
        TScript script;
        script.Choose(Path("noname.prj"));  // save as takes that name
        pc->SaveProjectAs();
        pc->CloseProject();
        script.Answer(QMessageBox::Ok);
        pc->NewProject();
        QVERIFY(script.Done());
        QCOMPARE(window->ui->TS0SE0->value(), 42);
        QCOMPARE(window->Device->DeviceAddress, 42);
    }

    void statusPanelFollowsState()
    {
        QLabel *panel = window->ui->SB0Panel2;
        QCOMPARE(panel->text(), QStringLiteral("     Нет открытого проекта"));
        QVERIFY(!pc->StateImage()->isVisible() && !window->ui->PC0->isVisible());
        Prepare("saved");
        QCOMPARE(panel->text(), QStringLiteral("     Текущий проект сохранен"));
        QVERIFY(pc->StateImage()->isVisible() && window->ui->PC0->isVisible());
        const QImage saved = pc->StateImage()->pixmap().toImage();
        window->ui->TS2ChB0->click();  // any change of a data field marks the project modified
        QCOMPARE(panel->text(), QStringLiteral("     Текущий проект изменен"));
        QVERIFY(pc->StateImage()->pixmap().toImage() != saved);
    }

    void windowCloseAsksForModifiedProject()
    {
        Prepare("modified");
        {
            TScript script;
            script.Answer(QMessageBox::Cancel);
            QVERIFY(!window->close());
            QCOMPARE(script.Seen(), QStringList{"Сохранить изменения в проекте?"});
        }
        TScript script;
        script.Answer(QMessageBox::Yes);
        QVERIFY(window->close());
        QVERIFY(AWritten());
        // The next start reopens it, silently (its warning finds no message hook yet), as saved.
        window.reset();
        TScript startup;
        MakeWindow();
        QCOMPARE(int(pc->State()), int(psSaved));
        QCOMPARE(window->ui->TS0SE0->value(), 42);
        QCOMPARE(startup.Seen(), QStringList{});
    }

    // The end from outside (a signal) with the project modified and an operation under way:
    // the program waits for the operation, asks nothing, leaves the project file as last saved
    // and says so on standard error, and writes its own settings.
    void endFromOutsideLeavesTheProjectAsSaved()
    {
        Prepare("modified");
        const QByteArray saved = fileBytes(Path("a.prj"));
        fixture::RemoveSettings();
        std::atomic<int> phase{0};
        HoldLinkOnWorker(phase);

        StderrCapture errors(Path("stderr.txt"));
        TScript script;  // anything asked would be seen here
        window->EndUnattended(SIGTERM);
        QTest::qWait(50);
        const bool waited = window->isVisible();  // the operation still holds the link
        phase = 2;
        QTRY_VERIFY(!window->isVisible());
        const QByteArray said = errors.finish();

        QVERIFY(waited);
        QCOMPARE(script.Seen(), QStringList{});
        QCOMPARE(fileBytes(Path("a.prj")), saved);
        QVERIFY2(said.contains("SIGTERM") && said.contains("not saved") && said.contains("a.prj"), said.constData());
        QVERIFY(QFile::exists(fixture::SettingsPath()));
    }

    void saveDuringExchangeWaitsForTheLinkLock()
    {
        Prepare("modified");
        window->ProgramControl->SetExchangeState(Exchanging);
        std::atomic<int> phase{0};
        HoldLinkOnWorker(phase);
        {
            TScript script;
            QCOMPARE(Run(&TProjectControl::SaveProject, script.Answer(QMessageBox::Ok)), QStringList{Expand("busy")});
            QVERIFY(!AWritten());
            QCOMPARE(int(pc->State()), int(psModified));
        }
        phase = 2;
        QTRY_COMPARE(phase.load(), 3);
        // Between the samples of a loop the lock is free: the save takes it.
        window->ui->M0N3->trigger();
        QVERIFY(AWritten());
        QCOMPARE(int(pc->State()), int(psSaved));
        window->ProgramControl->SetExchangeState(Idle);
    }

    // A project saved under a new name while a worker holds the link keeps its old name: the
    // caption and the stored name never point at a file that was not written.
    void unnamedSaveRefusedDuringExchangeKeepsItsName()
    {
        Prepare("new");
        const QString before = window->ProgramControl->ProjectFileName();
        window->ProgramControl->SetExchangeState(Exchanging);
        std::atomic<int> phase{0};
        HoldLinkOnWorker(phase);
        for (auto command : {&TProjectControl::SaveProject, &TProjectControl::SaveProjectAs}) {
            TScript script;
            script.Choose(Path("job.prj")).Answer(QMessageBox::Ok);
            QCOMPARE(Run(command, script), QStringList({"<ProjectSaveDialog>", Expand("busy")}));
            QCOMPARE(window->ProgramControl->ProjectFileName(), before);
            QVERIFY(window->windowTitle().endsWith(QStringLiteral("noname.prj")));
            QVERIFY(!QFileInfo::exists(Path("job.prj")));
            QCOMPARE(int(pc->State()), int(psModified));
        }
        phase = 2;
        QTRY_COMPARE(TExchange::Running(), 0);
        window->ProgramControl->SetExchangeState(Idle);
        // Once the link is free the same save takes the name with the file.
        TScript script;
        script.Choose(Path("job.prj"));
        QCOMPARE(Run(&TProjectControl::SaveProject, script), QStringList{"<ProjectSaveDialog>"});
        QCOMPARE(window->ProgramControl->ProjectFileName(), Path("job.prj"));
        QVERIFY(fileBytes(Path("job.prj")).contains("COMDeviceAddress=42"));
    }

    // Both sections of a project go into the file in one rename, never written in place.
    void projectSaveIsOneRename()
    {
        Prepare("modified");
        support::RenameCounter renames(dir->path(), "a.prj");
        QVERIFY(renames.isValid());
        window->ui->M0N3->trigger();
        QVERIFY(AWritten());
        const auto counts = renames.take();
        QCOMPARE(counts.renames, 1);
        QCOMPARE(counts.inPlaceWrites, 0);
        QVERIFY(fileBytes(Path("a.prj")).contains("\r\n[Device]\r\nCRC="));
    }

    // A named pipe chosen as a project or a calibration file is refused with its name; the
    // program is not stuck in its open.
    void pipesAreRefusedAsProjectsAndCalibrationFiles()
    {
        Prepare("saved");
        const QString pipe = Path("pipe.prj");
        QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        const QString refusal =
            QStringLiteral("\"%1\" не является обычным файлом (это канал, устройство или папка): открыть его нельзя.").arg(pipe);
        {
            TScript script;
            script.Answer(QMessageBox::Yes).Choose(pipe).Answer(QMessageBox::Ok);
            QCOMPARE(Run(&TProjectControl::OpenProject, script), QStringList({Expand("close"), "<ProjectOpenDialog>", refusal}));
            QCOMPARE(int(pc->State()), int(psNone));
            QCOMPARE(window->ProgramControl->ProjectFileName(), Path("a.prj"));
        }
        Prepare("saved");
        window->ui->TS3Edit7->setText("1.250");
        TScript script;
        script.Choose(pipe).Answer(QMessageBox::Ok);
        window->ui->TS3Button10->click();
        QTRY_VERIFY(script.Done());
        QCOMPARE(script.Seen().value(1), refusal);
        QCOMPARE(window->ui->TS3Edit7->text(), QStringLiteral("1.250"));
    }

    // A project in a folder whose name Windows-1251 cannot spell is reopened at the next start.
    void projectPathOutsideWindows1251IsKept()
    {
        const QString folder = Path(QStringLiteral("Électricité ünal"));
        QVERIFY(QDir().mkpath(folder));
        const QString project = folder + QStringLiteral("/Réseau.prj");
        Prepare("new");
        TScript script;
        script.Choose(project);
        QCOMPARE(Run(&TProjectControl::SaveProject, script), QStringList{"<ProjectSaveDialog>"});
        QVERIFY(QFileInfo(project).isFile());
        QVERIFY(window->close());
        window.reset();
        TScript startup;
        MakeWindow();
        QCOMPARE(window->ProgramControl->ProjectFileName(), project);
        QCOMPARE(window->ProgramControl->SaveDir(), folder + QLatin1Char('/'));
        QCOMPARE(int(pc->State()), int(psSaved));
        QCOMPARE(window->ui->TS0SE0->value(), 42);
    }

    // A save that fails while an exchange runs gives the link lock back: a worker takes it.
    void refusedWriteDuringAnExchangeFreesTheLinkLock()
    {
        Prepare("modified");
        QFile::setPermissions(Path("a.prj"), QFile::ReadOwner | QFile::ReadGroup);
        window->ProgramControl->SetExchangeState(Exchanging);
        TScript script;
        script.Answer(QMessageBox::Ok);
        window->ui->M0N3->trigger();
        QCOMPARE(script.Seen(), QStringList{QStringLiteral("Unable to write to %1\nФайл доступен только для чтения.").arg(Path("a.prj"))});
        std::atomic<int> taken{0};
        TExchange::Start([&] {
            const bool locked = COMPortMutex().tryLock();
            if (locked)
                COMPortMutex().unlock();
            taken = locked ? 1 : 2;
        });
        QTRY_VERIFY(taken.load() != 0);
        QCOMPARE(taken.load(), 1);
        window->ProgramControl->SetExchangeState(Idle);
    }

    // A project or calibration file marked read-only stays as it was, for the superuser too,
    // and the message names it and says why.
    void refusedWriteIsReportedAndChangesNoState()
    {
        Prepare("modified");
        const QByteArray project = fileBytes(Path("a.prj"));
        const QByteArray calibration = WindowsText({"[CALIBRATION]", "Ku=7"});
        QVERIFY(putFile(Path("c.clb"), calibration));
        const auto readOnly = QFile::ReadOwner | QFile::ReadGroup;
        QVERIFY(QFile::setPermissions(Path("a.prj"), readOnly));
        QVERIFY(QFile::setPermissions(Path("c.clb"), readOnly));
        TScript script;
        script.Answer(QMessageBox::Ok).Choose(Path("c.clb")).Answer(QMessageBox::Ok);
        window->ui->M0N3->trigger();
        window->ui->TS3Button9->click();
        QVERIFY(script.Done());
        const QString refusal = QStringLiteral("Unable to write to %1\nФайл доступен только для чтения.");
        QCOMPARE(script.Seen(), QStringList({refusal.arg(Path("a.prj")), "<CalibSaveDialog>", refusal.arg(Path("c.clb"))}));
        QCOMPARE(int(pc->State()), int(psModified));
        QCOMPARE(fileBytes(Path("a.prj")), project);
        QCOMPARE(fileBytes(Path("c.clb")), calibration);
        QCOMPARE(QFile::permissions(Path("c.clb")) & 0x7077, readOnly);
    }
};

int main(int argc, char **argv)
{
    // A link lock of this test's own, which no other program's exchange holds.
    const QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    return fixture::Run<TestProjectCommands>(argc, argv);
}

#include "tst_project_commands.moc"
