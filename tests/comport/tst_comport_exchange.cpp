// comport and protocol together against the line simulator, as the driver's polls use them:
// several instruments on one line, the time-outs, damaged, foreign and late answers, the echo of
// an RS-485 adapter, and a line that goes away and comes back under the same name.
#include "extlibs/comport/comport.h"
#include "extlibs/protocol/protocol.h"
#include "sim/line_sim.h"
#include "tests/support/field_allowances.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <string>

using namespace std::chrono_literals;

namespace {

struct Poll {
    bool sent = false;
    bool received = false;
    int portError = 0;
    bool decoded = false;
    int protocolError = 0;
    std::string value;
};

// One poll as a driver channel makes it.
Poll poll(uint32_t port, uint8_t instrument, uint8_t channel)
{
    Poll p;
    char request[COMPORT_TEXT_SIZE];
    std::snprintf(request, sizeof request, "%s", VKS2810_CreateParcel(instrument, VKS2810_CMD_READ_VALUE, channel));
    p.sent = TransmitCOMPOneByte(port, request);
    if (!p.sent) {
        p.portError = GetCOMLastError(port);
        return p;
    }
    char *answer = request;
    p.received = ReciveCOMPOneByte(port, &answer);
    p.portError = GetCOMLastError(port);
    char buffer[VKS2810_VALUE_SIZE] = "0";
    char *value = buffer;
    p.decoded = p.received && VKS2810_AnalysisParcel(instrument, answer, &value);
    p.protocolError = VKS2810_LastError();
    p.value = buffer;
    return p;
}

} // namespace

class TestComportExchange : public QObject {
    Q_OBJECT

    std::unique_ptr<sim::LineSim> m_sim;
    uint32_t m_port = 0;

    void configure(const std::string &path, uint16_t baud, uint16_t t1, uint16_t t2, uint16_t t3)
    {
        QVERIFY(SetCOMCfg(m_port, path.c_str(), baud, t1, t2, t3));
    }

private slots:
    void initTestCase() { m_port = CreateCOM(0); QVERIFY(m_port != 0); }

    void init()
    {
        m_sim = std::make_unique<sim::LineSim>(std::map<uint8_t, int>{{1, 8}, {17, 2}, {200, 4}});
        QVERIFY(m_sim->isValid());
        configure(m_sim->portPath(), 19200, 100, 10, 1000);
        QVERIFY(OpenCOM(m_port));
    }

    void cleanup()
    {
        CloseCOM(m_port);
        m_sim.reset();
    }

    void instrumentsShareTheLine()
    {
        m_sim->setValue(1, 8, "18.125");
        m_sim->setValue(17, 2, "-3.5");
        m_sim->setValue(200, 1, "200.001");
        QCOMPARE(poll(m_port, 17, 2).value, std::string("-3.5"));
        QCOMPARE(poll(m_port, 1, 8).value, std::string("18.125"));
        QCOMPARE(poll(m_port, 200, 1).value, std::string("200.001"));
        // Values that nobody fixed change over time and differ from channel to channel.
        const Poll a = poll(m_port, 1, 3), b = poll(m_port, 1, 4);
        QVERIFY(a.decoded && b.decoded);
        QVERIFY(a.value != b.value);
        // What the instruments received, in order.
        const std::vector<sim::LineRequest> log = m_sim->log();
        QCOMPARE(log.size(), size_t(5));
        QCOMPARE(log[0], (sim::LineRequest{17, 1, 2}));
        QCOMPARE(log[2], (sim::LineRequest{200, 1, 1}));
        // Instrument errors come back with their "$".
        QCOMPARE(poll(m_port, 17, 3).value, std::string("$02 no such channel"));
        m_sim->injectFault(sim::LineFault::ErrorAnswer);
        QCOMPARE(poll(m_port, 1, 1).value, std::string("$03 sensor break"));
    }

