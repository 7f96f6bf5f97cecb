// The C entries of the protocol library. Each thread keeps its own request text, sequence
// counter and the last request built for every instrument, so that an answer is matched against
// the request that the same thread sent (the driver's polling thread) and nothing is shared.
#include "protocol.h"

#include "parcel.h"

#include <array>
#include <cstring>
#include <optional>
#include <string>

namespace {

struct ThreadState {
    std::string request;
    std::uint8_t nextSeq = 0;
    std::array<std::optional<vksproto::Request>, 256> lastRequest;
    int32_t lastError = VKS2810_OK;
};

ThreadState &state()
{
    thread_local ThreadState s;
    return s;
}

bool fail(int32_t code)
{
    state().lastError = code;
    return false;
}

int32_t codeOf(vksproto::Parsed parsed)
{
    switch (parsed) {
    case vksproto::Parsed::Ok: return VKS2810_OK;
    case vksproto::Parsed::Crc: return VKS2810_ERR_CRC;
    case vksproto::Parsed::Value: return VKS2810_ERR_VALUE;
    case vksproto::Parsed::Format: break;
    }
    return VKS2810_ERR_FORMAT;
}

} // namespace

extern "C" {

const char *VKS2810_CreateParcel(uint8_t instrument, uint8_t command, uint8_t channel)
{
    ThreadState &s = state();
    const vksproto::Request request{instrument, command, channel, s.nextSeq++};
    s.lastRequest[instrument] = request;
    s.request = vksproto::encodeRequest(request);
    s.lastError = VKS2810_OK;
    return s.request.c_str();
}

bool VKS2810_AnalysisParcel(uint8_t instrument, const char *answer, char **value)
{
    if (!answer || !value || !*value)
        return fail(VKS2810_ERR_ARGUMENT);
    ThreadState &s = state();
    vksproto::Answer decoded;
    if (const auto parsed = vksproto::parseAnswer(answer, decoded); parsed != vksproto::Parsed::Ok)
        return fail(codeOf(parsed));
    if (decoded.instrument != instrument)
        return fail(VKS2810_ERR_INSTRUMENT);
    const auto &request = s.lastRequest[instrument];
    if (!request)
        return fail(VKS2810_ERR_NO_REQUEST);
    if (decoded.channel != request->channel)
        return fail(VKS2810_ERR_CHANNEL);
    if (decoded.seq != request->seq)
        return fail(VKS2810_ERR_SEQUENCE);
    // The value field is at most VKS2810_MAX_VALUE characters, well within the buffer.
    std::memcpy(*value, decoded.value.c_str(), decoded.value.size() + 1);
    s.lastError = VKS2810_OK;
    return true;
}

int32_t VKS2810_LastError(void) { return state().lastError; }

const char *VKS2810_ErrorText(int32_t code)
{
    switch (code) {
    case VKS2810_OK: return "Ok";
    case VKS2810_ERR_ARGUMENT: return "Bad argument";
    case VKS2810_ERR_FORMAT: return "Malformed answer";
    case VKS2810_ERR_CRC: return "Answer with a wrong checksum";
    case VKS2810_ERR_INSTRUMENT: return "Answer of another instrument";
    case VKS2810_ERR_CHANNEL: return "Answer for another channel";
    case VKS2810_ERR_SEQUENCE: return "Late answer to an earlier request";
    case VKS2810_ERR_NO_REQUEST: return "No request was sent to this instrument";
    case VKS2810_ERR_VALUE: return "Answer with an invalid value";
    default: return "Unknown protocol error";
    }
}

} // extern "C"
