// The instrument model's blocks: copying, hexadecimal text, numbers in text and field offsets;
// and the calibration arithmetic on numbers alone.
#include "setup/instrument/calibration_math.h"
#include "setup/instrument/device_u.h"

#include <QtTest>

#include <cstring>
#include <memory>

namespace {

TDevice::TBlockBuffer Pattern(std::uint8_t seed)  // byte i = seed + i
{
    TDevice::TBlockBuffer buffer{};
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<std::uint8_t>(seed + i);
    return buffer;
}

QString HexOf(const TDevice &device, int type)
{
    QString text;
    device.BlockToHex(type, text);
    return text;
}

QString Zeros(int type)
{
    return QString(QList<int>{12, 56, 106, 34}.value(type), QLatin1Char('0'));
}

} // namespace

class TestDeviceBlocks : public QObject {
    Q_OBJECT

    std::unique_ptr<TDevice> device;

private slots:
    void init() { device = std::make_unique<TDevice>(); }

    void otherTypesChangeNothing()
    {
        for (int type = 0; type < 4; ++type)
            QCOMPARE(HexOf(*device, type), Zeros(type));
        auto buffer = Pattern(0xAA);
        std::uint16_t length = 99;
        QString text = QStringLiteral("old");
        for (const int type : {-1, 4, 7}) {
            QCOMPARE(device->GetBlock(type, buffer, length), -1);
            QCOMPARE(length, 0);
            QVERIFY(std::ranges::all_of(buffer, [](std::uint8_t b) { return b == 0; }));
            QCOMPARE(device->BlockToHex(type, text), -1);
            QVERIFY(text.isEmpty());
            QCOMPARE(device->ClearBlock(type), -1);
            QCOMPARE(device->SetBlock(type, Pattern(9)), -1);
            QCOMPARE(device->HexToBlock(type, QString(12, QLatin1Char('F'))), -1);
            QCOMPARE(device->BlockCRC(type), 0);
        }
        for (int type = 0; type < 4; ++type)
            QCOMPARE(HexOf(*device, type), Zeros(type));
    }

    void getAndSetCopyExactlyTheBlock()
    {
        for (int type = 0; type < 4; ++type) {
            QCOMPARE(device->SetBlock(type, Pattern(0x10)), 0);
            auto buffer = Pattern(0xEE);  // stale bytes that GetBlock clears
            std::uint16_t length = 0;
            QCOMPARE(device->GetBlock(type, buffer, length), 0);
            QCOMPARE(int(length), Zeros(type).size() / 2);
            QVERIFY(std::equal(buffer.begin(), buffer.begin() + length, Pattern(0x10).begin()));
            QVERIFY(std::all_of(buffer.begin() + length, buffer.end(), [](std::uint8_t b) { return b == 0; }));
            // One byte short: refused, block kept.
            QCOMPARE(device->SetBlock(type, std::span(buffer).first(length - 1u)), -1);
            QVERIFY(HexOf(*device, type).startsWith(QLatin1String("101112")));
            QCOMPARE(device->ClearBlock(type), 0);
        }
    }

    void hexTextRoundTrip()
    {
        QCOMPARE(device->SetBlock(TDevice::ParamsBlockType, Pattern(0xAB)), 0);
        const QString hex = HexOf(*device, TDevice::ParamsBlockType);
        QCOMPARE(hex.size(), 106);
        QVERIFY(hex.startsWith(QLatin1String("ABACAD")));
        QCOMPARE(device->ClearBlock(TDevice::ParamsBlockType), 0);
        QCOMPARE(device->HexToBlock(TDevice::ParamsBlockType, hex.toLower()), 0);
        QCOMPARE(HexOf(*device, TDevice::ParamsBlockType), hex);
        QString cut;
        QCOMPARE(device->BlockToHex(TDevice::ParamsBlockType, cut, 5), 0);
        QCOMPARE(cut, QStringLiteral("ABACA"));
        // Wrong lengths, odd ones included, leave the block as it was.
        for (const int length : {55, 57, 54, 0, 255})
            QCOMPARE(device->HexToBlock(TDevice::CalibBlockType, QString(length, QLatin1Char('1'))), -1);
        QCOMPARE(HexOf(*device, TDevice::CalibBlockType), Zeros(TDevice::CalibBlockType));
    }

