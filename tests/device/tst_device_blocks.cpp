// The instrument model's blocks: copying, hexadecimal text, numbers in text and field offsets.
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
};

QTEST_GUILESS_MAIN(TestDeviceBlocks)
#include "tst_device_blocks.moc"
