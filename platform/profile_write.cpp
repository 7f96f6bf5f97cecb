// The writes of profile.h: single changes, batches and what they share, each one read of the
// file, one edit of its text and one atomic replacement under the profile lock.
#include "platform/profile.h"

#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "platform/file_error.h"
#include "platform/profile_lock.h"
#include "platform/profile_text.h"

#include <QFileInfo>
#include <QHash>

#include <cerrno>
#include <utility>

namespace platform {

using namespace profile_text;

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
    const ProfileWriteLock lock(m_path);
    const QByteArray before = loadForWrite(m_path);
    save(m_path, before, applied(before, edits));
}

} // namespace platform
