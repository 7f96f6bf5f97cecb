// Every command of the main window reaches its own action: each menu item, toolbar button, tab
// button and shortcut is used as the technician uses it, against the simulated instrument, and
// what it starts is observed (the question or dialog it shows, the loop whose button offers the
// stop, the tick, the help file, the reset readouts, the project saved or closed). The window's
// boxes are answered No or closed unless a row says otherwise, so nothing reaches the
// instrument; a saved project goes to the test's own folder.
#include "tests/support/setup_transfer_fixture.h"

#include "platform/help.h"

#include <QToolBar>
#include <QToolButton>

using transfers::TFixture;
using transfers::TScript;

namespace {

// The start/stop buttons and their stop texts.
const std::pair<const char *, const char *> Toggles[] = {
    {"TS0Button2", "Остановить поиск"},
    {"TS3Button11", "Остановить измерение"},
    {"TS4Button1", "Остановить измерение"},
    {"TS4Button5", "Остановить циклический тест индикаторов"},
    {"TS5Button3", "Остановить измерение"},
    {"TS5Button4", "Остановить измерение"},
};

const QString Marker = QStringLiteral("marker");

} // namespace

class TestMainWindowCommands : public QObject {
    Q_OBJECT
    TFixture f;
    int HelpOpened = 0;

    QObject *Sender(const QString &name) { return f.Window->findChild<QObject *>(name); }

    // A toolbar button is clicked on the toolbar, a menu item triggered as its menu does, a
    // tab button clicked.
    void Use(QObject *sender)
    {
        if (auto *action = qobject_cast<QAction *>(sender)) {
            if (auto *tool = qobject_cast<QToolButton *>(f.Ui().TBar0->widgetForAction(action)))
                tool->click();
            else
                action->trigger();
        } else {
            qobject_cast<QAbstractButton *>(sender)->click();
        }
    }

    // What using a command did, in words: the boxes and dialogs it showed, in order ("help"
    // for the help file), the loop it started, the ticks it changed, the readouts it reset.
    QString Observe(const std::function<void()> &use, QList<QMessageBox::StandardButton> answers)
    {
        auto *script = new TScript;
        for (const QMessageBox::StandardButton answer : answers)
            script->Answer(answer);
        f.Script.reset(script);
        const QList<QAction *> options{f.Ui().M1N1, f.Ui().M1N2, f.Ui().M1N3, f.Ui().M1N4};
        QList<bool> ticks;
        for (QAction *option : options)
            ticks << option->isChecked();
        const bool bold = f.Ui().TS0Button1->font().bold();
        f.Ui().TS4ST1->setText(Marker);
        HelpOpened = 0;

        use();
        // A loop runs once it has the link; its button reads "stop" from the click on.
        const auto runningLoop = [&]() -> QAbstractButton * {
            if (f.Window->ProgramControl->ExchangeState() != Exchanging)
                return nullptr;
            for (const auto &[name, stopText] : Toggles) {
                auto *button = f.Window->findChild<QAbstractButton *>(QLatin1String(name));
                if (button->text() == QString::fromUtf8(stopText))
                    return button;
            }
            return nullptr;
        };
        [&] {
            QVERIFY2(WaitFor([&] { return TExchange::Running() == 0 || runningLoop(); }, 30000), "the command did not end");
        }();

        QStringList seen;
        for (const QString &text : f.Script->Seen())
            seen << (text.contains(QLatin1String("vks74xx.hlp"), Qt::CaseInsensitive) ? QStringLiteral("help") : text);
        for (int i = 0; i < HelpOpened; ++i)
            seen << QStringLiteral("help");
        if (QAbstractButton *loop = runningLoop()) {
            seen << loop->objectName() + QStringLiteral(" runs");
            loop->click();  // the stop
            [&] { QVERIFY2(WaitFor([] { return TExchange::Running() == 0; }, 30000), "the loop did not stop"); }();
        }
        for (int i = 0; i < options.size(); ++i) {
            if (options[i]->isChecked() != ticks[i]) {
                seen << options[i]->objectName() + QStringLiteral(" tick");
                options[i]->setChecked(ticks[i]);
            }
        }
        if (f.Ui().TS0Button1->font().bold() != bold) {
            seen << QStringLiteral("bold");
            f.Window->ProgramControl->ApplyFontStyle(bold);
        }
        if (f.Ui().TS4ST1->text() != Marker)
            seen << QStringLiteral("reset");
        seen.removeDuplicates();  // F1 opens help by the key and by the item's shortcut alike
        return seen.join(QStringLiteral(" | "));
    }

