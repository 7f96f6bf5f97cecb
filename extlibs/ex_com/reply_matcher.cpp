#include "reply_matcher.h"

#include "ex_com.h"

#include <algorithm>

namespace excom {

bool ReplyMatcher::decide(int result)
{
    m_decided = true;
    m_result = result;
    m_pending.clear();
    return true;
}

// Every marker in the received bytes may start the reply. A stray marker byte (noise on the
// line) claims the bytes after it as a frame whose CRC then fails, or whose length reaches past
// what will ever come; the real reply begins inside those bytes. So a candidate that fails or
// waits for more moves the scan on by one byte only, and a failure is kept for the deadline
// rather than deciding at once.
bool ReplyMatcher::feed(const std::uint8_t *data, std::size_t size)
{
    if (m_decided)
        return true;
    m_pending.insert(m_pending.end(), data, data + size);
    std::size_t keepFrom = m_pending.size();   // the first candidate still waiting for bytes
    std::size_t pos = 0;
    while (pos < m_pending.size()) {
        const DecodeResult r = decodeFrame(m_pending.data() + pos, m_pending.size() - pos);
        switch (r.status) {
        case Decoded::Noise:
            m_noise = true;
            pos += r.consumed;
            continue;
        case Decoded::NeedMore:
            keepFrom = std::min(keepFrom, pos);
            ++pos;
            continue;
        case Decoded::Broken:
            m_noise = true;
            ++pos;
            continue;
        case Decoded::BadCrc:
            // A reply to this request spoilt on the line; anything else is noise or a garbled echo.
            if (r.reply && m_pending[pos + 1] == m_request.seq)
                m_badCrc = true;
            else
                m_noise = true;
            ++pos;
            continue;
        case Decoded::Frame:
            break;
        }
        // A frame whose CRC holds: the candidates before it that waited for more were noise.
        keepFrom = m_pending.size();
        pos += r.consumed;
        const Frame &f = r.frame;
        if (!f.reply || f.seq != m_request.seq)
            continue;   // the adapter's echo of the request, or a late reply to an earlier one
        if (f.address != m_request.address)
            return decide(EX_ERR_ADDRESS);
        if ((f.command & ~kRefusedBit) != m_request.command)
            return decide(EX_ERR_FRAME);
        if (m_request.command != 0 && f.deviceType != m_request.deviceType)
            return decide(EX_ERR_DEVICE_TYPE);
        if (f.command & kRefusedBit)
            return decide(EX_ERR_REFUSED);
        m_reply = f;
        return decide(EX_OK);
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(keepFrom));
    return false;
}

int ReplyMatcher::resultAtDeadline() const
{
    if (m_decided)
        return m_result;
    if (m_badCrc)
        return EX_ERR_CRC;
    return m_noise || !m_pending.empty() ? EX_ERR_FRAME : EX_ERR_NO_ANSWER;
}

} // namespace excom
