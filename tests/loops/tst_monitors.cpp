// The three monitoring loops through the main window against the simulated instrument: what
// their readouts show from changing values, a failing read, decimals changed while running,
// the rest texts, a port that cannot be opened, and a stop at every moment of a loop.
#include "loop_fixture.h"

using namespace loops;
using transfers::TFixture;

namespace {

const QString Start = QStringLiteral("Начать измерение");
const QString Stop = QStringLiteral("Остановить измерение");

QStringList Texts(std::initializer_list<QLabel *> labels)
{
    QStringList texts;
    for (QLabel *label : labels)
        texts << label->text();
    return texts;
}

// Clicks a button from inside the window's reaction to another control being disabled, that is
// while the loop's worker waits for its exchange state to be applied, before it opens the port.
class TClickWhenDisabled : public QObject {
public:
    TClickWhenDisabled(QWidget *watched, QAbstractButton *target) : FWatched(watched), FTarget(target)
    {
        watched->installEventFilter(this);
    }
    bool Clicked = false;
    QString CaptionAtClick;

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (object == FWatched && event->type() == QEvent::EnabledChange && !FWatched->isEnabled() && !Clicked) {
            Clicked = true;
            CaptionAtClick = FTarget->text();
            FTarget->click();
        }
        return false;
    }

private:
    QWidget *FWatched;
    QAbstractButton *FTarget;
};

} // namespace

class TestMonitors : public QObject {
    Q_OBJECT
    TFixture f;

    void StopAndWait(QAbstractButton *button)
    {
        LOOP_WAIT(button->text() == Stop);
        button->click();
        QCOMPARE(button->text(), QStringLiteral("Wait..."));
        button->click();  // a click at "Wait..." does nothing
        LOOP_WAIT(TExchange::Running() == 0);
        QCOMPARE(button->text(), Start);
    }
    void VerifyIdleAgain()
    {
        f.VerifyIdle();
        // The masks are back: every loop can start again.
        for (QWidget *button : {f.Ui().TS3Button11, f.Ui().TS4Button1, f.Ui().TS5Button3, f.Ui().TS5Button4})
            QVERIFY(button->isEnabled());
    }

private slots:
    void init() { f.Init(); }
    void cleanup()
    {
        RunFlag = 0;  // a failed test must not leave a loop running
        f.Cleanup();
    }

    void valuesAndSetpointsFollowTheInstrumentAndOneFailingSetpointShowsOnlyThere()
    {
        f.Ui().TS5SE0->setValue(3);
        Play(*f.Line, [](sim::SignalPlay &p) {
            p.values = {12.3456f, -0.25f, -0.0004f};
            p.setpoints[0] = {50.5f};
            p.setpoints[2] = {-7.125f, 8.0f};
            p.failures = {{1, "2", 0, -1}};
        });
        f.Ui().TS5Button3->click();
        LOOP_WAIT(f.Ui().TS5ST0->text() == "12.346" && f.Ui().TS5ST3->text() == "-7.125");
        LOOP_WAIT(f.Ui().TS5ST0->text() == "-0.250" && f.Ui().TS5ST3->text() == "8.000");
        // A small negative value rounds to a zero without a sign.
        LOOP_WAIT(f.Ui().TS5ST0->text() == "0.000");
        QCOMPARE(f.Ui().TS5ST1->text(), QStringLiteral("50.500"));
        QCOMPARE(f.Ui().TS5ST2->text(), QStringLiteral("Ошибка!"));
        // Running: its own stop button stays enabled, the other loops' buttons are not.
        QVERIFY(f.Ui().TS5Button3->isEnabled());
        QVERIFY(!f.Ui().TS5Button4->isEnabled());
        QVERIFY(!f.Ui().TS3Button11->isEnabled());
        QVERIFY(f.Ui().TS5SE0->isEnabled());
        // Fewer decimals from the next sample on.
        f.Ui().TS5SE0->setValue(1);
        LOOP_WAIT(f.Ui().TS5ST1->text() == "50.5");
        LOOP_WAIT(f.Ui().TS5ST0->text() == "12.3" || f.Ui().TS5ST0->text() == "-0.3");
        StopAndWait(f.Ui().TS5Button3);
        QCOMPARE(Texts({f.Ui().TS5ST0, f.Ui().TS5ST1, f.Ui().TS5ST2, f.Ui().TS5ST3}),
                 QStringList({"No Data", "No Data", "No Data", "No Data"}));
        VerifyIdleAgain();
    }

    void adcDataShowsCodeAndVoltagesOrErrOnAFailedRead()
    {
        f.Ui().TS5SE1->setValue(2);
        Play(*f.Line, [](sim::SignalPlay &p) {
            p.readings = {Reading(1.5f, 2.25f, -3.125f, 17, 42.5f)};
            p.failures = {{6, "", 0, -1}};
        });
        f.Ui().TS5Button4->click();
        LOOP_WAIT(f.Ui().TS5ST4->text() == "Err");
        QCOMPARE(Texts({f.Ui().TS5ST5, f.Ui().TS5ST6, f.Ui().TS5ST7, f.Ui().TS5ST8}),
                 QStringList({"Ошибка!", "Ошибка!", "Ошибка!", "Ошибка!"}));
        ChangePlay(*f.Line, [](sim::SignalPlay &p) { p.failures.clear(); });
        LOOP_WAIT(f.Ui().TS5ST4->text() == "17");
        QCOMPARE(Texts({f.Ui().TS5ST5, f.Ui().TS5ST6, f.Ui().TS5ST7, f.Ui().TS5ST8}),
                 QStringList({"42.50", "1.50", "2.25", "-3.13"}));
        StopAndWait(f.Ui().TS5Button4);
        QCOMPARE(f.Ui().TS5ST4->text(), QStringLiteral("0"));
        QCOMPARE(f.Ui().TS5ST8->text(), QStringLiteral("No Data"));
        VerifyIdleAgain();
    }

