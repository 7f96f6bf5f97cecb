// The inspection measurement through the main window against the simulated instrument: the
// moving average, maximum and minimum after each good sample, failed reads that do not count,
// the reset during a run, the measuring mode written before and the parameters written back
// after, and its messages.
#include "loop_fixture.h"

using namespace loops;
using transfers::TFixture;
using transfers::TScript;

namespace {

const QString Start = QStringLiteral("Начать измерение");
const QString Stop = QStringLiteral("Остановить измерение");
const QString WarningNotRestored =
    QStringLiteral("Параметры прибора не восстановлены: прибор остался в режиме измерения, заданном для проверки.");

} // namespace

class TestInspection : public QObject {
    Q_OBJECT
    TFixture f;

    QStringList Readouts()
    {
        return {f.Ui().TS4ST0->text(), f.Ui().TS4ST1->text(), f.Ui().TS4ST2->text(), f.Ui().TS4ST3->text()};
    }
    void Quiet()
    {
        f.Ui().M1N1->setChecked(false);
        f.Ui().M1N3->setChecked(false);
    }
    // Starts the inspection; the instrument answers `good` value reads and refuses every one
    // after them (so the readouts stand still); returns once the last good sample shows.
    void StartWithGoodReads(const std::vector<float> &values, int good, const QString &lastShown)
    {
        Play(*f.Line, [&](sim::SignalPlay &p) {
            p.values = values;
            p.failures = {{5, "1", good, -1}};
        });
        f.Ui().TS4Button1->click();
        LOOP_WAIT(f.Ui().TS4Button1->text() == Stop && f.Ui().TS4ST0->text() == lastShown);
    }
    void StopAndWait()
    {
        f.Ui().TS4Button1->click();
        QCOMPARE(f.Ui().TS4Button1->text(), QStringLiteral("Wait..."));
        LOOP_WAIT(TExchange::Running() == 0);
        QCOMPARE(f.Ui().TS4Button1->text(), Start);
        QCOMPARE(Readouts(), QStringList({"No Data", "No Data", "No Data", "No Data"}));
        f.VerifyIdle();
    }

private slots:
    void init()
    {
        f.Init();
        f.Ui().TS4SE2->setValue(2);
    }
    void cleanup()
    {
        RunFlag = 0;
        f.Cleanup();
    }

    void averageMaximumAndMinimumAfterEachGoodSample_data()
    {
        QTest::addColumn<int>("good");
        QTest::addColumn<QStringList>("shown");  // current, maximum, average, minimum
        QTest::newRow("1") << 1 << QStringList({"30.00", "30.00", "0.00", "30.00"});
        QTest::newRow("2") << 2 << QStringList({"10.00", "30.00", "0.00", "10.00"});
        QTest::newRow("3, after a failed read") << 3 << QStringList({"50.00", "50.00", "0.00", "10.00"});
        QTest::newRow("4") << 4 << QStringList({"20.00", "50.00", "30.00", "10.00"});
        QTest::newRow("5") << 5 << QStringList({"40.00", "50.00", "26.67", "10.00"});
    }
    void averageMaximumAndMinimumAfterEachGoodSample()
    {
        QFETCH(int, good);
        QFETCH(QStringList, shown);
        Quiet();
        f.Ui().TS4SE1->setValue(3);
        // The third read fails once: it is no sample, and the next good one takes its place.
        Play(*f.Line, [&](sim::SignalPlay &p) {
            p.values = {30, 10, 50, 20, 40};
            p.failures = {{5, "1", 2, 1}, {5, "1", good <= 2 ? good : good + 1, -1}};
        });
        f.Ui().TS4Button1->click();
        LOOP_WAIT(f.Ui().TS4Button1->text() == Stop && f.Ui().TS4ST0->text() == shown.first());
        QCOMPARE(Readouts(), shown);
        QCOMPARE(f.Device().MaxValue, shown.at(1).toDouble());
        StopAndWait();
    }

    void oneSampleAverageShowsTheSampleBeforeTheNewest()
    {
        Quiet();
        f.Ui().TS4SE1->setValue(1);
        StartWithGoodReads({5, 7}, 2, QStringLiteral("7.00"));
        QCOMPARE(Readouts(), QStringList({"7.00", "7.00", "5.00", "5.00"}));
        StopAndWait();
    }

