#pragma once
// A delay before every reply of a simulator, fixed or random within a range: it plays what a USB
// serial adapter's latency timer, an instrument that takes tens of milliseconds to answer, or a
// busy computer add to a real line, so that tests and benchmarks can check that late replies
// are kept.
#include <chrono>
#include <cstddef>
#include <optional>
#include <random>
#include <string>

namespace sim {

struct ReplyDelay {
    std::chrono::milliseconds least{0};
    std::chrono::milliseconds most{0};   // least when the delay is fixed
    // With burstBytes > 0 the reply comes in bursts of that many bytes, one every burstGap, as
    // a USB adapter passes on what its latency timer held (16 ms by default).
    std::size_t burstBytes = 0;
    std::chrono::milliseconds burstGap{16};

    // One reply's delay: uniformly random from least to most (to the microsecond).
    std::chrono::microseconds pick(std::mt19937 &random) const;
};

// "30" (milliseconds) or "30-60" (a random delay from 30 to 60 ms); nothing for another text,
// a range whose end is below its start, or a delay over a minute.
std::optional<ReplyDelay> parseReplyDelay(const std::string &text);

} // namespace sim
