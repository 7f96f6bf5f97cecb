// The protocol library as the driver calls it: the request text byte for byte (its CRC computed
// here bit by bit), and every way an answer must fail to decode: damage, another instrument or
// channel, a late answer, a bad value. Answers are built here, not by the library's codec.
#include "extlibs/protocol/protocol.h"

#include <QtTest>

#include <cstdio>
#include <string>
#include <thread>

namespace {

uint16_t modbusCrc(const std::string &text)
{
    uint16_t crc = 0xFFFF;
    for (const unsigned char b : text) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

std::string sealed(const std::string &body)
{
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%04X\r", modbusCrc(body));
    return body + tail;
}

std::string answer(int instrument, int channel, const std::string &seq, const std::string &value)
{
    char head[32];
    std::snprintf(head, sizeof head, "!%03d:%03d:%s:", instrument, channel, seq.c_str());
    return sealed(head + value);
}

// The sequence field of a request text ("#III:KKK:CCC:SS*...").
std::string seqOf(const char *request) { return std::string(request + 13, 2); }

struct Decoded {
    bool ok;
    int code;
    std::string value;
};

Decoded decode(uint8_t instrument, const std::string &text)
{
    char buffer[VKS2810_VALUE_SIZE] = "0";
    char *value = buffer;
    const bool ok = VKS2810_AnalysisParcel(instrument, text.c_str(), &value);
    return {ok, VKS2810_LastError(), buffer};
}

} // namespace

class TestProtocol : public QObject {
    Q_OBJECT

private slots:
    void requestLayout()
    {
        const std::string first = VKS2810_CreateParcel(12, 1, 203);
        QCOMPARE(first.size(), size_t(VKS2810_REQUEST_LENGTH));
        const std::string seq = first.substr(13, 2);
        QCOMPARE(first, sealed("#012:001:203:" + seq));
        // The next request takes the next sequence number, in upper-case hexadecimal.
        const std::string second = VKS2810_CreateParcel(255, 7, 0);
        char next[3];
        std::snprintf(next, sizeof next, "%02X", (std::stoi(seq, nullptr, 16) + 1) & 0xFF);
        QCOMPARE(second, sealed(std::string("#255:007:000:") + next));
    }

    void goodAnswersDecode()
    {
        const char *request = VKS2810_CreateParcel(7, 1, 3);
        const std::string seq = seqOf(request);
        for (const std::string value : {"23.456", "-0.5", "1000", "0"}) {
            const Decoded d = decode(7, answer(7, 3, seq, value));
            QVERIFY2(d.ok, value.c_str());
            QCOMPARE(d.value, value);
        }
        // Without its CR, with CR LF, and after line noise.
        QVERIFY(decode(7, answer(7, 3, seq, "1.25").substr(0, 24)).ok);
        QCOMPARE(decode(7, answer(7, 3, seq, "1.25") + "\n").value, std::string("1.25"));
        QCOMPARE(decode(7, "\x01#x!!" + answer(7, 3, seq, "-4.5")).value, std::string("-4.5"));
        // An instrument error decodes with its "$".
        QCOMPARE(decode(7, answer(7, 3, seq, "$03 sensor break")).value, std::string("$03 sensor break"));
        QCOMPARE(decode(7, answer(7, 3, seq, "$02")).value, std::string("$02"));
    }

    void foreignAndLateAnswersFail()
    {
        const std::string oldSeq = seqOf(VKS2810_CreateParcel(9, 1, 4));
        const std::string seq = seqOf(VKS2810_CreateParcel(9, 1, 5));
        QVERIFY(decode(9, answer(9, 5, seq, "5.5")).ok);
        QCOMPARE(decode(9, answer(8, 5, seq, "5.5")).code, VKS2810_ERR_INSTRUMENT);
        QCOMPARE(decode(9, answer(9, 4, seq, "5.5")).code, VKS2810_ERR_CHANNEL);
        // The answer to the request before, arriving late: same instrument, other sequence.
        QCOMPARE(decode(9, answer(9, 4, oldSeq, "4.4")).code, VKS2810_ERR_CHANNEL);
        const std::string seq2 = seqOf(VKS2810_CreateParcel(9, 1, 5));
        QCOMPARE(decode(9, answer(9, 5, seq, "5.5")).code, VKS2810_ERR_SEQUENCE);
        QVERIFY(decode(9, answer(9, 5, seq2, "5.6")).ok);
        // No request for that instrument was ever built on this thread.
        QCOMPARE(decode(201, answer(201, 1, "00", "1.0")).code, VKS2810_ERR_NO_REQUEST);
    }

