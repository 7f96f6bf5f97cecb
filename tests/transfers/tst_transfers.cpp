// The block transfers driven from the main window against the simulated instrument: what
// crosses the line, what the model and the form hold after success, a CRC mismatch and a link
// failure, and the clean-up on every path.
#include "tests/support/setup_transfer_fixture.h"
#include "tests/support/lock_holder_process.h"

#include "tests/device/scripted_line.h"

#include <QCoreApplication>

using namespace transfers;

namespace {

std::vector<std::uint8_t> Bytes(std::span<const std::uint8_t> span) { return {span.begin(), span.end()}; }

// The CRC words of the two blocks as the instrument's reads and writes carry them.
QStringList CRCWrite(int which, std::uint16_t crc)
{
    return {QStringLiteral("2 %1").arg(2 * (which - 1)), QStringLiteral("4 %1").arg(crc & 0xFF),
            QStringLiteral("4 %1").arg(crc >> 8)};
}

// Another copy of the program holding the link lock "COMPortMutex" (a process of its own).
class TLinkHolder {
public:
    TLinkHolder()
    {
        [&] {
            QVERIFY(FHolder.start(QStringLiteral("COMPortMutex")));
            QVERIFY(FHolder.waitForLine("locked"));
        }();
    }
    ~TLinkHolder() { Release(); }
    void Release()
    {
        if (FReleased)
            return;
        FReleased = true;
        FHolder.closeInput();
        FHolder.waitForExit();
    }

private:
    Holder FHolder;
    bool FReleased = false;
};

// True while a thread of this process waits for the link lock that another process holds.
bool WaitingForTheLink()
{
    return COMPortMutex().waitsForAnotherProcess();
}

// The instrument's CRC words (EEPROM 0-3) match its blocks, as the instrument checks them.
bool CRCWordsMatch(const sim::InstrumentSim &line)
{
    sim::InstrumentModel model = line.instrument();
    const auto stored = model.eeprom;
    model.updateCrcWords();
    return std::equal(stored.begin(), stored.begin() + 4, model.eeprom.begin());
}

} // namespace

class TestTransfers : public QObject {
    Q_OBJECT
    TFixture f;

private slots:
    void init() { f.Init(); }
    void cleanup() { f.Cleanup(); }

    void readAllSettingsReadsEightySevenBytesAndShowsThem()
    {
        f.Line->modify(0, [](sim::InstrumentModel &m) {
            m.setEepromFloat(6 + 16, 0.01234f);  // Ki05
            m.eeprom[34 + 48] = 0xE3;            // sensor CU63, break, three-wire, square law
            m.updateCrcWords();
        });
        const QStringList seen = f.RunAccepted(f.Ui().TB5);
        QCOMPARE(seen, QStringList({"Считать все настройки из прибора?", "Чтение настроек завершено."}));
        QCOMPARE(Trace(*f.Line), QStringList{"2 0"} + Repeat("3", 87));
        QCOMPARE(Bytes(f.Device().CalibBlock), EEPROM(*f.Line, 6, 28));
        QCOMPARE(Bytes(f.Device().ParamsBlock), EEPROM(*f.Line, 34, 53));
        QCOMPARE(f.Ui().TS3Edit7->text(), QStringLiteral("0.012"));
        QCOMPARE(f.Ui().TS3Edit10->text(), QStringLiteral("100.000"));
        QCOMPARE(f.Ui().TS1CB1->currentText(), QStringLiteral("CU63"));
        QCOMPARE(f.Ui().TS2Edit2->text(), QStringLiteral("75.000"));
        QCOMPARE(f.Window->ProjectControl->State(), psModified);
        f.VerifyIdle();
    }

