// The link commands end to end through the C interface against the simulated instrument on a
// pseudo-terminal: each command, refusals and bad arguments, every line fault with its code,
// an echoing adapter, several instruments on one line, port ownership.
#include "excom_helpers.h"
#include "sim/instrument_sim.h"
#include "tests/support/field_allowances.h"

#include <QtTest>

#include <cstring>
#include <limits>
#include <memory>
#include <optional>

using namespace excomtest;
using sim::Fault;
using sim::InstrumentSim;

Q_DECLARE_METATYPE(sim::Fault)

class TestExcomLink : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void identifyAndEepromRoundTrip();
    void eepromWriteAndFinish();
    void ramIndicatorsAndRelays();
    void deviceData();
    void badArgumentsAreNotSent();
    void instrumentRefusals();
    void faults_data();
    void faults();
    void slowAnswerDoesNotSpoilTheNextCommand();
    void lateRepliesAreKept_data();
    void lateRepliesAreKept();
    void allowanceWidenedOnlyByAWholeNumber_data();
    void allowanceWidenedOnlyByAWholeNumber();
    void lineClosingMidOperation();
    void echoingAdapter();
    void noiseAroundReplies();
    void severalInstrumentsOnOneLine();
    void otherDeviceType();
    void portOwnershipAndStates();

private:
    int readByte(uint8_t address = 0);

    std::unique_ptr<InstrumentSim> sim;
    std::unique_ptr<LinkHandle> link;
};

void TestExcomLink::init()
{
    sim = std::make_unique<InstrumentSim>(std::vector<uint8_t>{0});
    QVERIFY(sim->isValid());
    link = std::make_unique<LinkHandle>();
    QVERIFY(*link != 0);
    QCOMPARE(EX_SetBaudRate(*link, 19200), EX_OK);
    QCOMPARE(EX_OpenCOM(*link, sim->portPath().c_str()), EX_OK);
}

void TestExcomLink::cleanup()
{
    link.reset();
    sim.reset();
}

int TestExcomLink::readByte(uint8_t address)
{
    const Result r = exchange(*link, address, 3, "255");
    return r.code == EX_OK ? std::stoi(r.text) : r.code - 1000;
}

void TestExcomLink::identifyAndEepromRoundTrip()
{
    const Result id = exchange(*link, 0, 0);
    QCOMPARE(id.code, EX_OK);
    QCOMPARE(id.text, std::string("9"));

    const auto eeprom = sim->instrument(0).eeprom;
    QCOMPARE(exchange(*link, 0, 2, "0").code, EX_OK);
    for (int i = 0; i < 87; ++i)
        QCOMPARE(readByte(), int(eeprom[static_cast<size_t>(i)]));

    // The read commands go out without the text the buffer held from the previous reply.
    const auto log = sim->log();
    QCOMPARE(log.size(), size_t(89));
    QCOMPARE(log[1], (sim::CommandRecord{9, 0, 2, "0"}));
    QCOMPARE(log[2], (sim::CommandRecord{9, 0, 3, ""}));
}

void TestExcomLink::eepromWriteAndFinish()
{
    QCOMPARE(exchange(*link, 0, 2, "100").code, EX_OK);
    QCOMPARE(exchange(*link, 0, 4, "171").code, EX_OK);
    QCOMPARE(exchange(*link, 0, 4, "205").code, EX_OK);
    QCOMPARE(exchange(*link, 0, 11, "7").code, EX_OK);
    const auto model = sim->instrument(0);
    QCOMPARE(int(model.eeprom[100]), 171);
    QCOMPARE(int(model.eeprom[101]), 205);
    QCOMPARE(model.finishedWrites, 1);
    QCOMPARE(sim->log().back(), (sim::CommandRecord{9, 0, 11, ""}));

    // Writing what is already there: the finish reports that nothing changed.
    QCOMPARE(exchange(*link, 0, 2, "100").code, EX_OK);
    QCOMPARE(exchange(*link, 0, 4, "171").code, EX_OK);
    QCOMPARE(exchange(*link, 0, 11).code, EX_WRITE_UNCHANGED);
    int rc = 1;
    QVERIFY(!errorText(EX_WRITE_UNCHANGED, EX_DEVICE_TYPE, &rc).isEmpty());
    QCOMPARE(rc, EX_OK);
}

