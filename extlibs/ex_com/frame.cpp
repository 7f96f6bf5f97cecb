#include "frame.h"

#include <algorithm>
#include <array>

namespace excom {

namespace {

constexpr std::array<std::uint16_t, 256> makeCrcTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t crc = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
        table[i] = crc;
    }
    return table;
}

constexpr auto kCrcTable = makeCrcTable();

bool isMarker(std::uint8_t byte) { return byte == kRequestMarker || byte == kReplyMarker; }

bool printable(char c) { return c >= 0x20 && c <= 0x7E; }

} // namespace

std::uint16_t crc16(const std::uint8_t *data, std::size_t size)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i)
        crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFF]);
    return crc;
}

std::vector<std::uint8_t> encodeFrame(const Frame &frame)
{
    const std::size_t n = std::min(frame.text.size(), kMaxText);
    std::vector<std::uint8_t> out;
    out.reserve(kOverhead + n);
    out.push_back(frame.reply ? kReplyMarker : kRequestMarker);
    out.push_back(frame.seq);
    out.push_back(frame.deviceType);
    out.push_back(frame.address);
    out.push_back(frame.command);
    out.push_back(static_cast<std::uint8_t>(n));
    out.insert(out.end(), frame.text.begin(), frame.text.begin() + static_cast<std::ptrdiff_t>(n));
    const std::uint16_t crc = crc16(out.data(), out.size());
    out.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    out.push_back(static_cast<std::uint8_t>(crc >> 8));
    return out;
}

DecodeResult decodeFrame(const std::uint8_t *data, std::size_t size)
{
    DecodeResult r;
    if (size == 0)
        return r;
    if (!isMarker(data[0])) {
        r.status = Decoded::Noise;
        r.consumed = static_cast<std::size_t>(std::find_if(data, data + size, isMarker) - data);
        return r;
    }
    r.reply = data[0] == kReplyMarker;
    if (size < kHeaderSize)
        return r;
    const std::size_t n = data[5];
    if (n > kMaxText) {
        r.status = Decoded::Broken;
        r.consumed = 1;
        return r;
    }
    const std::size_t total = kOverhead + n;
    if (size < total)
        return r;
    const std::uint16_t crc = crc16(data, kHeaderSize + n);
    if (data[kHeaderSize + n] != (crc & 0xFF) || data[kHeaderSize + n + 1] != (crc >> 8)) {
        r.status = Decoded::BadCrc;
        r.consumed = total;
        return r;
    }
    const char *text = reinterpret_cast<const char *>(data + kHeaderSize);
    if (!std::all_of(text, text + n, printable)) {
        r.status = Decoded::Broken;
        r.consumed = 1;
        return r;
    }
    r.status = Decoded::Frame;
    r.consumed = total;
    r.frame.reply = r.reply;
    r.frame.seq = data[1];
    r.frame.deviceType = data[2];
    r.frame.address = data[3];
    r.frame.command = data[4];
    r.frame.text.assign(text, n);
    return r;
}

} // namespace excom
