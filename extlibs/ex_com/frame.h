#pragma once
// The frame codec of the link: CRC-16/MODBUS and the request/reply frame layout written down in
// ex_com.h. Used by the library, the instrument simulator and the fuzz target alike.
#include "ex_com.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace excom {

constexpr std::uint8_t kRequestMarker = 0xA5;
constexpr std::uint8_t kReplyMarker = 0x5A;
constexpr std::uint8_t kRefusedBit = 0x80;
constexpr std::size_t kHeaderSize = 6;
constexpr std::size_t kOverhead = EX_FRAME_OVERHEAD;   // header + CRC
constexpr std::size_t kMaxText = EX_FRAME_MAX_TEXT;
constexpr std::size_t kMaxFrame = kOverhead + kMaxText;

std::uint16_t crc16(const std::uint8_t *data, std::size_t size);

struct Frame {
    bool reply = false;
    std::uint8_t seq = 0;
    std::uint8_t deviceType = 0;
    std::uint8_t address = 0;
    std::uint8_t command = 0;   // with kRefusedBit in a refusal
    std::string text;           // printable ASCII, at most kMaxText

    bool operator==(const Frame &) const = default;
};

// The wire bytes of a frame; the text is cut to kMaxText.
std::vector<std::uint8_t> encodeFrame(const Frame &frame);

enum class Decoded {
    NeedMore,  // a frame may start here but is not complete yet
    Frame,     // a valid frame of `consumed` bytes
    Noise,     // `consumed` bytes that cannot start a frame
    Broken,    // a frame header with an impossible length, or a text that is not printable
    BadCrc,    // a complete frame of `consumed` bytes whose CRC does not match
};

struct DecodeResult {
    Decoded status = Decoded::NeedMore;
    std::size_t consumed = 0;
    bool reply = false;   // the marker seen (for Broken and BadCrc too)
    Frame frame;
};

// Looks at the bytes at the start of data. Noise consumes every byte up to the next marker;
// Broken consumes the marker alone, so that a caller that goes on scanning resynchronises.
DecodeResult decodeFrame(const std::uint8_t *data, std::size_t size);

} // namespace excom
