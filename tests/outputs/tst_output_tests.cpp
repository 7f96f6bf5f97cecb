// The relay and indicator tests against the simulated instrument: what the instrument was told,
// what TS4I0 shows, the cyclic test's start and stop, and a window that stays responsive while
// another program holds the link.
#include "tests/support/setup_transfer_fixture.h"

#include "indicator_pictures.h"

#include "tests/support/lock_holder_process.h"

using namespace transfers;

namespace {

const QString CyclicStart = QStringLiteral("Запустить циклический тест индикаторов");
const QString CyclicStop = QStringLiteral("Остановить циклический тест индикаторов");

std::vector<std::uint8_t> Positions(const sim::InstrumentSim &line)
{
    const auto indicators = line.instrument().indicators;
    return {indicators.begin(), indicators.end()};
}

std::vector<std::uint8_t> AllPositions(std::uint8_t pattern)
{
    return std::vector<std::uint8_t>(sim::InstrumentModel::kIndicatorPositions, pattern);
}

// The patterns written to the indicators, in order.
QList<int> Patterns(const sim::InstrumentSim &line)
{
    QList<int> patterns;
    for (const auto &r : line.log()) {
        if (r.command == 8)
            patterns << std::stoi(r.argument);
    }
    return patterns;
}

} // namespace

class TestOutputTests : public QObject {
    Q_OBJECT
    TFixture f;

    int Picture() { return f.Ui().TS4I0->property("ImageIndex").toInt(); }
    // Runs a command with every message option off: nothing is asked or reported.
    void RunQuietly(QAbstractButton *button)
    {
        for (QAction *option : {f.Ui().M1N1, f.Ui().M1N2, f.Ui().M1N3})
            option->setChecked(false);
        QCOMPARE(f.Run(button, new TScript), QStringList());
    }

private slots:
    void init() { f.Init(); }
    void cleanup() { f.Cleanup(); }

    void relayMasksReachTheInstrument()
    {
        for (int mask = 0; mask < 8; ++mask) {
            f.Ui().TS2ChB0->setChecked(mask & 1);
            f.Ui().TS2ChB1->setChecked(mask & 2);
            f.Ui().TS2ChB2->setChecked(mask & 4);
            RunQuietly(f.Ui().TS2Button3);
            QCOMPARE(int(f.Line->instrument().relayMask), mask);
        }
        f.Line->clearLog();
        f.Ui().M1N1->setChecked(true);
        f.Ui().M1N3->setChecked(true);
        QCOMPARE(f.RunAccepted(f.Ui().TS2Button4),
                 QStringList({"Разрешить прибору управлять реле?", "Теперь прибор управляет реле."}));
        QCOMPARE(Trace(*f.Line), QStringList{"9 0"});
        QCOMPARE(f.Line->instrument().relayMask, 0);
        f.Ui().TS2ChB1->setChecked(false);
        QCOMPARE(f.RunAccepted(f.Ui().TS2Button3),
                 QStringList({"Установить принудительные состояния реле прибора?",
                              "Принудительные состояния реле прибора установлены.\nПрибор больше не управляет реле!"}));
        QCOMPARE(f.Line->instrument().relayMask, 5);
        // Declined: nothing sent.
        f.Line->clearLog();
        QCOMPARE(f.Run(f.Ui().TS2Button4, &(new TScript)->Answer(QMessageBox::No)).size(), 1);
        QVERIFY(f.Line->log().empty());
        f.VerifyIdle();
    }

