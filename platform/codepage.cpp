#include "platform/codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace platform {

// Qt's ICU backend knows "windows-1251" although QStringConverter::encodingForName does not
// list it; one converter a thread, since converters keep state between calls.
QByteArray toCp1251(const QString &text)
{
    thread_local QStringEncoder encoder("windows-1251", QStringConverter::Flag::Stateless);
    return encoder.encode(text);
}

QString fromCp1251(const QByteArray &bytes)
{
    thread_local QStringDecoder decoder("windows-1251", QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

} // namespace platform
