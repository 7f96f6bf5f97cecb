// The driver's answer parser over arbitrary bytes: the codec's parser and the library entry the
// driver calls. A decoded answer must encode back to its own text, its value must be a valid
// value, and the library must accept only what matches the request it built.
#include "extlibs/protocol/parcel.h"
#include "extlibs/protocol/protocol.h"
#include "fuzz/fuzz_check.h"

#include <cstdlib>
#include <cstring>
#include <string>

using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const std::string request = VKS2810_CreateParcel(data[0], 1, data[1]);
    std::string text(reinterpret_cast<const char *>(data + 3), size - 3);
    // Odd third bytes put a valid answer to that request into the bytes, so that the paths past
    // the CRC check are reached without seeds; some of those get one byte spoiled.
    if (data[2] & 1) {
        vksproto::Answer a{data[0], data[1], static_cast<uint8_t>(std::strtoul(request.substr(13, 2).c_str(), nullptr, 16)),
                           std::to_string(size)};
        const std::string good = vksproto::encodeAnswer(a);
        text.insert(text.empty() ? 0 : data[2] % (text.size() + 1), good);
        if (data[2] & 2)
            text[data[1] % text.size()] ^= static_cast<char>(1u << (data[2] >> 5));
    }

    vksproto::Answer answer;
    if (vksproto::parseAnswer(text, answer) == vksproto::Parsed::Ok) {
        check(vksproto::validValue(answer.value));
        const std::string again = vksproto::encodeAnswer(answer);
        check(text.find(again.substr(0, again.size() - 1)) != std::string::npos);
    }
    vksproto::Request parsed;
    if (vksproto::parseRequest(text, parsed) == vksproto::Parsed::Ok)
        check(vksproto::encodeRequest(parsed).substr(0, 20) == text.substr(0, 20));

    // The library as the driver calls it: a C text, the 255-byte value buffer.
    const std::string cText = text.substr(0, text.find('\0'));
    char buffer[VKS2810_VALUE_SIZE] = "0";
    char *value = buffer;
    if (VKS2810_AnalysisParcel(data[0], cText.c_str(), &value)) {
        vksproto::Answer same;
        check(vksproto::parseAnswer(cText, same) == vksproto::Parsed::Ok);
        check(same.instrument == data[0] && same.channel == data[1]);
        check(same.value == buffer && std::strlen(buffer) <= VKS2810_MAX_VALUE);
    } else {
        check(std::strcmp(buffer, "0") == 0);
    }
    return 0;
}
