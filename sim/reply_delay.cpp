#include "reply_delay.h"

#include <charconv>

namespace sim {

namespace {

constexpr long kMostMs = 60000;

std::optional<long> milliseconds(const std::string &text)
{
    long value = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty() || value < 0 || value > kMostMs)
        return std::nullopt;
    return value;
}

} // namespace

std::chrono::microseconds ReplyDelay::pick(std::mt19937 &random) const
{
    const std::chrono::microseconds low = least, high = most;
    if (high <= low)
        return low;
    return std::chrono::microseconds(std::uniform_int_distribution<long long>(low.count(), high.count())(random));
}

std::optional<ReplyDelay> parseReplyDelay(const std::string &text)
{
    const std::size_t dash = text.find('-');
    const auto least = milliseconds(text.substr(0, dash));
    const auto most = dash == std::string::npos ? least : milliseconds(text.substr(dash + 1));
    if (!least || !most || *most < *least)
        return std::nullopt;
    return ReplyDelay{std::chrono::milliseconds(*least), std::chrono::milliseconds(*most)};
}

} // namespace sim
