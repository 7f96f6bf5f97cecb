// A measuring point: the step gate, one request and answer through comport and protocol, the
// three outcomes of a poll, and the sensor entry string.
#include "ascii_chanclass.h"

#include "comexchange.h"
#include "prgcontrol.h"
#include "variableset.h"

#include "extlibs/comport/comport.h"
#include "extlibs/protocol/protocol.h"
#include "platform/codepage.h"
#include "platform/dde_server.h"
#include "platform/messages.h"

#include <QStringList>

#include <cstring>

namespace {

void copyText(char (&target)[TASCIIChannel::TextSize + 1], const char *text)
{
    std::strncpy(target, text ? text : "", TASCIIChannel::TextSize);
    target[TASCIIChannel::TextSize] = '\0';
}

int digitValue(QChar c, int base)
{
    const char16_t u = c.toLower().unicode();
    const int digit = u >= u'0' && u <= u'9' ? u - u'0' : u >= u'a' && u <= u'f' ? u - u'a' + 10 : -1;
    return digit < base ? digit : -1;
}

struct ParsedField {
    long long value = 0;
    bool valid = false;
};

// A signed integer with leading blanks, decimal or hexadecimal after "$" or "0x": the value as
// far as it was read, and whether the whole field was a number (an empty field is not).
ParsedField parseField(const QString &field)
{
    ParsedField result;
    int at = 0;
    while (at < field.size() && field[at] == u' ')
        ++at;
    bool negative = false;
    if (at < field.size() && (field[at] == u'-' || field[at] == u'+'))
        negative = field[at++] == u'-';
    int base = 10;
    if (at < field.size() && field[at] == u'$') {
        base = 16;
        ++at;
    } else if (field.mid(at, 2).compare(u"0x", Qt::CaseInsensitive) == 0) {
        base = 16;
        at += 2;
    }
    int digits = 0;
    for (; at < field.size(); ++at) {
        const int digit = digitValue(field[at], base);
        if (digit < 0)
            break;
        // Wrapping keeps the low bits, which are all that a field keeps.
        result.value = static_cast<long long>(static_cast<unsigned long long>(result.value) * base + digit);
        ++digits;
    }
    if (negative)
        result.value = -result.value;
    result.valid = digits > 0 && at == field.size();
    return result;
}

} // namespace

TASCIIChannel::TASCIIChannel(QObject *owner, const QString &objectName, platform::DdeTopic *serverConv,
                             std::uint32_t portHandle, std::uint16_t number)
    : PortHandle(portHandle), Number(number)
{
    if (serverConv) {
        ServerItem = serverConv->createItem(objectName + QString::number(number));
        if (ServerItem && owner)
            ServerItem->setParent(owner);
    }
    SetValue("0");
}

TASCIIChannel::~TASCIIChannel()
{
    delete ServerItem;
}

void TASCIIChannel::SetValue(const char *text)
{
    copyText(ValueText, text);
    const QString value = platform::fromCp1251(QByteArray(ValueText));
    if (PrgControl)
        emit PrgControl->ReadingShown(Number, value);
    if (ServerItem)
        PostValueMessage(Number, value);
}

TASCIIChannel::Gate TASCIIChannel::PassStepGate()
{
    if (Step == 0)
        return Gate::Skip;
    // A channel that has not answered stays due: its counter is held at Step, so it is polled
    // again every cycle, however long it stays silent.
    if (StepCounter < Step)
        ++StepCounter;
    return StepCounter < Step ? Gate::Skip : Gate::Poll;
}

bool TASCIIChannel::PollShared()
{
    return Poll(false);
}

bool TASCIIChannel::PollIndividual()
{
    return Poll(true);
}

// The one frame of a poll. In the individual mode the port is configured and opened for this
// channel alone and closed at the end whatever happened.
bool TASCIIChannel::Poll(bool individual)
{
    TProgramControl &control = *PrgControl;
    struct CloseWhenIndividual {
        bool individual;
        std::uint32_t port;
        ~CloseWhenIndividual()
        {
            if (individual)
                CloseCOM(port);
        }
    } closeAtEnd{individual, PortHandle};

    if (PassStepGate() == Gate::Skip)
        return true;

    char value[TextSize + 1] = "0";
    char request[TextSize + 1];
    copyText(request, VKS2810_CreateParcel(DeviceNumber, 1, ChannelNumber));

    bool ok = true;
    if (individual) {
        const std::uint16_t answerTimeOut = control.IndividualTimeOutState ? TimeOut : control.TimeOut3;
        ok = SetCOMCfg(PortHandle, platform::toCp1251(control.PortName).constData(), control.PortBaudRate(), control.TimeOut1,
                       control.TimeOut2, answerTimeOut)
             && OpenCOM(PortHandle);
    }
    ok = ok && TransmitCOMPOneByte(PortHandle, request);
    control.NotePortResult(ok ? COMPORT_OK : GetCOMLastError(PortHandle));
    if (ok) {
        char *answer = request;
        ReciveCOMPOneByte(PortHandle, &answer);
        char *decoded = value;
        ok = VKS2810_AnalysisParcel(DeviceNumber, request, &decoded);
    }

    const QString source = QStringLiteral("Point") + QString::number(Number);
    if (ok && value[0] != '$') {
        SetValue(value);
        StepCounter = 0;
        control.SetResultText(QStringLiteral("Ok"));
        return true;
    }
    const QByteArray errorValue = platform::toCp1251(control.ErrorValueText());
    if (ok) {
        SetValue(control.ErrorState ? errorValue.constData() : value);
        control.SetResultText(QStringLiteral("Error"));
        control.WriteLog(source, QStringLiteral("Device Error ") + platform::fromCp1251(QByteArray(value)));
    } else {
        SetValue(control.ErrorState ? errorValue.constData() : "ExErr");
        control.SetResultText(QStringLiteral("Error"));
        control.WriteLog(source, QStringLiteral("COM Port Exchange Error"));
    }
    return false;
}

QString TASCIIChannel::ToConfigString() const
{
    return QStringLiteral("|%1|%2|%3|%4|").arg(DeviceNumber).arg(ChannelNumber).arg(Step).arg(TimeOut);
}

bool TASCIIChannel::FromConfigString(const QString &text)
{
    QString rest = text.mid(1);
    // Takes the text before the next bar and removes it with its bar; empty when none is left.
    auto nextField = [&rest] {
        const qsizetype bar = rest.indexOf(u'|');
        if (bar < 0)
            return QString();
        const QString field = rest.left(bar);
        rest.remove(0, bar + 1);
        return field;
    };
    std::uint8_t *const bytes[] = {&DeviceNumber, &ChannelNumber};
    for (std::uint8_t *field : bytes) {
        const ParsedField parsed = parseField(nextField());
        *field = static_cast<std::uint8_t>(parsed.value);
        if (!parsed.valid)
            return false;
    }
    std::uint16_t *const words[] = {&Step, &TimeOut};
    for (std::uint16_t *field : words) {
        const ParsedField parsed = parseField(nextField());
        *field = static_cast<std::uint16_t>(parsed.value);
        if (!parsed.valid)
            return false;
    }
    return true;
}