    void writeAllSettingsWritesBothBlocksThenTheirCRCWords()
    {
        f.RunAccepted(f.Ui().M2N1);
        f.Ui().TS3Edit7->setText(QStringLiteral("2.5"));
        f.Ui().TS2Edit0->setText(QStringLiteral("-12.25"));
        f.Line->clearLog();
        const QStringList seen = f.RunAccepted(f.Ui().TB6);
        QCOMPARE(seen.last(), QStringLiteral("Записть настроек завершена."));
        const auto calib = Bytes(f.Device().CalibBlock), params = Bytes(f.Device().ParamsBlock);
        QCOMPARE(TCalibration::FromBytes(f.Device().CalibBlock).Ki05, 2.5f);
        QCOMPARE(TParams::FromBytes(f.Device().ParamsBlock).Setpoint1, -12.25f);
        QCOMPARE(Trace(*f.Line), QStringList{"2 6"} + Writes(calib) + Writes(params)
                                     + CRCWrite(1, f.Device().BlockCRC(1)) + CRCWrite(2, f.Device().BlockCRC(2))
                                     + QStringList{"11"});
        QCOMPARE(EEPROM(*f.Line, 6, 28), calib);
        QCOMPARE(EEPROM(*f.Line, 34, 53), params);
        // What was written reads back with matching CRC words.
        QCOMPARE(f.RunAccepted(f.Ui().M2N1).last(), QStringLiteral("Чтение настроек завершено."));
        f.VerifyIdle();
    }

    // A write that waits for the link while another program holds it, and meanwhile the model
    // changes on the window thread (a calibration file loaded, the form taken by a project
    // save): what goes to the instrument, and its CRC words, come from one copy of the model
    // taken once the link is ours.
    void writesTakeTheModelOnceTheLinkIsTheirs()
    {
        f.RunAccepted(f.Ui().M2N1);
        const QString file = f.Folder.filePath(QStringLiteral("other.clb"));
        TCalibration other = TCalibration::FromBytes(f.Device().CalibBlock);
        other.Ki05 = 3.5f;
        other.Rref = 250.0f;
        TDevice::WriteCalibrationFile(file, other);
        f.Ui().TS1Edit0->setText(QStringLiteral("-5"));

        for (QObject *command : {static_cast<QObject *>(f.Ui().TB6), static_cast<QObject *>(f.Ui().TS1Button2)}) {
            f.Line->clearLog();
            auto holder = std::make_unique<TLinkHolder>();
            f.Script.reset(&(new TScript)->Answer(QMessageBox::Yes).Choose(file).Answer(QMessageBox::Ok));
            if (auto *action = qobject_cast<QAction *>(command))
                action->trigger();
            else
                qobject_cast<QAbstractButton *>(command)->click();
            QVERIFY(WaitFor(WaitingForTheLink, 30000));
            // The window thread changes the model while the worker waits.
            if (command == f.Ui().TB6) {
                f.Ui().TS3Button10->click();  // load the calibration file
                QCOMPARE(TCalibration::FromBytes(f.Device().CalibBlock).Ki05, 3.5f);
            } else {
                f.Ui().TS1Edit0->setText(QStringLiteral("-7.5"));
                f.Device().TakeParams();
            }
            QVERIFY(f.Line->log().empty());
            holder->Release();
            QVERIFY(WaitFor([] { return TExchange::Running() == 0; }, 60000));
            QCOMPARE(f.Script->Seen().last(), command == f.Ui().TB6 ? QStringLiteral("Записть настроек завершена.")
                                                                    : QStringLiteral("Запись параметров прибора завершена."));
            QVERIFY(CRCWordsMatch(*f.Line));
            QCOMPARE(EEPROM(*f.Line, 6, 28), Bytes(f.Device().CalibBlock));
            QCOMPARE(EEPROM(*f.Line, 34, 53), Bytes(f.Device().ParamsBlock));
            f.VerifyIdle();
        }
        QCOMPARE(f.Line->instrument().eepromFloat(6 + 16), 3.5f);
        QCOMPARE(f.Line->instrument().eepromFloat(6), 250.0f);
        QCOMPARE(f.Line->instrument().eepromFloat(34), -7.5f);
    }

