// The DDE line protocol's reader and parser, fed arbitrary bytes: nothing may crash, and every
// message that parses must come back unchanged through formatLine and parseLine.
#include "platform/dde_protocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace platform::dde;

namespace {

void checkRoundTrip(const Message &m)
{
    QByteArray line = formatLine(m);
    if (!line.endsWith('\n'))
        std::abort();
    line.chop(1);
    const auto again = parseLine(line);
    if (!again || again->verb != m.verb || again->id != m.id || again->name != m.name || again->text != m.text
        || again->hasText != m.hasText)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte picks a verb to put in front (so that the parser's fields are reached
    // quickly) and the size of the pieces in which the stream arrives.
    static const char *const kPrefixes[] = {"HELLO ", "REQ ", "ADV ", "UNADV ", "POKE ", "OK ",
                                            "ERR ",   "UPD ", "GONE ", "BYE ",  ""};
    if (size == 0)
        return 0;
    const unsigned pick = data[0];
    const QByteArray stream = QByteArray(kPrefixes[pick % 11])
                              + QByteArray(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const qsizetype piece = 1 + qsizetype(pick / 11) * 7;

    LineBuffer buffer;
    QByteArray line;
    for (qsizetype at = 0; at < stream.size(); at += piece) {
        if (!buffer.append(QByteArrayView(stream).sliced(at, std::min(piece, stream.size() - at))))
            break;
        while (buffer.takeLine(line))
            if (const auto message = parseLine(line))
                checkRoundTrip(*message);
    }
    if (const auto whole = parseLine(stream))
        checkRoundTrip(*whole);
    return 0;
}
