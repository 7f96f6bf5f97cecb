// The driver's polling against the simulated line keeping wire time: 1000 sensors on 32
// instruments, both intervals 0, shared port mode, at 9600 and 19200 baud. Every reading is
// counted where a DDE client holding hot links on all 1000 sensor items hears it, and compared
// with the wire limit: one request and its answer per reading (the bytes that crossed, at 10 bits
// a byte; the instruments answer without turnaround). Also: how long a stop takes during a 60 s
// cycle wait, the resident memory that 1000 sensors with their items cost, and the processor
// time the driver takes while it waits. Last line: "ratio N.NN", readings/s over the wire
// limit, the worse of the two baud rates.
#include "ascii_chanclass.h"
#include "comexchange.h"
#include "prgcontrol.h"
#include "sim/line_sim.h"
#include "variableset.h"
#include "tests/dde/dde_test_support.h"

#include "platform/dde_client.h"
#include "platform/messages.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSensors = 1000;
constexpr int kInstruments = 32;
constexpr int kChannels = 32;

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return 0;
}

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for a while, blocking between events.
void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Run {
    TCOMExchange *exchange = nullptr;
    bool ended = false;
    void start()
    {
        ended = false;
        exchange = TCOMExchange::Start();
        QObject::connect(exchange, &TCOMExchange::Ended, [this] { ended = true; });
    }
    // Milliseconds from Stop to the end handler.
    double stop()
    {
        const auto at = Clock::now();
        exchange->Stop();
        QEventLoop loop;
        QObject::connect(exchange, &TCOMExchange::Ended, &loop, &QEventLoop::quit);
        if (!ended)
            loop.exec();
        return std::chrono::duration<double, std::milli>(Clock::now() - at).count();
    }
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    useOwnRuntimeDir();
    const int seconds = argc > 1 ? std::max(2, atoi(argv[1])) : 8;

    std::map<std::uint8_t, int> instruments;
    for (int i = 1; i <= kInstruments; ++i)
        instruments[std::uint8_t(i)] = kChannels;
    sim::LineSim line(instruments);
    if (!line.isValid()) {
        std::printf("no pseudo-terminal\n");
        return 1;
    }
    line.setPacing(true);
    line.setTurnaround(std::chrono::microseconds(0));

    platform::ApplicationWindow window;
    window.addHook([](platform::Message &message) {
        PublishMessage(message);
        return false;
    });
    QWidget owner;
    const long rssBefore = residentKb();
    TProgramControl control(&owner, window.handle());
    control.FreeSensors();
    for (int n = 0; n < kSensors; ++n) {
        TASCIIChannel *channel = control.AddSensor();
        channel->DeviceNumber = std::uint8_t(n % kInstruments + 1);
        channel->ChannelNumber = std::uint8_t(n / kInstruments + 1);
    }
    QString error;
    bool running = false;
    if (!control.Serve(QStringLiteral("pollbench"), &error, &running)) {
        std::printf("cannot serve: %s\n", qPrintable(error));
        return 1;
    }
    spin(200);
    const long rssSensors = residentKb();

    platform::DdeClient client;
    if (!client.connectTo(QStringLiteral("pollbench"), QStringLiteral("ORVANT"))) {
        std::printf("client: %s\n", qPrintable(client.errorString()));
        return 1;
    }
    long heard = 0;
    QObject::connect(&client, &platform::DdeClient::itemChanged, [&heard](const QString &item, const QString &) {
        if (item.startsWith(u'S'))
            ++heard;
    });
    for (int n = 1; n <= kSensors; ++n)
        client.advise(QStringLiteral("S%1").arg(n));
    spin(300);

    control.PortName = QString::fromStdString(line.portPath());
    control.SensorTimeInterval = 0;
    control.SensorCircleInterval = 0;
    control.TimeOut3 = 200;
    double worst = 1e9;
    for (const int baud : {9600, 19200}) {
        control.BaudR = std::uint16_t(baud);
        Run run;
        run.start();
        spin(500);  // the run settles: port open, first answers in
        heard = 0;
        line.resetStats();
        const auto begin = Clock::now();
        spin(seconds * 1000);
        const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
        const sim::LineSimStats stats = line.stats();
        const long readings = heard;
        run.stop();
        const double wire = double(stats.bytesIn + stats.bytesOut) * 10.0 / baud;
        const double perSecond = readings / elapsed;
        const double wireLimit = stats.answers ? double(stats.answers) / wire : 0;
        const double ratio = wireLimit > 0 ? perSecond / wireLimit : 0;
        worst = std::min(worst, ratio);
        std::printf("%5d baud: %ld readings heard in %.2f s = %.1f/s; wire limit %.1f/s (%.1f bytes a reading); "
                    "ratio %.2f\n",
                    baud, readings, elapsed, perSecond, wireLimit,
                    stats.answers ? double(stats.bytesIn + stats.bytesOut) / stats.answers : 0, ratio);
    }

    // A stop during a 60 s cycle wait, and the processor time of the wait.
    control.FreeSensors();
    control.AddSensor();
    control.SensorCircleInterval = 60000;
    Run run;
    run.start();
    spin(500);
    const double cpuBefore = cpuSeconds();
    const auto waitBegin = Clock::now();
    spin(2000);
    const double waitCpu = cpuSeconds() - cpuBefore;
    const double waitWall = std::chrono::duration<double>(Clock::now() - waitBegin).count();
    const double stopMs = run.stop();
    std::printf("stop during a 60 s cycle wait: %.1f ms\n", stopMs);
    std::printf("processor while waiting (whole process, event loop included): %.2f %%\n",
                100.0 * waitCpu / waitWall);
    std::printf("resident memory: %ld kB before the controller, %ld kB with %d sensors and their items (+%ld kB)\n",
                rssBefore, rssSensors, kSensors, rssSensors - rssBefore);
    std::printf("ratio %.2f\n", worst);
    return 0;
}