void TestExcomLink::ramIndicatorsAndRelays()
{
    sim->modify(0, [](sim::InstrumentModel &m) { m.setAdc(7, 12.5f, 1.0f, -2.25f, 3.0f); });
    QCOMPARE(exchange(*link, 0, 5, "5").code, EX_OK);
    uint8_t bytes[4];
    for (uint8_t &b : bytes) {
        const Result r = exchange(*link, 0, 6);
        QCOMPARE(r.code, EX_OK);
        b = static_cast<uint8_t>(std::stoi(r.text));
    }
    float channel1;
    std::memcpy(&channel1, bytes, 4);
    QCOMPARE(channel1, 1.0f);

    QCOMPARE(exchange(*link, 0, 7, "0").code, EX_OK);
    for (int i = 0; i < 9; ++i)
        QCOMPARE(exchange(*link, 0, 8, std::to_string(1 << (i % 8))).code, EX_OK);
    auto model = sim->instrument(0);
    QVERIFY(model.indicatorTest);
    QCOMPARE(int(model.indicators[0]), 1);
    QCOMPARE(int(model.indicators[8]), 1);
    QCOMPARE(int(model.indicators[7]), 128);
    QCOMPARE(exchange(*link, 0, 8, "1").code, EX_ERR_REFUSED);   // past the ninth position
    QCOMPARE(exchange(*link, 0, 13).code, EX_OK);
    QVERIFY(!sim->instrument(0).indicatorTest);

    QCOMPARE(exchange(*link, 0, 9, "5").code, EX_OK);
    QCOMPARE(int(sim->instrument(0).relayMask), 5);
    QCOMPARE(exchange(*link, 0, 9, "0").code, EX_OK);
    QCOMPARE(int(sim->instrument(0).relayMask), 0);
}

void TestExcomLink::deviceData()
{
    sim->modify(0, [](sim::InstrumentModel &m) {
        m.setAdc(0, -123.25f, 0, 0, 0);
        m.setEepromFloat(sim::InstrumentModel::kParameterStart + 25, 0.125f);
    });
    double value = 99;
    QCOMPARE(EX_GetDeviceData(*link, 9, 0, 0, &value), EX_OK);
    QCOMPARE(value, -123.25);
    QCOMPARE(EX_GetDeviceData(*link, 9, 0, 1, &value), EX_OK);
    QCOMPARE(value, 50.0);
    QCOMPARE(EX_GetDeviceData(*link, 9, 0, 2, &value), EX_OK);
    QCOMPARE(value, 0.125);
    QCOMPARE(EX_GetDeviceData(*link, 9, 0, 4, &value), EX_ERR_ARGUMENT);
    QCOMPARE(value, 0.0);
    // "nan" is no reading, though it parses as a number.
    sim->modify(0, [](sim::InstrumentModel &m) { m.setAdc(0, std::numeric_limits<float>::quiet_NaN(), 0, 0, 0); });
    value = 5;
    QCOMPARE(EX_GetDeviceData(*link, 9, 0, 0, &value), EX_ERR_FRAME);
    QCOMPARE(value, 0.0);
    sim->injectFault(Fault::NoAnswer);
    value = 5;
    QCOMPARE(EX_GetDeviceData(*link, 9, 0, 3, &value), EX_ERR_NO_ANSWER);
    QCOMPARE(value, 0.0);
}

void TestExcomLink::badArgumentsAreNotSent()
{
    QCOMPARE(exchange(*link, 0, 14).code, EX_ERR_ARGUMENT);
    QCOMPARE(exchange(*link, 0, 2, "").code, EX_ERR_ARGUMENT);
    QCOMPARE(exchange(*link, 0, 2, "-1").code, EX_ERR_ARGUMENT);
    QCOMPARE(exchange(*link, 0, 2, "12a").code, EX_ERR_ARGUMENT);
    QCOMPARE(exchange(*link, 0, 4, "123456").code, EX_ERR_ARGUMENT);
    QCOMPARE(EX_Exchange(*link, 9, 0, 0, nullptr), EX_ERR_ARGUMENT);
    for (const int baud : {1234, 38400, 57600})   // the instruments go no faster than 19200
        QCOMPARE(EX_SetBaudRate(*link, baud), EX_ERR_ARGUMENT);
    QCOMPARE(EX_SetBaudRate(*link, 300), EX_OK);
    QCOMPARE(exchange(*link, 0, 0).code, EX_OK);   // the link still works at the new rate
    QCOMPARE(sim->log().size(), size_t(1));
}

void TestExcomLink::instrumentRefusals()
{
    const Result r = exchange(*link, 0, 2, "65535");
    QCOMPARE(r.code, EX_ERR_REFUSED);
    QCOMPARE(r.text, std::string());
    QCOMPARE(sim->log().back(), (sim::CommandRecord{9, 0, 2, "65535"}));
    QCOMPARE(exchange(*link, 0, 10, "1").code, EX_ERR_REFUSED);
    QCOMPARE(exchange(*link, 0, 9, "8").code, EX_ERR_REFUSED);
}

