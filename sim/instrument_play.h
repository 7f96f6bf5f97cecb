#pragma once
// Calibration play of a simulated instrument: what its readings are at each read, so that a test
// can apply reference signals and watch values change.
//
// A play is attached to an instrument (InstrumentModel::play) and sees every command before the
// instrument carries it out:
//   - an ADC read (the RAM address set to 0) first loads the next of `readings` into the ADC
//     block, with noise added to the three channel voltages when `noise` is above 0;
//   - a read of the measured value (the RAM address set to 1, or the value read with index 0)
//     first loads the next of `values` into RAM 1; a read of setpoint i (value read, index i)
//     first loads the next of `setpoints[i - 1]` into the parameter block;
//   - a command matching one of `failures` is refused instead of carried out.
// Each list is taken in turn, round and round; an empty list leaves the instrument as it is.
#include "instrument_model.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct AdcReading {
    std::uint8_t code = 0;
    float measured = 0;
    float channel1 = 0;
    float channel2 = 0;
    float channel3 = 0;
};

// Refuses a command (with the given argument text; empty: any argument) after `skip` matching
// commands, `count` times (below 0: for good). Each entry counts every matching command, the
// refused ones too.
struct CommandFailure {
    std::uint8_t command = 0;
    std::string argument;
    int skip = 0;
    int count = 1;
};

class SignalPlay {
public:
    std::vector<AdcReading> readings;
    float noise = 0;              // each channel voltage within +-noise of its reading
    std::uint32_t noiseSeed = 1;  // the noise repeats from run to run
    std::vector<float> values;
    std::array<std::vector<float>, 3> setpoints;
    std::vector<CommandFailure> failures;

    // Reads taken so far.
    int adcReads = 0;
    int valueReads = 0;

    // Called by the instrument before it carries out a command: a reply ends the command there.
    std::optional<CommandReply> before(InstrumentModel &model, std::uint8_t command, const std::string &argument);

private:
    bool refuses(std::uint8_t command, const std::string &argument);
    float nextNoise();
    std::size_t setpointReads[3] = {0, 0, 0};
};

} // namespace sim
