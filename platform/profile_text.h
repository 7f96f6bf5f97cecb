#pragma once
// The text of a profile file as the reads and the writes of profile.h see it: Windows-1251
// bytes walked line by line, with section and key names matched without regard to letter case.
// Names and values are converted only when they leave or enter the file, so that a scan of the
// whole file costs no conversions. Used by profile.cpp and profile_write.cpp only.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace platform::profile_text {

inline const QByteArray LineEnd = QByteArrayLiteral("\r\n");

// Letter case folding of Windows-1251 bytes (Latin and Cyrillic letters alike).
QByteArray folded(QByteArrayView bytes);
// Blanks taken from both ends.
QByteArrayView trimmed(QByteArrayView s);

// A section or key name as asked for by a caller, ready for comparison with the file's bytes.
class Name {
public:
    explicit Name(const QString &name);
    bool matches(QByteArrayView bytes) const;
    const QByteArray &key() const { return m_folded; }

private:
    QByteArray m_folded;
};

// One line of the file: its text is [start, contentEnd), its line end (CR LF, LF, CR or none at
// the end of the file) runs up to next.
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
// lines starting with ";" are comments. Anything else is kept but means nothing. A UTF-8
// byte-order mark at the start of the file reads as absent (it stays among the first line's
// bytes, so a write keeps it).
class Scanner {
public:
    explicit Scanner(const QByteArray &text) : m_text(text) {}
    bool next(Line &line);

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

std::optional<Line> findKey(const QByteArray &text, const Name &section, const Name &key);

// The text of a regular file, opened without waiting: a folder has no text, and a named pipe
// would block the open. Nothing when it cannot be read, with errno saying why (EINVAL for
// anything but a regular file).
std::optional<QByteArray> readRegular(const QString &path);

// The file's text for a read; a file that cannot be read reads as empty.
QByteArray load(const QString &path);

// The value as the profile functions hand it out: one pair of enclosing quotes taken away. The
// callers cut it to MaxTextLength characters (one byte each in Windows-1251).
QByteArrayView unquoted(QByteArrayView value);

// The value of a key in a file's text, as a view into that text.
std::optional<QByteArrayView> valueIn(const QByteArray &text, const QString &section, const QString &key);

} // namespace platform::profile_text
