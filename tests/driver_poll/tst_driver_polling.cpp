// Polling runs on their own thread against the simulated line: the order of the waits, stop
// during a wait and during a poll, restart from the first sensor, and the port held open for the
// whole run in the shared mode against opened and closed per sensor in the individual mode.
#include "driver_line_fixture.h"

#include "comexchange.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

#include <cerrno>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// How many descriptors of this process have the device open that the port name stands for.
int openDescriptors(const std::string &port)
{
    const QString device = QFileInfo(QString::fromStdString(port)).canonicalFilePath();
    int count = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)) {
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == device)
            ++count;
    }
    return count;
}

int niceOf(pid_t thread)
{
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, id_t(thread));
    return errno == 0 ? nice : 1000;
}

std::vector<pid_t> threadsOfThisProcess()
{
    std::vector<pid_t> threads;
    for (const QString &task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        threads.push_back(pid_t(task.toInt()));
    return threads;
}

long long msBetween(const Reading &a, const Reading &b)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(b.at - a.at).count();
}

} // namespace

class TestDriverPolling : public QObject {
    Q_OBJECT

    std::unique_ptr<DriverLineFixture> f;
    QPointer<TCOMExchange> run;
    bool ended = false;

    void start()
    {
        ended = false;
        run = TCOMExchange::Start();
        connect(run, &TCOMExchange::Ended, this, [this] { ended = true; });
    }
    void stopAndWait()
    {
        run->Stop();
        QTRY_VERIFY_WITH_TIMEOUT(ended, 5000);
        QCOMPARE(f->control->GetState(), std::uint8_t(dsIdle));
    }
    std::vector<std::uint16_t> numbers()
    {
        std::vector<std::uint16_t> result;
        for (const Reading &reading : f->takeReadings())
            result.push_back(reading.number);
        return result;
    }

private slots:
    void init()
    {
        f = std::make_unique<DriverLineFixture>();
        QVERIFY(f->sim.isValid());
    }
    void cleanup()
    {
        if (run) {
            run->Stop();
            QTRY_VERIFY_WITH_TIMEOUT(ended, 5000);
        }
        f.reset();
    }

    // Sensor, sensor interval, sensor, sensor interval, sensor, cycle interval, and again. Each
    // gap is at least its wait; a swap of the two waits would make a gap too short.
    void waitsInOrder()
    {
        f->setSensors({{1, 1, 1}, {1, 2, 1}, {2, 1, 1}});
        f->control->SensorTimeInterval = 60;
        f->control->SensorCircleInterval = 300;
        start();
        QTRY_VERIFY_WITH_TIMEOUT(f->takeReadings().size() >= 7, 10000);
        stopAndWait();
        const auto readings = f->takeReadings();
        for (size_t i = 0; i + 1 < 7; ++i) {
            QCOMPARE(readings[i].number, std::uint16_t(i % 3 + 1));
            const long long wait = readings[i].number == 3 ? 300 : 60;
            QVERIFY2(msBetween(readings[i], readings[i + 1]) >= wait - 2,
                     qPrintable(QStringLiteral("gap %1 after sensor %2").arg(msBetween(readings[i], readings[i + 1]))
                                    .arg(readings[i].number)));
        }
        QCOMPARE(f->control->GetStateText(), QStringLiteral("Stay State"));
    }

    void oneSensorWaitsTheCycle()
    {
        f->setSensors({{1, 4, 1}});
        f->control->SensorTimeInterval = 0;
        f->control->SensorCircleInterval = 150;
        start();
        QTRY_VERIFY_WITH_TIMEOUT(f->takeReadings().size() >= 3, 10000);
        stopAndWait();
        const auto readings = f->takeReadings();
        QVERIFY(msBetween(readings[0], readings[1]) >= 148);
        QVERIFY(msBetween(readings[1], readings[2]) >= 148);
    }

