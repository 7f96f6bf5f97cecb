#include "device_u.h"

#include "exchange_u.h"
#include "extlibs/ex_com/ex_com.h"

#include <QFile>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

static_assert(TDevice::LinkBufferSize == EX_TEXT_SIZE);
static_assert(TDevice::DeviceTypeCode == EX_DEVICE_TYPE);

namespace {

QString ConvertMessage(const QString &text, TConvertError::TKind kind)
{
    switch (kind) {
    case TConvertError::Hexadecimal: return QStringLiteral("\"%1\" не является шестнадцатеричным числом").arg(text);
    case TConvertError::Float: return QStringLiteral("\"%1\" не является числом").arg(text);
    case TConvertError::FloatRange:
        return QStringLiteral("Число \"%1\" слишком велико для прибора (допустимо не более 3.40282347E38 по модулю)").arg(text);
    case TConvertError::ByteRange: return QStringLiteral("Число \"%1\" не является байтом (допустимо от 0 до 255)").arg(text);
    default: return QStringLiteral("\"%1\" не является целым числом").arg(text);
    }
}

} // namespace

TConvertError::TConvertError(const QString &text, TKind kind)
    : std::runtime_error(ConvertMessage(text, kind).toStdString()), FText(text), FKind(kind)
{
}

QString TConvertError::Message() const
{
    const QString message = ConvertMessage(FText, FKind);
    if (FPlace.isEmpty())
        return message;
    // "Вкладка ..., поле ...: "x" не является числом"
    QString place = FPlace;
    place[0] = place[0].toUpper();
    return place + QLatin1String(": ") + message;
}

TDevice::TDevice() : LinkHandle(EX_CreateCOM()) {}

TDevice::~TDevice()
{
    EX_FreeCOM(&LinkHandle);
}

// --- Blocks ---

std::span<std::uint8_t> TDevice::Block(int type)
{
    switch (type) {
    case CRCBlockType: return CRCBlock;
    case CalibBlockType: return CalibBlock;
    case ParamsBlockType: return ParamsBlock;
    case ADCBlockType: return ADCBlock;
    default: return {};
    }
}

std::span<const std::uint8_t> TDevice::Block(int type) const
{
    return const_cast<TDevice *>(this)->Block(type);
}

std::int32_t TDevice::ClearBlock(int type)
{
    const auto block = Block(type);
    if (block.empty())
        return -1;
    std::ranges::fill(block, 0);
    return 0;
}

std::int32_t TDevice::GetBlock(int type, std::span<std::uint8_t> buffer, std::uint16_t &length) const
{
    std::ranges::fill(buffer, 0);
    length = 0;
    const auto block = Block(type);
    if (block.empty() || buffer.size() < block.size())
        return -1;
    std::ranges::copy(block, buffer.begin());
    length = static_cast<std::uint16_t>(block.size());
    return 0;
}

std::int32_t TDevice::SetBlock(int type, std::span<const std::uint8_t> buffer)
{
    const auto block = Block(type);
    if (block.empty() || buffer.size() < block.size())
        return -1;
    std::copy_n(buffer.begin(), block.size(), block.begin());
    return 0;
}

std::int32_t TDevice::BlockToHex(int type, QString &text, int maxLength) const
{
    text.clear();
    const auto block = Block(type);
    if (block.empty())
        return -1;
    const QByteArray hex = QByteArray(reinterpret_cast<const char *>(block.data()), qsizetype(block.size()))
                               .toHex()
                               .toUpper();
    text = QString::fromLatin1(hex.left(std::max(maxLength, 0)));
    return 0;
}

std::int32_t TDevice::HexToBlock(int type, QStringView text)
{
    const auto block = Block(type);
    if (block.empty() || std::size_t(text.size()) != 2 * block.size())
        return -1;
    // Every pair is checked before the first byte is stored, so a bad pair leaves the whole block
    // as it was instead of half replaced. toLatin1 turns each character it cannot hold into '?'.
    const QByteArray latin = text.toLatin1();
    for (qsizetype i = 0; i < latin.size(); ++i)
        if (!std::isxdigit(static_cast<unsigned char>(latin[i])))
            throw TConvertError(text.mid(i - i % 2, 2).toString(), TConvertError::Hexadecimal);
    const QByteArray bytes = QByteArray::fromHex(latin);
    std::copy_n(bytes.begin(), block.size(), block.begin());
    return 0;
}

