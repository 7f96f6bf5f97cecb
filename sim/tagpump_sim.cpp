// tagpump-sim: the data driver's line of instruments on a pseudo-terminal, for the demo and for
// trying the driver by hand. Prints the port to set in the driver and serves until it is stopped
// (SIGINT, SIGTERM).
#include "line_sim.h"
#include "pty_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

const std::map<QString, sim::LineFault> kFaults = {
    {"silence", sim::LineFault::Silence},         {"error", sim::LineFault::ErrorAnswer},
    {"garbage", sim::LineFault::Garbage},         {"late", sim::LineFault::LateAnswer},
    {"checksum", sim::LineFault::BadChecksum},    {"channel", sim::LineFault::WrongChannel},
    {"instrument", sim::LineFault::WrongInstrument},
};

int fail(const QString &text)
{
    std::fprintf(stderr, "tagpump-sim: %s\n", qPrintable(text));
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    sim::BlockStopSignals();  // before any thread starts

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tagpump-sim");
    QCommandLineParser parser;
    parser.setApplicationDescription("The data driver's line of instruments on a pseudo-terminal. Prints the "
                                     "port path, then serves until stopped.");
    parser.addHelpOption();
    const QCommandLineOption instrumentOption(
        {"i", "instrument"},
        "Instrument number with its channel count, as N or N:CHANNELS (repeat or separate by commas; "
        "default 1).", "list");
    const QCommandLineOption channelsOption({"c", "channels"}, "Channels of an instrument given without a count "
                                            "(default 8).", "count", "8");
    const QCommandLineOption paceOption({"p", "pace"}, "Keep the wire time of the baud rate set on the port.");
    const QCommandLineOption turnaroundOption({"t", "turnaround"}, "Instrument turnaround with --pace, in "
                                              "milliseconds (default 1).", "ms", "1");
    const QCommandLineOption echoOption({"e", "echo"}, "Echo every request, as an RS-485 adapter does.");
    const QCommandLineOption faultOption(
        {"f", "fault"},
        "Spoil every N-th answer: KIND:N, KIND one of silence, error, garbage, late, checksum, channel, "
        "instrument.", "fault");
    const QCommandLineOption lateOption({"l", "late"}, "Delay of a late answer in milliseconds (default 1500).",
                                        "ms", "1500");
    const QCommandLineOption delayOption("delay", "Answer every request this many milliseconds late, or a "
                                         "random time in a range MIN-MAX (as a USB adapter or a slow "
                                         "instrument does; default 0).", "ms", "0");
    parser.addOptions({instrumentOption, channelsOption, paceOption, turnaroundOption, echoOption, faultOption,
                       lateOption, delayOption});
    parser.process(app);

    bool ok = false;
    const int channels = parser.value(channelsOption).toInt(&ok);
    if (!ok || channels < 1 || channels > 255)
        return fail("not a channel count: " + parser.value(channelsOption));
    std::map<std::uint8_t, int> instruments;
    for (const QString &value : parser.values(instrumentOption))
        if (!sim::parseInstrumentList(value.toStdString(), channels, instruments))
            return fail("not an instrument list: " + value);
    if (instruments.empty())
        instruments[1] = channels;
    const int turnaround = parser.value(turnaroundOption).toInt(&ok);
    if (!ok || turnaround < 0)
        return fail("not a turnaround: " + parser.value(turnaroundOption));
    const int late = parser.value(lateOption).toInt(&ok);
    if (!ok || late < 0)
        return fail("not a delay: " + parser.value(lateOption));
    const auto delay = sim::parseReplyDelay(parser.value(delayOption).toStdString());
    if (!delay)
        return fail("not a delay: " + parser.value(delayOption));
    sim::LineFault fault = sim::LineFault::None;
    int every = 0;
    if (parser.isSet(faultOption)) {
        const QStringList parts = parser.value(faultOption).split(':');
        const auto it = parts.size() == 2 ? kFaults.find(parts[0]) : kFaults.end();
        every = parts.size() == 2 ? parts[1].toInt(&ok) : 0;
        if (it == kFaults.end() || !ok || every < 1)
            return fail("not a fault: " + parser.value(faultOption));
        fault = it->second;
    }

    sim::LineSim simulator(instruments);
    if (!simulator.isValid()) {
        std::fprintf(stderr, "tagpump-sim: no pseudo-terminal available\n");
        return 1;
    }
    simulator.setPacing(parser.isSet(paceOption));
    simulator.setTurnaround(std::chrono::milliseconds(turnaround));
    simulator.setEcho(parser.isSet(echoOption));
    simulator.setLateDelay(std::chrono::milliseconds(late));
    simulator.setPeriodicFault(fault, every);
    simulator.setReplyDelay(*delay);

    std::printf("%s\n", simulator.portPath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "tagpump-sim: serving %zu instrument(s); list the port with EX_COM_EXTRA_PORTS=%s\n",
                 instruments.size(), simulator.portPath().c_str());

    sim::WaitForStopSignal();
    return 0;
}
