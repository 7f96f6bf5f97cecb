#include "device_blocks.h"

#include <cmath>

#include <bit>
#include <limits>
#include <type_traits>

namespace device_bytes {

std::uint16_t Word(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

void SetWord(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value)
{
    bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

float Float(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    std::uint32_t raw = 0;
    for (std::size_t i = 0; i < 4; ++i)
        raw |= std::uint32_t(bytes[offset + i]) << (8 * i);
    return std::bit_cast<float>(raw);
}

void SetFloat(std::span<std::uint8_t> bytes, std::size_t offset, float value)
{
    const auto raw = std::bit_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(raw >> (8 * i));
}

std::optional<float> ToSingle(double value)
{
    // Halfway between the largest float and 2^128: from there on the nearest float is infinity.
    constexpr double Overflow = 0x1.ffffffp127;
    if (!(std::fabs(value) < Overflow))
        return std::nullopt;
    return static_cast<float>(value);
}

} // namespace device_bytes

namespace {

static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559);

// Each block's fields with their offsets, in one list that both directions walk.
template <class C, class Visit>
    requires std::is_same_v<std::remove_const_t<C>, TCalibration>
constexpr void EachField(C &c, Visit &&v)
{
    v(0, c.Rref);
    v(4, c.Uref);
    v(8, c.Rc);
    v(12, c.Ku);
    v(16, c.Ki05);
    v(20, c.Ki20);
    v(24, c.Rl);
}

template <class P, class Visit>
    requires std::is_same_v<std::remove_const_t<P>, TParams>
constexpr void EachField(P &p, Visit &&v)
{
    v(0, p.InputRangeLow);
    v(4, p.InputRangeHigh);
    v(8, p.CurrentRangeLow);
    v(12, p.CurrentRangeHigh);
    v(16, p.Setpoint1);
    v(20, p.Hysteresis1);
    v(24, p.Relay1Reaction);
    v(25, p.Setpoint2);
    v(29, p.Hysteresis2);
    v(33, p.Relay2Reaction);
    v(34, p.Setpoint3);
    v(38, p.Hysteresis3);
    v(42, p.Relay3Reaction);
    v(43, p.NetworkAddress);
    v(44, p.Password);
    v(46, p.PasswordConfirm);
    v(48, p.SensorSetup);
    v(49, p.AveragingCount);
    v(50, p.OutputSetup);
    v(51, p.IndicatorBrightness);
    v(52, p.LinkDisplaySetup);
}

template <class A, class Visit>
    requires std::is_same_v<std::remove_const_t<A>, TADCData>
constexpr void EachField(A &a, Visit &&v)
{
    v(0, a.ADCCode);
    v(1, a.MeasuredValue);
    v(5, a.Channel1Voltage);
    v(9, a.Channel2Voltage);
    v(13, a.Channel3Voltage);
}

// The field lists leave no gap, overlap nothing and end exactly at the block's size.
template <class Block> constexpr bool Contiguous()
{
    Block b{};
    std::size_t next = 0;
    bool ok = true;
    EachField(b, [&](std::size_t offset, auto &field) {
        ok = ok && offset == next;
        next = offset + sizeof(field);
    });
    return ok && next == Block::Size;
}
static_assert(Contiguous<TCalibration>());
static_assert(Contiguous<TParams>());
static_assert(Contiguous<TADCData>());

void Read(std::span<const std::uint8_t> bytes, std::size_t offset, std::uint8_t &field) { field = bytes[offset]; }
void Read(std::span<const std::uint8_t> bytes, std::size_t offset, std::uint16_t &field)
{
    field = device_bytes::Word(bytes, offset);
}
void Read(std::span<const std::uint8_t> bytes, std::size_t offset, float &field)
{
    field = device_bytes::Float(bytes, offset);
}
void Write(std::span<std::uint8_t> bytes, std::size_t offset, std::uint8_t field) { bytes[offset] = field; }
void Write(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t field)
{
    device_bytes::SetWord(bytes, offset, field);
}
void Write(std::span<std::uint8_t> bytes, std::size_t offset, float field)
{
    device_bytes::SetFloat(bytes, offset, field);
}

template <class Block> Block FromBytesOf(std::span<const std::uint8_t, Block::Size> bytes)
{
    Block b;
    EachField(b, [&](std::size_t offset, auto &field) { Read(bytes, offset, field); });
    return b;
}

template <class Block> void ToBytesOf(const Block &b, std::span<std::uint8_t, Block::Size> bytes)
{
    EachField(b, [&](std::size_t offset, const auto &field) { Write(bytes, offset, field); });
}

} // namespace

TCalibration TCalibration::FromBytes(std::span<const std::uint8_t, Size> bytes) { return FromBytesOf<TCalibration>(bytes); }
void TCalibration::ToBytes(std::span<std::uint8_t, Size> bytes) const { ToBytesOf(*this, bytes); }
TParams TParams::FromBytes(std::span<const std::uint8_t, Size> bytes) { return FromBytesOf<TParams>(bytes); }
void TParams::ToBytes(std::span<std::uint8_t, Size> bytes) const { ToBytesOf(*this, bytes); }
TADCData TADCData::FromBytes(std::span<const std::uint8_t, Size> bytes) { return FromBytesOf<TADCData>(bytes); }
void TADCData::ToBytes(std::span<std::uint8_t, Size> bytes) const { ToBytesOf(*this, bytes); }
