#include "platform/profile.h"

#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "platform/file_error.h"
#include "platform/user_file.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

ProfileWriteError::ProfileWriteError(const QString &path, QString reason)
    : std::runtime_error(QStringLiteral("Unable to write to %1").arg(path).toStdString()), m_path(path),
      m_reason(std::move(reason))
{
}

QString ProfileWriteError::text() const
{
    return QStringLiteral("Unable to write to %1").arg(m_path);
}

QString ProfileWriteError::message() const
{
    return m_reason.isEmpty() ? text() : text() + QLatin1Char('\n') + m_reason;
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
        // A lone CR ends a line as CR LF and LF do, wherever it stands.
        qsizetype end = m_pos;
        while (end < size && data[end] != '\n' && data[end] != '\r')
            ++end;
        line.contentEnd = end;
        line.next = end == size ? size : (data[end] == '\r' && end + 1 < size && data[end + 1] == '\n') ? end + 2 : end + 1;
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

// The text of a regular file, opened without waiting: a folder has no text, and a named pipe
// would block the open. Nothing when it cannot be read, with errno saying why (EINVAL for
// anything but a regular file).
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

// The value as the profile functions hand it out: one pair of enclosing quotes taken away. The
// callers cut it to MaxTextLength characters (one byte each in Windows-1251).
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

// Text for one line of the file: a line break inside it would split the line and let the
// rest of the text pose as other keys or sections.
QByteArray oneLine(QByteArray bytes)
{
    bytes.replace('\r', ' ').replace('\n', ' ');
    return bytes;
}

// A section or key name as the file holds it.
QByteArray nameText(const QString &name)
{
    return oneLine(toCp1251(name));
}

// A value as the file holds it: Windows-1251, or marked UTF-8 where the code page lacks a letter.
QByteArray valueText(const QString &value)
{
    return oneLine(toStoredText(value));
}

// The file's text for a write. A file that exists but cannot be read is refused, so that a
// write never replaces content it could not see.
QByteArray loadForWrite(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {};
    std::optional<QByteArray> text = readRegular(path);
    if (!text)
        throw ProfileWriteError(path, fileErrorText(errno == EINVAL ? NotRegularFile : errno, FileAccess::Read));
    return *std::move(text);
}

// Every change reads the whole file, edits it and puts it back; two at once would each put
// back a text without the other's change. Within the process they go one at a time here...
std::mutex &writeMutex()
{
    static std::mutex mutex;
    return mutex;
}

// ... and across processes under an flock on the folder of the file that is replaced. The
// folder, not the file: the rename puts a new file under the name, and a lock on the old one
// would no longer keep anyone out; a lock file of our own would litter the user's folders.
class FolderLock {
public:
    explicit FolderLock(const QString &path)
    {
        const QString folder = QFileInfo(replacementTarget(path)).absolutePath();
        m_fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd < 0)
            throw ProfileWriteError(path, fileErrorText(errno, FileAccess::Write));
        int rc;
        do
            rc = ::flock(m_fd, LOCK_EX);
        while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            const int error = errno;
            ::close(m_fd);
            throw ProfileWriteError(path, fileErrorText(error, FileAccess::Write));
        }
    }
    ~FolderLock() { ::close(m_fd); } // the lock goes with the descriptor
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

private:
    int m_fd = -1;
};

// Replaces the file with text (atomic_file.h), so that the old file stays whole until the new
// one is complete and on the disk; a file marked read-only is refused there.
void save(const QString &path, const QByteArray &before, const QByteArray &after)
{
    if (after == before)
        return;
    if (QString reason = replaceFile(path, after); !reason.isEmpty())
        throw ProfileWriteError(path, std::move(reason));
}

// A write of a batch: section and key as asked for, the value as the file will hold it.
struct Write {
    const QString *section;
    const QString *key;
    const QByteArray *value;
};

