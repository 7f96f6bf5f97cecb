// The reads of profile.h: single values from the file as it stands, and snapshots of a whole
// file for many reads. The writes are in profile_write.cpp.
#include "platform/profile.h"

#include "platform/codepage.h"
#include "platform/profile_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

namespace platform {

using namespace profile_text;

namespace {

// The first MaxTextLength bytes of a value, for reading a number.
QByteArrayView cut(QByteArrayView value)
{
    return value.first(std::min<qsizetype>(value.size(), ProfileFile::MaxTextLength));
}

// Decimal with an optional sign, or hexadecimal after "0x", "0X" or "$" (up to 32 bits, taken
// as the bit pattern of a signed number). The whole text must be the number.
std::optional<int> parseInteger(QByteArrayView s)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == s.size())
        return std::nullopt;
    const quint64 limit = base == 16 ? 0xFFFFFFFFull : negative ? 0x80000000ull : 0x7FFFFFFFull;
    quint64 v = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        v = v * base + quint64(digit);
        if (v > limit)
            return std::nullopt;
    }
    const quint32 bits = negative ? quint32(0u - quint32(v)) : quint32(v);
    return int(bits);
}

// A decimal number with "." as separator and an optional exponent; the whole text must be it.
std::optional<double> parseFloat(QByteArrayView s)
{
    const char *begin = s.data();
    const char *end = begin + s.size();
    if (begin != end && *begin == '+' && end - begin > 1 && begin[1] != '-')
        ++begin;
    double value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::general);
    if (begin == end || ec != std::errc() || ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// What the reads hand out for a value found (or not) in the file.
QString stringOf(std::optional<QByteArrayView> value, const QString &def)
{
    if (value)
        return fromStoredText(value->toByteArray()).left(ProfileFile::MaxTextLength);
    // The Windows call drops the trailing blanks of a default as it hands it out.
    qsizetype end = def.size();
    while (end > 0 && def.at(end - 1) == QLatin1Char(' '))
        --end;
    return def.left(std::min<qsizetype>(end, ProfileFile::MaxTextLength));
}

int integerOf(std::optional<QByteArrayView> value, int def)
{
    const std::optional<int> number = value ? parseInteger(cut(*value)) : std::nullopt;
    return number.value_or(def);
}

double floatOf(std::optional<QByteArrayView> value, double def)
{
    const std::optional<double> number = value ? parseFloat(cut(*value)) : std::nullopt;
    return number.value_or(def);
}

} // namespace

ProfileFile::ProfileFile(QString path)
    : m_path(std::move(path))
{
}

QString ProfileFile::readString(const QString &section, const QString &key, const QString &def) const
{
    const QByteArray text = load(m_path);
    return stringOf(valueIn(text, section, key), def);
}

int ProfileFile::readInteger(const QString &section, const QString &key, int def) const
{
    const QByteArray text = load(m_path);
    return integerOf(valueIn(text, section, key), def);
}

bool ProfileFile::readBool(const QString &section, const QString &key, bool def) const
{
    return readInteger(section, key, def ? 1 : 0) != 0;
}

double ProfileFile::readFloat(const QString &section, const QString &key, double def) const
{
    const QByteArray text = load(m_path);
    return floatOf(valueIn(text, section, key), def);
}

bool ProfileFile::sectionExists(const QString &section) const
{
    bool hasKey = false;
    visitSection(load(m_path), Name(section), [&](const Line &line) {
        hasKey = line.kind == Line::Key;
        return !hasKey;
    });
    return hasKey;
}

bool ProfileFile::valueExists(const QString &section, const QString &key) const
{
    return findKey(load(m_path), Name(section), Name(key)).has_value();
}

QStringList ProfileFile::readSection(const QString &section) const
{
    return ProfileSnapshot(m_path).readSection(section);
}

QStringList ProfileFile::readSections() const
{
    return ProfileSnapshot(m_path).readSections();
}

// --- Snapshots ---

ProfileSnapshot::ProfileSnapshot(const QString &path)
    : m_text(load(path))
{
    Scanner scanner(m_text);
    Line line;
    Section *current = nullptr;
    while (scanner.next(line)) {
        if (line.kind == Line::Section) {
            const QByteArray name = folded(line.name);
            current = nullptr;
            if (!m_sections.contains(name)) { // only the first section of a name counts
                current = &m_sections[name];
                m_sectionNames.append(fromCp1251(line.name.toByteArray()));
            }
        } else if (current && line.kind == Line::Key) {
            const QByteArray name = folded(line.name);
            if (!current->values.contains(name)) { // the first of a name counts
                current->values.insert(name, unquoted(line.value));
                current->keys.append(fromCp1251(line.name.toByteArray()));
            }
        }
    }
}

const QByteArrayView *ProfileSnapshot::value(const QString &section, const QString &key) const
{
    const auto s = m_sections.constFind(Name(section).key());
    if (s == m_sections.cend())
        return nullptr;
    const auto v = s->values.constFind(Name(key).key());
    return v == s->values.cend() ? nullptr : &*v;
}

QString ProfileSnapshot::readString(const QString &section, const QString &key, const QString &def) const
{
    const QByteArrayView *v = value(section, key);
    return stringOf(v ? std::optional(*v) : std::nullopt, def);
}

int ProfileSnapshot::readInteger(const QString &section, const QString &key, int def) const
{
    const QByteArrayView *v = value(section, key);
    return integerOf(v ? std::optional(*v) : std::nullopt, def);
}

bool ProfileSnapshot::readBool(const QString &section, const QString &key, bool def) const
{
    return readInteger(section, key, def ? 1 : 0) != 0;
}

double ProfileSnapshot::readFloat(const QString &section, const QString &key, double def) const
{
    const QByteArrayView *v = value(section, key);
    return floatOf(v ? std::optional(*v) : std::nullopt, def);
}

bool ProfileSnapshot::sectionExists(const QString &section) const
{
    const auto s = m_sections.constFind(Name(section).key());
    return s != m_sections.cend() && !s->keys.isEmpty();
}

bool ProfileSnapshot::valueExists(const QString &section, const QString &key) const
{
    return value(section, key) != nullptr;
}

QStringList ProfileSnapshot::readSection(const QString &section) const
{
    return m_sections.value(Name(section).key()).keys;
}

QStringList ProfileSnapshot::readSections() const
{
    return m_sectionNames;
}

} // namespace platform
