#pragma once
// The receiving side of one exchange: takes the bytes as they come and decides when they hold
// the reply to the request, or a failure (see "Receiving" in ex_com.h).
#include "frame.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace excom {

class ReplyMatcher {
public:
    explicit ReplyMatcher(const Frame &request) : m_request(request) {}

    // Adds received bytes; true once the exchange is decided, with result() and reply() set.
    bool feed(const std::uint8_t *data, std::size_t size);
    bool decided() const { return m_decided; }
    int result() const { return m_result; }
    const Frame &reply() const { return m_reply; }
    // The result when the deadline passes undecided: a CRC error when a reply to this request
    // came spoilt, a broken frame when anything else but a skipped echo or late reply came,
    // else no answer.
    int resultAtDeadline() const;

private:
    bool decide(int result);

    Frame m_request;
    Frame m_reply;
    std::vector<std::uint8_t> m_pending;
    bool m_noise = false;
    bool m_badCrc = false;
    bool m_decided = false;
    int m_result = 0;
};

} // namespace excom