// Makes a run of writes in one pass over the text, with the result of making them one by one:
// a key present has its value replaced in place, a new key goes after the last key of the
// first section of its name, a new section at the end of the file; a key written twice holds
// the later value. One pass keeps a save of a thousand keys from rescanning the file a
// thousand times.
QByteArray withValues(const QByteArray &text, const std::vector<Write> &writes)
{
    struct Added {
        QByteArray key, value;
    };
    struct Section {
        qsizetype lastKey = -1;             // line after which new keys go (the header at first)
        QHash<QByteArray, qsizetype> keys;  // folded key name: its line
        QHash<QByteArray, qsizetype> added; // folded key name: its place in adds
        std::vector<Added> adds;
        QByteArray header;                  // new sections: their name as written
    };

    std::vector<Line> lines;
    QHash<QByteArray, qsizetype> sectionIndex; // folded name: place in sections
    std::vector<Section> sections;
    {
        Scanner scanner(text);
        Line line;
        Section *current = nullptr;
        while (scanner.next(line)) {
            const qsizetype index = qsizetype(lines.size());
            lines.push_back(line);
            if (line.kind == Line::Section) {
                const QByteArray name = folded(line.name);
                current = nullptr;
                if (!sectionIndex.contains(name)) { // only the first section of a name counts
                    sectionIndex.insert(name, qsizetype(sections.size()));
                    sections.push_back({});
                    current = &sections.back();
                    current->lastKey = index;
                }
            } else if (current && line.kind == Line::Key) {
                current->lastKey = index;
                const QByteArray name = folded(line.name);
                if (!current->keys.contains(name)) // the first of a name counts
                    current->keys.insert(name, index);
            }
        }
    }
    const qsizetype existing = qsizetype(sections.size());

    QHash<qsizetype, QByteArray> replaced; // line: its new value
    for (const Write &w : writes) {
        const Name sectionName(*w.section);
        auto s = sectionIndex.constFind(sectionName.key());
        if (s == sectionIndex.cend()) {
            s = sectionIndex.insert(sectionName.key(), qsizetype(sections.size()));
            sections.push_back({});
            sections.back().header = '[' + nameText(*w.section) + ']';
        }
        Section &section = sections[size_t(*s)];
        const Name keyName(*w.key);
        if (const auto k = section.keys.constFind(keyName.key()); k != section.keys.cend()) {
            if (lines[size_t(*k)].value != QByteArrayView(*w.value) || replaced.contains(*k))
                replaced.insert(*k, *w.value);
        } else if (const auto a = section.added.constFind(keyName.key()); a != section.added.cend()) {
            section.adds[size_t(*a)].value = *w.value;
        } else {
            section.added.insert(keyName.key(), qsizetype(section.adds.size()));
            section.adds.push_back({nameText(*w.key), *w.value});
        }
    }

    std::vector<const Section *> addAfter(lines.size(), nullptr);
    for (qsizetype i = 0; i < existing; ++i) {
        if (!sections[size_t(i)].adds.empty())
            addAfter[size_t(sections[size_t(i)].lastKey)] = &sections[size_t(i)];
    }
    const auto appendKeys = [](QByteArray &out, const Section &section) {
        for (const Added &a : section.adds)
            out += a.key + '=' + a.value + LineEnd;
    };

    QByteArray out;
    out.reserve(text.size() + text.size() / 8 + 1024);
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line &line = lines[i];
        if (const auto r = replaced.constFind(qsizetype(i)); r != replaced.cend()) {
            out.append(text.constData() + line.start, line.equals + 1 - line.start);
            out += *r;
            out.append(text.constData() + line.contentEnd, line.next - line.contentEnd);
        } else {
            out.append(text.constData() + line.start, line.next - line.start);
        }
        if (addAfter[i]) {
            if (!line.hasLineEnd())
                out += LineEnd;
            appendKeys(out, *addAfter[i]);
        }
    }
    for (size_t i = size_t(existing); i < sections.size(); ++i) {
        if (!out.isEmpty() && !out.endsWith('\n') && !out.endsWith('\r'))
            out += LineEnd;
        out += sections[i].header + LineEnd;
        appendKeys(out, sections[i]);
    }
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