    // Writing what the instrument holds already: it answers the finish with "EEPROM
    // unchanged", and the write ends as any other.
    void writeOfWhatTheInstrumentHoldsCompletes()
    {
        f.RunAccepted(f.Ui().M2N1);
        f.RunAccepted(f.Ui().TB6);  // the form's own packing of the bytes, once
        const auto before = EEPROM(*f.Line, 0, 87);
        QCOMPARE(f.RunAccepted(f.Ui().TB6).last(), QStringLiteral("Записть настроек завершена."));
        QCOMPARE(f.RunAccepted(f.Ui().TS2Button2).last(), QStringLiteral("Запись параметров реле прибора завершена."));
        QCOMPARE(f.RunAccepted(f.Ui().TS3Button2).last(), QStringLiteral("Запись калибровочных коэффициентов завершена."));
        QCOMPARE(EEPROM(*f.Line, 0, 87), before);
        f.VerifyIdle();
    }

    void calibrationTransfers()
    {
        QCOMPARE(f.RunAccepted(f.Ui().TS3Button1),
                 QStringList({"Считать калибровочные коэффициенты?", "Чтение калибровочных коэффициентов завершено."}));
        QCOMPARE(Trace(*f.Line), QStringList{"2 6"} + Repeat("3", 28) + QStringList({"2 0", "3", "3"}));
        QCOMPARE(f.Ui().TS3Edit11->text(), QStringLiteral("200.000"));
        f.Ui().TS3Edit12->setText(QStringLiteral("0.5"));
        f.Line->clearLog();
        QCOMPARE(f.RunAccepted(f.Ui().TS3Button2).last(), QStringLiteral("Запись калибровочных коэффициентов завершена."));
        const auto calib = Bytes(f.Device().CalibBlock);
        QCOMPARE(Trace(*f.Line), QStringList{"2 6"} + Writes(calib) + CRCWrite(1, f.Device().BlockCRC(1)) + QStringList{"11"});
        QCOMPARE(f.Line->instrument().eepromFloat(6 + 24), 0.5f);
    }

    // The partial reads take only their own part into the model; the rest is what the model
    // held before, and the whole model is shown.
    void partialReadsMergeTheirPart()
    {
        f.RunAccepted(f.Ui().M2N1);
        f.Ui().TS1Edit1->setText(QStringLiteral("55"));    // device part, typed but not taken
        f.Ui().TS2Edit0->setText(QStringLiteral("66"));    // relay part, typed but not taken
        f.Line->modify(0, [](sim::InstrumentModel &m) {
            m.setEepromFloat(34 + 4, 150.0f);   // input range high
            m.setEepromFloat(34 + 16, 42.0f);   // setpoint 1
            m.updateCrcWords();
        });
        f.Line->clearLog();
        QCOMPARE(f.RunAccepted(f.Ui().TS1Button1).last(), QStringLiteral("Чтение параметров прибора завершено."));
        QCOMPARE(Trace(*f.Line), QStringList{"2 34"} + Repeat("3", 53) + QStringList({"2 2", "3", "3"}));
        QCOMPARE(f.Ui().TS1Edit1->text(), QStringLiteral("150.000"));
        QCOMPARE(f.Ui().TS2Edit0->text(), QStringLiteral("50.000"));  // the model's, not the instrument's
        QCOMPARE(TParams::FromBytes(f.Device().ParamsBlock).Setpoint1, 50.0f);

        QCOMPARE(f.RunAccepted(f.Ui().TS2Button1).last(), QStringLiteral("Чтение параметров реле прибора завершено."));
        QCOMPARE(f.Ui().TS2Edit0->text(), QStringLiteral("42.000"));
    }

