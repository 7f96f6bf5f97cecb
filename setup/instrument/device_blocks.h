#pragma once
// The named fields of the instrument's memory blocks.
//
// The blocks themselves are packed little-endian byte images (TDevice keeps them as bytes and
// copies them to and from the instrument byte for byte). These structs are the readable view of
// them for the form, the calibration files and the monitors: FromBytes and ToBytes convert field
// by field at the fixed offsets, so nothing depends on the compiler's struct layout. Floats are
// IEEE 754 single precision, words 16-bit unsigned, both low byte first. Bit fields inside the
// setup bytes are left to the caller.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

// Calibration block: seven floats, 28 bytes at EEPROM 6.
struct TCalibration {
    static constexpr std::size_t Size = 28;
    float Rref = 0;  // offset 0
    float Uref = 0;  // 4
    float Rc = 0;    // 8
    float Ku = 0;    // 12
    float Ki05 = 0;  // 16
    float Ki20 = 0;  // 20
    float Rl = 0;    // 24

    static TCalibration FromBytes(std::span<const std::uint8_t, Size> bytes);
    void ToBytes(std::span<std::uint8_t, Size> bytes) const;
};

// Parameter block: 53 bytes at EEPROM 34, without gaps (some floats are not aligned to 4).
struct TParams {
    static constexpr std::size_t Size = 53;
    float InputRangeLow = 0;          // offset 0
    float InputRangeHigh = 0;         // 4
    float CurrentRangeLow = 0;        // 8
    float CurrentRangeHigh = 0;       // 12
    float Setpoint1 = 0;              // 16
    float Hysteresis1 = 0;            // 20
    std::uint8_t Relay1Reaction = 0;  // 24
    float Setpoint2 = 0;              // 25
    float Hysteresis2 = 0;            // 29
    std::uint8_t Relay2Reaction = 0;  // 33
    float Setpoint3 = 0;              // 34
    float Hysteresis3 = 0;            // 38
    std::uint8_t Relay3Reaction = 0;  // 42
    std::uint8_t NetworkAddress = 0;  // 43
    std::uint16_t Password = 0;       // 44
    std::uint16_t PasswordConfirm = 0; // 46
    std::uint8_t SensorSetup = 0;     // 48
    std::uint8_t AveragingCount = 0;  // 49
    std::uint8_t OutputSetup = 0;     // 50
    std::uint8_t IndicatorBrightness = 0; // 51
    std::uint8_t LinkDisplaySetup = 0; // 52

    static TParams FromBytes(std::span<const std::uint8_t, Size> bytes);
    void ToBytes(std::span<std::uint8_t, Size> bytes) const;
};

// ADC block: 17 bytes of instrument RAM from address 0.
struct TADCData {
    static constexpr std::size_t Size = 17;
    std::uint8_t ADCCode = 0;    // offset 0
    float MeasuredValue = 0;     // 1
    float Channel1Voltage = 0;   // 5
    float Channel2Voltage = 0;   // 9
    float Channel3Voltage = 0;   // 13

    static TADCData FromBytes(std::span<const std::uint8_t, Size> bytes);
    void ToBytes(std::span<std::uint8_t, Size> bytes) const;
};

// Little-endian access at a byte offset, shared by the blocks and the link commands.
namespace device_bytes {
std::uint16_t Word(std::span<const std::uint8_t> bytes, std::size_t offset);
void SetWord(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value);
float Float(std::span<const std::uint8_t> bytes, std::size_t offset);
void SetFloat(std::span<std::uint8_t> bytes, std::size_t offset, float value);
// The 32-bit float that a number rounds to; nothing for a number that rounds beyond the
// largest float (to infinity) and for infinities and NaN. 3.40282347E38, the largest float as
// texts show it, is a little above it and still rounds to it.
std::optional<float> ToSingle(double value);
} // namespace device_bytes
