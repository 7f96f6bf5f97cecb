#include "instrument_model.h"

#include "frame.h"
#include "instrument_play.h"

#include <charconv>
#include <cstring>
#include <optional>

namespace sim {

namespace {

// Offsets of the setpoints in the parameter block.
constexpr std::size_t kSetpointOffsets[3] = {16, 25, 34};

void putFloat(std::uint8_t *at, float value) { std::memcpy(at, &value, 4); }   // little-endian host

float getFloat(const std::uint8_t *at)
{
    float value;
    std::memcpy(&value, at, 4);
    return value;
}

// A decimal argument of 1 to 5 digits; -1 when the text is none.
long parseArgument(const std::string &text)
{
    if (text.empty() || text.size() > 5)
        return -1;
    long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0 ? value : -1;
}

CommandReply refuse(RefusalReason reason) { return {true, std::to_string(static_cast<int>(reason))}; }
CommandReply done(std::string text = {}) { return {false, std::move(text)}; }

// The refusal of an argument that is not a number from 0 to limit; nothing for a good one.
std::optional<CommandReply> checkArgument(long arg, long limit)
{
    if (arg < 0)
        return refuse(BadArgument);
    if (arg > limit)
        return refuse(OutOfRange);
    return std::nullopt;
}

// Commands that set an address, a position or a mask.
template <class T>
CommandReply store(long arg, long limit, T &field)
{
    if (auto refusal = checkArgument(arg, limit))
        return *refusal;
    field = static_cast<T>(arg);
    return done();
}

// Commands that read the byte at an address and advance it.
template <class Memory, class Address>
CommandReply readNext(const Memory &memory, Address &address)
{
    const std::uint8_t byte = memory[address];
    address = static_cast<Address>((address + 1) % memory.size());
    return done(std::to_string(byte));
}

// The CRC words of the calibration and parameter blocks at 0-3, low byte first.
void writeCrcWords(std::uint8_t *image)
{
    const std::uint16_t calCrc = excom::crc16(image + InstrumentModel::kCalibrationStart, InstrumentModel::kCalibrationSize);
    const std::uint16_t parCrc = excom::crc16(image + InstrumentModel::kParameterStart, InstrumentModel::kParameterSize);
    image[0] = static_cast<std::uint8_t>(calCrc & 0xFF);
    image[1] = static_cast<std::uint8_t>(calCrc >> 8);
    image[2] = static_cast<std::uint8_t>(parCrc & 0xFF);
    image[3] = static_cast<std::uint8_t>(parCrc >> 8);
}

} // namespace

InstrumentModel::InstrumentModel(std::uint8_t address) : address(address), eeprom(factoryImage(address))
{
    setAdc(0, 23.5f, 0.25f, 0.5f, 0.75f);
}

std::array<std::uint8_t, InstrumentModel::kEepromSize> InstrumentModel::factoryImage(std::uint8_t address)
{
    std::array<std::uint8_t, kEepromSize> image;
    image.fill(0xFF);
    for (std::size_t i = 0; i < kCalibrationStart; ++i)
        image[i] = 0;
    std::uint8_t *cal = image.data() + kCalibrationStart;
    const float calibration[7] = {100.0f, 200.0f, 10.0f, 1.0f, 1.0f, 1.0f, 0.0f};   // Rref Uref Rc Ku Ki05 Ki20 Rl
    for (int i = 0; i < 7; ++i)
        putFloat(cal + 4 * i, calibration[i]);

    std::uint8_t *par = image.data() + kParameterStart;
    std::memset(par, 0, kParameterSize);
    putFloat(par + 0, 0.0f);      // input range
    putFloat(par + 4, 100.0f);
    putFloat(par + 8, 4.0f);      // current range
    putFloat(par + 12, 20.0f);
    putFloat(par + 16, 50.0f);    // setpoint 1, hysteresis 1, relay 1 above setpoint 1
    putFloat(par + 20, 1.0f);
    par[24] = 0x02;
    putFloat(par + 25, 75.0f);    // setpoint 2 ...
    putFloat(par + 29, 1.5f);
    par[33] = 0x08;
    putFloat(par + 34, 90.0f);    // setpoint 3 ..., relay 3 also on sensor break
    putFloat(par + 38, 2.0f);
    par[42] = 0x60;
    par[43] = address;
    par[48] = 0x20 | 6;           // PTH5, break detection, two-wire
    par[49] = 10;                 // averaging
    par[50] = 0xF0 | (1 << 1) | 1;
    par[51] = 0x88;
    par[52] = (1 << 6) | (1 << 4) | 5;   // 9600 baud, setpoint 1 shown, one decimal

    writeCrcWords(image.data());
    return image;
}

void InstrumentModel::updateCrcWords() { writeCrcWords(eeprom.data()); }

void InstrumentModel::setAdc(std::uint8_t code, float measured, float channel1, float channel2, float channel3)
{
    ram[0] = code;
    setRamFloat(1, measured);
    setRamFloat(5, channel1);
    setRamFloat(9, channel2);
    setRamFloat(13, channel3);
}

float InstrumentModel::ramFloat(std::size_t at) const { return at + 4 <= kRamSize ? getFloat(ram.data() + at) : 0.0f; }

void InstrumentModel::setRamFloat(std::size_t at, float value)
{
    if (at + 4 <= kRamSize)
        putFloat(ram.data() + at, value);
}

float InstrumentModel::eepromFloat(std::size_t at) const
{
    return at + 4 <= kEepromSize ? getFloat(eeprom.data() + at) : 0.0f;
}

void InstrumentModel::setEepromFloat(std::size_t at, float value)
{
    if (at + 4 <= kEepromSize)
        putFloat(eeprom.data() + at, value);
}

double InstrumentModel::value(int index) const
{
    if (index == 0)
        return ramFloat(1);
    if (index >= 1 && index <= 3)
        return eepromFloat(kParameterStart + kSetpointOffsets[index - 1]);
    return 0.0;
}

CommandReply InstrumentModel::execute(std::uint8_t command, const std::string &argument)
{
    if (play)
        if (auto reply = play->before(*this, command, argument))
            return *reply;
    const long arg = parseArgument(argument);
    switch (command) {
    case 0:
        return done(std::to_string(deviceType));
    case 1: {
        if (auto refusal = checkArgument(arg, 3))
            return *refusal;
        char text[32];
        const auto r = std::to_chars(text, text + sizeof text, static_cast<float>(value(static_cast<int>(arg))));
        return done(std::string(text, r.ptr));
    }
    case 2:
        return store(arg, kEepromSize - 1, eepromAddress);
    case 3:
        return readNext(eeprom, eepromAddress);
    case 4:
        if (auto refusal = checkArgument(arg, 255))
            return *refusal;
        if (eeprom[eepromAddress] != arg)
            changedSinceFinish = true;
        eeprom[eepromAddress] = static_cast<std::uint8_t>(arg);
        eepromAddress = static_cast<std::uint16_t>((eepromAddress + 1) % kEepromSize);
        return done();
    case 5:
        return store(arg, kRamSize - 1, ramAddress);
    case 6:
        return readNext(ram, ramAddress);
    case 7:
        return store(arg, kIndicatorPositions - 1, indicatorPosition);
    case 8:
        if (auto refusal = checkArgument(arg, 255))
            return *refusal;
        if (indicatorPosition >= kIndicatorPositions)
            return refuse(OutOfRange);
        indicators[indicatorPosition++] = static_cast<std::uint8_t>(arg);
        indicatorTest = true;
        return done();
    case 9:
        return store(arg, 7, relayMask);
    case 11: {
        const bool unchanged = !changedSinceFinish;
        changedSinceFinish = false;
        ++finishedWrites;
        return done(unchanged ? "1" : "0");
    }
    case 13:
        indicatorTest = false;
        ++indicatorResets;
        return done();
    default:
        return refuse(UnknownCommand);
    }
}

} // namespace sim
