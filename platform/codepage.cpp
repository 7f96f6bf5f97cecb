#include "platform/codepage.h"

#include <QHash>
#include <QStringDecoder>

#include <algorithm>

namespace platform {

namespace {

// Bytes 0x80-0xBF of Windows-1251 as Unicode, as Qt's ICU converter has them (0x98, which the
// code page leaves unassigned, as U+0098); bytes 0xC0-0xFF are U+0410-U+044F. Kept here rather
// than asked of ICU: opening its converter takes milliseconds of every program's start.
constexpr char16_t IrregularPart[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

// The upper half of Windows-1251 both ways.
struct UpperHalf {
    QString toUnicode;               // index: byte - 0x80
    QHash<char16_t, char> fromUnicode;

    UpperHalf()
    {
        toUnicode.reserve(128);
        for (char16_t c : IrregularPart)
            toUnicode.append(QChar(c));
        for (char16_t c = 0x0410; c <= 0x044F; ++c)
            toUnicode.append(QChar(c));
        for (int i = 0; i < toUnicode.size(); ++i)
            fromUnicode.insert(toUnicode.at(i).unicode(), char(0x80 + i));
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
