#include "platform/profile.h"

#include "platform/codepage.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>

namespace platform {

ProfileWriteError::ProfileWriteError(const QString &path)
    : std::runtime_error(QStringLiteral("Unable to write to %1").arg(path).toStdString()), m_path(path)
{
}

QString ProfileWriteError::text() const
{
    return QStringLiteral("Unable to write to %1").arg(m_path);
}

namespace {

// The file is handled as Windows-1251 bytes; names and values are converted only when they
// leave or enter this file, so that a scan of the whole file costs no conversions.

const QByteArray LineEnd = QByteArrayLiteral("\r\n");

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Letter case folding of single Windows-1251 bytes (Latin and Cyrillic letters alike).
const std::array<uchar, 256> &foldTable()
{
    static const std::array<uchar, 256> table = [] {
        std::array<uchar, 256> t{};
        for (int b = 0; b < 256; ++b) {
            t[b] = uchar(b);
            const QString c = fromCp1251(QByteArray(1, char(b)));
            const QString folded = c.toCaseFolded();
            const QByteArray back = toCp1251(folded);
            if (c.size() == 1 && back.size() == 1 && fromCp1251(back) == folded)
                t[b] = uchar(back[0]);
        }
        return t;
    }();
    return table;
}

QByteArray folded(QByteArrayView bytes)
{
    const auto &fold = foldTable();
    QByteArray out(bytes.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        out[i] = char(fold[uchar(bytes[i])]);
    return out;
}

QByteArrayView trimmed(QByteArrayView s)
{
    qsizetype b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.sliced(b, e - b);
}

// A section or key name as asked for by a caller, ready for comparison with the file's bytes.
class Name {
public:
    explicit Name(const QString &name) : m_folded(folded(trimmed(toCp1251(name)))) {}
    bool matches(QByteArrayView bytes) const
    {
        if (bytes.size() != m_folded.size())
            return false;
        const auto &fold = foldTable();
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            if (char(fold[uchar(bytes[i])]) != m_folded[i])
                return false;
        }
        return true;
    }

private:
    QByteArray m_folded;
};

// One line of the file: its text is [start, contentEnd), its line end (CR LF, LF or none at the
// end of the file) runs up to next.
struct Line {
    enum Kind { Other, Section, Key };
    Kind kind = Other;
    qsizetype start = 0, contentEnd = 0, next = 0;
    QByteArrayView name;  // section or key name, without surrounding blanks
    qsizetype equals = 0; // keys: position of the "="
    QByteArrayView value; // keys: value, without surrounding blanks

    bool hasLineEnd() const { return next > contentEnd; }
};

// Walks the lines of a file's text once, front to back. A section header is "[name]" (what
// follows the "]" is ignored); a key line is "name=value" with a name that is not empty;
// lines starting with ";" are comments. Anything else is kept but means nothing.
class Scanner {
public:
    explicit Scanner(const QByteArray &text) : m_text(text) {}