    void badHexPairThrowsAndKeepsTheBlock_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("pair");
        QTest::newRow("first") << QStringLiteral("G0112233AABB") << QStringLiteral("G0");
        QTest::newRow("last") << QStringLiteral("0011223344Zz") << QStringLiteral("Zz");
        QTest::newRow("space") << QStringLiteral("00 122334455") << QStringLiteral(" 1");
        QTest::newRow("sign") << QStringLiteral("00112233-1FF") << QStringLiteral("-1");
        QTest::newRow("not latin") << QStringLiteral("0011ЖA334455") << QStringLiteral("ЖA");
        QTest::newRow("odd place") << QStringLiteral("0011223G4455") << QStringLiteral("3G");
        QTest::newRow("odd place, last") << QStringLiteral("00112233445Ж") << QStringLiteral("5Ж");
    }
    void badHexPairThrowsAndKeepsTheBlock()
    {
        QFETCH(QString, text);
        QFETCH(QString, pair);
        QCOMPARE(device->SetBlock(TDevice::CRCBlockType, Pattern(0x50)), 0);
        try {
            device->HexToBlock(TDevice::CRCBlockType, text);
            QFAIL("no conversion error");
        } catch (const TConvertError &e) {
            QCOMPARE(e.Text(), pair);
            QVERIFY(e.Message().contains(pair));
        }
        QCOMPARE(HexOf(*device, TDevice::CRCBlockType), QStringLiteral("505152535455"));
    }

    void integerTexts()
    {
        QCOMPARE(TDevice::ToInteger(u"09"), 9);
        QCOMPARE(TDevice::ToInteger(u"-1"), -1);
        for (const QString &bad : {QStringLiteral("9a"), QString(), QStringLiteral(" 9"), QStringLiteral("4294967296")})
            QVERIFY_THROWS_EXCEPTION(TConvertError, TDevice::ToInteger(bad));
    }

    // Every field of the parameter block at its offset, each with a value of its own, checked
    // against bytes put together here: a swap of two fields of one type shows.
    void everyParameterAtItsOffset()
    {
        const std::pair<float TParams::*, std::size_t> floats[] = {
            {&TParams::InputRangeLow, 0}, {&TParams::InputRangeHigh, 4}, {&TParams::CurrentRangeLow, 8},
            {&TParams::CurrentRangeHigh, 12}, {&TParams::Setpoint1, 16}, {&TParams::Hysteresis1, 20},
            {&TParams::Setpoint2, 25}, {&TParams::Hysteresis2, 29}, {&TParams::Setpoint3, 34},
            {&TParams::Hysteresis3, 38}};
        const std::pair<std::uint8_t TParams::*, std::size_t> bytes[] = {
            {&TParams::Relay1Reaction, 24}, {&TParams::Relay2Reaction, 33}, {&TParams::Relay3Reaction, 42},
            {&TParams::NetworkAddress, 43}, {&TParams::SensorSetup, 48}, {&TParams::AveragingCount, 49},
            {&TParams::OutputSetup, 50}, {&TParams::IndicatorBrightness, 51}, {&TParams::LinkDisplaySetup, 52}};
        TParams p;
        std::array<std::uint8_t, TParams::Size> expected{};
        for (std::size_t i = 0; i < std::size(floats); ++i) {
            const float value = -1.5f - float(i) * 100.25f;
            p.*floats[i].first = value;
            std::uint32_t raw = 0;
            std::memcpy(&raw, &value, 4);
            for (std::size_t b = 0; b < 4; ++b)
                expected[floats[i].second + b] = std::uint8_t(raw >> (8 * b));
        }
        for (std::size_t i = 0; i < std::size(bytes); ++i)
            expected[bytes[i].second] = p.*bytes[i].first = std::uint8_t(0xA1 + 7 * i);
        p.Password = 0x1234;
        p.PasswordConfirm = 0xBEEF;
        expected[44] = 0x34, expected[45] = 0x12, expected[46] = 0xEF, expected[47] = 0xBE;

        p.ToBytes(device->ParamsBlock);
        QCOMPARE(device->ParamsBlock, expected);
        const TParams back = TParams::FromBytes(expected);
        for (const auto &[field, offset] : floats)
            QCOMPARE(back.*field, p.*field);
        for (const auto &[field, offset] : bytes)
            QCOMPARE(back.*field, p.*field);
        QCOMPARE(back.Password, 0x1234);
        QCOMPARE(back.PasswordConfirm, 0xBEEF);
    }

    void fieldsSitAtTheirOffsets()
    {
        TParams params;  // floats at unaligned offsets, words low byte first
        params.Setpoint2 = 12.5f;
        params.Relay2Reaction = 0x96;
        params.Password = 0x1234;
        params.LinkDisplaySetup = 0xC5;
        params.ToBytes(device->ParamsBlock);
        QCOMPARE(device_bytes::Float(device->ParamsBlock, 25), 12.5f);
        QCOMPARE(HexOf(*device, TDevice::ParamsBlockType).mid(2 * 33, 2), QStringLiteral("96"));
        QCOMPARE(HexOf(*device, TDevice::ParamsBlockType).mid(2 * 44, 4), QStringLiteral("3412"));
        QCOMPARE(TParams::FromBytes(device->ParamsBlock).LinkDisplaySetup, 0xC5);

        TCalibration calibration;
        calibration.Rl = 1.0f;
        calibration.ToBytes(device->CalibBlock);
        QCOMPARE(HexOf(*device, TDevice::CalibBlockType).right(8), QStringLiteral("0000803F"));

        TADCData adc;
        adc.ADCCode = 7;
        adc.Channel1Voltage = 2.0f;
        adc.ToBytes(device->ADCBlock);
        QCOMPARE(HexOf(*device, TDevice::ADCBlockType), QStringLiteral("07" "00000000" "00000040" "0000000000000000"));
    }

    // V1 2, V2 3, V3 5 and Rref 100, Uref 8: each rule's channel, coefficient and term show.
    void calibrationRulesTakeTheirChannelAndCoefficient_data()
    {
        QTest::addColumn<int>("rule");
        QTest::addColumn<int>("offset");     // the coefficient's offset in the block
        QTest::addColumn<double>("term");    // with the reference 10
        QTest::addColumn<int>("zeroed");     // the channel whose 0 (for V2: whose Uref) fails the test
        QTest::newRow("voltage") << 0 << 12 << 5.0 << 1;
        QTest::newRow("current 5") << 1 << 16 << 2.0 << 3;
        QTest::newRow("current 20") << 2 << 20 << 2.0 << 3;
        QTest::newRow("line") << 3 << 24 << 60.0 << 2;
        QTest::newRow("compensator") << 4 << 8 << -40.0 << 2;
    }
    void calibrationRulesTakeTheirChannelAndCoefficient()
    {
        QFETCH(int, rule);
        QFETCH(int, offset);
        QFETCH(double, term);
        QFETCH(int, zeroed);
        const calibration::TCoefficientRule *rules[] = {&calibration::Voltage, &calibration::Current5,
                                                        &calibration::Current20, &calibration::LineResistance,
                                                        &calibration::CompensatorResistance};
        const calibration::TCoefficientRule &r = *rules[rule];
        TCalibration c{100, 8, 0, 0, 0, 0, 0};
        c.*r.Coefficient = 1.5f;
        c.ToBytes(device->CalibBlock);
        QCOMPARE(device_bytes::Float(device->CalibBlock, offset), 1.5f);

        TADCData reading;
        reading.Channel1Voltage = 2, reading.Channel2Voltage = 3, reading.Channel3Voltage = 5;
        QVERIFY(!r.ZeroFails(reading, c));
        QCOMPARE(r.Term(reading, c, 10), term);
        for (int channel = 1; channel <= 3; ++channel) {
            TADCData failing = reading;
            float &voltage = channel == 1 ? failing.Channel1Voltage
                           : channel == 2 ? failing.Channel2Voltage
                                          : failing.Channel3Voltage;
            voltage = channel == 2 ? c.Uref : 0;
            QCOMPARE(r.ZeroFails(failing, c), channel == zeroed);
        }
    }

    void calibrationSumsStayIn32Bits()
    {
        QCOMPARE(calibration::AddTerm(16777216.0f, 1.0), 16777216.0f);  // 2^24 + 1 is no float
        QCOMPARE(calibration::AddTerm(0.5f, 0.25), 0.75f);
        calibration::TPassSums sums;
        QCOMPARE(sums.Means().A, 0.0f);
        for (const float v : {16777216.0f, 1.0f, 1.0f}) {
            TADCData reading;
            reading.Channel1Voltage = v, reading.Channel2Voltage = 4, reading.Channel3Voltage = 99;
            sums.Add(reading);
        }
        QCOMPARE(sums.Means().A, 16777216.0f / 3);  // each 1 lost against 2^24
        QCOMPARE(sums.Means().B, 4.0f);
    }

    // Passes simulated from a reference Uref behind Rref feeding R over two line wires of RL
    // each: the current I gives A = I RL (one wire) and B = I (R + 2 RL) (resistor and wires).
    void threeWireGivesUrefAndRrefBack_data()
    {
        QTest::addColumn<double>("lineR");
        QTest::addColumn<float>("r1");
        QTest::addColumn<float>("r2");
        QTest::addColumn<bool>("found");
        QTest::newRow("typical") << 3.0 << 100.0f << 300.0f << true;
        QTest::newRow("no line") << 0.0 << 50.0f << 320.0f << true;
        QTest::newRow("R1 shorted: P = 0") << 3.0 << 0.0f << 300.0f << false;
        QTest::newRow("R1 = R2: Q = 0") << 3.0 << 100.0f << 100.0f << false;
    }
    void threeWireGivesUrefAndRrefBack()
    {
        QFETCH(double, lineR);
        QFETCH(float, r1);
        QFETCH(float, r2);
        QFETCH(bool, found);
        const double uref = 2.5, rref = 1000;
        const auto pass = [&](float r) {
            const double i = uref / (rref + r + 2 * lineR);
            return calibration::TPassMeans{float(i * lineR), float(i * (r + 2 * lineR))};
        };
        const auto references = calibration::ThreeWireReferences(pass(r1), pass(r2), r1, r2);
        QCOMPARE(references.has_value(), found);
        if (found) {
            QVERIFY2(qAbs(references->Uref - uref) < 1e-3, qPrintable(QString::number(references->Uref)));
            QVERIFY2(qAbs(references->Rref - rref) < 1, qPrintable(QString::number(references->Rref)));
        }
    }
};

QTEST_GUILESS_MAIN(TestDeviceBlocks)
#include "tst_device_blocks.moc"
