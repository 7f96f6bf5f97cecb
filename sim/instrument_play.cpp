#include "instrument_play.h"

namespace sim {

namespace {

// Offsets of the setpoints in the parameter block.
constexpr std::size_t kSetpointAt[3] = {16, 25, 34};

template <class T>
const T *nextOf(const std::vector<T> &list, std::size_t index)
{
    return list.empty() ? nullptr : &list[index % list.size()];
}

} // namespace

bool SignalPlay::refuses(std::uint8_t command, const std::string &argument)
{
    // Every entry counts every matching command, so entries can be combined.
    bool refused = false;
    for (CommandFailure &f : failures) {
        if (f.command != command || (!f.argument.empty() && f.argument != argument))
            continue;
        if (f.skip > 0) {
            --f.skip;
        } else if (f.count != 0) {
            if (f.count > 0)
                --f.count;
            refused = true;
        }
    }
    return refused;
}

float SignalPlay::nextNoise()
{
    // A small linear congruential generator: the same noise on every run of a test.
    noiseSeed = noiseSeed * 1664525u + 1013904223u;
    const float unit = float(noiseSeed >> 8) / float(1u << 24);  // 0 .. 1
    return (2.0f * unit - 1.0f) * noise;
}

std::optional<CommandReply> SignalPlay::before(InstrumentModel &model, std::uint8_t command, const std::string &argument)
{
    if (refuses(command, argument))
        return CommandReply{true, "99"};
    const bool ramStart = command == 5 && argument == "0";
    const bool valueRead = (command == 5 && argument == "1") || (command == 1 && argument == "0");
    if (ramStart) {
        if (const AdcReading *r = nextOf(readings, std::size_t(adcReads))) {
            float channels[3] = {r->channel1, r->channel2, r->channel3};
            if (noise > 0)
                for (float &v : channels)
                    v += nextNoise();
            model.setAdc(r->code, r->measured, channels[0], channels[1], channels[2]);
        }
        ++adcReads;
    } else if (valueRead) {
        if (const float *v = nextOf(values, std::size_t(valueReads)))
            model.setRamFloat(1, *v);
        ++valueReads;
    } else if (command == 1 && argument.size() == 1 && argument[0] >= '1' && argument[0] <= '3') {
        const int i = argument[0] - '1';
        if (const float *v = nextOf(setpoints[i], setpointReads[i]))
            model.setEepromFloat(InstrumentModel::kParameterStart + kSetpointAt[i], *v);
        ++setpointReads[i];
    }
    return std::nullopt;
}

} // namespace sim
