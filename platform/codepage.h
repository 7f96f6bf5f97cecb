#pragma once
// Windows-1251 (Cyrillic) to and from Unicode. Every text file the programs read or write,
// and every text that crosses to another program, is in this code page.
#include <QByteArray>
#include <QString>

namespace platform {

// Characters that Windows-1251 cannot hold become '?'.
QByteArray toCp1251(const QString &text);
QString fromCp1251(const QByteArray &bytes);

} // namespace platform