// Each single change is a batch of one.
template <typename Change>
void changeNow(const QString &path, Change change)
{
    ProfileBatch batch(path);
    change(batch);
    batch.commit();
}

void ProfileFile::writeString(const QString &section, const QString &key, const QString &value)
{
    changeNow(m_path, [&](ProfileBatch &b) { b.writeString(section, key, value); });
}

void ProfileFile::writeInteger(const QString &section, const QString &key, int value)
{
    changeNow(m_path, [&](ProfileBatch &b) { b.writeInteger(section, key, value); });
}

void ProfileFile::writeBool(const QString &section, const QString &key, bool value)
{
    changeNow(m_path, [&](ProfileBatch &b) { b.writeBool(section, key, value); });
}

void ProfileFile::writeFloat(const QString &section, const QString &key, double value)
{
    changeNow(m_path, [&](ProfileBatch &b) { b.writeFloat(section, key, value); });
}

void ProfileFile::eraseSection(const QString &section)
{
    changeNow(m_path, [&](ProfileBatch &b) { b.eraseSection(section); });
}

void ProfileFile::deleteKey(const QString &section, const QString &key)
{
    changeNow(m_path, [&](ProfileBatch &b) { b.deleteKey(section, key); });
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

// --- Batches ---

ProfileBatch::ProfileBatch(QString path)
    : m_path(std::move(path))
{
}

void ProfileBatch::writeString(const QString &section, const QString &key, const QString &value)
{
    m_edits.push_back({Edit::Write, section, key, valueText(value)});
}

void ProfileBatch::writeInteger(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

void ProfileBatch::writeBool(const QString &section, const QString &key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void ProfileBatch::writeFloat(const QString &section, const QString &key, double value)
{
    writeString(section, key, QString::number(value, 'g', 15));
}

void ProfileBatch::eraseSection(const QString &section)
{
    m_edits.push_back({Edit::EraseSection, section, {}, {}});
}

void ProfileBatch::deleteKey(const QString &section, const QString &key)
{
    m_edits.push_back({Edit::DeleteKey, section, key, {}});
}

QByteArray ProfileBatch::applied(const QByteArray &text, const std::vector<Edit> &edits)
{
    QByteArray out = text;
    std::vector<Write> writes;
    const auto flushWrites = [&] {
        if (!writes.empty())
            out = withValues(out, writes);
        writes.clear();
    };
    for (const Edit &edit : edits) {
        if (edit.kind == Edit::Write) {
            writes.push_back({&edit.section, &edit.key, &edit.value});
            continue;
        }
        flushWrites();
        const Name sectionName(edit.section);
        if (edit.kind == Edit::EraseSection) {
            bool erasing = false;
            out = without(out, [&](const Line &line) {
                if (line.kind == Line::Section)
                    erasing = sectionName.matches(line.name);
                return erasing;
            });
        } else {
            const Name keyName(edit.key);
            bool inside = false;
            bool passed = false; // only the first section of that name counts
            out = without(out, [&](const Line &line) {
                if (line.kind == Line::Section) {
                    passed = passed || inside;
                    inside = !passed && sectionName.matches(line.name);
                }
                return inside && line.kind == Line::Key && keyName.matches(line.name);
            });
        }
    }
    flushWrites();
    return out;
}

void ProfileBatch::commit()
{
    const std::vector<Edit> edits = std::exchange(m_edits, {});
    if (edits.empty())
        return;
    const std::lock_guard guard(writeMutex());
    const FolderLock lock(m_path);
    const QByteArray before = loadForWrite(m_path);
    save(m_path, before, applied(before, edits));
}

} // namespace platform
