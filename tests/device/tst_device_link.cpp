// TDevice's link commands against the simulated instrument over a pseudo-terminal: what the
// instrument receives, what the model reads back, and how each line fault ends.
#include "setup/instrument/device_u.h"

#include "extlibs/ex_com/ex_com.h"
#include "instrument_sim.h"
#include "tests/support/field_allowances.h"

#include <QtTest>

#include <memory>
#include <optional>

Q_DECLARE_METATYPE(sim::Fault)

namespace {

// The simulator's log as "command argument" lines, with "@address" when it is not 0.
QStringList Trace(const sim::InstrumentSim &line)
{
    QStringList lines;
    for (const auto &r : line.log())
        lines << (r.address ? QStringLiteral("@%1 ").arg(r.address) : QString())
                     + QStringLiteral("%1 %2").arg(r.command).arg(QString::fromStdString(r.argument)).trimmed();
    return lines;
}

} // namespace

class TestDeviceLink : public QObject {
    Q_OBJECT

    std::unique_ptr<sim::InstrumentSim> line;
    std::unique_ptr<TDevice> device;
    QString baud;

private slots:
    void init()
    {
        line = std::make_unique<sim::InstrumentSim>(std::vector<std::uint8_t>{0, 7});
        QVERIFY(line->isValid());
        device = std::make_unique<TDevice>();
        device->SetLinkSettings({[this] { return baud; }, [this] { return QString::fromStdString(line->portPath()); }});
        baud = QStringLiteral("19200");
        QCOMPARE(device->OpenPort(), 0);
        line->clearLog();
    }
    void cleanup()
    {
        device.reset();
        line.reset();
    }

    void commandsCarryTheirArgumentsAsDecimalText()
    {
        QCOMPARE(device->SetEEPROMAddress(34), 0);
        device->SetEEPROMAddress(65535);  // beyond this instrument's EEPROM: refused, but sent whole
        QCOMPARE(device->SetRAMAddress(200), 0);
        QCOMPARE(device->SetIndicatorPosition(4), 0);
        QCOMPARE(device->WriteIndicatorByte(0x3F), 0);
        QCOMPARE(device->SetRelayStates(5), 0);
        QCOMPARE(device->ResetIndicators(), 0);
        QCOMPARE(Trace(*line), QStringList({"2 34", "2 65535", "5 200", "7 4", "8 63", "9 5", "13"}));
        const auto state = line->instrument(0);
        QCOMPARE(state.indicators[4], 0x3F);
        QCOMPARE(state.relayMask, 5);

        device->DeviceAddress = 7;  // every command goes to the address set, as type 9
        QCOMPARE(device->SetRelayStates(3), 0);
        QCOMPARE(Trace(*line).last(), QStringLiteral("@7 9 3"));
        QCOMPARE(line->log().back().deviceType, 9);
        QCOMPARE(line->instrument(7).relayMask, 3);
    }

    void readingAllSettingsMatchesTheStoredCRCWords()
    {
        // Address 0, then 87 bytes: the CRC header and both blocks, up to address 86. The reads
        // go out with whatever the buffer holds.
        std::array<std::uint8_t, 87> bytes{};
        QCOMPARE(device->SetEEPROMAddress(TDevice::CRCAddress), 0);
        std::strcpy(device->LinkBuffer.data(), "12345");
        for (auto &b : bytes)
            QCOMPARE(device->ReadEEPROMByte(b), 0);
        const auto state = line->instrument(0);
        QVERIFY(std::equal(bytes.begin(), bytes.end(), state.eeprom.begin()));
        QCOMPARE(state.eepromAddress, 87);

        QCOMPARE(device->SetBlock(TDevice::CalibBlockType, std::span(bytes).subspan(TDevice::CalibAddress)), 0);
        QCOMPARE(device->SetBlock(TDevice::ParamsBlockType, std::span(bytes).subspan(TDevice::ParamsAddress)), 0);
        QCOMPARE(device->BlockCRC(TDevice::CalibBlockType), device_bytes::Word(bytes, 0));
        QCOMPARE(device->BlockCRC(TDevice::ParamsBlockType), device_bytes::Word(bytes, 2));
    }

    void ramFloatsAndDeviceValues()
    {
        line->modify(0, [](sim::InstrumentModel &m) { m.setAdc(3, 1.5f, 2.25f, -3.5f, 4.0f); });
        float value = 0;
        QCOMPARE(device->ReadRAMFloat(1, value), 0);
        QCOMPARE(value, 2.25f);
        QCOMPARE(Trace(*line), QStringList({"5 5", "6", "6", "6", "6"}));
        QCOMPARE(device->ReadRAMFloat(3, value), 0);
        QCOMPARE(value, 4.0f);

        const auto state = line->instrument(0);
        for (std::uint8_t index = 0; index < 4; ++index) {
            double v = -1;
            QCOMPARE(device->GetDeviceValue(index, v), 0);
            QVERIFY(qAbs(v - state.value(index)) < 1e-3);
        }
    }