    // The extremes start at -99999 (maximum) and +99999 (minimum): a first value beyond one of
    // them becomes that extreme and leaves the other where it started.
    void aFirstValueBeyondTheStartingExtremesLeavesTheOtherThere_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("above") << 123456.5f << QStringList({"123456.500", "123456.500", "0.000", "99999.000"});
        QTest::newRow("below") << -123456.5f << QStringList({"-123456.500", "-99999.000", "0.000", "-123456.500"});
    }
    void aFirstValueBeyondTheStartingExtremesLeavesTheOtherThere()
    {
        QFETCH(float, value);
        QFETCH(QStringList, shown);
        Quiet();
        f.Ui().TS4SE2->setValue(3);
        StartWithGoodReads({value}, 1, shown.first());
        QCOMPARE(Readouts(), shown);
        StopAndWait();
    }

    // A value halfway between two readouts rounds away from zero, in all four readouts.
    void tiesRoundAwayFromZero_data()
    {
        QTest::addColumn<int>("decimals");
        QTest::addColumn<std::vector<float>>("values");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("2 decimals") << 2 << std::vector<float>{0.125f, -0.375f}
                                    << QStringList({"-0.38", "0.13", "0.13", "-0.38"});
        QTest::newRow("none") << 0 << std::vector<float>{2.5f, -0.5f} << QStringList({"-1", "3", "3", "-1"});
    }
    void tiesRoundAwayFromZero()
    {
        QFETCH(int, decimals);
        QFETCH(std::vector<float>, values);
        QFETCH(QStringList, shown);
        Quiet();
        f.Ui().TS4SE1->setValue(1);
        f.Ui().TS4SE2->setValue(decimals);
        StartWithGoodReads(values, 2, shown.first());
        QCOMPARE(Readouts(), shown);
        StopAndWait();
    }

    // N and the decimals are read at every sample: a change during a run counts from the next
    // one. N going from 3 to 1 moves slot 1 into slot 0 for the average, then the sample before
    // the newest follows.
    void averagingAndDecimalsChangedDuringARun()
    {
        Quiet();
        f.Ui().TS4SE1->setValue(3);
        StartWithGoodReads({10, 20, 30, 40, 50, 60}, 4, QStringLiteral("40.00"));
        QCOMPARE(Readouts(), QStringList({"40.00", "40.00", "20.00", "10.00"}));
        f.Ui().TS4SE1->setValue(1);
        f.Ui().TS4SE2->setValue(3);
        ChangePlay(*f.Line, [](sim::SignalPlay &p) { p.failures = {{5, "1", 1, -1}}; });
        LOOP_WAIT(f.Ui().TS4ST0->text() == "50.000");
        QCOMPARE(Readouts(), QStringList({"50.000", "50.000", "20.000", "10.000"}));
        ChangePlay(*f.Line, [](sim::SignalPlay &p) { p.failures = {{5, "1", 1, -1}}; });
        LOOP_WAIT(f.Ui().TS4ST0->text() == "60.000");
        QCOMPARE(Readouts(), QStringList({"60.000", "60.000", "50.000", "10.000"}));
        StopAndWait();
    }

    void resetDuringARunRestartsMaximumAndMinimumFromTheNextSample()
    {
        Quiet();
        // At rest the reset leaves the readouts as they are.
        f.Ui().TS4Button2->click();
        QCOMPARE(Readouts(), QStringList({"No Data", "No Data", "No Data", "No Data"}));
        f.Ui().TS4SE1->setValue(2);
        StartWithGoodReads({10, 20, 30}, 2, QStringLiteral("20.00"));
        QVERIFY(f.Ui().TS4Button2->isEnabled());
        f.Ui().TS4Button2->click();
        QCOMPARE(Readouts(), QStringList({"20.00", "No Data", "No Data", "No Data"}));
        QCOMPARE(f.Device().MinValue, 99999.0);
        // One more good read.
        ChangePlay(*f.Line, [](sim::SignalPlay &p) { p.failures = {{5, "1", 1, -1}}; });
        LOOP_WAIT(f.Ui().TS4ST0->text() == "30.00");
        QCOMPARE(Readouts(), QStringList({"30.00", "30.00", "15.00", "30.00"}));
        StopAndWait();
    }

    void theMeasuringModeIsWrittenBeforeAndTheParametersAfter()
    {
        Quiet();
        f.RunAccepted(f.Ui().TS1Button1);  // the instrument's parameters on the form
        f.Ui().TS4CB0->setCurrentIndex(2);  // "I 4..20 mA"
        f.Ui().TS4SE0->setValue(37);
        f.Ui().TS4Edit2->setText(QStringLiteral("3.5"));
        f.Ui().TS4Edit3->setText(QStringLiteral("19.5"));
        f.Window->ProjectControl->SetState(psSaved);
        f.Device().TakeParams();
        const auto before = f.Device().ParamsBlock;  // what the form holds, to be written back
        StartWithGoodReads({1}, 1, QStringLiteral("1.00"));
        const auto during = f.Line->instrument();
        QCOMPARE(during.eeprom[34 + 48] & 0x1F, 17);
        QCOMPARE(int(during.eeprom[34 + 49]), 37);
        QCOMPARE(during.eepromFloat(34 + 0), 4.0f);  // the range preset by the sensor list
        QCOMPARE(during.eepromFloat(34 + 4), 20.0f);
        QCOMPARE(during.eepromFloat(34 + 8), 3.5f);
        QCOMPARE(during.eepromFloat(34 + 12), 19.5f);
        QCOMPARE(f.Ui().TS1CB1->currentIndex(), 17);
        QCOMPARE(f.Window->ProjectControl->State(), psModified);
        StopAndWait();
        // The device parameters (not the relays' part) as the form had them.
        const auto after = f.Line->instrument().eeprom;
        QVERIFY(std::equal(before.begin(), before.begin() + 16, after.begin() + 34));
        QVERIFY(std::equal(before.begin() + 43, before.end(), after.begin() + 34 + 43));
        QCOMPARE(f.Ui().TS1CB1->currentIndex(), int(before[48] & 0x1F));
        QCOMPARE(f.Ui().TS1SE1->value(), int(before[49]));
        QCOMPARE(int(before[48] & 0x1F), 6);
    }

    void declinedRestoringWriteIsSaidPlainly()
    {
        Play(*f.Line, [](sim::SignalPlay &p) { p.values = {2}; });
        f.Script.reset(&(new TScript)
                            ->Answer(QMessageBox::Yes)   // start
                            .Answer(QMessageBox::Yes)    // the measuring mode written
                            .Answer(QMessageBox::Ok)
                            .Answer(QMessageBox::No)     // the parameters not written back
                            .Answer(QMessageBox::Ok)
                            .Answer(QMessageBox::Ok));
        f.Ui().TS4Button1->click();
        LOOP_WAIT(f.Ui().TS4Button1->text() == Stop && f.Ui().TS4ST0->text() == "2.00");
        StopAndWait();
        QCOMPARE(f.Script->Seen(), QStringList({"Начать чтение измеряемой величины?", "Записать параметры в прибор?",
                                                "Запись параметров прибора завершена.", "Записать параметры в прибор?",
                                                WarningNotRestored, "Чтение измеряемой величины завершено."}));
    }

    void declinedQuestionChangesNothing()
    {
        f.Window->ProjectControl->SetState(psSaved);
        f.Script.reset(&(new TScript)->Answer(QMessageBox::No));
        f.Ui().TS4Button1->click();
        LOOP_WAIT(TExchange::Running() == 0);
        QCOMPARE(f.Script->Seen(), QStringList{"Начать чтение измеряемой величины?"});
        QVERIFY(f.Line->log().empty());
        QCOMPARE(f.Ui().TS4Button1->text(), Start);
        QCOMPARE(f.Window->ProjectControl->State(), psSaved);
    }

    void portThatCannotBeOpenedIsReportedAndTheEndStillRuns()
    {
        Quiet();
        f.UsePort(f.Folder.path() + QStringLiteral("/no-such-port"));
        f.Script.reset(new TScript);
        f.Ui().TS4Button1->click();
        LOOP_WAIT(TExchange::Running() == 0);
        const QStringList seen = f.Script->Seen();
        // The first write's error, the port's, the restoring write's, and what that leaves.
        QCOMPARE(seen.size(), 4);
        QCOMPARE(seen.at(1), seen.at(0));
        QCOMPARE(seen.last(), WarningNotRestored);
        QCOMPARE(f.Ui().TS4Button1->text(), Start);
        QCOMPARE(Readouts(), QStringList({"No Data", "No Data", "No Data", "No Data"}));
        f.VerifyIdle();
    }
};

int main(int argc, char **argv)
{
    return transfers::RunIsolated<TestInspection>(argc, argv);
}

#include "tst_inspection.moc"
