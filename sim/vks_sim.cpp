// vks-sim: the setup program's instrument on a pseudo-terminal, for the demo and for trying the
// program by hand. Prints the port to open and serves until it is stopped (SIGINT, SIGTERM).
#include "instrument_sim.h"
#include "pty_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>

int main(int argc, char **argv)
{
    sim::BlockStopSignals();  // before any thread starts

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("vks-sim");
    QCommandLineParser parser;
    parser.setApplicationDescription("Simulated instruments on a pseudo-terminal. Prints the port path, "
                                     "then serves until stopped.");
    parser.addHelpOption();
    const QCommandLineOption addressOption({"a", "address"}, "Network address of an instrument (repeat or "
                                           "separate by commas; default 0).", "address");
    const QCommandLineOption typeOption({"t", "type"}, "Device type of the instruments (default 9).", "type", "9");
    const QCommandLineOption paceOption({"p", "pace"}, "Keep the wire time of the baud rate set on the port.");
    const QCommandLineOption echoOption({"e", "echo"}, "Echo every request, as an RS-485 adapter does.");
    const QCommandLineOption noiseBeforeOption("noise-before", "Up to this many random bytes before a reply "
                                               "(default 0).", "bytes", "0");
    const QCommandLineOption noiseAfterOption("noise-after", "Up to this many random bytes after a reply "
                                              "(default 0).", "bytes", "0");
    const QCommandLineOption noiseRateOption("noise-rate", "Share of the replies that get noise, 0 to 1 "
                                             "(default 1).", "rate", "1");
    const QCommandLineOption delayOption("delay", "Answer every request this many milliseconds late, or a "
                                         "random time in a range MIN-MAX (as a USB adapter or a slow "
                                         "instrument does; default 0).", "ms", "0");
    parser.addOptions({addressOption, typeOption, paceOption, echoOption, noiseBeforeOption, noiseAfterOption,
                       noiseRateOption, delayOption});
    parser.process(app);

    std::vector<std::uint8_t> addresses;
    for (const QString &value : parser.values(addressOption)) {
        for (const QString &part : value.split(',', Qt::SkipEmptyParts)) {
            bool ok = false;
            const uint address = part.trimmed().toUInt(&ok);
            if (!ok || address > 255) {
                std::fprintf(stderr, "vks-sim: not a network address: %s\n", qPrintable(part));
                return 2;
            }
            addresses.push_back(static_cast<std::uint8_t>(address));
        }
    }
    if (addresses.empty())
        addresses.push_back(0);
    bool typeOk = false;
    const uint type = parser.value(typeOption).toUInt(&typeOk);
    if (!typeOk || type > 255) {
        std::fprintf(stderr, "vks-sim: not a device type: %s\n", qPrintable(parser.value(typeOption)));
        return 2;
    }

    sim::Noise noise;
    bool beforeOk = false, afterOk = false, rateOk = false;
    noise.before = parser.value(noiseBeforeOption).toInt(&beforeOk);
    noise.after = parser.value(noiseAfterOption).toInt(&afterOk);
    noise.rate = parser.value(noiseRateOption).toDouble(&rateOk);
    if (!beforeOk || !afterOk || !rateOk || noise.before < 0 || noise.after < 0 || noise.before > 4096
        || noise.after > 4096 || !(noise.rate >= 0 && noise.rate <= 1)) {
        std::fprintf(stderr, "vks-sim: noise wants byte counts from 0 to 4096 and a rate from 0 to 1\n");
        return 2;
    }
    noise.seed = static_cast<std::uint32_t>(QDateTime::currentMSecsSinceEpoch());
    const auto delay = sim::parseReplyDelay(parser.value(delayOption).toStdString());
    if (!delay) {
        std::fprintf(stderr, "vks-sim: not a delay: %s\n", qPrintable(parser.value(delayOption)));
        return 2;
    }

    sim::InstrumentSim simulator(addresses);
    if (!simulator.isValid()) {
        std::fprintf(stderr, "vks-sim: no pseudo-terminal available\n");
        return 1;
    }
    for (const std::uint8_t address : addresses)
        simulator.modify(address, [&](sim::InstrumentModel &m) { m.deviceType = static_cast<std::uint8_t>(type); });
    simulator.setPacing(parser.isSet(paceOption));
    simulator.setEcho(parser.isSet(echoOption));
    simulator.setNoise(noise);
    simulator.setReplyDelay(*delay);

    std::printf("%s\n", simulator.portPath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "vks-sim: serving; list the port with EX_COM_EXTRA_PORTS=%s\n", simulator.portPath().c_str());

    sim::WaitForStopSignal();
    return 0;
}
