// TDevice: the block transfers between the instrument's EEPROM and the model, the EEPROM
// copies to and from files, and the ADC block.
//
// Every transfer runs on a worker and has the same frame (RunTransfer): the question, the
// preparation (the form taken into the model, a file chosen), the link lock, the exchange
// state, the port, the work with the gauge moving after each byte, the report while the lock
// is still held, and on every path the clean-up: gauge hidden, port closed, exchange state
// idle, lock released.
#include "device_u.h"

#include "device_operation.h"
#include "filedialog_u.h"
#include "global_u.h"
#include "main_u.h"
#include "prgctrl_u.h"
#include "prjctrl_u.h"
#include "platform/atomic_file.h"
#include "platform/user_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <functional>
#include <mutex>
#include <optional>

namespace {

// An EEPROM copy holds this much; a loaded copy may be shorter or longer, up to the image.
constexpr int EEPROMCopySize = 2048;

TOperationError CopyWriteError(const QString &fileName, const QString &reason)
{
    return {QStringLiteral("Не удалось записать файл \"%1\":\r%2").arg(QDir::toNativeSeparators(fileName), reason)};
}

// What is left to report of an error that no step foresaw (out of memory, say).
QString UnexpectedError(const std::exception &e)
{
    return QStringLiteral("Непредвиденная ошибка: %1").arg(QString::fromLocal8Bit(e.what()));
}

} // namespace

bool Accepted(std::uint16_t answer)
{
    return answer == mrYes || answer == mrOk;
}

QString LinkError(TDevice &device)
{
    return device.GetErrorText(device.LastError);
}

std::int32_t RunTransfer(TDevice &device, const TTransfer &transfer)
{
    TfMain *form = device.Form();
    if (!form)
        return -1;
    TProgramControl &control = *form->ProgramControl;
    const auto reportError = [&](const QString &text) { control.ShowProgramMessage(false, text, mtError, mbOK); };

    if (!transfer.Question.isEmpty()
        && !Accepted(control.ShowProgramMessage(false, transfer.Question, mtConfirmation, mbYesNo)))
        return -1;
    try {
        if (transfer.Prepare && !transfer.Prepare())
            return -1;
    } catch (const TConvertError &e) {
        reportError(e.Message());
        return -1;
    } catch (const TOperationError &e) {
        reportError(e.Message);
        return -1;
    } catch (const std::exception &e) {
        reportError(UnexpectedError(e));
        return -1;
    }

    std::lock_guard<platform::NamedLock> lock(COMPortMutex());
    // The clean-up runs however the work ends, before the lock goes.
    struct TCleanup {
        TDevice &Device;
        TProgramControl &Control;
        ~TCleanup()
        {
            Control.SetProgress(0, 0, 0, 0);
            Device.ClosePort();
            Control.SetExchangeState(Idle);
        }
    } cleanup{device, control};
    control.SetExchangeState(Exchanging);

    std::optional<QString> failure;
    try {
        failure = device.OpenPort() != 0 ? device.OpenPortErrorText() : transfer.Work();
    } catch (const TConvertError &e) {
        failure = e.Message();
    } catch (const TOperationError &e) {
        failure = e.Message;
    } catch (const std::exception &e) {
        failure = UnexpectedError(e);
    }
    if (failure)
        reportError(*failure);
    else
        control.ShowProgramMessage(false, transfer.Completion, mtInformation, mbOK);
    return failure ? -1 : 0;
}

namespace {

// The gauge after byte i of a pass whose last position is max.
void Progress(TDevice &device, int max, int i)
{
    device.Form()->ProgramControl->SetProgress(1, 0, max, i);
}

// One pass over count EEPROM bytes from address on: the address once, then step(i) for byte
// i; the gauge runs from first to max. The first failing command ends the pass.
template <class Step>
bool EEPROMPass(TDevice &device, std::uint16_t address, std::size_t count, int first, int max, Step step)
{
    if (device.SetEEPROMAddress(address) != 0)
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        if (step(i) != 0)
            return false;
        Progress(device, max, first + int(i));
    }
    return true;
}

bool ReadEEPROM(TDevice &device, std::uint16_t address, std::span<std::uint8_t> bytes, int first, int max)
{
    return EEPROMPass(device, address, bytes.size(), first, max,
                      [&](std::size_t i) { return device.ReadEEPROMByte(bytes[i]); });
}

bool WriteEEPROM(TDevice &device, std::uint16_t address, std::span<const std::uint8_t> bytes, int first, int max)
{
    return EEPROMPass(device, address, bytes.size(), first, max,
                      [&](std::size_t i) { return device.WriteEEPROMByte(bytes[i]); });
}

