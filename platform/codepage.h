#pragma once
// Windows-1251 (Cyrillic) to and from Unicode. Every text file the programs read or write,
// and every text that crosses to another program, is in this code page.
#include <QByteArray>
#include <QString>

namespace platform {

// Characters that Windows-1251 cannot hold become '?'.
QByteArray toCp1251(const QString &text);
QString fromCp1251(const QByteArray &bytes);

// Text for a file that Windows programs read as Windows-1251 (settings, projects): the code
// page's bytes whenever it holds every character, so that such files stay what Windows writes;
// otherwise UTF-8 after the byte-order mark EF BB BF, so that a path such as "Électricité" or
// "/home/ünal" survives instead of coming back with "?" in it.
QByteArray toStoredText(const QString &text);
// The reverse: a byte-order mark followed by valid UTF-8 reads as UTF-8, anything else as
// Windows-1251.
QString fromStoredText(const QByteArray &bytes);
// Whether Windows-1251 holds every character of text.
bool fitsCp1251(const QString &text);

} // namespace platform
