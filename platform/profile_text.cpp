#include "platform/profile_text.h"

#include "platform/codepage.h"
#include "platform/user_file.h"

#include <QFile>

#include <array>

#include <cerrno>
#include <unistd.h>

namespace platform::profile_text {

namespace {

constexpr QByteArrayView Utf8FileMark = "\xEF\xBB\xBF";

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

} // namespace

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

Name::Name(const QString &name)
    : m_folded(folded(trimmed(toCp1251(name))))
{
}

bool Name::matches(QByteArrayView bytes) const
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

bool Scanner::next(Line &line)
{
    const qsizetype size = m_text.size();
    if (m_pos >= size)
        return false;
    const char *data = m_text.constData();
    line = Line{};
    line.start = m_pos;
    // A lone CR ends a line as CR LF and LF do, wherever it stands.
    qsizetype end = m_pos;
    while (end < size && data[end] != '\n' && data[end] != '\r')
        ++end;
    line.contentEnd = end;
    line.next = end == size ? size : (data[end] == '\r' && end + 1 < size && data[end + 1] == '\n') ? end + 2 : end + 1;
    m_pos = line.next;

    // Many editors start a UTF-8 file with a byte-order mark: it is no part of the first line's
    // text (which would then never be a section header), though it stays among its bytes.
    const qsizetype textStart = line.start == 0 && m_text.startsWith(Utf8FileMark) ? Utf8FileMark.size() : line.start;
    const QByteArrayView text = trimmed(QByteArrayView(data + textStart, line.contentEnd - textStart));
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

std::optional<QByteArray> readRegular(const QString &path)
{
    const int fd = openRegularDescriptor(path);
    if (fd < 0)
        return std::nullopt;
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        errno = EIO;
        return std::nullopt;
    }
    QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        errno = EIO;
        return std::nullopt;
    }
    return text;
}

// The file's text for a read; a file that cannot be read reads as empty.
QByteArray load(const QString &path)
{
    return readRegular(path).value_or(QByteArray());
}

QByteArrayView unquoted(QByteArrayView value)
{
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
        value = value.sliced(1, value.size() - 2);
    return value;
}

// The value of a key in a file's text, as a view into that text.
std::optional<QByteArrayView> valueIn(const QByteArray &text, const QString &section, const QString &key)
{
    const std::optional<Line> line = findKey(text, Name(section), Name(key));
    if (!line)
        return std::nullopt;
    return unquoted(line->value);
}

} // namespace platform::profile_text
