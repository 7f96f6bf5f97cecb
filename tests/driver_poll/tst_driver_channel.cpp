// One measuring point against the simulated line, polled cycle by cycle on the test's thread:
// the step gate, the outcomes of a poll, what reaches the DDE items, and the sensor entry string.
#include "driver_line_fixture.h"
#include "tests/support/field_allowances.h"

#include "extlibs/comport/comport.h"
#include "platform/dde_client.h"
#include "platform/dde_server.h"

#include <QtTest>
#include <optional>

using namespace std::chrono_literals;

class TestDriverChannel : public QObject {
    Q_OBJECT

    std::unique_ptr<DriverLineFixture> f;

    // The cycles (1-based) of `cycles` shared polls in which the channel sent a request.
    // failIn: the instrument stays silent in that cycle.
    std::vector<int> polledCycles(TASCIIChannel *channel, int cycles, int failIn = 0)
    {
        std::vector<int> polled;
        channel->StepCounter = std::uint16_t(channel->Step - 1);  // as a run starts
        for (int cycle = 1; cycle <= cycles; ++cycle) {
            const auto before = f->sim.log().size();
            std::optional<FieldAllowances> field;
            if (cycle == failIn) {
                f->sim.injectFault(sim::LineFault::Silence, 1);
                field.emplace();
            }
            channel->PollShared();
            // Nothing answers the silent cycle's request: the simulator may be woken to read it
            // after the poll has given up.
            if (cycle == failIn)
                f->sim.waitForLog(before + 1, std::chrono::seconds(10));
            if (f->sim.log().size() > before)
                polled.push_back(cycle);
            if (cycle == failIn)
                f->sim.clearFaults();
        }
        return polled;
    }

private slots:
    void init()
    {
        f = std::make_unique<DriverLineFixture>();
        QVERIFY(f->sim.isValid());
        f->control->SetState(dsPolling);  // result texts follow the polls only while polling
        QVERIFY(OpenCOM(f->control->PortHandle));
    }
    void cleanup()
    {
        CloseCOM(f->control->PortHandle);
        f.reset();
    }

    void stepGate()
    {
        f->setSensors({{1, 2, 3}});
        TASCIIChannel *channel = f->control->Sensor(0);
        const std::vector<int> always{1, 4, 7, 10};
        QCOMPARE(polledCycles(channel, 10), always);
        // A failure in cycle 4 brings the channel back in cycle 5, then every third again.
        const std::vector<int> afterFailure{1, 4, 5, 8};
        QCOMPARE(polledCycles(channel, 9, 4), afterFailure);

        // Step 0: never asked, and its value stays.
        channel->Step = 0;
        QCOMPARE(polledCycles(channel, 5), std::vector<int>{});
        QCOMPARE(QByteArray(channel->ValueText), QByteArray(f->takeReadings().back().text.toLatin1()));
    }

    // A channel that never answers stays due every cycle: its counter must not wrap past Step.
    void failingChannelIsNeverSkipped()
    {
        f->setSensors({{9, 1, 65535}});  // no instrument 9 on the line
        TASCIIChannel *channel = f->control->Sensor(0);
        channel->StepCounter = 65534;
        for (int cycle = 1; cycle <= 3; ++cycle) {
            QVERIFY(!channel->PollShared());
            QCOMPARE(channel->StepCounter, std::uint16_t(65535));
        }
        QCOMPARE(f->takeReadings().size(), size_t(3));
    }