    // The partial writes read the instrument's block, put in their own part and write it back.
    void partialWritesReadModifyWrite()
    {
        f.RunAccepted(f.Ui().M2N1);
        f.Line->modify(0, [](sim::InstrumentModel &m) {
            m.setEepromFloat(34 + 16, 42.0f);  // the instrument's setpoint 1 differs from the form's
            m.updateCrcWords();
        });
        f.Ui().TS1Edit0->setText(QStringLiteral("-5"));
        f.Ui().TS2Edit0->setText(QStringLiteral("66"));
        f.Line->clearLog();
        QCOMPARE(f.RunAccepted(f.Ui().TS1Button2),
                 QStringList({"Записать параметры в прибор?", "Запись параметров прибора завершена."}));
        const auto written = Bytes(f.Device().ParamsBlock);
        QCOMPARE(Trace(*f.Line), QStringList{"2 34"} + Repeat("3", 53) + QStringList{"2 34"} + Writes(written)
                                     + CRCWrite(2, f.Device().BlockCRC(2)) + QStringList{"11"});
        QCOMPARE(f.Line->instrument().eepromFloat(34), -5.0f);
        QCOMPARE(f.Line->instrument().eepromFloat(34 + 16), 42.0f);   // relay part kept
        QCOMPARE(TParams::FromBytes(f.Device().ParamsBlock).Setpoint1, 42.0f);  // model = instrument
        QCOMPARE(f.Ui().TS2Edit0->text(), QStringLiteral("66"));       // the form as typed

        QCOMPARE(f.RunAccepted(f.Ui().TS2Button2).last(), QStringLiteral("Запись параметров реле прибора завершена."));
        QCOMPARE(f.Line->instrument().eepromFloat(34 + 16), 66.0f);
        QCOMPARE(f.Line->instrument().eepromFloat(34), -5.0f);
    }

    void crcMismatchKeepsTheBytesButNotTheForm()
    {
        f.RunAccepted(f.Ui().M2N1);
        f.Ui().TS3Edit10->setText(QStringLiteral("1.000"));
        f.Line->modify(0, [](sim::InstrumentModel &m) {
            m.setEepromFloat(6, 123.0f);  // Rref, and neither CRC word fits any more
            m.setEepromFloat(34 + 16, 7.0f);
        });
        QCOMPARE(f.RunAccepted(f.Ui().TB5).last(),
                 QStringLiteral("Контрольная сумма калибровочных коэффициентов не совпадает с записанной в приборе!"));
        QCOMPARE(TCalibration::FromBytes(f.Device().CalibBlock).Rref, 123.0f);
        QCOMPARE(TParams::FromBytes(f.Device().ParamsBlock).Setpoint1, 50.0f);  // not examined
        QCOMPARE(f.Ui().TS3Edit10->text(), QStringLiteral("1.000"));
        f.VerifyIdle();

        // A relay read that fails its check leaves all 53 bytes; a later good device read
        // shows their relay part.
        QCOMPARE(f.RunAccepted(f.Ui().TS2Button1).last(),
                 QStringLiteral("Контрольная сумма параметров прибора не совпадает с записанной в приборе!"));
        QCOMPARE(TParams::FromBytes(f.Device().ParamsBlock).Setpoint1, 7.0f);
        QCOMPARE(f.Ui().TS2Edit0->text(), QStringLiteral("50.000"));
        f.Line->modify(0, [](sim::InstrumentModel &m) { m.updateCrcWords(); });
        f.RunAccepted(f.Ui().TS1Button1);
        QCOMPARE(f.Ui().TS2Edit0->text(), QStringLiteral("7.000"));
    }

    void linkFailureEndsWithTheLibraryTextAndCleansUp()
    {
        f.RunAccepted(f.Ui().M2N1);
        const auto before = Bytes(f.Device().ParamsBlock);
        f.Line->modify(0, [](sim::InstrumentModel &m) { m.setEepromFloat(34, 9.0f); m.updateCrcWords(); });
        f.Line->injectFault(sim::Fault::NoAnswer, -1);  // a dead instrument
        QCOMPARE(f.RunAccepted(f.Ui().TS1Button1).last(), QStringLiteral("Прибор не отвечает"));
        QCOMPARE(Bytes(f.Device().ParamsBlock), before);
        f.VerifyIdle();

        // The CRC read failing after the block: the bytes read stay in the model.
        TScriptedLine line([](const excom::Frame &, int index) {
            return TScriptedLine::TAnswer{index == 54 ? TScriptedLine::TAnswer::Refuse : TScriptedLine::TAnswer::Reply,
                                          index == 54 ? "3" : "17"};
        });
        f.UsePort(line.PortPath());
        QCOMPARE(f.RunAccepted(f.Ui().TS1Button1).last(), QStringLiteral("Прибор отказался выполнить команду"));
        QCOMPARE(Bytes(f.Device().ParamsBlock), std::vector<std::uint8_t>(53, 17));
        f.VerifyIdle();
    }