    // The rows: a sender (or a key sequence) and what it must start. The device commands ask
    // their question first; the project commands find a saved project open.
    static void Rows(bool keys)
    {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QList<QMessageBox::StandardButton>>("answers");
        QTest::addColumn<bool>("modified");  // the project has changes to save
        QTest::addColumn<QString>("observed");
        const QList<QMessageBox::StandardButton> none;
        const QList<QMessageBox::StandardButton> yes{QMessageBox::Yes};
        const QString newProject =
            QStringLiteral("Закрыть текущий проект? | Перед настройкой прибора, обязательно считайте из него параметры!");
        const QString openProject = QStringLiteral("Закрыть текущий проект? | <ProjectOpenDialog> | closed project");
        const auto row = [](const char *sender, const QList<QMessageBox::StandardButton> &answers, const QString &observed,
                            bool modified = false) {
            QTest::newRow(sender) << QString::fromLatin1(sender) << answers << modified << observed;
        };
        if (keys) {
            row("Ctrl+N", yes, newProject);
            row("Ctrl+O", yes, openProject);
            row("Ctrl+S", none, QStringLiteral("saved project"), true);
            row("Ctrl+X", none, QStringLiteral("closed project"));
            row("F1", none, QStringLiteral("help"));
            row("Alt+X", none, QStringLiteral("closed window"));
            return;
        }
        for (const char *sender : {"M0N1", "TB1"})
            row(sender, yes, newProject);
        for (const char *sender : {"M0N2", "TB2"})
            row(sender, yes, openProject);
        for (const char *sender : {"M0N3", "TB3"})
            row(sender, none, QStringLiteral("saved project"), true);
        row("M0N4", none, QStringLiteral("<ProjectSaveDialog>"));
        for (const char *sender : {"M0N5", "TB4"})
            row(sender, none, QStringLiteral("closed project"));
        row("M0N9", none, QStringLiteral("closed window"));
        for (const char *sender : {"M1N1", "M1N2", "M1N3"})
            row(sender, none, QString::fromLatin1(sender) + QStringLiteral(" tick"));
        row("M1N4", none, QStringLiteral("M1N4 tick | bold"));
        for (const char *sender : {"M2N1", "TB5"})
            row(sender, none, QStringLiteral("Считать все настройки из прибора?"));
        for (const char *sender : {"M2N2", "TB6"})
            row(sender, none, QStringLiteral("Записать все настройки в прибор?"));
        for (const char *sender : {"M2N3", "TB7", "TS5Button1"})
            row(sender, none, QStringLiteral("<EEPROMSaveDialog>"));
        for (const char *sender : {"M2N4", "TB8", "TS5Button2"})
            row(sender, none, QStringLiteral("<EEPROMOpenDialog>"));
        for (const char *sender : {"M9N1", "TB19", "TS0Button0", "TS1Button0", "TS2Button0", "TS3Button0", "TS4Button0",
                                   "TS5Button0"})
            row(sender, none, QStringLiteral("help"));
        row("TS0Button1", none, QStringLiteral("Связь установлена!\nСчитать настройки из прибора?"));
        row("TS0Button2", none, QStringLiteral("Начать поиск приборов?"));
        row("TS1Button1", none, QStringLiteral("Считать параметры из прибора?"));
        row("TS1Button2", none, QStringLiteral("Записать параметры в прибор?"));
        row("TS2Button1", none, QStringLiteral("Считать параметры реле из прибора?"));
        row("TS2Button2", none, QStringLiteral("Записать параметры реле в прибор?"));
        row("TS2Button3", none, QStringLiteral("Установить принудительные состояния реле прибора?"));
        row("TS2Button4", none, QStringLiteral("Разрешить прибору управлять реле?"));
        row("TS3Button1", none, QStringLiteral("Считать калибровочные коэффициенты?"));
        row("TS3Button2", none, QStringLiteral("Записать калибровочные коэффициенты?"));
        row("TS3Button3", none, QStringLiteral("Начать калибровку по току (диапазон 0..5 мА)?"));
        row("TS3Button4", none, QStringLiteral("Начать калибровку по току (диапазон 0..20 мА)?"));
        row("TS3Button5", none, QStringLiteral("Начать калибровку по напряжению (диапазон 0..100 мВ)?"));
        row("TS3Button6", none, QStringLiteral("Начать калибровку по сопротивлению (3ех проводная схема)?"));
        row("TS3Button7", none, QStringLiteral("Начать калибровку RL?"));
        row("TS3Button8", none, QStringLiteral("Начать калибровку Rc?"));
        row("TS3Button9", none, QStringLiteral("<CalibSaveDialog>"));
        row("TS3Button10", none, QStringLiteral("<CalibOpenDialog>"));
        row("TS3Button11", none, QStringLiteral("TS3Button11 runs"));
        row("TS4Button1", none, QStringLiteral("Начать чтение измеряемой величины?"));
        row("TS4Button2", none, QStringLiteral("reset"));
        row("TS4Button3", none, QStringLiteral("Зажечь все индикаторы?"));
        row("TS4Button4", none, QStringLiteral("Потушить все индикаторы?"));
        row("TS4Button5", none, QStringLiteral("TS4Button5 runs"));
        row("TS4Button6", none, QStringLiteral("Зажечь предыдущие сегменты индикаторов?"));
        row("TS4Button7", none, QStringLiteral("Зажечь следующие сегменты индикаторов?"));
        row("TS4Button8", none, QStringLiteral("Завершить тестирование индикаторов?"));
        row("TS5Button3", none, QStringLiteral("TS5Button3 runs"));
        row("TS5Button4", none, QStringLiteral("TS5Button4 runs"));
    }

