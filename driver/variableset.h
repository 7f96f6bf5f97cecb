#pragma once
// The driver's globals: the two registered window messages through which readings and states
// reach the main window's hook on the window thread.
#include "platform/messages.h"

#include <QString>

#include <cstdint>

// "CM_TAGPUMPMESSAGEVALUE": wParam the sensor number, the value text as the message's payload.
platform::UINT ValueMessage();
// "CM_TAGPUMPMESSAGESTATUS": wParam the published status 0, 1 or 2, lParam 0.
platform::UINT StatusMessage();

// Post to the application window; nothing when none exists. Each value message carries its own
// copy of the text.
void PostValueMessage(std::uint16_t number, const QString &text);
void PostStatusMessage(std::uint8_t status);

class QTime;
// A time in the system's long time format, without a time zone ("9:05:03", "09:05:03 PM").
QString LongTimeText(const QTime &time);

// The message hook's publishing: a value or status message goes to the controller's DDE items.
// Other messages are left alone. Window thread only.
void PublishMessage(const platform::Message &message);
