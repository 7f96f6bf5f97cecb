#include "parcel.h"

#include "protocol.h"

#include "frame.h"

#include <cstdio>

namespace vksproto {

namespace {

std::string withCrc(std::string body)
{
    const auto crc = excom::crc16(reinterpret_cast<const std::uint8_t *>(body.data()), body.size());
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%04X\r", crc);
    return body + tail;
}

bool digit(char c) { return c >= '0' && c <= '9'; }

int hexDigit(char c)
{
    if (digit(c))
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;   // lower case is not the format
}

// Fixed-width decimal field of three digits, at most 255.
bool number3(std::string_view text, std::size_t at, std::uint8_t &out)
{
    int n = 0;
    for (std::size_t i = at; i < at + 3; ++i) {
        if (!digit(text[i]))
            return false;
        n = n * 10 + (text[i] - '0');
    }
    if (n > 255)
        return false;
    out = static_cast<std::uint8_t>(n);
    return true;
}

bool hexField(std::string_view text, std::size_t at, std::size_t width, unsigned &out)
{
    out = 0;
    for (std::size_t i = at; i < at + width; ++i) {
        const int d = hexDigit(text[i]);
        if (d < 0)
            return false;
        out = out * 16 + static_cast<unsigned>(d);
    }
    return true;
}

std::string_view stripEnd(std::string_view text)
{
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    if (!text.empty() && text.back() == kTerminator)
        text.remove_suffix(1);
    return text;
}

// Splits "body*XXXX" and checks the CRC of the body.
Parsed checkCrc(std::string_view text, std::string_view &body)
{
    if (text.size() < 5 || text[text.size() - 5] != '*')
        return Parsed::Format;
    unsigned crc = 0;
    if (!hexField(text, text.size() - 4, 4, crc))
        return Parsed::Format;
    body = text.substr(0, text.size() - 5);
    const auto actual = excom::crc16(reinterpret_cast<const std::uint8_t *>(body.data()), body.size());
    return actual == crc ? Parsed::Ok : Parsed::Crc;
}

} // namespace

std::string encodeRequest(const Request &request)
{
    char body[32];
    std::snprintf(body, sizeof body, "%c%03u:%03u:%03u:%02X", kRequestMark, request.instrument, request.command,
                  request.channel, request.seq);
    return withCrc(body);
}

std::string encodeAnswer(const Answer &answer)
{
    char head[32];
    std::snprintf(head, sizeof head, "%c%03u:%03u:%02X:", kAnswerMark, answer.instrument, answer.channel, answer.seq);
    return withCrc(head + answer.value);
}

bool validValue(std::string_view value)
{
    if (value.empty() || value.size() > VKS2810_MAX_VALUE)
        return false;
    if (value.front() == '$') {
        // "$NN" and an optional blank with printable text; no "*", which ends the field, and no "!",
        // which starts an answer.
        if (value.size() < 3 || !digit(value[1]) || !digit(value[2]))
            return false;
        if (value.size() > 3 && value[3] != ' ')
            return false;
        for (const char c : value.substr(3))
            if (c < 0x20 || c > 0x7E || c == '*' || c == kAnswerMark)
                return false;
        return true;
    }
    std::size_t i = value.front() == '-' ? 1 : 0;
    std::size_t intDigits = 0;
    while (i < value.size() && digit(value[i])) {
        ++i;
        ++intDigits;
    }
    if (intDigits == 0)
        return false;
    if (i == value.size())
        return true;
    if (value[i] != '.')
        return false;
    ++i;
    std::size_t fracDigits = 0;
    while (i < value.size() && digit(value[i])) {
        ++i;
        ++fracDigits;
    }
    return fracDigits > 0 && i == value.size();
}

Parsed parseRequest(std::string_view text, Request &request)
{
    text = stripEnd(text);
    std::string_view body;
    if (text.size() != VKS2810_REQUEST_LENGTH - 1 || text.front() != kRequestMark)
        return Parsed::Format;
    // Layout before the CRC: #III:KKK:CCC:SS
    if (text[4] != ':' || text[8] != ':' || text[12] != ':')
        return Parsed::Format;
    Request r;
    unsigned seq = 0;
    if (!number3(text, 1, r.instrument) || !number3(text, 5, r.command) || !number3(text, 9, r.channel)
        || !hexField(text, 13, 2, seq))
        return Parsed::Format;
    r.seq = static_cast<std::uint8_t>(seq);
    if (const Parsed p = checkCrc(text, body); p != Parsed::Ok)
        return p;
    request = r;
    return Parsed::Ok;
}

Parsed parseAnswer(std::string_view text, Answer &answer)
{
    text = stripEnd(text);
    const std::size_t start = text.rfind(kAnswerMark);
    if (start == std::string_view::npos)
        return Parsed::Format;
    text.remove_prefix(start);
    // Layout before the CRC: !III:CCC:SS:value
    constexpr std::size_t kHead = 12;
    if (text.size() < kHead + 1 + 5 || text[4] != ':' || text[8] != ':' || text[11] != ':')
        return Parsed::Format;
    Answer a;
    unsigned seq = 0;
    if (!number3(text, 1, a.instrument) || !number3(text, 5, a.channel) || !hexField(text, 9, 2, seq))
        return Parsed::Format;
    a.seq = static_cast<std::uint8_t>(seq);
    std::string_view body;
    if (const Parsed p = checkCrc(text, body); p != Parsed::Ok)
        return p;
    const std::string_view value = body.substr(kHead);
    if (!validValue(value))
        return Parsed::Value;
    a.value = std::string(value);
    answer = std::move(a);
    return Parsed::Ok;
}

} // namespace vksproto