std::uint16_t TDevice::BlockCRC(int type) const
{
    const auto block = Block(type);
    return block.empty() ? 0 : BytesCRC(block);
}

std::uint16_t TDevice::BytesCRC(std::span<const std::uint8_t> bytes)
{
    std::uint16_t crc = 0;
    if (EX_ArrayCRCWord(bytes.data(), static_cast<std::uint16_t>(bytes.size()), &crc) != 0)
        return 0;
    return crc;
}

// --- Link ---

std::int32_t TDevice::ToInteger(QStringView text)
{
    const QByteArray latin = text.toLatin1();
    std::int32_t value = 0;
    const char *end = latin.constData() + latin.size();
    const auto [ptr, ec] = std::from_chars(latin.constData(), end, value, 10);
    // toLatin1 turns characters it cannot hold into '?', which no integer contains.
    if (latin.isEmpty() || ec != std::errc() || ptr != end)
        throw TConvertError(text.toString(), TConvertError::Integer);
    return value;
}

void TDevice::SetLinkSettings(TLinkSettings settings)
{
    FLinkSettings = std::move(settings);
}

std::int32_t TDevice::OpenPort()
{
    const QString baud = FLinkSettings.BaudText ? FLinkSettings.BaudText() : QString();
    const QString port = FLinkSettings.PortText ? FLinkSettings.PortText() : QString();
    try {
        return OpenPort(baud, port);
    } catch (TConvertError &error) {
        error.SetPlace(FLinkSettings.BaudPlace, FLinkSettings.BaudField);
        throw;
    }
}

std::int32_t TDevice::OpenPort(const QString &baudText, const QString &portText)
{
    const std::int32_t baud = ToInteger(baudText);
    LastError = EX_SetBaudRate(LinkHandle, baud);
    if (LastError != 0)
        return LastError;
    FOpenedPortText = portText;
    LastError = EX_OpenCOM(LinkHandle, QFile::encodeName(portText).constData());
    return LastError;
}

QString TDevice::OpenPortErrorText()
{
    return QStringLiteral("Порт \"%1\": %2").arg(FOpenedPortText, GetErrorText(LastError));
}

std::int32_t TDevice::ClosePort()
{
    LastError = EX_CloseCOM(LinkHandle);
    return LastError;
}

void TDevice::StopReading()
{
    FStopReading = true;
    // Kept by the library for a search that has not begun yet; a search begins only on a
    // worker that reads, and a stop left over is dropped with the next close of the port.
    if (TExchange::ReadersRunning() > 0)
        EX_StopSearchAvailableDevices(LinkHandle);
}

bool TDevice::RefusesReading()
{
    if (!FStopReading || !TExchange::ReadsOnlyHere())
        return false;
    LastError = ReadingStopped;
    return true;
}

std::int32_t TDevice::Exchange(TCommand command)
{
    if (RefusesReading())
        return LastError;
    char *text = LinkBuffer.data();
    LastError = EX_Exchange(LinkHandle, DeviceTypeCode, DeviceAddress, command, &text);
    LinkBuffer.back() = '\0';
    return LastError;
}

std::int32_t TDevice::Command(TCommand command, unsigned argument)
{
    const auto [end, ec] = std::to_chars(LinkBuffer.data(), LinkBuffer.data() + LinkBuffer.size() - 1, argument);
    *end = '\0';
    return Exchange(command);
}

std::int32_t TDevice::Command(TCommand command)
{
    LinkBuffer[0] = '\0';
    return Exchange(command);
}

std::int32_t TDevice::ReadByte(TCommand command, std::uint8_t &value)
{
    value = 0;
    if (Exchange(command) != 0)
        return LastError;
    const QByteArray reply(LinkBuffer.data(), qsizetype(strnlen(LinkBuffer.data(), LinkBuffer.size())));
    // A byte reply outside 0..255 is no byte at all: taking its low bits would put a wrong
    // value into the model as if it had been read.
    const QString text = QString::fromUtf8(reply);
    const std::int32_t number = ToInteger(text);
    if (number < 0 || number > 0xFF)
        throw TConvertError(text, TConvertError::ByteRange);
    value = static_cast<std::uint8_t>(number);
    return LastError;
}