    void outcomes_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("fixedValue");
        QTest::addColumn<bool>("errorState");
        QTest::addColumn<QString>("published");
        QTest::addColumn<QString>("result");
        QTest::newRow("good") << int(sim::LineFault::None) << "-12.375" << false << "-12.375" << "Ok";
        QTest::newRow("good, error value set") << int(sim::LineFault::None) << "7" << true << "7" << "Ok";
        QTest::newRow("instrument error") << int(sim::LineFault::None) << "$04 over range" << false << "$04 over range"
                                          << "Error";
        QTest::newRow("instrument error as error value") << int(sim::LineFault::None) << "$04" << true << "1000"
                                                         << "Error";
        QTest::newRow("silent") << int(sim::LineFault::Silence) << "5" << false << "ExErr" << "Error";
        QTest::newRow("silent as error value") << int(sim::LineFault::Silence) << "5" << true << "1000" << "Error";
        QTest::newRow("bad checksum") << int(sim::LineFault::BadChecksum) << "5" << false << "ExErr" << "Error";
        QTest::newRow("other channel's answer") << int(sim::LineFault::WrongChannel) << "5" << false << "ExErr"
                                                << "Error";
        QTest::newRow("other instrument's answer") << int(sim::LineFault::WrongInstrument) << "5" << false << "ExErr"
                                                   << "Error";
        QTest::newRow("garbage") << int(sim::LineFault::Garbage) << "5" << false << "ExErr" << "Error";
    }
    void outcomes()
    {
        QFETCH(int, fault);
        QFETCH(QString, fixedValue);
        QFETCH(bool, errorState);
        QFETCH(QString, published);
        QFETCH(QString, result);
        f->setSensors({{2, 3, 1}});
        f->control->ErrorState = errorState;
        f->control->ErrorValue = 1000;
        f->sim.setValue(2, 3, fixedValue.toStdString());
        if (fault != int(sim::LineFault::None))
            f->sim.injectFault(sim::LineFault(fault), 1);
        std::optional<FieldAllowances> field;
        if (fault == int(sim::LineFault::Silence))
            field.emplace();
        QCOMPARE(f->control->Sensor(0)->PollShared(), result == QLatin1String("Ok"));
        QCOMPARE(QString::fromLatin1(f->control->Sensor(0)->ValueText), published);
        QCOMPARE(f->control->GetResultText(), result);
        const auto readings = f->takeReadings();
        QCOMPARE(readings.size(), size_t(1));
        QCOMPARE(readings[0].number, std::uint16_t(1));
        QCOMPARE(readings[0].text, published);
    }

    // Readings reach the items only through the messages, in posting order; a DDE client sees
    // the sensor's item and CHANNEL, VALUE, CHANNELVALUE in turn.
    void itemsSeenByClient()
    {
        f->setSensors({{1, 1, 1}, {1, 2, 1}, {2, 4, 1}, {2, 1, 1}});
        QString error;
        bool running = false;
        QVERIFY2(f->control->Serve(QStringLiteral("drvchan"), &error, &running), qPrintable(error));
        f->sim.setValue(1, 1, "11.5");
        f->sim.setValue(1, 2, "-2.25");
        f->sim.setValue(2, 4, "300");
        f->sim.setValue(2, 1, "23.5");
        platform::DdeClient client;
        QVERIFY(client.connectTo(QStringLiteral("drvchan"), QStringLiteral("ORVANT")));
        Recorder recorder(client);
        for (const char *item : {"S4", "CHANNELVALUE", "TAGPUMPSTATUS"})
            QVERIFY(client.advise(QLatin1String(item)));
        QTRY_COMPARE(recorder.changes.size(), 3);  // the current texts first
        recorder.changes.clear();

        for (int i = 0; i < 4; ++i)
            f->control->Sensor(i)->PollShared();
        const QList<QPair<QString, QString>> expected{
            {"CHANNELVALUE", "1|11.5"}, {"CHANNELVALUE", "2|-2.25"}, {"CHANNELVALUE", "3|300"},
            {"S4", "23.5"},             {"CHANNELVALUE", "4|23.5"}};
        QTRY_COMPARE(recorder.changes, expected);
        QCOMPARE(*client.request(QStringLiteral("CHANNEL")), QStringLiteral("4"));
        QCOMPARE(*client.request(QStringLiteral("VALUE")), QStringLiteral("23.5"));
        QCOMPARE(*client.request(QStringLiteral("S2")), QStringLiteral("-2.25"));

        // A reading of sensor 4 that arrives after the list was cut changes nothing.
        f->control->Sensor(3)->SetValue("99");
        f->control->FreeSensors();
        f->control->AddSensor();
        QTRY_COMPARE(*client.request(QStringLiteral("CHANNELVALUE")), QStringLiteral("1|0"));
        QCOMPARE(*client.request(QStringLiteral("VALUE")), QStringLiteral("0"));

        f->control->SetState(dsIdle);
        QTRY_COMPARE(recorder.changes.last(), qMakePair(QStringLiteral("TAGPUMPSTATUS"), QStringLiteral("0")));
        f->control->SetState(dsSettings);
        QTRY_COMPARE(recorder.changes.last(), qMakePair(QStringLiteral("TAGPUMPSTATUS"), QStringLiteral("2")));
    }

    void entryStrings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QList<int>>("fields");  // instrument, channel, step, time-out
        QTest::newRow("all four") << "|12|3|2|750|" << true << QList<int>{12, 3, 2, 750};
        QTest::newRow("hexadecimal and blanks") << "|$1F| 0x0a|  7|0X1F4|" << true << QList<int>{31, 10, 7, 500};
        QTest::newRow("settings default") << "|0|0|" << false << QList<int>{0, 0, 0, 4321};
        QTest::newRow("no closing bar") << "|1|2|3|500" << false << QList<int>{1, 2, 3, 0};
        QTest::newRow("instrument cut to 8 bits") << "|300|5|6|7|" << true << QList<int>{44, 5, 6, 7};
        QTest::newRow("time-out cut to 16 bits") << "|1|2|3|65537|" << true << QList<int>{1, 2, 3, 1};
        QTest::newRow("bad channel keeps the rest") << "|5|x|7|9|" << false << QList<int>{5, 0, 4321, 4321};
        QTest::newRow("number then junk") << "|5|6|12ab|9|" << false << QList<int>{5, 6, 12, 4321};
        QTest::newRow("empty") << "" << false << QList<int>{0, 4321, 4321, 4321};
    }
    void entryStrings()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QList<int>, fields);
        TASCIIChannel channel(nullptr, QStringLiteral("X"), nullptr, 0, 1);
        channel.DeviceNumber = std::uint8_t(4321);
        channel.ChannelNumber = std::uint8_t(4321);
        channel.Step = 4321;
        channel.TimeOut = 4321;
        QCOMPARE(channel.FromConfigString(text), ok);
        const QList<int> got{channel.DeviceNumber == std::uint8_t(4321) ? 4321 : channel.DeviceNumber,
                             channel.ChannelNumber == std::uint8_t(4321) ? 4321 : channel.ChannelNumber,
                             channel.Step, channel.TimeOut};
        QCOMPARE(got, fields);
        if (ok) {
            TASCIIChannel copy(nullptr, QStringLiteral("Y"), nullptr, 0, 2);
            copy.FromConfigString(channel.ToConfigString());
            QCOMPARE(copy.ToConfigString(), channel.ToConfigString());
        }
    }

    void defaultEntry()
    {
        TASCIIChannel channel(nullptr, QStringLiteral("X"), nullptr, 0, 1);
        QCOMPARE(channel.ToConfigString(), QStringLiteral("|1|1|1|500|"));
        QCOMPARE(QByteArray(channel.ValueText), QByteArray("0"));
    }
};

QTEST_MAIN(TestDriverChannel)
#include "tst_driver_channel.moc"