    // The project and window states that some commands leave, in words.
    QString Closed(const QString &observed, bool modified)
    {
        QStringList parts = observed.isEmpty() ? QStringList() : observed.split(QStringLiteral(" | "));
        if (modified && f.Window->ProjectControl->State() == psSaved && QFile::exists(ProjectFile()))
            parts << QStringLiteral("saved project");
        if (f.Window->ProjectControl->State() == psNone)
            parts << QStringLiteral("closed project");
        if (!f.Window->isVisible())
            parts << QStringLiteral("closed window");
        return parts.join(QStringLiteral(" | "));
    }

    QString ProjectFile() { return f.Folder.filePath(QStringLiteral("job.prj")); }

    void Prepare(bool modified)
    {
        if (!modified)
            return;
        f.Window->ProgramControl->SetProjectFileName(ProjectFile());
        f.Window->ProjectControl->SetState(psModified);
    }

    // Runs the current row: prepares the project, uses the sender as `use` does, compares.
    void CheckRow(const std::function<void(const QString &sender)> &use)
    {
        QFETCH(QString, sender);
        QFETCH(QList<QMessageBox::StandardButton>, answers);
        QFETCH(bool, modified);
        QFETCH(QString, observed);
        Prepare(modified);
        QCOMPARE(Closed(Observe([&] { use(sender); }, answers), modified), observed);
    }

private slots:
    void initTestCase()
    {
        qApp->setQuitOnLastWindowClosed(false);
        platform::SetDocumentOpener([this](const QString &) {
            ++HelpOpened;
            return true;
        });
    }
    void init()
    {
        f.Init();
        f.Window->show();
        QVERIFY(QTest::qWaitForWindowActive(f.Window.get()));
        f.Ui().M1N3->setChecked(true);  // every question asked
        f.Window->ProgramControl->SetMode(Admin);  // every command offered
        f.Window->ProjectControl->SetState(psSaved);
    }
    void cleanup() { f.Cleanup(); }
    void cleanupTestCase() { platform::SetDocumentOpener({}); }

    void everySenderReachesItsAction_data() { Rows(false); }
    void everySenderReachesItsAction()
    {
        CheckRow([this](const QString &sender) {
            QObject *object = Sender(sender);
            QVERIFY2(object, qPrintable(sender));
            Use(object);
        });
    }

    void everyShortcutReachesItsAction_data() { Rows(true); }
    void everyShortcutReachesItsAction()
    {
        CheckRow([this](const QString &sender) {
            const QKeyCombination key = QKeySequence(sender)[0];
            QTest::keyClick(f.Window.get(), key.key(), key.keyboardModifiers());
        });
    }
};

int main(int argc, char **argv)
{
    return transfers::RunIsolated<TestMainWindowCommands>(argc, argv);
}

#include "tst_mainwindow_commands.moc"