    // A stop cuts a long wait short; the next run starts again at sensor 1 and polls every
    // sensor in its first cycle whatever its step. The shared mode keeps the port open through
    // the waits and closes it at the end.
    void stopDuringWaitAndRestart()
    {
        f->setSensors({{1, 1, 5}, {1, 2, 7}, {1, 3, 2}});
        f->control->SensorTimeInterval = 60000;
        f->control->SensorCircleInterval = 60000;
        const int simulatorOwn = openDescriptors(f->sim.portPath());  // the simulator keeps one
        start();
        QTRY_COMPARE_WITH_TIMEOUT(numbers(), std::vector<std::uint16_t>{1}, 5000);
        QCOMPARE(openDescriptors(f->sim.portPath()), simulatorOwn + 1);
        const auto stopAt = Clock::now();
        stopAndWait();
        QVERIFY(Clock::now() - stopAt < 2s);
        QCOMPARE(openDescriptors(f->sim.portPath()), simulatorOwn);

        f->clearReadings();
        start();
        QTRY_COMPARE_WITH_TIMEOUT(numbers(), std::vector<std::uint16_t>{1}, 5000);
        stopAndWait();
        QCOMPARE(f->sim.log().size(), size_t(2));
        QCOMPARE(f->sim.log()[1], (sim::LineRequest{1, 1, 1}));
    }

    // A stop while the instrument is still to answer lets that poll finish and polls no other.
    void stopDuringPoll()
    {
        f->setSensors({{1, 1, 1}, {1, 2, 1}});
        f->control->SensorTimeInterval = 0;
        f->control->SensorCircleInterval = 0;
        f->control->TimeOut3 = 400;
        f->sim.injectFault(sim::LineFault::Silence, -1);
        start();
        QVERIFY(f->sim.waitForLog(1, 5s));
        run->Stop();
        QTRY_VERIFY_WITH_TIMEOUT(ended, 5000);
        QCOMPARE(f->sim.log().size(), size_t(1));
        const auto readings = f->takeReadings();
        QCOMPARE(readings.size(), size_t(1));
        QCOMPARE(readings[0].text, QStringLiteral("ExErr"));
    }

    // The individual mode opens the port for each sensor with its own time-out and closes it.
    void individualModeClosesBetweenSensors()
    {
        f->setSensors({{1, 1, 1}, {2, 2, 0}});
        f->control->IndividualTimeOutState = true;
        f->control->SensorTimeInterval = 60000;
        const int simulatorOwn = openDescriptors(f->sim.portPath());
        start();
        QTRY_COMPARE_WITH_TIMEOUT(numbers(), std::vector<std::uint16_t>{1}, 5000);
        QCOMPARE(openDescriptors(f->sim.portPath()), simulatorOwn);
        stopAndWait();
        QCOMPARE(f->sim.log().size(), size_t(1));
    }

    // A run raises every thread of the process, the window thread among them, and gives each
    // back exactly the nice value and scheduling class that the driver found at its start.
    void priorityRaisedForEveryThreadAndGivenBack()
    {
        f.reset();
        const pid_t windowThread = gettid();
        constexpr int found = 3;  // not the default, so that a restore to "normal" shows
        QCOMPARE(setpriority(PRIO_PROCESS, id_t(windowThread), found), 0);
        f = std::make_unique<DriverLineFixture>();  // the controller takes the priority it finds
        f->setSensors({{1, 1, 1}});
        f->control->SensorCircleInterval = 60000;
        start();
        QTRY_COMPARE_WITH_TIMEOUT(numbers(), std::vector<std::uint16_t>{1}, 5000);
        if (geteuid() == 0)  // a raise needs the right to it; root has it
            QCOMPARE(niceOf(windowThread), -20);
        stopAndWait();

        for (const pid_t thread : threadsOfThisProcess())
            QCOMPARE(niceOf(thread), found);
        QCOMPARE(sched_getscheduler(windowThread), SCHED_OTHER);
        sched_param param {};
        QCOMPARE(sched_getparam(windowThread, &param), 0);
        QCOMPARE(param.sched_priority, 0);
        if (geteuid() == 0)
            setpriority(PRIO_PROCESS, id_t(windowThread), 0);
    }
};

QTEST_MAIN(TestDriverPolling)
#include "tst_driver_polling.moc"