    // The boxes are read once the link is ours: a box ticked while the link was busy counts.
    void relayMaskIsTakenWithTheLink()
    {
        for (QCheckBox *box : {f.Ui().TS2ChB0, f.Ui().TS2ChB1, f.Ui().TS2ChB2})
            box->setChecked(false);
        QVERIFY(COMPortMutex().tryLock());
        f.Script.reset(&(new TScript)->Answer(QMessageBox::Yes).Answer(QMessageBox::Ok));
        f.Ui().TS2Button3->click();
        // The question answered, the window serves a good many rounds of events (any read of
        // the boxes that the worker asks for on the way to the link among them) before the tick.
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&] { ++ticks; });
        tick.start(5);
        QVERIFY(WaitFor([&] { return ticks >= 40 && f.Script->Seen().size() == 1; }, 10000));
        QVERIFY(TExchange::Running() > 0);
        f.Ui().TS2ChB1->setChecked(true);
        COMPortMutex().unlock();
        QVERIFY(WaitFor([] { return TExchange::Running() == 0; }, 10000));
        QCOMPARE(Trace(*f.Line), QStringList{"9 2"});
        QCOMPARE(int(f.Line->instrument().relayMask), 2);
        f.VerifyIdle();
    }

    void allIndicatorsOnAndOff()
    {
        QCOMPARE(Picture(), indicator_pictures::Normal);
        QCOMPARE(f.Ui().TS4I0->pixmap().toImage(), indicator_pictures::Draw(indicator_pictures::Normal));
        QCOMPARE(f.RunAccepted(f.Ui().TS4Button3), QStringList({"Зажечь все индикаторы?", "Все индикаторы зажжены."}));
        QCOMPARE(Trace(*f.Line), QStringList{"7 0"} + Repeat("8 255", 9));
        QCOMPARE(Positions(*f.Line), AllPositions(255));
        QCOMPARE(Picture(), indicator_pictures::AllLit);
        QCOMPARE(f.RunAccepted(f.Ui().TS4Button4), QStringList({"Потушить все индикаторы?", "Все индикаторы потушены."}));
        QCOMPARE(Positions(*f.Line), AllPositions(0));
        QCOMPARE(Picture(), indicator_pictures::Dark);
        // The picture is the one drawn for it.
        QCOMPARE(f.Ui().TS4I0->pixmap().toImage(), indicator_pictures::Draw(indicator_pictures::Dark));

        // A refused command: the link's text, the picture as it was.
        f.Line->injectFault(sim::Fault::ErrorReply, 3);
        const QStringList seen = f.RunAccepted(f.Ui().TS4Button3);
        QCOMPARE(seen.last(), QStringLiteral("Прибор отказался выполнить команду"));
        QCOMPARE(Picture(), indicator_pictures::Dark);
        f.VerifyIdle();
    }

    // Stepping by hand wraps both ways; from none ">>" lights 0 and "<<" lights 6.
    void segmentStepping()
    {
        RunQuietly(f.Ui().TS4Button7);
        QCOMPARE(Trace(*f.Line), QStringList{"7 0"} + Repeat("8 1", 9));
        QCOMPARE(Picture(), indicator_pictures::FirstSegment + 0);
        RunQuietly(f.Ui().TS4Button6);
        QCOMPARE(Positions(*f.Line), AllPositions(128));
        QCOMPARE(Picture(), indicator_pictures::FirstSegment + 7);
        RunQuietly(f.Ui().TS4Button7);
        QCOMPARE(Positions(*f.Line), AllPositions(1));

        RunQuietly(f.Ui().TS4Button8);
        QCOMPARE(f.Line->instrument().indicatorResets, 1);
        QVERIFY(!f.Line->instrument().indicatorTest);
        QCOMPARE(Picture(), indicator_pictures::Normal);
        QCOMPARE(int(f.Device().Segment), 255);
        RunQuietly(f.Ui().TS4Button6);
        QCOMPARE(Positions(*f.Line), AllPositions(64));
        QCOMPARE(Picture(), indicator_pictures::FirstSegment + 6);
        f.VerifyIdle();
    }

    // Started after segment 3 was lit by hand, the cyclic test goes on from 4; the stop shows
    // "Wait..." until the loop has ended.
    void cyclicTestGoesOnFromTheHandLitSegment()
    {
        for (int i = 0; i < 4; ++i)
            RunQuietly(f.Ui().TS4Button7);
        QCOMPARE(Positions(*f.Line), AllPositions(8));
        f.Line->clearLog();
        f.Ui().TS4Button5->click();
        QVERIFY(WaitFor([&] { return Patterns(*f.Line).size() >= 18; }, 10000));
        QCOMPARE(f.Ui().TS4Button5->text(), CyclicStop);
        QVERIFY(f.Ui().TS4Button5->isEnabled());
        QVERIFY(!f.Ui().TS4Button3->isEnabled());
        f.Ui().TS4Button5->click();
        QCOMPARE(f.Ui().TS4Button5->text(), QStringLiteral("Wait..."));
        QVERIFY(WaitFor([] { return TExchange::Running() == 0; }, 10000));
        QCOMPARE(f.Ui().TS4Button5->text(), CyclicStart);
        QVERIFY(f.Ui().TS4Button3->isEnabled());
        const QList<int> patterns = Patterns(*f.Line);
        QCOMPARE(patterns.mid(0, 18), QList<int>(9, 16) + QList<int>(9, 32));
        // The display keeps the last segment; no reset was sent.
        const int last = int(f.Device().Segment);
        QCOMPARE(patterns.last(), 1 << last);
        QCOMPARE(Picture(), indicator_pictures::FirstSegment + last);
        QCOMPARE(f.Line->instrument().indicatorResets, 0);
        f.VerifyIdle();
    }

    // A stop clicked while the loop waits for the link lock ends it before its first step.
    void cyclicStopWhileWaitingIsKept()
    {
        QVERIFY(COMPortMutex().tryLock());
        f.Ui().TS4Button5->click();
        QVERIFY(WaitFor([&] { return f.Ui().TS4Button5->text() == CyclicStop; }, 10000));
        f.Ui().TS4Button5->click();
        QCOMPARE(f.Ui().TS4Button5->text(), QStringLiteral("Wait..."));
        COMPortMutex().unlock();
        QVERIFY(WaitFor([] { return TExchange::Running() == 0; }, 10000));
        QCOMPARE(f.Ui().TS4Button5->text(), CyclicStart);
        QVERIFY(Patterns(*f.Line).isEmpty());
        QCOMPARE(int(f.Device().Segment), 7);  // none: the first step would have lit 0
        f.VerifyIdle();
    }

    // A port that cannot be opened ends the test at once, with nothing sent and no segment taken.
    void cyclicTestWithoutPortLeavesTheSegment()
    {
        const QString port = f.Ui().TS0CB0->currentText();
        f.UsePort(QStringLiteral("/dev/null/no-port"));
        QCOMPARE(f.Run(f.Ui().TS4Button5, new TScript), QStringList());
        QCOMPARE(f.Ui().TS4Button5->text(), CyclicStart);
        QCOMPARE(int(f.Device().Segment), 255);
        QVERIFY(f.Line->log().empty());
        // So ">>" still lights segment 0 and "<<" segment 6 on the real port.
        f.UsePort(port);
        RunQuietly(f.Ui().TS4Button6);
        QCOMPARE(Positions(*f.Line), AllPositions(64));
    }

    // Another program holds the link: the indicator command waits for it on a worker while the
    // window goes on serving its events, and runs once the link is free.
    void windowRespondsWhileAnotherProgramHoldsTheLink()
    {
        Holder holder;
        QVERIFY(holder.start(QStringLiteral("COMPortMutex")));
        QVERIFY(holder.waitForLine("locked"));

        f.Script.reset(&(new TScript)->Answer(QMessageBox::Yes).Answer(QMessageBox::Ok));
        f.Ui().TS4Button3->click();
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&] { ++ticks; });
        tick.start(5);
        // The question was answered and the window's timer goes on ticking.
        QVERIFY(WaitFor([&] { return ticks >= 40 && f.Script->Seen().size() == 1; }, 10000));
        QVERIFY(f.Line->log().empty());
        QVERIFY(TExchange::Running() > 0);

        holder.writeLine();
        QVERIFY(WaitFor([] { return TExchange::Running() == 0; }, 10000));
        QCOMPARE(f.Script->Seen(), QStringList({"Зажечь все индикаторы?", "Все индикаторы зажжены."}));
        QCOMPARE(Positions(*f.Line), AllPositions(255));
        QVERIFY(holder.waitForExit());
    }

    // Every picture differs from the others; the segment pictures light their LED (0 top, 1
    // middle, 2 bottom) and no other.
    void picturesAreDistinct()
    {
        QList<QImage> pictures;
        for (int i = 0; i < indicator_pictures::Count; ++i) {
            const QImage image = indicator_pictures::Draw(i);
            QCOMPARE(image.size(), QSize(120, 70));
            for (const QImage &other : pictures)
                QVERIFY(image != other);
            pictures << image;
        }
        const auto ledLit = [](const QImage &image, int led) { return qGreen(image.pixel(10, 17 + 18 * led)) > 200; };
        for (int led = 0; led < 3; ++led) {
            QVERIFY(ledLit(pictures[indicator_pictures::Normal], led));
            QVERIFY(ledLit(pictures[indicator_pictures::AllLit], led));
            QVERIFY(!ledLit(pictures[indicator_pictures::Dark], led));
            for (int segment = 0; segment < 8; ++segment)
                QCOMPARE(ledLit(pictures[indicator_pictures::FirstSegment + segment], led), segment == led);
        }
    }
};

int main(int argc, char **argv)
{
    return RunIsolated<TestOutputTests>(argc, argv);
}

#include "tst_output_tests.moc"