bool WriteFinished(TDevice &device)
{
    const std::int32_t result = device.FinishWrite();
    return result == 0 || result == TDevice::FinishWriteDone;
}

// The CRC check of a block read: nothing when it matches the stored word.
std::optional<QString> CRCMismatch(const TDevice &device, int type, std::uint16_t stored)
{
    if (device.BlockCRC(type) == stored)
        return std::nullopt;
    return type == TDevice::CalibBlockType
               ? QStringLiteral("Контрольная сумма калибровочных коэффициентов не совпадает с записанной в приборе!")
               : QStringLiteral("Контрольная сумма параметров прибора не совпадает с записанной в приборе!");
}

// The device parameters' bytes of the parameter block; the rest (16-42) are the relays'.
constexpr std::size_t RelayFirst = 16;
constexpr std::size_t RelayEnd = 43;
using TParamsBytes = std::array<std::uint8_t, TDevice::ParamsBlockLength>;

// Copies into target the part of source that a partial transfer moves.
void MergePart(TParamsBytes &target, const TParamsBytes &source, bool relays)
{
    for (std::size_t i = 0; i < target.size(); ++i) {
        if ((i >= RelayFirst && i < RelayEnd) == relays)
            target[i] = source[i];
    }
}

// The calibration and parameter blocks as the model holds them, copied on the window thread:
// the window thread changes the model (a calibration file loaded, the project saved), so a
// worker never reads the blocks itself. Taken under the link lock, the copy is what gets
// written and what the CRC words are computed from, whatever changes while the worker waits.
struct TModelCopy {
    std::array<std::uint8_t, TDevice::CalibBlockLength> Calib{};
    TParamsBytes Params{};
};

TModelCopy CopyModel(TDevice &device)
{
    const auto copy = RunOnWindowThread(
        [&device] { return std::optional<TModelCopy>(TModelCopy{device.CalibBlock, device.ParamsBlock}); });
    // Nothing when the window thread is gone (the program is closing): nothing is written.
    if (!copy)
        throw TOperationError{QStringLiteral("Операция прервана: программа закрывается.")};
    return *copy;
}

std::int32_t ReadParamsPart(TDevice &device, bool relays)
{
    TParamsBytes model{};
    return RunTransfer(
        device,
        {relays ? QStringLiteral("Считать параметры реле из прибора?") : QStringLiteral("Считать параметры из прибора?"),
         relays ? QStringLiteral("Чтение параметров реле прибора завершено.")
                : QStringLiteral("Чтение параметров прибора завершено."),
         {},
         [&]() -> std::optional<QString> {
             // The copy that keeps the other part is taken under the link lock, so a change of
             // the model made while this worker waited for the lock is not undone.
             model = device.ParamsBlock;
             TParamsBytes read{};
             if (!ReadEEPROM(device, TDevice::ParamsAddress, read, 0, int(read.size()) - 1))
                 return LinkError(device);
             device.SetBlock(TDevice::ParamsBlockType, read);
             std::uint16_t stored = 0;
             if (device.ReadCRC(2, stored) != 0)
                 return LinkError(device);
             if (auto mismatch = CRCMismatch(device, TDevice::ParamsBlockType, stored))
                 return mismatch;  // all bytes read stay in the model, the form as it was
             MergePart(model, read, relays);
             device.SetBlock(TDevice::ParamsBlockType, model);
             device.ShowParams();
             return std::nullopt;
         }});
}

std::int32_t WriteParamsPart(TDevice &device, bool relays)
{
    return RunTransfer(
        device,
        {relays ? QStringLiteral("Записать параметры реле в прибор?") : QStringLiteral("Записать параметры в прибор?"),
         relays ? QStringLiteral("Запись параметров реле прибора завершена.")
                : QStringLiteral("Запись параметров прибора завершена."),
         [&] {
             device.TakeParams();
             return true;
         },
         [&]() -> std::optional<QString> {
             // Read, put in the part that this write owns, write back: the other part stays
             // as the instrument holds it. Both passes share one gauge.
             const TParamsBytes model = CopyModel(device).Params;
             constexpr int n = TDevice::ParamsBlockLength;
             TParamsBytes merged{};
             if (!ReadEEPROM(device, TDevice::ParamsAddress, merged, 0, 2 * n - 1))
                 return LinkError(device);
             MergePart(merged, model, relays);
             if (!WriteEEPROM(device, TDevice::ParamsAddress, merged, n, 2 * n - 1))
                 return LinkError(device);
             RunOnWindowThread([&] { device.SetBlock(TDevice::ParamsBlockType, merged); });
             if (device.WriteCRC(2, TDevice::BytesCRC(merged)) != 0 || !WriteFinished(device))
                 return LinkError(device);
             return std::nullopt;
         }});
}