    void calibrationTestReadsTheMeasuredValueFromRAM()
    {
        f.Ui().TS3SE2->setValue(0);
        Play(*f.Line, [](sim::SignalPlay &p) { p.values = {99.5f, 7.4f}; });
        f.Ui().TS3Button11->click();
        LOOP_WAIT(f.Ui().TS3ST0->text() == "7");
        LOOP_WAIT(f.Ui().TS3ST0->text() == "100");
        StopAndWait(f.Ui().TS3Button11);
        QCOMPARE(f.Ui().TS3ST0->text(), QStringLiteral("No Data"));
        // One sample: RAM address 1, then four bytes.
        const QStringList trace = Trace(*f.Line);
        QCOMPARE(trace.mid(0, 5), QStringList({"5 1", "6", "6", "6", "6"}));
        QCOMPARE(trace.size() % 5, 0);
        VerifyIdleAgain();
    }

    void portThatCannotBeOpenedEndsTheLoopWithoutAMessage()
    {
        f.UsePort(f.Folder.path() + QStringLiteral("/no-such-port"));
        auto *script = new transfers::TScript;
        f.Script.reset(script);
        f.Ui().TS5Button3->click();
        LOOP_WAIT(TExchange::Running() == 0);
        QCOMPARE(f.Ui().TS5Button3->text(), Start);
        QCOMPARE(f.Ui().TS5ST0->text(), QStringLiteral("No Data"));
        QVERIFY(script->Seen().isEmpty());
        VerifyIdleAgain();
    }

    // A double click stops what its first click started, whenever the second comes.
    void aQuickSecondClickStops_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("gapMs");
        for (const char *button : {"TS3Button11", "TS5Button3", "TS5Button4", "TS4Button5"}) {
            QTest::newRow(qPrintable(QStringLiteral("%1 at once").arg(button))) << button << 0;
            QTest::newRow(qPrintable(QStringLiteral("%1 after 40 ms").arg(button))) << button << 40;
        }
    }
    void aQuickSecondClickStops()
    {
        QFETCH(QString, button);
        QFETCH(int, gapMs);
        auto *target = f.Window->findChild<QAbstractButton *>(button);
        const QString start = target->text();
        target->click();
        QVERIFY(target->text() != start);
        if (gapMs > 0)
            QTest::qWait(gapMs);
        target->click();
        QCOMPARE(target->text(), QStringLiteral("Wait..."));
        LOOP_WAIT(TExchange::Running() == 0);
        QCOMPARE(target->text(), start);
        VerifyIdleAgain();
    }

    void stopBeforeThePortIsOpenIsNotLost()
    {
        TClickWhenDisabled stopper(f.Ui().TS3Button3, f.Ui().TS5Button4);
        f.Ui().TS5Button4->click();
        LOOP_WAIT(TExchange::Running() == 0);
        QVERIFY(stopper.Clicked);
        QCOMPARE(stopper.CaptionAtClick, Stop);
        QCOMPARE(f.Ui().TS5Button4->text(), Start);
        QVERIFY(f.Line->log().empty());
        VerifyIdleAgain();
    }

    void stopDuringASampleWaitsForItsEnd_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::newRow("during the first sample") << false;
        QTest::newRow("once it is shown, in the pause") << true;
    }
    void stopDuringASampleWaitsForItsEnd()
    {
        QFETCH(bool, shown);
        // Slow enough that a sample of five exchanges takes most of a second.
        f.Line->setPacing(true);
        f.Ui().TS0CB1->setCurrentText(QStringLiteral("1200"));
        f.Ui().TS3Button11->click();
        if (shown)
            LOOP_WAIT(f.Ui().TS3ST0->text() != "No Data");
        else
            LOOP_WAIT(f.Line->log().size() >= 2);
        const std::size_t atClick = f.Line->log().size();
        f.Ui().TS3Button11->click();
        QCOMPARE(f.Ui().TS3Button11->text(), QStringLiteral("Wait..."));
        LOOP_WAIT(TExchange::Running() == 0);
        QCOMPARE(f.Ui().TS3Button11->text(), Start);
        // The sample under way (five exchanges) ended whole; at most the one that had passed
        // the test of the flag followed it.
        const std::size_t atEnd = f.Line->log().size();
        QCOMPARE(atEnd % 5, std::size_t(0));
        QVERIFY(atEnd >= atClick);
        QVERIFY(atEnd <= (atClick + 4) / 5 * 5 + (atClick % 5 == 0 ? 5 : 0));
        VerifyIdleAgain();
    }

    void stopWhileTheLoopWaitsForTheLinkLock()
    {
        f.Ui().TS5Button3->click();
        LOOP_WAIT(f.Line->log().size() >= 4);
        // Another holder of the link lock: the loop waits for it between samples.
        LOOP_WAIT(COMPortMutex().tryLock());
        const std::size_t before = f.Line->log().size();
        QCOMPARE(before % 4, std::size_t(0));
        f.Ui().TS5Button3->click();
        QCOMPARE(f.Ui().TS5Button3->text(), QStringLiteral("Wait..."));
        QCOMPARE(TExchange::Running(), 1);
        COMPortMutex().unlock();
        LOOP_WAIT(TExchange::Running() == 0);
        QCOMPARE(f.Ui().TS5Button3->text(), Start);
        QVERIFY(f.Line->log().size() <= before + 4);
        VerifyIdleAgain();
    }
};

int main(int argc, char **argv)
{
    return transfers::RunIsolated<TestMonitors>(argc, argv);
}

#include "tst_monitors.moc"
