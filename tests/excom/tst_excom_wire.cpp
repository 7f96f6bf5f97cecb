// The bytes on the wire, checked against a pseudo-terminal that the test drives itself (no
// simulator, no shared codec): the CRC algorithm and its check value, the request layout with
// the CRC low byte first, and what the receiver does with echoes, late replies and noise.
#include "excom_helpers.h"
#include "sim/pty_master.h"
#include "tests/support/field_allowances.h"

#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <vector>

using namespace excomtest;

namespace {

// CRC-16/MODBUS bit by bit, independent of the library's table.
uint16_t modbusCrc(const std::vector<uint8_t> &bytes)
{
    uint16_t crc = 0xFFFF;
    for (const uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

std::vector<uint8_t> withCrc(std::vector<uint8_t> bytes)
{
    const uint16_t crc = modbusCrc(bytes);
    bytes.push_back(static_cast<uint8_t>(crc & 0xFF));
    bytes.push_back(static_cast<uint8_t>(crc >> 8));
    return bytes;
}

std::vector<uint8_t> frame(uint8_t marker, uint8_t seq, uint8_t type, uint8_t address, uint8_t command,
                           const std::string &text)
{
    std::vector<uint8_t> bytes{marker, seq, type, address, command, static_cast<uint8_t>(text.size())};
    bytes.insert(bytes.end(), text.begin(), text.end());
    return withCrc(bytes);
}

} // namespace

class TestExcomWire : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void crcCheckValue();
    void requestLayoutAndByteOrder();
    void replyCrcByteOrder();
    void echoLateReplyAndNoiseAreSkipped();
    void longestReplyTextAndOneMore();
    void strayBytesBeforeTheReply_data();
    void strayBytesBeforeTheReply();
    void whatCameByTheDeadline_data();
    void whatCameByTheDeadline();

private:
    // Reads one request of the given size from the master side, within a deadline.
    std::vector<uint8_t> readRequest(size_t size);
    void write(const std::vector<uint8_t> &bytes);
    std::future<Result> start(uint8_t address, uint8_t command, const std::string &argument);

    std::unique_ptr<sim::PtyMaster> pty;
    int master = -1;
    std::string slavePath;
    std::unique_ptr<LinkHandle> link;
};

void TestExcomWire::init()
{
    pty = std::make_unique<sim::PtyMaster>();
    QVERIFY(pty->isValid());
    master = pty->fd();
    slavePath = pty->path();
    link = std::make_unique<LinkHandle>();
    QCOMPARE(EX_SetBaudRate(*link, 300), EX_OK);   // long time-outs: the test answers by hand
    QCOMPARE(EX_OpenCOM(*link, slavePath.c_str()), EX_OK);
}

void TestExcomWire::cleanup()
{
    link.reset();
    pty.reset();
}

std::vector<uint8_t> TestExcomWire::readRequest(size_t size)
{
    std::vector<uint8_t> bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (bytes.size() < size && std::chrono::steady_clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        uint8_t chunk[64];
        const ssize_t n = ::read(master, chunk, std::min(sizeof chunk, size - bytes.size()));
        if (n > 0)
            bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

void TestExcomWire::write(const std::vector<uint8_t> &bytes)
{
    QCOMPARE(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
}

std::future<Result> TestExcomWire::start(uint8_t address, uint8_t command, const std::string &argument)
{
    const uint32_t handle = *link;
    return std::async(std::launch::async, [=] { return exchange(handle, address, command, argument); });
}

void TestExcomWire::crcCheckValue()
{
    const char check[] = "123456789";
    uint16_t crc = 0;
    QCOMPARE(EX_ArrayCRCWord(reinterpret_cast<const uint8_t *>(check), 9, &crc), EX_OK);
    QCOMPARE(crc, uint16_t(0x4B37));
    QCOMPARE(EX_ArrayCRCWord(reinterpret_cast<const uint8_t *>(check), 0, &crc), EX_OK);
    QCOMPARE(crc, uint16_t(0xFFFF));
    QCOMPARE(EX_ArrayCRCWord(reinterpret_cast<const uint8_t *>(check), 9, nullptr), EX_ERR_ARGUMENT);
    QCOMPARE(EX_ArrayCRCWord(nullptr, 3, &crc), EX_ERR_ARGUMENT);
}

void TestExcomWire::requestLayoutAndByteOrder()
{
    auto pending = start(5, 2, "34");
    const std::vector<uint8_t> request = readRequest(10);
    QCOMPARE(request.size(), size_t(10));
    QCOMPARE(int(request[0]), 0xA5);
    const uint8_t seq = request[1];
    const std::vector<uint8_t> expected = frame(0xA5, seq, 9, 5, 2, "34");
    QCOMPARE(request, expected);
    // The CRC of "A5 seq 09 05 02 02 '3' '4'" goes low byte first.
    const uint16_t crc = modbusCrc({request.begin(), request.end() - 2});
    QCOMPARE(int(request[8]), crc & 0xFF);
    QCOMPARE(int(request[9]), crc >> 8);

    write(frame(0x5A, seq, 9, 5, 2, ""));
    const Result r = pending.get();
    QCOMPARE(r.code, EX_OK);
    QCOMPARE(r.text, std::string());
}

void TestExcomWire::replyCrcByteOrder()
{
    auto pending = start(1, 3, "");
    const std::vector<uint8_t> request = readRequest(8);
    QCOMPARE(request.size(), size_t(8));
    std::vector<uint8_t> reply = frame(0x5A, request[1], 9, 1, 3, "200");
    std::swap(reply[reply.size() - 1], reply[reply.size() - 2]);   // high byte first: wrong
    write(reply);
    QCOMPARE(pending.get().code, EX_ERR_CRC);
}

void TestExcomWire::echoLateReplyAndNoiseAreSkipped()
{
    auto pending = start(3, 6, "");
    const std::vector<uint8_t> request = readRequest(8);
    QCOMPARE(request.size(), size_t(8));
    const uint8_t seq = request[1];
    std::vector<uint8_t> line = request;                                   // the adapter's echo
    line.push_back(0x00);                                                  // noise
    line.push_back(0xFF);
    const auto late = frame(0x5A, static_cast<uint8_t>(seq - 1), 9, 3, 6, "11");   // an earlier reply
    line.insert(line.end(), late.begin(), late.end());
    const auto good = frame(0x5A, seq, 9, 3, 6, "22");
    line.insert(line.end(), good.begin(), good.end());
    write(line);
    const Result r = pending.get();
    QCOMPARE(r.code, EX_OK);
    QCOMPARE(r.text, std::string("22"));
}

// A reply text of exactly the frame's limit arrives whole; a length byte one above it is a
// broken frame.
void TestExcomWire::longestReplyTextAndOneMore()
{
    std::string longest;
    for (int i = 0; i < EX_FRAME_MAX_TEXT; ++i)
        longest += char('0' + (i * 7) % 10);
    longest[3] = '.';
    for (const std::size_t size : {std::size_t(EX_FRAME_MAX_TEXT), std::size_t(EX_FRAME_MAX_TEXT) + 1}) {
        auto pending = start(4, 1, "2");
        const std::vector<uint8_t> request = readRequest(9);
        QCOMPARE(request.size(), size_t(9));
        const std::string text = size > longest.size() ? longest + "7" : longest;
        write(frame(0x5A, request[1], 9, 4, 1, text));
        const Result r = pending.get();
        if (size == longest.size()) {
            QCOMPARE(r.code, EX_OK);
            QCOMPARE(r.text, longest);
        } else {
            QCOMPARE(r.code, EX_ERR_FRAME);
            QCOMPARE(r.text, std::string());
        }
    }
}

void TestExcomWire::strayBytesBeforeTheReply_data()
{
    QTest::addColumn<QByteArray>("noise");
    QTest::addColumn<bool>("spoiltReplyFirst");
    // A lone marker reads the reply's command byte as its length and waits for more than comes.
    QTest::newRow("marker") << QByteArray("\x5A", 1) << false;
    QTest::newRow("request marker") << QByteArray("\xA5", 1) << false;
    // A marker whose header says "no text": its CRC takes the reply's first two bytes and fails.
    QTest::newRow("marker, empty frame") << QByteArray("\x5A\xEE\x09\x03\x06\x00", 6) << false;
    // A marker followed by a length no frame can have.
    QTest::newRow("impossible length") << QByteArray("\x11\x5A\xEE\x09\x03\x06\xF0", 7) << false;
    QTest::newRow("two markers, then bytes") << QByteArray("\x5A\x5A\x01\x02", 4) << false;
    // The reply spoilt on the line once, then repeated whole.
    QTest::newRow("spoilt reply") << QByteArray() << true;
}

void TestExcomWire::strayBytesBeforeTheReply()
{
    QFETCH(QByteArray, noise);
    QFETCH(bool, spoiltReplyFirst);
    auto pending = start(3, 6, "");
    const std::vector<uint8_t> request = readRequest(8);
    QCOMPARE(request.size(), size_t(8));
    std::vector<uint8_t> line(noise.begin(), noise.end());
    if (spoiltReplyFirst) {
        auto spoilt = frame(0x5A, request[1], 9, 3, 6, "47");
        spoilt[7] ^= 0x10;   // the text's second digit, so the CRC no longer holds
        line.insert(line.end(), spoilt.begin(), spoilt.end());
    }
    const auto good = frame(0x5A, request[1], 9, 3, 6, "38");
    line.insert(line.end(), good.begin(), good.end());
    write(line);
    const Result r = pending.get();
    QCOMPARE(r.code, EX_OK);
    QCOMPARE(r.text, std::string("38"));
}

void TestExcomWire::whatCameByTheDeadline_data()
{
    QTest::addColumn<int>("cut");          // bytes of the reply sent; -1 none
    QTest::addColumn<QByteArray>("noise");
    QTest::addColumn<int>("code");
    QTest::newRow("silence") << -1 << QByteArray() << EX_ERR_NO_ANSWER;
    // A reply that began but never ended is a broken frame, however little of it came.
    QTest::newRow("its marker only") << 1 << QByteArray() << EX_ERR_FRAME;
    QTest::newRow("its header") << 6 << QByteArray() << EX_ERR_FRAME;
    QTest::newRow("all but its CRC") << 8 << QByteArray() << EX_ERR_FRAME;
    QTest::newRow("all but one byte") << 9 << QByteArray() << EX_ERR_FRAME;
    // Bytes that are no frame at all.
    QTest::newRow("noise") << -1 << QByteArray("\x00\x11\x7E", 3) << EX_ERR_FRAME;
}

// When the deadline passes, what came decides the code: nothing is "no answer", anything else
// a broken frame.
void TestExcomWire::whatCameByTheDeadline()
{
    QFETCH(int, cut);
    QFETCH(QByteArray, noise);
    QFETCH(int, code);
    const FieldAllowances field;   // every row waits for the deadline
    auto pending = start(3, 6, "");
    const std::vector<uint8_t> request = readRequest(8);
    QCOMPARE(request.size(), size_t(8));
    std::vector<uint8_t> line(noise.begin(), noise.end());
    if (cut >= 0) {
        const auto reply = frame(0x5A, request[1], 9, 3, 6, "38");
        line.insert(line.end(), reply.begin(), reply.begin() + cut);
    }
    if (!line.empty())
        write(line);
    const Result r = pending.get();
    QCOMPARE(r.code, code);
    QCOMPARE(r.text, std::string());
}

QTEST_GUILESS_MAIN(TestExcomWire)
#include "tst_excom_wire.moc"
