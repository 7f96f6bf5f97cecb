#include "platform/dde_protocol.h"

#include <array>
#include <cstring>

namespace platform::dde {

namespace {

// The fields of each verb after the verb itself: an id, a name, a text (which OK may leave out).
struct VerbName {
    Verb verb;
    QByteArrayView name;
    bool hasId;
    bool hasName;
    bool hasText;
    bool textOptional;
};

constexpr std::array<VerbName, 10> kVerbs{{
    {Verb::Hello, "HELLO", true, true, false, false},
    {Verb::Req, "REQ", true, true, false, false},
    {Verb::Adv, "ADV", true, true, false, false},
    {Verb::Unadv, "UNADV", true, true, false, false},
    {Verb::Poke, "POKE", true, true, true, false},
    {Verb::Ok, "OK", true, false, true, true},
    {Verb::Err, "ERR", true, false, true, false},
    {Verb::Upd, "UPD", false, true, true, false},
    {Verb::Gone, "GONE", false, true, false, false},
    {Verb::Bye, "BYE", false, false, true, false},
}};

const VerbName &entryOf(Verb verb)
{
    for (const auto &v : kVerbs)
        if (v.verb == verb)
            return v;
    return kVerbs[0];
}

bool mustEscape(unsigned char c)
{
    return c <= 0x20 || c == '%' || c == 0x7F;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<QByteArray> unescape(QByteArrayView field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c != '%') {
            if (mustEscape(static_cast<unsigned char>(c)))
                return std::nullopt;
            out.append(c);
            continue;
        }
        if (i + 2 >= field.size())
            return std::nullopt;
        const int hi = hexValue(field[i + 1]);
        const int lo = hexValue(field[i + 2]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out.append(static_cast<char>(hi * 16 + lo));
        i += 2;
    }
    return out;
}

std::optional<std::uint32_t> parseId(QByteArrayView field)
{
    if (field.isEmpty() || field.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : field) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value == 0 || value > 0xFFFFFFFFu)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

} // namespace

void appendField(QByteArray &line, QByteArrayView raw)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char c : raw) {
        const auto b = static_cast<unsigned char>(c);
        if (mustEscape(b)) {
            line.append('%');
            line.append(kHex[b >> 4]);
            line.append(kHex[b & 0xF]);
        } else {
            line.append(c);
        }
    }
}

std::optional<Message> parseLine(QByteArrayView line)
{
    if (line.size() >= kMaxLine)
        return std::nullopt;
    // Split on single spaces; empty fields are fields too.
    std::array<QByteArrayView, 4> fields;
    int count = 0;
    qsizetype from = 0;
    while (true) {
        const qsizetype space = line.indexOf(' ', from);
        if (count == int(fields.size()))
            return std::nullopt;
        fields[count++] = line.sliced(from, (space < 0 ? line.size() : space) - from);
        if (space < 0)
            break;
        from = space + 1;
    }

    const VerbName *entry = nullptr;
    for (const auto &v : kVerbs)
        if (v.name == fields[0])
            entry = &v;
    if (!entry)
        return std::nullopt;
    const int most = 1 + entry->hasId + entry->hasName + entry->hasText;
    const int least = most - (entry->textOptional ? 1 : 0);
    if (count < least || count > most)
        return std::nullopt;

    Message m;
    m.verb = entry->verb;
    int next = 1;
    if (entry->hasId) {
        const auto id = parseId(fields[next++]);
        if (!id)
            return std::nullopt;
        m.id = *id;
    }
    auto take = [&](QByteArray &into) {
        auto value = unescape(fields[next++]);
        if (!value)
            return false;
        into = std::move(*value);
        return true;
    };
    if (entry->hasName && !take(m.name))
        return std::nullopt;
    if (next < count) {
        if (!take(m.text))
            return std::nullopt;
        m.hasText = true;
    }
    return m;
}

QByteArray formatLine(const Message &m)
{
    const VerbName &entry = entryOf(m.verb);
    QByteArray line;
    line.reserve(entry.name.size() + 12 + m.name.size() + m.text.size() + 8);
    line.append(entry.name);
    if (entry.hasId) {
        line.append(' ');
        line.append(QByteArray::number(m.id));
    }
    if (entry.hasName) {
        line.append(' ');
        appendField(line, m.name);
    }
    if (entry.hasText && (m.hasText || !entry.textOptional)) {
        line.append(' ');
        appendField(line, m.text);
    }
    line.append('\n');
    return line;
}

bool LineBuffer::append(QByteArrayView bytes)
{
    if (overflow_)
        return false;
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
        buffer_.remove(0, start_);
        scan_ -= start_;
        start_ = 0;
    }
    buffer_.append(bytes);
    return true;
}

bool LineBuffer::takeLine(QByteArray &line)
{
    if (overflow_)
        return false;
    const qsizetype from = std::max(start_, scan_);
    const void *hit = std::memchr(buffer_.constData() + from, '\n', size_t(buffer_.size() - from));
    if (!hit) {
        scan_ = buffer_.size();
        if (buffer_.size() - start_ >= kMaxLine)
            overflow_ = true;
        return false;
    }
    const qsizetype end = static_cast<const char *>(hit) - buffer_.constData();
    if (end - start_ + 1 > kMaxLine) {
        overflow_ = true;
        return false;
    }
    line = buffer_.sliced(start_, end - start_);
    start_ = end + 1;
    scan_ = start_;
    return true;
}

} // namespace platform::dde