// The chosen file of one of the window's file dialogs, shown from any thread; nothing when
// cancelled.
std::optional<QString> ChooseFile(TFileDialog *dialog)
{
    return RunOnWindowThread([dialog]() -> std::optional<QString> {
        if (!dialog->Execute())
            return std::nullopt;
        return dialog->FileName();
    });
}

} // namespace

std::int32_t TDevice::ReadAllSettings()
{
    return RunTransfer(
        *this, {QStringLiteral("Считать все настройки из прибора?"), QStringLiteral("Чтение настроек завершено."),
                nullptr, [this]() -> std::optional<QString> {
                    std::array<std::uint8_t, CRCBlockLength + CalibBlockLength + ParamsBlockLength> bytes{};
                    if (!ReadEEPROM(*this, CRCAddress, bytes, 0, int(bytes.size()) - 1))
                        return LinkError(*this);
                    const std::span<const std::uint8_t> all(bytes);
                    SetBlock(CalibBlockType, all.subspan(CalibAddress - CRCAddress, CalibBlockLength));
                    if (auto mismatch = CRCMismatch(*this, CalibBlockType, device_bytes::Word(all, 0)))
                        return mismatch;
                    SetBlock(ParamsBlockType, all.subspan(ParamsAddress - CRCAddress, ParamsBlockLength));
                    if (auto mismatch = CRCMismatch(*this, ParamsBlockType, device_bytes::Word(all, 2)))
                        return mismatch;
                    ShowParams();
                    return std::nullopt;
                }});
}

std::int32_t TDevice::WriteAllSettings()
{
    return RunTransfer(
        *this, {QStringLiteral("Записать все настройки в прибор?"), QStringLiteral("Записть настроек завершена."),
                [this] {
                    TakeParams();
                    return true;
                },
                [this]() -> std::optional<QString> {
                    const TModelCopy model = CopyModel(*this);
                    std::array<std::uint8_t, CalibBlockLength + ParamsBlockLength> bytes{};
                    std::ranges::copy(model.Calib, bytes.begin());
                    std::ranges::copy(model.Params, bytes.begin() + CalibBlockLength);
                    if (!WriteEEPROM(*this, CalibAddress, bytes, 0, int(bytes.size()) - 1)
                        || WriteCRC(1, BytesCRC(model.Calib)) != 0 || WriteCRC(2, BytesCRC(model.Params)) != 0
                        || !WriteFinished(*this))
                        return LinkError(*this);
                    return std::nullopt;
                }});
}

std::int32_t TDevice::ReadCalibration()
{
    return RunTransfer(*this, {QStringLiteral("Считать калибровочные коэффициенты?"),
                               QStringLiteral("Чтение калибровочных коэффициентов завершено."), nullptr,
                               [this]() -> std::optional<QString> {
                                   std::array<std::uint8_t, CalibBlockLength> bytes{};
                                   if (!ReadEEPROM(*this, CalibAddress, bytes, 0, int(bytes.size()) - 1))
                                       return LinkError(*this);
                                   SetBlock(CalibBlockType, bytes);
                                   std::uint16_t stored = 0;
                                   if (ReadCRC(1, stored) != 0)
                                       return LinkError(*this);
                                   if (auto mismatch = CRCMismatch(*this, CalibBlockType, stored))
                                       return mismatch;
                                   ShowParams();
                                   return std::nullopt;
                               }});
}

std::int32_t TDevice::WriteCalibration()
{
    return RunTransfer(*this, {QStringLiteral("Записать калибровочные коэффициенты?"),
                               QStringLiteral("Запись калибровочных коэффициентов завершена."),
                               [this] {
                                   TakeParams();
                                   return true;
                               },
                               [this]() -> std::optional<QString> {
                                   const auto bytes = CopyModel(*this).Calib;
                                   if (!WriteEEPROM(*this, CalibAddress, bytes, 0, int(bytes.size()) - 1)
                                       || WriteCRC(1, BytesCRC(bytes)) != 0 || !WriteFinished(*this))
                                       return LinkError(*this);
                                   return std::nullopt;
                               }});
}

