// TDevice: the section "Device" of project files and the calibration files.
#include "device_u.h"

#include "filedialog_u.h"
#include "main_u.h"
#include "platform/profile.h"
#include "platform/user_file.h"
#include "prgctrl_u.h"
#include "prjctrl_u.h"

#include <QFileInfo>

#include <array>
#include <cfloat>
#include <cmath>

namespace {

const QString DeviceSection = QStringLiteral("Device");
// Block type by block type, the key of its value.
const std::array<QString, 4> BlockKeys{QStringLiteral("CRC"), QStringLiteral("CalibCoefs"),
                                       QStringLiteral("Params"), QStringLiteral("ADC")};
constexpr int MaxHexLength = 255;

const QString CalibrationSection = QStringLiteral("CALIBRATION");

// The coefficients of a calibration file in the order they are written.
struct TCoefficient {
    const char *Key;
    float TCalibration::*Field;
};
constexpr std::array<TCoefficient, 7> Coefficients{{
    {"Ki05", &TCalibration::Ki05},
    {"Ki20", &TCalibration::Ki20},
    {"Ku", &TCalibration::Ku},
    {"Rref", &TCalibration::Rref},
    {"Uref", &TCalibration::Uref},
    {"Rl", &TCalibration::Rl},
    {"Rc", &TCalibration::Rc},
}};

// Runs one of the window's calibration dialogs; the chosen file's folder becomes the folder of
// every file dialog. Empty when cancelled.
QString ChooseFile(TfMain *form, TFileDialog *TfMain::*dialog)
{
    if (!form || !(form->*dialog)->Execute())
        return QString();
    const QString fileName = (form->*dialog)->FileName();
    form->ProgramControl->SetSaveDir(FolderPart(fileName));
    return fileName;
}

} // namespace

// --- Numbers ---

QString TDevice::FloatToText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (value == 0)
        return QStringLiteral("0");
    // The 15 significant digits and the decimal exponent, after rounding: "d.dddddddddddddde±x".
    const QString scientific = QString::number(std::fabs(value), 'e', 14);
    const qsizetype e = scientific.indexOf(QLatin1Char('e'));
    QString digits = scientific.left(e).remove(QLatin1Char('.'));
    const int exponent = scientific.mid(e + 1).toInt();
    while (digits.size() > 1 && digits.endsWith(QLatin1Char('0')))
        digits.chop(1);

    QString text = value < 0 ? QStringLiteral("-") : QString();
    if (exponent < -5 || exponent > 14) {
        text += digits.left(1);
        if (digits.size() > 1)
            text += QLatin1Char('.') + digits.mid(1);
        return text + QLatin1Char('E') + QString::number(exponent);
    }
    if (exponent < 0)
        return text + QStringLiteral("0.") + QString(-exponent - 1, QLatin1Char('0')) + digits;
    const qsizetype integerDigits = exponent + 1;
    if (digits.size() <= integerDigits)
        return text + digits + QString(integerDigits - digits.size(), QLatin1Char('0'));
    return text + digits.left(integerDigits) + QLatin1Char('.') + digits.mid(integerDigits);
}

// --- Project files ---

std::int32_t TDevice::SaveToProject(const QString &fileName)
{
    platform::ProfileBatch ini(fileName);
    const std::int32_t result = SaveToProject(ini);
    ini.commit();
    return result;
}

std::int32_t TDevice::SaveToProject(platform::ProfileBatch &ini)
{
    TakeParams();
    for (int type = CRCBlockType; type <= ADCBlockType; ++type) {
        QString text;
        if (BlockToHex(type, text, MaxHexLength) != 0)
            return -1;
        ini.writeString(DeviceSection, BlockKeys[type], text);
    }
    return 0;
}

std::int32_t TDevice::LoadFromProject(const QString &fileName)
{
    const platform::ProfileFile ini(fileName);
    for (int type = CRCBlockType; type <= ADCBlockType; ++type) {
        const QString zeros(2 * Block(type).size(), QLatin1Char('0'));
        const QString text = ini.readString(DeviceSection, BlockKeys[type], zeros).left(MaxHexLength);
        if (HexToBlock(type, text) != 0)
            return -1;
    }
    ShowParams();
    return 0;
}

// --- Calibration files ---

void TDevice::WriteCalibrationFile(const QString &fileName, const TCalibration &calibration)
{
    platform::ProfileBatch ini(fileName);
    for (const TCoefficient &c : Coefficients)
        ini.writeString(CalibrationSection, QLatin1String(c.Key), FloatToText(calibration.*c.Field));
    ini.commit();
}

TCalibration TDevice::ReadCalibrationFile(const QString &fileName)
{
    const platform::ProfileFile ini(fileName);
    TCalibration calibration;
    for (const TCoefficient &c : Coefficients) {
        // Absent, empty, not a number or rounding beyond a 32-bit float: 0.
        const double value = ini.readFloat(CalibrationSection, QLatin1String(c.Key), 0.0);
        calibration.*c.Field = device_bytes::ToSingle(value).value_or(0.0f);
    }
    return calibration;
}

std::int32_t TDevice::SaveCalibrationFile()
{
    const QString fileName = ChooseFile(FForm, &TfMain::CalibSaveDialog);
    if (fileName.isEmpty())
        return 0;
    TakeParams();
    WriteCalibrationFile(fileName, TCalibration::FromBytes(CalibBlock));
    return 0;
}

std::int32_t TDevice::LoadCalibrationFile()
{
    const QString fileName = ChooseFile(FForm, &TfMain::CalibOpenDialog);
    if (fileName.isEmpty())
        return 0;
    // A pipe or a device would read as a file of zeros: refused (UserFileError) instead.
    if (QFileInfo::exists(fileName))
        platform::requireRegularFile(fileName);
    ReadCalibrationFile(fileName).ToBytes(CalibBlock);
    ShowParams();
    return 0;
}
