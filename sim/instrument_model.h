#pragma once
// One simulated instrument of the setup program: its EEPROM, RAM, indicators and relays, and
// what it does with each link command. No locking here; the simulator guards it.
#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace sim {

class SignalPlay;

struct CommandReply {
    bool refused = false;
    std::string text;   // the reply text, or the decimal reason of a refusal
};

// Reasons of a refusal, sent as the text of the refused reply.
enum RefusalReason : int { UnknownCommand = 1, BadArgument = 2, OutOfRange = 3, OtherDeviceType = 4 };

class InstrumentModel {
public:
    static constexpr std::size_t kEepromSize = 2048;
    static constexpr std::size_t kRamSize = 256;
    static constexpr std::size_t kIndicatorPositions = 9;
    static constexpr std::size_t kAdcBlockSize = 17;
    // Where the blocks lie in the EEPROM.
    static constexpr std::size_t kCalibrationStart = 6, kCalibrationSize = 28;
    static constexpr std::size_t kParameterStart = 34, kParameterSize = 53;

    explicit InstrumentModel(std::uint8_t address = 0);

    // A factory EEPROM: sensible calibration and parameters, their CRC words at 0-3 (low byte
    // first), the network address in the parameter block, the rest erased (0xFF).
    static std::array<std::uint8_t, kEepromSize> factoryImage(std::uint8_t address);

    // Recomputes the CRC words at 0-3 from the blocks as they stand.
    void updateCrcWords();
    // The ADC block at RAM 0: code byte, measured value, three channel voltages (floats).
    void setAdc(std::uint8_t code, float measured, float channel1, float channel2, float channel3);
    float ramFloat(std::size_t address) const;
    void setRamFloat(std::size_t address, float value);
    float eepromFloat(std::size_t address) const;
    void setEepromFloat(std::size_t address, float value);
    // The values of the value read (command 1): 0 the measured value (ADC block), 1..3 the
    // setpoints of the parameter block.
    double value(int index) const;

    CommandReply execute(std::uint8_t command, const std::string &argument);

    std::uint8_t address;
    std::uint8_t deviceType = 9;
    std::array<std::uint8_t, kEepromSize> eeprom;
    std::array<std::uint8_t, kRamSize> ram{};
    std::uint16_t eepromAddress = 0;
    std::uint8_t ramAddress = 0;
    bool changedSinceFinish = false;    // an EEPROM write changed a byte since the last finish
    std::array<std::uint8_t, kIndicatorPositions> indicators{};
    std::uint8_t indicatorPosition = 0;
    bool indicatorTest = false;         // the indicators show test patterns, not measurements
    int indicatorResets = 0;            // commands 13 received
    std::uint8_t relayMask = 0;         // 0: the instrument drives its relays itself
    int finishedWrites = 0;             // commands 11 received
    // Calibration play (instrument_play.h): readings that change from read to read, refusals
    // on demand. Shared by the copies that instrument() hands out: read its counters through
    // InstrumentSim::modify, under the simulator's lock.
    std::shared_ptr<SignalPlay> play;
};

} // namespace sim