void TestExcomLink::faults_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("code");
    QTest::newRow("no answer") << Fault::NoAnswer << EX_ERR_NO_ANSWER;
    QTest::newRow("broken frame") << Fault::BrokenFrame << EX_ERR_FRAME;
    QTest::newRow("bad crc") << Fault::BadCrc << EX_ERR_CRC;
    QTest::newRow("wrong address") << Fault::WrongAddress << EX_ERR_ADDRESS;
    QTest::newRow("wrong device type") << Fault::WrongDeviceType << EX_ERR_DEVICE_TYPE;
    QTest::newRow("error reply") << Fault::ErrorReply << EX_ERR_REFUSED;
    QTest::newRow("slow answer") << Fault::SlowAnswer << EX_ERR_NO_ANSWER;
}

void TestExcomLink::faults()
{
    QFETCH(Fault, fault);
    QFETCH(int, code);
    QCOMPARE(exchange(*link, 0, 2, "6").code, EX_OK);
    sim->injectFault(fault);
    std::optional<FieldAllowances> field;
    if (code == EX_ERR_NO_ANSWER)
        field.emplace();
    const Result r = exchange(*link, 0, 3, "17");
    field.reset();
    QCOMPARE(r.code, code);
    QCOMPARE(r.text, std::string());

    int rc = 1;
    const QString text = errorText(code, EX_DEVICE_TYPE, &rc);
    QCOMPARE(rc, EX_OK);
    QVERIFY(!text.isEmpty());
    QVERIFY(!text.contains(QString::number(code)));   // its own text, not the unknown-code one
}

void TestExcomLink::slowAnswerDoesNotSpoilTheNextCommand()
{
    sim->setSlowDelay(std::chrono::milliseconds(250));
    QCOMPARE(exchange(*link, 0, 2, "6").code, EX_OK);
    sim->injectFault(Fault::SlowAnswer);
    {
        const FieldAllowances field;
        QCOMPARE(exchange(*link, 0, 3).code, EX_ERR_NO_ANSWER);   // the instrument read byte 6 all the same
    }
    QTRY_COMPARE_WITH_TIMEOUT(sim->stats().replies, uint64_t(2), 5000);
    QCOMPARE(readByte(), int(sim->instrument(0).eeprom[7]));
}

void TestExcomLink::lateRepliesAreKept_data()
{
    QTest::addColumn<QString>("delay");   // as the simulators' --delay takes it
    QTest::addColumn<int>("burstBytes");
    // An instrument that takes tens of milliseconds to answer (the reply comes after the 32 ms
    // that a 20 ms allowance would give at 19200 baud, and well within 100 ms).
    QTest::newRow("35 ms late") << "35" << 0;
    QTest::newRow("35 to 45 ms late") << "35-45" << 0;
    // A USB adapter that passes the reply on in bursts of 3 bytes, one every 16 ms.
    QTest::newRow("adapter bursts") << "0" << 3;
}

// Replies that come well after their wire time are kept: every read brings its own byte.
void TestExcomLink::lateRepliesAreKept()
{
    QFETCH(QString, delay);
    QFETCH(int, burstBytes);
    for (const char *refused : {"", "-", "35-", "-45", "45-35", "35-45-50", "3 5", "60001"})
        QVERIFY2(!sim::parseReplyDelay(refused), refused);
    auto parsed = sim::parseReplyDelay(delay.toStdString());
    QVERIFY(parsed);
    parsed->burstBytes = std::size_t(burstBytes);
    parsed->burstGap = std::chrono::milliseconds(16);
    sim->setReplyDelay(*parsed);
    QCOMPARE(exchange(*link, 0, 2, "500").code, EX_OK);
    const auto eeprom = sim->instrument(0).eeprom;
    for (int i = 0; i < 12; ++i)
        QCOMPARE(readByte(), int(eeprom[size_t(500 + i)]));
    QCOMPARE(exchange(*link, 0, 0).text, std::string("9"));
}

void TestExcomLink::allowanceWidenedOnlyByAWholeNumber_data()
{
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<int>("code");
    QTest::newRow("widened") << QByteArray("1000") << EX_OK;
    QTest::newRow("none") << QByteArray() << EX_ERR_NO_ANSWER;
    QTest::newRow("narrower") << QByteArray("50") << EX_ERR_NO_ANSWER;
    QTest::newRow("not a number") << QByteArray("1000ms") << EX_ERR_NO_ANSWER;
    QTest::newRow("over a minute") << QByteArray("60001") << EX_ERR_NO_ANSWER;
}

// A reply 400 ms late: kept only under a valid wider allowance; a bad setting is ignored.
void TestExcomLink::allowanceWidenedOnlyByAWholeNumber()
{
    QFETCH(QByteArray, setting);
    QFETCH(int, code);
    const FieldAllowances field;
    if (!setting.isEmpty())
        qputenv("EX_COM_REPLY_ALLOWANCE_MS", setting);
    sim->setSlowDelay(std::chrono::milliseconds(400));
    sim->injectFault(Fault::SlowAnswer);
    QCOMPARE(exchange(*link, 0, 0).code, code);
}

