// The driver's registered messages and their posting.
#include "variableset.h"

#include "prgcontrol.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTime>

platform::UINT ValueMessage()
{
    static const platform::UINT number = platform::RegisterWindowMessage(QStringLiteral("CM_TAGPUMPMESSAGEVALUE"));
    return number;
}

platform::UINT StatusMessage()
{
    static const platform::UINT number = platform::RegisterWindowMessage(QStringLiteral("CM_TAGPUMPMESSAGESTATUS"));
    return number;
}

void PostValueMessage(std::uint16_t number, const QString &text)
{
    if (auto *window = platform::ApplicationWindow::instance())
        window->postMessage(ValueMessage(), number, 0, text);
}

void PostStatusMessage(std::uint8_t status)
{
    if (auto *window = platform::ApplicationWindow::instance())
        window->postMessage(StatusMessage(), status, 0);
}

QString LongTimeText(const QTime &time)
{
    QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    format.remove(QRegularExpression(QStringLiteral("\\s*t+")));
    return QLocale::system().toString(time, format.trimmed());
}

void PublishMessage(const platform::Message &message)
{
    if (!PrgControl)
        return;
    if (message.msg == ValueMessage())
        PrgControl->PublishValue(std::uint16_t(message.wParam), message.payload);
    else if (message.msg == StatusMessage())
        PrgControl->PublishStatus(std::uint8_t(message.wParam));
}