    void writeFailureAfterTheMergeLeavesTheMergedBlock()
    {
        f.RunAccepted(f.Ui().M2N1);
        f.Ui().TS1Edit0->setText(QStringLiteral("3"));
        // The instrument's block reads as 17s; the CRC word's address (request 108) is refused.
        TScriptedLine line([](const excom::Frame &, int index) {
            return TScriptedLine::TAnswer{index == 108 ? TScriptedLine::TAnswer::Refuse : TScriptedLine::TAnswer::Reply,
                                          index == 108 ? "3" : index <= 53 ? "17" : ""};
        });
        f.UsePort(line.PortPath());
        QCOMPARE(f.RunAccepted(f.Ui().TS1Button2).last(), QStringLiteral("Прибор отказался выполнить команду"));
        const TParams model = TParams::FromBytes(f.Device().ParamsBlock);
        QCOMPARE(model.InputRangeLow, 3.0f);
        QCOMPARE(f.Device().ParamsBlock[16], 17);  // the relay part as the instrument held it
        QCOMPARE(f.Device().ParamsBlock[42], 17);
        QCOMPARE(line.Requests().size(), std::size_t(109));
        f.VerifyIdle();
    }

    void questionsAndMessageOptions()
    {
        // No: nothing crosses the line and nothing is reported.
        QCOMPARE(f.Run(f.Ui().TB5, &(new TScript)->Answer(QMessageBox::No)),
                 QStringList{"Считать все настройки из прибора?"});
        QVERIFY(f.Line->log().empty());
        // Confirmations off: the read runs at once; reports off: it ends silently.
        f.Ui().M1N3->setChecked(false);
        f.Ui().M1N1->setChecked(false);
        QCOMPARE(f.Run(f.Ui().TB5, new TScript), QStringList());
        QCOMPARE(f.Line->log().size(), std::size_t(88));
        f.VerifyIdle();
    }

    void unreadableTextsEndTheOperationWithItsCleanUp()
    {
        // A form field that is not a number: no exchange at all.
        f.Ui().TS2Edit5->setText(QStringLiteral("1,5"));
        QCOMPARE(f.RunAccepted(f.Ui().TB6).last(), QStringLiteral("Вкладка \"Параметры уставок и реле\", группа \"Уставка №3\", "
                                                                   "поле \"Гистерезис\": \"1,5\" не является числом"));
        QVERIFY(f.Line->log().empty());
        f.VerifyIdle();

        // A baud list left empty by a hand-edited project: the message names the list.
        const int baud = f.Ui().TS0CB1->currentIndex();
        f.Ui().TS0CB1->setCurrentIndex(-1);
        QCOMPARE(f.RunAccepted(f.Ui().TB5).last(), QStringLiteral("Вкладка \"Настройка связи\", группа \"Настройка связи с прибором\", "
                                                                   "поле \"Скорость обмена, бод\": \"\" не является целым числом"));
        QVERIFY(f.Line->log().empty());
        f.Ui().TS0CB1->setCurrentIndex(baud);
        f.VerifyIdle();

        // A reply that is not an integer.
        TScriptedLine line([](const excom::Frame &, int index) {
            return TScriptedLine::TAnswer{TScriptedLine::TAnswer::Reply, index == 3 ? "abc" : "17"};
        });
        f.UsePort(line.PortPath());
        const auto before = Bytes(f.Device().CalibBlock);
        QCOMPARE(f.RunAccepted(f.Ui().TS3Button1).last(), QStringLiteral("\"abc\" не является целым числом"));
        QCOMPARE(Bytes(f.Device().CalibBlock), before);
        f.VerifyIdle();
    }

    void portThatCannotBeOpened()
    {
        f.UsePort(QStringLiteral("/dev/no-such-port"));
        QCOMPARE(f.RunAccepted(f.Ui().TB5).last(), QStringLiteral("Порт \"/dev/no-such-port\": Порт не найден"));
        f.VerifyIdle();
    }
};

int main(int argc, char **argv)
{
    return RunIsolated<TestTransfers>(argc, argv);
}

#include "tst_transfers.moc"