void TestExcomLink::lineClosingMidOperation()
{
    sim->injectFault(Fault::CloseLine);
    QCOMPARE(exchange(*link, 0, 0).code, EX_ERR_IO);
    QVERIFY(!sim->lineOpen());
    QCOMPARE(exchange(*link, 0, 0).code, EX_ERR_IO);
    QCOMPARE(EX_CloseCOM(*link), EX_OK);
    QCOMPARE(exchange(*link, 0, 0).code, EX_ERR_NOT_OPEN);
}

void TestExcomLink::echoingAdapter()
{
    sim->setEcho(true);
    const Result id = exchange(*link, 0, 0);
    QCOMPARE(id.code, EX_OK);
    QCOMPARE(id.text, std::string("9"));
    QCOMPARE(exchange(*link, 0, 2, "34").code, EX_OK);
    QCOMPARE(readByte(), int(sim->instrument(0).eeprom[34]));
    // An address where nobody answers still gives "no answer", not the echo.
    QCOMPARE(exchange(*link, 3, 0).code, EX_ERR_NO_ANSWER);
}

void TestExcomLink::noiseAroundReplies()
{
    // Up to 16 random bytes before and after every reply; markers among them are as likely as
    // any other byte. Every read must still bring the right byte.
    sim->setNoise({16, 16, false, 1.0, 29});
    QCOMPARE(exchange(*link, 0, 2, "300").code, EX_OK);
    const auto eeprom = sim->instrument(0).eeprom;
    for (int i = 0; i < 600; ++i)
        QCOMPARE(readByte(), int(eeprom[size_t(300 + i)]));
    QVERIFY(sim->stats().noiseBytes > 600);
}

void TestExcomLink::severalInstrumentsOnOneLine()
{
    sim->addInstrument(7);
    sim->addInstrument(255);
    QCOMPARE(exchange(*link, 7, 2, "200").code, EX_OK);
    QCOMPARE(exchange(*link, 7, 4, "42").code, EX_OK);
    QCOMPARE(int(sim->instrument(7).eeprom[200]), 42);
    QCOMPARE(int(sim->instrument(0).eeprom[200]), 0xFF);
    QCOMPARE(exchange(*link, 255, 0).text, std::string("9"));
    QCOMPARE(exchange(*link, 8, 0).code, EX_ERR_NO_ANSWER);
    // The network address byte of each factory parameter block is the instrument's own.
    QCOMPARE(exchange(*link, 7, 2, "77").code, EX_OK);
    QCOMPARE(readByte(7), 7);
}

void TestExcomLink::otherDeviceType()
{
    sim->modify(0, [](sim::InstrumentModel &m) { m.deviceType = 7; });
    const Result id = exchange(*link, 0, 0);
    QCOMPARE(id.code, EX_OK);   // the caller judges the type that Identify names
    QCOMPARE(id.text, std::string("7"));
    QCOMPARE(exchange(*link, 0, 2, "0").code, EX_ERR_DEVICE_TYPE);
    QCOMPARE(exchange(*link, 0, 2, "0", 7).code, EX_OK);
}

void TestExcomLink::portOwnershipAndStates()
{
    LinkHandle second;
    QCOMPARE(EX_OpenCOM(second, sim->portPath().c_str()), EX_ERR_PORT_BUSY);
    QCOMPARE(EX_CloseCOM(*link), EX_OK);
    QCOMPARE(exchange(*link, 0, 0).code, EX_ERR_NOT_OPEN);
    QCOMPARE(EX_OpenCOM(second, sim->portPath().c_str()), EX_OK);
    QCOMPARE(exchange(second, 0, 0).code, EX_OK);

    QCOMPARE(EX_OpenCOM(*link, "COM250"), EX_ERR_UNKNOWN_PORT);
    QCOMPARE(EX_OpenCOM(*link, "/dev/no-such-port"), EX_ERR_UNKNOWN_PORT);
    QCOMPARE(EX_OpenCOM(*link, "/dev/null"), EX_ERR_OPEN);
    QCOMPARE(EX_OpenCOM(*link, nullptr), EX_ERR_ARGUMENT);

    uint32_t freed = EX_CreateCOM();
    QCOMPARE(EX_FreeCOM(&freed), EX_OK);
    QCOMPARE(freed, 0u);
    QCOMPARE(EX_OpenCOM(0, sim->portPath().c_str()), EX_ERR_HANDLE);
    QCOMPARE(exchange(0, 0, 0).code, EX_ERR_HANDLE);
}

QTEST_GUILESS_MAIN(TestExcomLink)
#include "tst_excom_link.moc"