    void damagedAnswersFailAndLeaveTheBuffer()
    {
        const std::string seq = seqOf(VKS2810_CreateParcel(3, 1, 2));
        const std::string good = answer(3, 2, seq, "17.25");
        QVERIFY(decode(3, good).ok);
        // Every single-bit flip of the body at odd and even places, and in the CRC digits.
        for (std::size_t i = 1; i + 1 < good.size(); ++i) {
            std::string bad = good;
            bad[i] = static_cast<char>(bad[i] ^ (i % 2 ? 0x01 : 0x10));
            const Decoded d = decode(3, bad);
            QVERIFY2(!d.ok, qPrintable(QString("flip at %1: %2").arg(i).arg(bad.c_str())));
            QCOMPARE(d.value, std::string("0"));
        }
        // Swapped digits keep the sum of the bytes: the CRC still sees them.
        QCOMPARE(decode(3, good.substr(0, 12) + "71.25" + good.substr(17)).code, VKS2810_ERR_CRC);
        QCOMPARE(decode(3, "").code, VKS2810_ERR_FORMAT);
        QCOMPARE(decode(3, good.substr(0, 10)).code, VKS2810_ERR_FORMAT);
        QCOMPARE(decode(3, "!003:002:" + seq + ":1.0*12ab").code, VKS2810_ERR_FORMAT);   // lower-case CRC
    }

    // A three-digit field holds 0 to 255: "263" is refused, not read as instrument 7 (263 - 256),
    // and "256", the first number past the limit, is not instrument or channel 0.
    void fieldsAbove255AreRefusedNotWrapped()
    {
        const std::string seq = seqOf(VKS2810_CreateParcel(7, 1, 3));
        QCOMPARE(decode(7, answer(263, 3, seq, "1.5")).code, VKS2810_ERR_FORMAT);
        QCOMPARE(decode(7, answer(7, 259, seq, "1.5")).code, VKS2810_ERR_FORMAT);
        const std::string zeroSeq = seqOf(VKS2810_CreateParcel(0, 1, 0));
        QCOMPARE(decode(0, answer(256, 0, zeroSeq, "1.5")).code, VKS2810_ERR_FORMAT);
        QCOMPARE(decode(0, answer(0, 256, zeroSeq, "1.5")).code, VKS2810_ERR_FORMAT);
        QVERIFY(decode(0, answer(0, 0, zeroSeq, "1.5")).ok);
        QCOMPARE(decode(7, answer(999, 3, seq, "1.5")).value, std::string("0"));
        QVERIFY(decode(7, answer(7, 3, seq, "1.5")).ok);
    }

    // The error of a failed decode does not outlive the next good one of the same request.
    void goodDecodeClearsTheLastError()
    {
        const std::string seq = seqOf(VKS2810_CreateParcel(5, 1, 8));
        std::string damaged = answer(5, 8, seq, "3.75");
        damaged[13] = '4';
        QCOMPARE(decode(5, damaged).code, VKS2810_ERR_CRC);
        QCOMPARE(decode(5, answer(5, 9, seq, "3.75")).code, VKS2810_ERR_CHANNEL);
        const Decoded good = decode(5, answer(5, 8, seq, "3.75"));
        QVERIFY(good.ok);
        QCOMPARE(good.code, VKS2810_OK);
    }

    void badValuesFail()
    {
        const std::string seq = seqOf(VKS2810_CreateParcel(4, 1, 1));
        for (const std::string &value : std::initializer_list<std::string>{"1.", ".5", "1,5", "+1", "1e3", "--1", "$", "$3", "$03x", "abc",
                                        std::string(VKS2810_MAX_VALUE + 1, '7')}) {
            const Decoded d = decode(4, answer(4, 1, seq, value));
            QVERIFY2(!d.ok, value.c_str());
            QCOMPARE(d.code, VKS2810_ERR_VALUE);
        }
        QCOMPARE(decode(4, answer(4, 1, seq, "")).code, VKS2810_ERR_FORMAT);
        QVERIFY(decode(4, answer(4, 1, seq, std::string(VKS2810_MAX_VALUE, '7'))).ok);
        char buffer[VKS2810_VALUE_SIZE];
        char *value = buffer;
        QVERIFY(!VKS2810_AnalysisParcel(4, nullptr, &value));
        QCOMPARE(VKS2810_LastError(), VKS2810_ERR_ARGUMENT);
        QVERIFY(!VKS2810_AnalysisParcel(4, "x", nullptr));
    }

    // Each thread matches answers against its own requests.
    void threadsKeepTheirOwnRequests()
    {
        const std::string mine = seqOf(VKS2810_CreateParcel(6, 1, 1));
        std::string theirs;
        bool theirsDecodes = false;
        std::thread other([&] {
            theirs = seqOf(VKS2810_CreateParcel(6, 1, 2));
            theirsDecodes = decode(6, answer(6, 2, theirs, "2.0")).ok;
        });
        other.join();
        QVERIFY(theirsDecodes);
        QVERIFY(decode(6, answer(6, 1, mine, "1.0")).ok);
        QCOMPARE(decode(6, answer(6, 2, theirs, "2.0")).code, VKS2810_ERR_CHANNEL);
    }

    void errorTexts()
    {
        QCOMPARE(QString(VKS2810_ErrorText(VKS2810_ERR_SEQUENCE)), QString("Late answer to an earlier request"));
        QCOMPARE(QString(VKS2810_ErrorText(-999)), QString("Unknown protocol error"));
    }
};

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
