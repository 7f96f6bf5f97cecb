#pragma once
// The messages of the driver's line in both directions (layout in protocol.h): building them,
// and taking them apart strictly. Used by the protocol library, the line simulator and the fuzz
// target alike, so that both ends speak exactly the same format.
#include <cstdint>
#include <string>
#include <string_view>

namespace vksproto {

constexpr char kRequestMark = '#';
constexpr char kAnswerMark = '!';
constexpr char kTerminator = '\r';

struct Request {
    std::uint8_t instrument = 0;
    std::uint8_t command = 0;
    std::uint8_t channel = 0;
    std::uint8_t seq = 0;

    bool operator==(const Request &) const = default;
};

struct Answer {
    std::uint8_t instrument = 0;
    std::uint8_t channel = 0;
    std::uint8_t seq = 0;
    std::string value;

    bool operator==(const Answer &) const = default;
};

enum class Parsed { Ok, Format, Crc, Value };

// The wire texts, terminator included.
std::string encodeRequest(const Request &request);
// The value is sent as given (a caller that wants a valid answer passes a valid value).
std::string encodeAnswer(const Answer &answer);

// A message without or with its trailing CR (and LF). The answer parser skips bytes before the
// last "!"; the request parser takes the text as it stands.
Parsed parseRequest(std::string_view text, Request &request);
Parsed parseAnswer(std::string_view text, Answer &answer);

// A value field: a decimal number or an instrument error, within the length limit.
bool validValue(std::string_view value);

} // namespace vksproto