std::int32_t TDevice::SetEEPROMAddress(std::uint16_t address) { return Command(cmdSetEEPROMAddress, address); }
std::int32_t TDevice::WriteEEPROMByte(std::uint8_t value) { return Command(cmdWriteEEPROMByte, value); }
std::int32_t TDevice::SetRAMAddress(std::uint8_t address) { return Command(cmdSetRAMAddress, address); }
std::int32_t TDevice::SetIndicatorPosition(std::uint8_t position) { return Command(cmdSetIndicatorPosition, position); }
std::int32_t TDevice::WriteIndicatorByte(std::uint8_t pattern) { return Command(cmdWriteIndicatorByte, pattern); }
std::int32_t TDevice::SetRelayStates(std::uint8_t mask) { return Command(cmdSetRelayStates, mask); }
std::int32_t TDevice::ReadEEPROMByte(std::uint8_t &value) { return ReadByte(cmdReadEEPROMByte, value); }
std::int32_t TDevice::ReadRAMByte(std::uint8_t &value) { return ReadByte(cmdReadRAMByte, value); }
std::int32_t TDevice::FinishWrite() { return Command(cmdFinishWrite); }
std::int32_t TDevice::ResetIndicators() { return Command(cmdResetIndicators); }

QString TDevice::GetErrorText(std::int32_t code)
{
    if (code == ReadingStopped) {
        LastError = 0;
        return QStringLiteral("Чтение из прибора прервано: программа закрывается.");
    }
    std::array<char, EX_TEXT_SIZE> buffer{};
    char *text = buffer.data();
    LastError = EX_GetExendedErrorInfo(DeviceTypeCode, code, &text);
    if (LastError != 0)
        EX_GetExendedErrorInfo(0, LastError, &text);
    buffer.back() = '\0';
    return QString::fromUtf8(buffer.data());
}

std::int32_t TDevice::GetDeviceValue(std::uint8_t index, double &value)
{
    value = 0;
    if (RefusesReading())
        return LastError;
    LastError = EX_GetDeviceData(LinkHandle, DeviceTypeCode, DeviceAddress, index, &value);
    if (LastError != 0)
        value = 0;
    return LastError;
}

std::int32_t TDevice::ReadRAMFloat(std::uint8_t index, float &value)
{
    value = 0;
    if (SetRAMAddress(static_cast<std::uint8_t>(4 * index + 1)) != 0)
        return LastError;
    std::array<std::uint8_t, 4> bytes{};
    for (auto &byte : bytes)
        if (ReadRAMByte(byte) != 0)
            return LastError;
    value = device_bytes::Float(bytes, 0);
    return 0;
}

std::int32_t TDevice::CRCWordAddress(int which, std::uint16_t &address)
{
    if (which != 1 && which != 2)
        return -2;
    address = static_cast<std::uint16_t>(CRCAddress + 2 * (which - 1));
    return 0;
}

std::int32_t TDevice::ReadCRC(int which, std::uint16_t &crc)
{
    crc = 0;
    std::uint16_t address = 0;
    if (CRCWordAddress(which, address) != 0)
        return -2;
    std::array<std::uint8_t, 2> bytes{};
    if (SetEEPROMAddress(address) != 0 || ReadEEPROMByte(bytes[0]) != 0 || ReadEEPROMByte(bytes[1]) != 0)
        return LastError;
    crc = device_bytes::Word(bytes, 0);
    return 0;
}

std::int32_t TDevice::WriteCRC(int which, std::uint16_t crc)
{
    std::uint16_t address = 0;
    if (CRCWordAddress(which, address) != 0)
        return -2;
    std::array<std::uint8_t, 2> bytes{};
    device_bytes::SetWord(bytes, 0, crc);
    if (SetEEPROMAddress(address) != 0 || WriteEEPROMByte(bytes[0]) != 0)
        return LastError;
    return WriteEEPROMByte(bytes[1]);
}