    // The answer ends at its terminator: a long answer time-out costs nothing on a good line,
    // and a silent instrument costs at least that time-out, then fails.
    void answerEndsAtTerminatorNotTimeOut()
    {
        configure(m_sim->portPath(), 19200, 100, 10, 4000);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(poll(m_port, 1, 1).decoded);
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));

        configure(m_sim->portPath(), 19200, 100, 10, 80);
        m_sim->injectFault(sim::LineFault::Silence);
        timer.restart();
        const Poll silent = poll(m_port, 1, 1);
        QVERIFY(silent.sent && !silent.received);
        QCOMPARE(silent.portError, COMPORT_ERR_NO_ANSWER);
        QVERIFY(timer.elapsed() >= 80);
        // An instrument that is not on the line is silence too.
        QCOMPARE(poll(m_port, 2, 1).portError, COMPORT_ERR_NO_ANSWER);
        QVERIFY(poll(m_port, 1, 1).decoded);
    }

    void damagedAndForeignAnswersFailToDecode()
    {
        const struct {
            sim::LineFault fault;
            int error;
        } cases[] = {{sim::LineFault::BadChecksum, VKS2810_ERR_CRC},
                     {sim::LineFault::Garbage, VKS2810_ERR_FORMAT},
                     {sim::LineFault::WrongChannel, VKS2810_ERR_CHANNEL},
                     {sim::LineFault::WrongInstrument, VKS2810_ERR_INSTRUMENT}};
        for (const auto &c : cases) {
            m_sim->injectFault(c.fault);
            const Poll p = poll(m_port, 17, 1);
            QVERIFY(p.received);
            QVERIFY(!p.decoded);
            QCOMPARE(p.protocolError, c.error);
            QCOMPARE(p.value, std::string("0"));
        }
        QVERIFY(poll(m_port, 17, 1).decoded);
    }

    // A late answer that comes in while the next request waits is never taken for its answer.
    void lateAnswerIsNotTheNextOnesAnswer()
    {
        m_sim->setValue(1, 5, "55.5");
        m_sim->setLateDelay(300ms);
        configure(m_sim->portPath(), 19200, 100, 10, 60);
        m_sim->injectFault(sim::LineFault::LateAnswer);
        const std::uint64_t answersBefore = m_sim->stats().answers;
        {
            const FieldAllowances field;
            QCOMPARE(poll(m_port, 1, 5).portError, COMPORT_ERR_NO_ANSWER);
        }
        configure(m_sim->portPath(), 19200, 100, 10, 3000);
        m_sim->setValue(1, 5, "66.6");
        const Poll next = poll(m_port, 1, 5);
        QVERIFY(next.received);
        QVERIFY(!next.decoded);
        QCOMPARE(next.protocolError, VKS2810_ERR_SEQUENCE);
        // The poll after that gets its own answer; the one left over, once written, was dropped.
        // (A simulator woken late could write it after the next request went out, where it is
        // that poll's late answer.)
        QTRY_COMPARE(m_sim->stats().answers, answersBefore + 2);
        QCOMPARE(poll(m_port, 1, 5).value, std::string("66.6"));
    }

    // An answer that starts late, within time-out 3, and comes in the bursts of a USB adapter
    // (a few bytes each time its 16 ms latency timer runs out, longer apart than time-out 2) is
    // kept whole, poll after poll. An adapter passes its bursts on in time; the simulator's
    // thread may be woken late for one: a poll whose answer was written later than the link
    // must wait (the simulator says how late it was) tells nothing of the link and is not judged.
    void lateAnswerInAdapterBurstsIsKept()
    {
        configure(m_sim->portPath(), 9600, 100, 10, 1000);
        m_sim->setPacing(true);
        m_sim->setValue(17, 2, "-1234.567");
        const sim::ReplyDelay delay{300ms, 600ms, 4, 16ms};
        m_sim->setReplyDelay(delay);
        // The least the link waits: time-out 3 from the request for the first burst, time-out 2
        // and the burst allowance from one burst for the next, which was due a burst gap later.
        const auto firstBurst = 1000ms;
        const auto burstLateness = std::chrono::milliseconds(10 + COMPORT_BURST_ALLOWANCE_MS) - delay.burstGap;
        QVERIFY2(burstLateness > 0ms, "the bursts of an adapter do not fit in the link's allowance");
        int judged = 0, writtenLate = 0;
        while (judged < 4 && writtenLate < 8) {
            const std::uint64_t answers = m_sim->stats().answers;
            const auto sent = std::chrono::steady_clock::now();
            const Poll p = poll(m_port, 17, 2);
            // The whole answer is out before the next request, so that none of it is left over
            // to be taken for the next one's.
            QTRY_COMPARE(m_sim->stats().answers, answers + 1);
            const sim::LineSimStats s = m_sim->stats();
            if (s.lastAnswerDue + s.lastAnswerLate - sent > firstBurst || s.lastAnswerLate > burstLateness) {
                ++writtenLate;
                continue;
            }
            ++judged;
            QCOMPARE(p.portError, COMPORT_OK);
            QCOMPARE(p.value, std::string("-1234.567"));
        }
        if (judged < 4)
            QSKIP("the simulator was woken too late too often to judge the link");
    }

    void echoOfTheRequestIsSkipped()
    {
        m_sim->setEcho(true);
        m_sim->setPacing(true);
        m_sim->setValue(200, 4, "4.04");
        QCOMPARE(poll(m_port, 200, 4).value, std::string("4.04"));
        QCOMPARE(poll(m_port, 200, 4).value, std::string("4.04"));
        // After the echo the answer has time-out 3 again, not the gap between bytes.
        configure(m_sim->portPath(), 19200, 100, 10, 600);
        m_sim->setReplyDelay({200ms, 200ms});
        QCOMPARE(poll(m_port, 200, 4).value, std::string("4.04"));
    }

    // The line goes away (the device unplugged: here the simulator ends); the next transmit
    // opens the same name again, which now leads to another line.
    void lostLineIsReopenedByName()
    {
        QTemporaryDir dir;
        const std::string link = dir.filePath("ttyLINE").toStdString();
        QVERIFY(QFile::link(QString::fromStdString(m_sim->portPath()), QString::fromStdString(link)));
        configure(link, 9600, 100, 10, 500);
        QVERIFY(OpenCOM(m_port));
        m_sim->setValue(1, 1, "1.1");
        QCOMPARE(poll(m_port, 1, 1).value, std::string("1.1"));

        m_sim.reset();
        const Poll lost = poll(m_port, 1, 1);
        QVERIFY(!lost.decoded);
        QCOMPARE(lost.portError, COMPORT_ERR_IO);
        // Nothing there yet: the reopen fails and is tried again on the next transmit.
        QVERIFY(QFile::remove(QString::fromStdString(link)));
        QCOMPARE(poll(m_port, 1, 1).portError, COMPORT_ERR_UNKNOWN_PORT);

        m_sim = std::make_unique<sim::LineSim>();
        m_sim->setValue(1, 1, "2.2");
        QVERIFY(QFile::link(QString::fromStdString(m_sim->portPath()), QString::fromStdString(link)));
        QCOMPARE(poll(m_port, 1, 1).value, std::string("2.2"));
        QCOMPARE(poll(m_port, 1, 1).value, std::string("2.2"));
    }

    void closedPortRefusesTheExchange()
    {
        QVERIFY(CloseCOM(m_port));
        QVERIFY(CloseCOM(m_port));
        const Poll p = poll(m_port, 1, 1);
        QVERIFY(!p.sent);
        QCOMPARE(p.portError, COMPORT_ERR_NOT_OPEN);
        QVERIFY(m_sim->log().empty());
    }

    // The longest exchange that the time-outs allow, which the driver waits for at its end:
    // request and answer of 255 bytes each, the answer's every byte as late as time-out 2 and
    // the burst allowance let it be. At 300 baud a byte is 33 1/3 ms on the line.
    void exchangeLimitCoversTheLongestLegalExchange()
    {
        QCOMPARE(GetCOMExchangeLimit(300, 100, 10, 1000), 8500u + 100 + 8500 + 1000 + 23800);
        QCOMPARE(GetCOMExchangeLimit(9600, 7, 20, 3000), 21654u);
        QCOMPARE(GetCOMExchangeLimit(0, 100, 10, 1000), 0u);
    }
};

QTEST_GUILESS_MAIN(TestComportExchange)
#include "tst_comport_exchange.moc"
