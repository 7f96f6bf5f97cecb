#include "profile_batch.h"

#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "platform/profile.h"

#include <QFile>
#include <QFileInfo>

namespace {

const QByteArray LineEnd = QByteArrayLiteral("\r\n");

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
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

// The comparison key of a name as Windows-1251 bytes: letter case does not count.
QByteArray folded(QByteArrayView bytes)
{
    return platform::fromCp1251(bytes.toByteArray()).toCaseFolded().toUtf8();
}

QByteArray foldedName(const QString &name)
{
    return folded(trimmed(platform::toCp1251(name)));
}

// A text as one line of the file: a line break inside it would let the rest pose as other keys.
QByteArray lineText(const QString &text)
{
    QByteArray bytes = platform::toCp1251(text);
    bytes.replace('\r', ' ').replace('\n', ' ');
    return bytes;
}

QByteArrayView lineEndOf(const QByteArray &line)
{
    if (line.endsWith(LineEnd))
        return LineEnd;
    if (line.endsWith('\n'))
        return "\n";
    return {};
}

} // namespace

ProfileBatch::ProfileBatch(QString path)
    : m_path(std::move(path))
{
    const QFileInfo info(m_path);
    if (info.exists() || info.isSymLink()) {
        QFile file(m_path);
        if (!info.isFile() || !file.open(QIODevice::ReadOnly))
            throw platform::ProfileWriteError(m_path);
        m_before = file.readAll();
    }
    parse(m_before);
}

// Splits the text into the lines before the first section and one run of lines per section,
// with the same reading of headers, keys and comments as the profile layer.
void ProfileBatch::parse(const QByteArray &text)
{
    m_sections.append(Section{});
    qsizetype pos = 0;
    while (pos < text.size()) {
        const qsizetype nl = text.indexOf('\n', pos);
        const qsizetype next = nl < 0 ? text.size() : nl + 1;
        Line line{text.sliced(pos, next - pos)};
        const QByteArrayView content = trimmed(QByteArrayView(text).sliced(pos, next - pos));
        pos = next;

        if (content.startsWith('[') && content.indexOf(']') > 0) {
            Section section;
            section.name = folded(trimmed(content.sliced(1, content.indexOf(']') - 1)));
            section.lines.append(line);
            m_sections.append(section);
            continue;
        }
        Section &section = m_sections.last();
        const qsizetype eq = content.indexOf('=');
        if (!content.startsWith(';') && eq > 0 && !trimmed(content.first(eq)).isEmpty()) {
            line.key = folded(trimmed(content.first(eq)));
            line.equals = line.bytes.indexOf('='); // no blank before the name holds one
            if (!section.keys.contains(line.key)) // the first of equal keys counts
                section.keys.insert(line.key, section.lines.size());
            section.lastKey = section.lines.size();
        }
        section.lines.append(line);
    }
}

ProfileBatch::Section *ProfileBatch::findSection(const QByteArray &name)
{
    for (qsizetype i = 1; i < m_sections.size(); ++i) {
        if (!m_sections[i].erased && m_sections[i].name == name)
            return &m_sections[i];
    }
    return nullptr;
}

void ProfileBatch::writeString(const QString &section, const QString &key, const QString &value)
{
    const QByteArray sectionName = foldedName(section);
    const QByteArray keyName = foldedName(key);
    const QByteArray bytes = lineText(value);

    Section *target = findSection(sectionName);
    if (!target) {
        // A new section at the end, on a line of its own.
        for (auto it = m_sections.rbegin(); it != m_sections.rend(); ++it) {
            if (!it->erased && !it->lines.isEmpty()) {
                if (!it->lines.last().bytes.endsWith('\n'))
                    it->lines.last().bytes += LineEnd;
                break;
            }
        }
        Section added;
        added.name = sectionName;
        added.lines.append(Line{'[' + lineText(section) + ']' + LineEnd});
        m_sections.append(added);
        target = &m_sections.last();
    }

    if (const auto found = target->keys.constFind(keyName); found != target->keys.cend()) {
        Line &line = target->lines[*found];
        const QByteArrayView end = lineEndOf(line.bytes);
        const QByteArrayView old = trimmed(QByteArrayView(line.bytes).sliced(line.equals + 1));
        if (old != QByteArrayView(bytes))
            line.bytes = line.bytes.first(line.equals + 1) + bytes + end.toByteArray();
        return;
    }

    Line &after = target->lines[target->lastKey];
    if (!after.bytes.endsWith('\n'))
        after.bytes += LineEnd;
    Line line{lineText(key) + '=' + bytes + LineEnd, keyName, 0};
    line.equals = line.bytes.indexOf('=');
    target->lastKey += 1;
    target->lines.insert(target->lastKey, line);
    target->keys.insert(keyName, target->lastKey);
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
    const QByteArray name = foldedName(section);
    for (qsizetype i = 1; i < m_sections.size(); ++i) {
        if (m_sections[i].name == name)
            m_sections[i].erased = true;
    }
}

void ProfileBatch::commit()
{
    QByteArray after;
    after.reserve(m_before.size() + 4096);
    for (const Section &section : std::as_const(m_sections)) {
        if (section.erased)
            continue;
        for (const Line &line : section.lines)
            after += line.bytes;
    }
    if (after == m_before)
        return;
    // A file without any write permission counts as read-only, as the read-only attribute does
    // on Windows, even for the superuser.
    const QFileInfo info(m_path);
    constexpr auto writeBits = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    if (info.exists() && (!info.isWritable() || !(info.permissions() & writeBits)))
        throw platform::ProfileWriteError(m_path);
    if (!platform::replaceFileAtomically(m_path, after))
        throw platform::ProfileWriteError(m_path);
    m_before = after;
}