std::int32_t TDevice::ReadParams() { return ReadParamsPart(*this, false); }
std::int32_t TDevice::ReadRelayParams() { return ReadParamsPart(*this, true); }
std::int32_t TDevice::WriteParams() { return WriteParamsPart(*this, false); }
std::int32_t TDevice::WriteRelayParams() { return WriteParamsPart(*this, true); }

std::int32_t TDevice::SaveEEPROMToFile()
{
    QString fileName;
    return RunTransfer(
        *this, {QString(), QStringLiteral("Чтение EEPROM завершено."),
                [this, &fileName] {
                    const auto chosen = ChooseFile(FForm->EEPROMSaveDialog);
                    if (!chosen)
                        return false;
                    fileName = *chosen;
                    FForm->ProgramControl->SetSaveDir(FolderPart(fileName));
                    // A target that cannot take the copy is refused before the long read.
                    if (const QString refusal = platform::replacementRefusal(fileName); !refusal.isEmpty())
                        throw CopyWriteError(fileName, refusal);
                    return true;
                },
                [this, &fileName]() -> std::optional<QString> {
                    const auto image = std::span(EEPROMImage).first(EEPROMCopySize);
                    if (!ReadEEPROM(*this, 0, image, 0, EEPROMCopySize - 1))
                        return LinkError(*this);
                    // Written beside and renamed over the old file: a failed write (a full disk)
                    // leaves the old one as it was.
                    const QString error = platform::replaceFile(
                        fileName, QByteArrayView(reinterpret_cast<const char *>(image.data()), EEPROMCopySize));
                    if (!error.isEmpty())
                        throw CopyWriteError(fileName, error);
                    return std::nullopt;
                }});
}

std::int32_t TDevice::LoadEEPROMFromFile()
{
    std::size_t length = 0;
    return RunTransfer(
        *this,
        {QString(), QStringLiteral("Запись EEPROM завершена."),
         [this, &length] {
             const auto chosen = ChooseFile(FForm->EEPROMOpenDialog);
             if (!chosen)
                 return false;
             const QString &fileName = *chosen;
             TProgramControl &control = *FForm->ProgramControl;
             control.SetSaveDir(FolderPart(fileName));
             const QString shownName = QDir::toNativeSeparators(fileName);
             // Opened without waiting, and only a regular file: a pipe would block the worker.
             QFile file;
             try {
                 platform::openRegularFile(file, fileName);
             } catch (const platform::UserFileError &e) {
                 throw TOperationError{UserFileMessage(e)};
             }
             // The image bounds a copy: a longer file is refused before a byte of it is taken.
             if (file.size() >= qint64(EEPROMImage.size()))
                 throw TOperationError{QStringLiteral("Файл \"%1\" слишком велик: копия EEPROM может содержать не более %2 байт.")
                                           .arg(shownName).arg(EEPROMImage.size() - 1)};
             const qint64 got = file.read(reinterpret_cast<char *>(EEPROMImage.data()), qint64(EEPROMImage.size()));
             if (got < 0 || !file.atEnd() || got >= qint64(EEPROMImage.size()))
                 throw TOperationError{QStringLiteral("Не удалось прочитать файл \"%1\":\r%2").arg(shownName, file.errorString())};
             length = std::size_t(got);

             if (length != EEPROMCopySize) {
                 const QString question =
                     length < EEPROMCopySize
                         ? QStringLiteral("Размер файла меньше размера EEPROM прибора!\rВсе равно записать?")
                         : QStringLiteral("Размер файла больше размера EEPROM прибора!\rВсе равно записать?");
                 if (control.ShowProgramMessage(true, question, mtWarning, mbYesNo) != mrYes)
                     return false;
             }
             if (length == 0) {
                 control.ShowProgramMessage(false, QStringLiteral("Файл \"%1\" пуст: в прибор ничего не записано.").arg(shownName),
                                            mtInformation, mbOK);
                 return false;
             }
             return true;
         },
         [this, &length]() -> std::optional<QString> {
             const auto image = std::span<const std::uint8_t>(EEPROMImage).first(length);
             if (!WriteEEPROM(*this, 0, image, 0, int(length) - 1) || !WriteFinished(*this))
                 return LinkError(*this);
             return std::nullopt;
         }});
}

std::int32_t TDevice::ReadADC()
{
    std::array<std::uint8_t, ADCBlockLength> bytes{};
    if (SetRAMAddress(0) != 0)
        return LastError;
    for (auto &byte : bytes) {
        if (ReadRAMByte(byte) != 0)
            return LastError;
    }
    ClearBlock(ADCBlockType);
    SetBlock(ADCBlockType, bytes);
    return 0;
}
