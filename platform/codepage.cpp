#include "platform/codepage.h"

#include <QHash>
#include <QStringDecoder>

#include <algorithm>

namespace platform {

namespace {

// The upper half of Windows-1251 as Unicode, taken once from Qt's ICU converter. Qt knows
// "windows-1251" through ICU although QStringConverter::encodingForName does not list it.
struct UpperHalf {
    QString toUnicode;               // index: byte - 0x80
    QHash<char16_t, char> fromUnicode;

    UpperHalf()
    {
        QByteArray bytes(128, '\0');
        for (int i = 0; i < 128; ++i)
            bytes[i] = char(0x80 + i);
        QStringDecoder decoder("windows-1251", QStringConverter::Flag::Stateless);
        toUnicode = decoder.decode(bytes);
        Q_ASSERT(toUnicode.size() == 128);
        for (int i = 0; i < toUnicode.size(); ++i) {
            const char16_t c = toUnicode.at(i).unicode();
            if (c != QChar::ReplacementCharacter)
                fromUnicode.insert(c, char(0x80 + i));
        }
    }
};

const UpperHalf &upperHalf()
{
    static const UpperHalf table;
    return table;
}

} // namespace

QByteArray toCp1251(const QString &text)
{
    const UpperHalf &table = upperHalf();
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < 0x80) {
            out.append(char(c));
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i; // one character outside the code page, one '?'
        out.append(table.fromUnicode.value(c, '?'));
    }
    return out;
}

bool fitsCp1251(const QString &text)
{
    const UpperHalf &table = upperHalf();
    return std::all_of(text.begin(), text.end(),
                       [&](QChar c) { return c.unicode() < 0x80 || table.fromUnicode.contains(c.unicode()); });
}

namespace {

const QByteArray Utf8Mark = QByteArrayLiteral("\xEF\xBB\xBF");

} // namespace

QByteArray toStoredText(const QString &text)
{
    return fitsCp1251(text) ? toCp1251(text) : Utf8Mark + text.toUtf8();
}

QString fromStoredText(const QByteArray &bytes)
{
    if (bytes.startsWith(Utf8Mark)) {
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        const QString text = utf8.decode(QByteArrayView(bytes).sliced(Utf8Mark.size()));
        if (!utf8.hasError())
            return text;
    }
    return fromCp1251(bytes);
}

QString fromCp1251(const QByteArray &bytes)
{
    const UpperHalf &table = upperHalf();
    QString out;
    out.reserve(bytes.size());
    for (const char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        out.append(u < 0x80 ? QChar(u) : table.toUnicode.at(u - 0x80));
    }
    return out;
}

} // namespace platform
