#pragma once
// A main window with an open project whose link settings name a simulated instrument, and the
// means to run one of its commands as a technician would: click, answer the window's boxes and
// file dialogs in turn, wait until the worker has ended.
#include "tests/support/setup_project_fixture.h"
#include "tests/support/wait_for.h"

#include "instrument_sim.h"
#include "extlibs/ex_com/ex_com.h"
#include "loop_control.h"

#include <QElapsedTimer>
#include <QEventLoop>

namespace transfers {

using project::TScript;

// The simulator's log as "command argument" lines; a read ("3") goes out with whatever the
// link buffer held, so its argument is left out.
inline QStringList Trace(const sim::InstrumentSim &line)
{
    QStringList lines;
    for (const auto &r : line.log()) {
        const QString argument = r.command == 3 ? QString() : QString::fromStdString(r.argument);
        lines << QStringLiteral("%1 %2").arg(r.command).arg(argument).trimmed();
    }
    return lines;
}

// n lines "4 <byte>" for the bytes given.
template <class Bytes>
QStringList Writes(const Bytes &bytes)
{
    QStringList lines;
    for (const auto b : bytes)
        lines << QStringLiteral("4 %1").arg(int(std::uint8_t(b)));
    return lines;
}

inline QStringList Repeat(const QString &line, int n)
{
    QStringList lines;
    for (int i = 0; i < n; ++i)
        lines << line;
    return lines;
}

// The instrument's bytes [from, from + n).
inline std::vector<std::uint8_t> EEPROM(const sim::InstrumentSim &line, std::size_t from, std::size_t n)
{
    const auto image = line.instrument().eeprom;
    return {image.begin() + from, image.begin() + from + n};
}

// Runs a test with a link lock of its own: the lock is shared by every program of the user,
// and a benchmark or another test holding it must not stall this one.
template <class Test>
int RunIsolated(int argc, char **argv)
{
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    return fixture::Run<Test>(argc, argv);
}

class TFixture {
public:
    std::unique_ptr<sim::InstrumentSim> Line;
    std::unique_ptr<TfMain> Window;
    std::unique_ptr<TScript> Script;
    QTemporaryDir Folder;

    void Init(const char *baud = "19200")
    {
        // The file dialogs open in the test's own folder.
        fixture::WriteSettings("[Program Settings]\r\nSaveDir=" + QFile::encodeName(Folder.path()) + "/\r\n");
        Line = std::make_unique<sim::InstrumentSim>();
        QVERIFY(Line->isValid());
        // Not shown: its boxes are modal all the same, and painting the offscreen window
        // would only add Qt's own image threads to what ThreadSanitizer watches.
        Window = std::make_unique<TfMain>();
        Window->ProjectControl->SetState(psSaved);  // the tabs and device commands are offered
        UsePort(QString::fromStdString(Line->portPath()));
        Ui().TS0CB1->setCurrentText(QLatin1String(baud));
        QCOMPARE(Window->LinkBaudText(), QLatin1String(baud));
        Line->clearLog();
    }
    void Cleanup()
    {
        // A measuring loop that a failed test left running is stopped, again and again: a stop
        // that came before the loop had begun would otherwise be lost.
        SettleOrEnd([] {
            RequestLoopStop();
            return TExchange::Running() == 0;
        }, 60000, "the end of the running operation");
        Script.reset();
        Window.reset();
        Line.reset();
        fixture::RemoveSettings();
    }

    // Points the link settings at another port.
    void UsePort(const QString &path)
    {
        Ui().TS0CB0->addItem(path);
        Ui().TS0CB0->setCurrentIndex(Ui().TS0CB0->count() - 1);
    }

    TDevice &Device() { return *Window->Device; }
    Ui::TfMain &Ui() { return *Window->ui; }

    // Clicks a menu item, toolbar button or tab button and answers what the operation shows
    // with the script; returns the texts seen once the worker has ended and the clean-up is
    // done. A test fails rather than hangs when the operation does not end.
    QStringList Run(QObject *sender, TScript *script)
    {
        Script.reset(script);
        if (auto *action = qobject_cast<QAction *>(sender))
            action->trigger();
        else
            qobject_cast<QAbstractButton *>(sender)->click();
        [&] { QVERIFY2(WaitFor([] { return TExchange::Running() == 0; }, 60000), "the operation did not end"); }();
        return Script->Seen();
    }
    // Yes to the question, OK to the report.
    QStringList RunAccepted(QObject *sender)
    {
        return Run(sender, &(new TScript)->Answer(QMessageBox::Yes).Answer(QMessageBox::Ok));
    }

    // The clean-up of every operation: gauge hidden, exchange idle, link lock free, and the
    // port closed, so that another link may open it (one that does not exist stays unknown).
    void VerifyIdle()
    {
        QVERIFY(Window->ProgramControl->ProgressGauge()->isHidden());
        QCOMPARE(Window->ProgramControl->ExchangeState(), Idle);
        QVERIFY(COMPortMutex().tryLock());
        COMPortMutex().unlock();
        std::uint32_t probe = EX_CreateCOM();
        const int opened = EX_OpenCOM(probe, QFile::encodeName(Ui().TS0CB0->currentText()).constData());
        EX_FreeCOM(&probe);
        QVERIFY2(opened == EX_OK || opened == EX_ERR_UNKNOWN_PORT, qPrintable(QString::number(opened)));
    }
};

} // namespace transfers
