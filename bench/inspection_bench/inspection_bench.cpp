// The inspection measurement through the main window against the simulated instrument keeping
// wire time, at 9600 and 19200 baud: samples a second through the program against the wire
// limit of one sample (setting the RAM address and reading the value's four bytes: five requests
// and their replies, with the instrument's turnaround), and the window thread's lag while the
// inspection hands it every sample (a growing queue of updates would show as a growing lag).
//
//   inspection_bench [seconds a baud rate, 60 unless given]
//
// Last line: "ratio N.NN", the worse of the two rates' achieved / limit.
#include "setup/instrument/device_u.h"
#include "setup/instrument/exchange_u.h"
#include "setup/window/global_u.h"
#include "setup/window/main_u.h"
#include "setup/window/prgctrl_u.h"
#include "setup/window/prjctrl_u.h"
#include "sim/instrument_play.h"
#include "sim/instrument_sim.h"
#include "tests/support/wait_for.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

template <class T>
T *Find(TfMain &window, const char *name)
{
    return window.findChild<T *>(QLatin1String(name));
}

// How late the window thread serves a 50 ms timer: the largest lateness in each tenth of a run.
class TLagProbe : public QObject {
public:
    explicit TLagProbe(int parts) : Worst(parts, 0) {}
    void Start(qint64 runMs)
    {
        FRunMs = runMs;
        FClock.start();
        FLast = 0;
        connect(&FTimer, &QTimer::timeout, this, [this] {
            const qint64 now = FClock.elapsed();
            const qint64 late = now - FLast - Interval;
            FLast = now;
            const std::size_t part = std::min(Worst.size() - 1, std::size_t(now * qint64(Worst.size()) / FRunMs));
            Worst[part] = std::max(Worst[part], late);
        });
        FTimer.setTimerType(Qt::PreciseTimer);
        FTimer.start(Interval);
    }
    void Stop() { FTimer.stop(); }
    std::vector<qint64> Worst;

private:
    static constexpr int Interval = 50;
    QTimer FTimer;
    QElapsedTimer FClock;
    qint64 FLast = 0;
    qint64 FRunMs = 1;
};

struct TFigures {
    double Achieved = 0;  // samples a second
    double Limit = 0;     // samples a second the line allows
    double Ratio() const { return Limit > 0 ? Achieved / Limit : 0; }
};

int ValueReads(sim::InstrumentSim &line)
{
    int reads = 0;
    line.modify(0, [&](sim::InstrumentModel &m) { reads = m.play->valueReads; });
    return reads;
}

bool Measure(int baud, int seconds, TFigures &figures)
{
    sim::InstrumentSim line({0});
    line.setPacing(true);
    line.modify(0, [](sim::InstrumentModel &m) {
        m.play = std::make_shared<sim::SignalPlay>();
        m.play->values = {20.5f, 21.25f, 19.75f, 20.0f, 22.5f, 18.0f, 20.125f};
    });
    TfMain window;
    window.ProjectControl->SetState(psSaved);
    Find<QAction>(window, "M1N1")->setChecked(false);  // no questions, no reports
    Find<QAction>(window, "M1N3")->setChecked(false);
    auto *port = Find<QComboBox>(window, "TS0CB0");
    port->addItem(QString::fromStdString(line.portPath()));
    port->setCurrentIndex(port->count() - 1);
    Find<QComboBox>(window, "TS0CB1")->setCurrentText(QString::number(baud));
    // An error (a parameter write timed out on a loaded machine) would wait for a click.
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::printf("  message: %s\n", qPrintable(box->text()));
            box->close();
        }
    });
    boxes.start(20);

    auto *button = Find<QAbstractButton>(window, "TS4Button1");
    auto *current = Find<QLabel>(window, "TS4ST0");
    button->click();
    if (!WaitFor([&] { return button->text() == QStringLiteral("Остановить измерение") && current->text() != "No Data"; },
                 30000)) {
        std::printf("  the inspection did not start\n");
        return false;
    }
    line.resetStats();
    const int readsBefore = ValueReads(line);
    QElapsedTimer clock;
    clock.start();
    TLagProbe lag(10);
    lag.Start(qint64(seconds) * 1000);
    WaitFor([] { return false; }, seconds * 1000);
    lag.Stop();
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    const int samples = ValueReads(line) - readsBefore;
    const sim::LineStats stats = line.stats();
    button->click();
    WaitFor([] { return TExchange::Running() == 0; }, 30000);

    const double wire = double(stats.bytesIn + stats.bytesOut) * 10.0 / baud
                        + std::chrono::duration<double>(stats.turnaround).count();
    figures.Achieved = samples / elapsed;
    figures.Limit = samples > 0 && wire > 0 ? samples / wire : 0;
    std::printf("  %d samples in %.3f s: %.2f a second; wire limit %.2f a second (%.1f ms a sample, %llu requests, "
                "%llu bytes); ratio %.3f\n",
                samples, elapsed, figures.Achieved, figures.Limit, samples > 0 ? 1000.0 * wire / samples : 0.0,
                static_cast<unsigned long long>(stats.requests),
                static_cast<unsigned long long>(stats.bytesIn + stats.bytesOut), figures.Ratio());
    std::printf("  window thread lag, worst in each tenth of the run (ms):");
    for (const qint64 w : lag.Worst)
        std::printf(" %lld", static_cast<long long>(w));
    std::printf("\n");
    return samples > 0;
}

// The same samples straight through the link, without the program around them.
void MeasureLinkAlone(int baud, int seconds)
{
    sim::InstrumentSim line({0});
    line.setPacing(true);
    TDevice device;
    if (device.OpenPort(QString::number(baud), QString::fromStdString(line.portPath())) != 0)
        return;
    line.resetStats();
    QElapsedTimer clock;
    clock.start();
    int samples = 0;
    while (clock.elapsed() < qint64(seconds) * 1000) {
        float value = 0;
        samples += device.ReadRAMFloat(0, value) == 0 ? 1 : 0;
    }
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    const sim::LineStats stats = line.stats();
    device.ClosePort();
    const double wire = double(stats.bytesIn + stats.bytesOut) * 10.0 / baud
                        + std::chrono::duration<double>(stats.turnaround).count();
    std::printf("  the link alone: %.2f samples a second; ratio %.3f\n", samples / elapsed, wire / elapsed);
}

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // A link lock and settings of the benchmark's own.
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    InitGlobals();
    QApplication app(argc, argv);
    platform::ApplicationWindow appWindow;
    const QString settings = QCoreApplication::applicationFilePath() + QStringLiteral(".ini");

    double worst = 1e9;
    bool ok = true;
    for (const int baud : {9600, 19200}) {
        std::printf("baud %d, %d s\n", baud, seconds);
        TFigures figures;
        ok = Measure(baud, seconds, figures) && ok;
        worst = std::min(worst, figures.Ratio());
        MeasureLinkAlone(baud, std::min(seconds, 10));
    }
    QFile::remove(settings);
    DoneGlobals();
    std::printf("%s\nratio %.2f\n", ok ? "goal: at least 0.90 of the wire limit" : "FAILED", worst);
    return ok ? 0 : 1;
}
