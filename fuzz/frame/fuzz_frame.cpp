// The link's frame decoding in both directions: the instrument's side taking requests (and
// executing them on a simulated instrument) and the program's side matching a reply, over
// arbitrary bytes. Every decoded frame must encode back to the bytes it came from.
#include "extlibs/ex_com/ex_com.h"
#include "extlibs/ex_com/frame.h"
#include "extlibs/ex_com/reply_matcher.h"
#include "sim/instrument_model.h"
#include "fuzz/fuzz_check.h"

#include <cstdlib>
#include <cstring>
#include <vector>

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    // The first bytes choose the request the reply side waits for.
    excom::Frame request;
    request.seq = data[0];
    request.deviceType = data[1];
    request.address = data[2];
    request.command = data[3] % 14;
    // Odd first bytes wrap the rest in a valid frame (a request or a reply to the request
    // above), and some of those get one byte spoiled, so that the paths past the CRC check are
    // reached without seeds.
    std::vector<uint8_t> line(data + 4, data + size);
    if (data[0] & 1) {
        excom::Frame frame = request;
        frame.reply = data[0] & 2;
        frame.command = static_cast<uint8_t>(frame.command | (data[0] & excom::kRefusedBit));
        for (size_t i = 4; i < size && frame.text.size() < excom::kMaxText; ++i)
            if (data[i] >= 0x20 && data[i] <= 0x7E)
                frame.text.push_back(static_cast<char>(data[i]));
        const std::vector<uint8_t> wrapped = excom::encodeFrame(frame);
        const size_t at = line.empty() ? 0 : data[1] % (line.size() + 1);
        line.insert(line.begin() + static_cast<std::ptrdiff_t>(at), wrapped.begin(), wrapped.end());
        if (data[0] & 4)
            line[data[2] % line.size()] ^= static_cast<uint8_t>(1u << (data[3] & 7));
    }
    const uint8_t *bytes = line.data();
    const size_t n = line.size();

    // Instrument side: scan like a receiver and act on every request found.
    sim::InstrumentModel instrument(request.address);
    size_t pos = 0;
    while (pos < n) {
        const excom::DecodeResult r = excom::decodeFrame(bytes + pos, n - pos);
        if (r.status == excom::Decoded::NeedMore)
            break;
        check(r.consumed > 0 && r.consumed <= n - pos);
        if (r.status == excom::Decoded::Frame) {
            const std::vector<uint8_t> again = excom::encodeFrame(r.frame);
            check(again.size() == r.consumed && std::memcmp(again.data(), bytes + pos, r.consumed) == 0);
            if (!r.frame.reply) {
                const sim::CommandReply reply = instrument.execute(r.frame.command, r.frame.text);
                check(reply.text.size() <= excom::kMaxText);
            }
        }
        pos += r.consumed;
    }

    // Program side: the same bytes in two pieces, as they may arrive.
    excom::ReplyMatcher matcher(request);
    const size_t split = n / 2;
    if (!matcher.feed(bytes, split))
        matcher.feed(bytes + split, n - split);
    const int result = matcher.decided() ? matcher.result() : matcher.resultAtDeadline();
    check(result <= 0);
    if (matcher.decided() && result == EX_OK) {
        check(matcher.reply().reply && matcher.reply().seq == request.seq && matcher.reply().address == request.address);
        check(matcher.reply().text.size() <= excom::kMaxText);
    }

    // And one byte at a time, as a slow line hands them over: every marker is tried as the
    // start of the reply, whatever came before it.
    excom::ReplyMatcher slow(request);
    for (size_t i = 0; i < n && !slow.feed(bytes + i, 1); ++i) {
    }
    check((slow.decided() ? slow.result() : slow.resultAtDeadline()) <= 0);
    return 0;
}