    bool next(Line &line)
    {
        const qsizetype size = m_text.size();
        if (m_pos >= size)
            return false;
        const char *data = m_text.constData();
        line = Line{};
        line.start = m_pos;
        const void *nl = std::memchr(data + m_pos, '\n', size_t(size - m_pos));
        line.contentEnd = nl ? static_cast<const char *>(nl) - data : size;
        line.next = nl ? line.contentEnd + 1 : size;
        if (nl && line.contentEnd > line.start && data[line.contentEnd - 1] == '\r')
            --line.contentEnd;
        m_pos = line.next;

        const QByteArrayView text = trimmed(QByteArrayView(data + line.start, line.contentEnd - line.start));
        if (text.isEmpty() || text[0] == ';')
            return true;
        if (text[0] == '[') {
            const qsizetype close = text.indexOf(']');
            if (close > 0) {
                line.kind = Line::Section;
                line.name = trimmed(text.sliced(1, close - 1));
            }
            return true;
        }
        const qsizetype eq = text.indexOf('=');
        if (eq > 0) {
            const QByteArrayView name = trimmed(text.first(eq));
            if (!name.isEmpty()) {
                line.kind = Line::Key;
                line.name = name;
                line.equals = (text.data() - data) + eq;
                line.value = trimmed(text.sliced(eq + 1));
            }
        }
        return true;
    }

private:
    const QByteArray &m_text;
    qsizetype m_pos = 0;
};

// Calls fn(line) for every line of the first section of that name after its header, until fn
// returns false. Returns whether that section exists.
template <typename Fn>
bool visitSection(const QByteArray &text, const Name &section, Fn fn)
{
    Scanner scanner(text);
    Line line;
    bool inside = false;
    while (scanner.next(line)) {
        if (line.kind == Line::Section) {
            if (inside)
                return true;
            inside = section.matches(line.name);
            continue;
        }
        if (inside && !fn(line))
            return true;
    }
    return inside;
}

std::optional<Line> findKey(const QByteArray &text, const Name &section, const Name &key)
{
    std::optional<Line> found;
    visitSection(text, section, [&](const Line &line) {
        if (line.kind == Line::Key && key.matches(line.name))
            found = line;
        return !found;
    });
    return found;
}

// The file's text for a read; a file that cannot be read reads as empty. Only plain files are
// opened: a folder has no text, and a named pipe would block the open.
QByteArray load(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The value as the profile functions hand it out: one pair of enclosing quotes taken away,
// and at most MaxTextLength characters (one byte each in Windows-1251).
std::optional<QByteArray> readValue(const QString &path, const QString &section, const QString &key)
{
    const QByteArray text = load(path);
    const std::optional<Line> line = findKey(text, Name(section), Name(key));
    if (!line)
        return std::nullopt;
    QByteArrayView value = line->value;
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.sliced(1, value.size() - 2);
    return value.first(std::min<qsizetype>(value.size(), ProfileFile::MaxTextLength)).toByteArray();
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

// Text for one line of the file: a line break inside it would split the line and let the
// rest of the text pose as other keys or sections.
QByteArray lineText(const QString &text)
{
    QByteArray bytes = toCp1251(text);
    bytes.replace('\r', ' ').replace('\n', ' ');
    return bytes;
}

// The file's text for a write. A file that exists but cannot be read is refused, so that a
// write never replaces content it could not see.
QByteArray loadForWrite(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {};
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        throw ProfileWriteError(path);
    return file.readAll();
}

// Every change reads the whole file, edits it and puts it back; two at once from this process
// would each put back a text without the other's change. They go one at a time.
std::mutex &writeMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Replaces the file with text through a temporary file beside it and a rename, so that the old
// file stays whole until the new one is complete. A file without any write permission counts
// as read-only, as the read-only attribute does on Windows, even for the superuser.
void save(const QString &path, const QByteArray &before, const QByteArray &after)
{
    const QFileInfo info(path);
    if (after == before)
        return;
    constexpr auto writeBits = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (info.exists() && (!info.isWritable() || !(info.permissions() & writeBits)))
        throw ProfileWriteError(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(after) != after.size() || !file.commit())
        throw ProfileWriteError(path);
}

QByteArray withValue(const QByteArray &text, const QString &section, const QString &key, const QByteArray &value)
{
    const Name sectionName(section);
    const Name keyName(key);
    bool sectionFound = false;
    std::optional<Line> found;
    std::optional<Line> lastKey;
    qsizetype insertAt = 0;
    {
        Scanner scanner(text);
        Line line;
        bool inside = false;
        while (!found && scanner.next(line)) {
            if (line.kind == Line::Section) {
                if (inside)
                    break;
                inside = sectionName.matches(line.name);
                if (inside) {
                    sectionFound = true;
                    lastKey = line;
                }
            } else if (inside && line.kind == Line::Key) {
                lastKey = line;
                if (keyName.matches(line.name))
                    found = line;
            }
        }
    }
    if (found) {
        if (found->value == QByteArrayView(value))
            return text;
        QByteArray out = text;
        out.replace(found->equals + 1, found->contentEnd - found->equals - 1, value);
        return out;
    }
    QByteArray out = text;
    QByteArray added;
    if (sectionFound) {
        insertAt = lastKey->next;
        if (!lastKey->hasLineEnd())
            added += LineEnd;
    } else {
        insertAt = text.size();
        if (!text.isEmpty() && !text.endsWith('\n'))
            added += LineEnd;
        added += '[' + lineText(section) + ']' + LineEnd;
    }
    added += lineText(key) + '=' + value + LineEnd;
    out.insert(insertAt, added);
    return out;
}

// Copies the text without the lines for which drop(line, insideSection) says so.
template <typename Drop>
QByteArray without(const QByteArray &text, Drop drop)
{
    QByteArray out;
    out.reserve(text.size());
    Scanner scanner(text);
    Line line;
    while (scanner.next(line)) {
        if (!drop(line))
            out.append(text.constData() + line.start, line.next - line.start);
    }
    return out;
}

} // namespace

ProfileFile::ProfileFile(QString path)
    : m_path(std::move(path))
{
}

QString ProfileFile::readString(const QString &section, const QString &key, const QString &def) const
{
    const std::optional<QByteArray> value = readValue(m_path, section, key);
    return value ? fromCp1251(*value) : def;
}

int ProfileFile::readInteger(const QString &section, const QString &key, int def) const
{
    const std::optional<QByteArray> value = readValue(m_path, section, key);
    const std::optional<int> number = value ? parseInteger(*value) : std::nullopt;
    return number.value_or(def);
}

bool ProfileFile::readBool(const QString &section, const QString &key, bool def) const
{
    return readInteger(section, key, def ? 1 : 0) != 0;
}

double ProfileFile::readFloat(const QString &section, const QString &key, double def) const
{
    const std::optional<QByteArray> value = readValue(m_path, section, key);
    const std::optional<double> number = value ? parseFloat(*value) : std::nullopt;
    return number.value_or(def);
}

void ProfileFile::writeString(const QString &section, const QString &key, const QString &value)
{
    const std::lock_guard guard(writeMutex());
    const QByteArray before = loadForWrite(m_path);
    save(m_path, before, withValue(before, section, key, lineText(value)));
}

void ProfileFile::writeInteger(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

void ProfileFile::writeBool(const QString &section, const QString &key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void ProfileFile::writeFloat(const QString &section, const QString &key, double value)
{
    writeString(section, key, QString::number(value, 'g', 15));
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
    QStringList keys;
    QSet<QByteArray> seen;
    visitSection(load(m_path), Name(section), [&](const Line &line) {
        if (line.kind == Line::Key) {
            const QByteArray name = folded(line.name);
            if (!seen.contains(name)) {
                seen.insert(name);
                keys.append(fromCp1251(line.name.toByteArray()));
            }
        }
        return true;
    });
    return keys;
}

QStringList ProfileFile::readSections() const
{
    const QByteArray text = load(m_path);
    QStringList sections;
    QSet<QByteArray> seen;
    Scanner scanner(text);
    Line line;
    while (scanner.next(line)) {
        if (line.kind != Line::Section)
            continue;
        const QByteArray name = folded(line.name);
        if (!seen.contains(name)) {
            seen.insert(name);
            sections.append(fromCp1251(line.name.toByteArray()));
        }
    }
    return sections;
}

void ProfileFile::eraseSection(const QString &section)
{
    const std::lock_guard guard(writeMutex());
    const QByteArray before = loadForWrite(m_path);
    const Name name(section);
    bool erasing = false;
    save(m_path, before, without(before, [&](const Line &line) {
        if (line.kind == Line::Section)
            erasing = name.matches(line.name);
        return erasing;
    }));
}

void ProfileFile::deleteKey(const QString &section, const QString &key)
{
    const std::lock_guard guard(writeMutex());
    const QByteArray before = loadForWrite(m_path);
    const Name sectionName(section);
    const Name keyName(key);
    bool inside = false;
    bool passed = false; // only the first section of that name counts
    save(m_path, before, without(before, [&](const Line &line) {
        if (line.kind == Line::Section) {
            passed = passed || inside;
            inside = !passed && sectionName.matches(line.name);
        }
        return inside && line.kind == Line::Key && keyName.matches(line.name);
    }));
}

} // namespace platform
