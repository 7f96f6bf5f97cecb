#include "reply_matcher.h"

#include "ex_com.h"

namespace excom {

bool ReplyMatcher::decide(int result)
{
    m_decided = true;
    m_result = result;
    m_pending.clear();
    return true;
}

bool ReplyMatcher::feed(const std::uint8_t *data, std::size_t size)
{
    if (m_decided)
        return true;
    m_pending.insert(m_pending.end(), data, data + size);
    std::size_t pos = 0;
    while (pos < m_pending.size()) {
        const DecodeResult r = decodeFrame(m_pending.data() + pos, m_pending.size() - pos);
        if (r.status == Decoded::NeedMore)
            break;
        pos += r.consumed;
        switch (r.status) {
        case Decoded::Noise:
            m_noise = true;
            continue;
        case Decoded::Broken:
            if (r.reply)
                return decide(EX_ERR_FRAME);
            m_noise = true;
            continue;
        case Decoded::BadCrc:
            if (r.reply)
                return decide(EX_ERR_CRC);
            m_noise = true;   // a garbled echo of the request
            continue;
        default:
            break;
        }
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
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(pos));
    return false;
}

int ReplyMatcher::resultAtDeadline() const
{
    if (m_decided)
        return m_result;
    return m_noise || !m_pending.empty() ? EX_ERR_FRAME : EX_ERR_NO_ANSWER;
}

} // namespace excom