    void crcWordsAreLowByteFirst()
    {
        line->modify(0, [](sim::InstrumentModel &m) {
            m.eeprom[2] = 0x34;
            m.eeprom[3] = 0x12;
        });
        std::uint16_t crc = 0;
        QCOMPARE(device->ReadCRC(2, crc), 0);
        QCOMPARE(crc, 0x1234);
        QCOMPARE(device->WriteCRC(1, 0x1234), 0);
        QCOMPARE(Trace(*line), QStringList({"2 2", "3", "3", "2 0", "4 52", "4 18"}));  // no finish
        QCOMPARE(line->instrument(0).eeprom[0], 0x34);
        QCOMPARE(line->instrument(0).eeprom[1], 0x12);

        line->clearLog();  // only words 1 and 2 exist
        QCOMPARE(device->ReadCRC(3, crc), -2);
        QCOMPARE(device->WriteCRC(0, 1), -2);
        QVERIFY(line->log().empty());
    }

    void lineFaultsEndWithTheLibrarysCode_data()
    {
        QTest::addColumn<sim::Fault>("fault");
        QTest::addColumn<int>("code");
        QTest::newRow("no answer") << sim::Fault::NoAnswer << EX_ERR_NO_ANSWER;
        QTest::newRow("broken frame") << sim::Fault::BrokenFrame << EX_ERR_FRAME;
        QTest::newRow("bad crc") << sim::Fault::BadCrc << EX_ERR_CRC;
        QTest::newRow("wrong type") << sim::Fault::WrongDeviceType << EX_ERR_DEVICE_TYPE;
        QTest::newRow("wrong address") << sim::Fault::WrongAddress << EX_ERR_ADDRESS;
        QTest::newRow("refused") << sim::Fault::ErrorReply << EX_ERR_REFUSED;
        QTest::newRow("slow") << sim::Fault::SlowAnswer << EX_ERR_NO_ANSWER;
    }
    void lineFaultsEndWithTheLibrarysCode()
    {
        QFETCH(sim::Fault, fault);
        QFETCH(int, code);
        line->setSlowDelay(std::chrono::milliseconds(300));
        QCOMPARE(device->SetEEPROMAddress(6), 0);
        line->injectFault(fault, 2);
        std::optional<FieldAllowances> field;   // for the faulted exchanges
        if (code == EX_ERR_NO_ANSWER)
            field.emplace();
        std::uint8_t value = 0xEE;
        QCOMPARE(device->ReadEEPROMByte(value), code);
        QCOMPARE(value, 0);
        QCOMPARE(device->LastError, code);
        QVERIFY(!device->GetErrorText(code).isEmpty());
        QCOMPARE(device->LastError, 0);
        // A slow instrument is busy until its late reply is out.
        const auto answered = [this] { return line->stats().replies == line->log().size(); };
        if (fault == sim::Fault::SlowAnswer)
            QTRY_VERIFY_WITH_TIMEOUT(answered(), 5000);
        double v = 1;
        QCOMPARE(device->GetDeviceValue(0, v), code);
        QCOMPARE(v, 0.0);

        // The line serves again once the fault has passed; a late reply is not taken for the next.
        field.reset();
        if (fault == sim::Fault::SlowAnswer)
            QTRY_VERIFY_WITH_TIMEOUT(answered(), 5000);
        QCOMPARE(device->SetEEPROMAddress(6), 0);
        QCOMPARE(device->ReadEEPROMByte(value), 0);
        QCOMPARE(value, line->instrument(0).eeprom[6]);
    }

    void errorTextOfAnUnknownCodeNamesIt()
    {
        QVERIFY(device->GetErrorText(EX_ERR_NO_ANSWER) != device->GetErrorText(EX_ERR_CRC));
        QVERIFY(device->GetErrorText(12345).contains(QLatin1String("12345")));
        QCOMPARE(device->LastError, 0);
    }

    void openPortNeedsAGoodBaudRateFirst_data()
    {
        QTest::addColumn<QString>("baudText");
        QTest::addColumn<int>("result");  // 1: a conversion error
        QTest::newRow("out of range") << QStringLiteral("12345") << EX_ERR_ARGUMENT;
        QTest::newRow("not a number") << QStringLiteral("9600 бод") << 1;
        QTest::newRow("empty") << QString() << 1;
    }
    void openPortNeedsAGoodBaudRateFirst()
    {
        QFETCH(QString, baudText);
        QFETCH(int, result);
        QCOMPARE(device->ClosePort(), 0);
        baud = baudText;
        if (result == 1) {
            try {
                device->OpenPort();
                QFAIL("no conversion error");
            } catch (const TConvertError &e) {
                QCOMPARE(e.Text(), baudText);
            }
        } else {
            QCOMPARE(device->OpenPort(), result);
        }
        QCOMPARE(device->SetRelayStates(1), EX_ERR_NOT_OPEN);  // the port was never opened
        QVERIFY(line->log().empty());
    }
};

QTEST_GUILESS_MAIN(TestDeviceLink)
#include "tst_device_link.moc"
