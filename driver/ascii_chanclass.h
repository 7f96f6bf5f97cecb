#pragma once
// TASCIIChannel: one measuring point of the driver, one channel of one instrument on the line.
//
// It decides by its step whether a cycle is its turn, asks the instrument through the protocol
// and port libraries, and publishes the reading (or the error value): the readouts through the
// controller's signal, the DDE item through the value message that the main window's hook
// handles on the window thread. The message carries a copy of the text, so the channel's buffer
// may be overwritten or freed before the hook runs. Its sensor entry string ("|1|1|1|500|") is
// what the settings file stores under "Sensor<n>".
#include <QString>

#include <cstdint>

class QObject;

namespace platform {
class DdeItem;
class DdeTopic;
} // namespace platform

class TASCIIChannel {
public:
    static constexpr int TextSize = 255;  // value and request texts, terminator not counted

    // Creates the item objectName + number on serverConv (owned by `owner`, the main window) and
    // publishes "0". An item name the DDE layer refuses leaves the channel without an item: it
    // still polls, and only its own item is missing.
    TASCIIChannel(QObject *owner, const QString &objectName, platform::DdeTopic *serverConv,
                  std::uint32_t portHandle, std::uint16_t number);
    ~TASCIIChannel();  // deletes the item; clients holding a link hear that it went
    TASCIIChannel(const TASCIIChannel &) = delete;
    TASCIIChannel &operator=(const TASCIIChannel &) = delete;

    // Stores the text (at most 255 characters), shows it and posts it to the main window.
    void SetValue(const char *text);

    // One request and answer on the port the polling thread opened for the whole run. True when
    // the answer was good or the step gate skipped the channel.
    bool PollShared();
    // As PollShared, but configures the port with this channel's time-out, opens it and closes
    // it again (closed also when skipped or when configuring or opening failed).
    bool PollIndividual();

    QString ToConfigString() const;
    // Sets the channel from a sensor entry string; true when all four numbers were read. Each
    // number is stored as far as it was read, cut to its field, before a bad one ends the parse.
    bool FromConfigString(const QString &text);

    std::uint32_t PortHandle;
    char ValueText[TextSize + 1] = "0";
    std::uint16_t Number;
    std::uint8_t DeviceNumber = 1;
    std::uint8_t ChannelNumber = 1;
    std::uint16_t Step = 1;
    std::uint16_t StepCounter = 0;
    std::uint16_t TimeOut = 500;
    platform::DdeItem *ServerItem = nullptr;

private:
    enum class Gate { Skip, Poll };
    Gate PassStepGate();
    bool Poll(bool individual);
};
