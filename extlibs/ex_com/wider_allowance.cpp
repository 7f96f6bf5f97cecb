#include "wider_allowance.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

namespace excom {

std::chrono::milliseconds widerAllowance(const char *name, int fieldMs, int mostMs)
{
    const char *env = std::getenv(name);
    if (!env)
        return std::chrono::milliseconds(fieldMs);
    const std::string_view text(env);
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    const bool wider = ec == std::errc() && end == text.data() + text.size() && value > fieldMs && value <= mostMs;
    return std::chrono::milliseconds(wider ? value : fieldMs);
}

} // namespace excom
