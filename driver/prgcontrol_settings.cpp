// The driver's settings file "tagpump.ini" in the working folder with the window's position and
// the sensor list, the settings string, the autorun entry, and the small controller operations
// around them (ApplyPortConfig, FreeSensors). The plain settings come from their table
// (settings_table.cpp).
//
// The file is read once at start-up and written at every end of the program, as one atomic
// replacement (ProfileBatch), so a crash while saving never leaves half the sensors.
#include "prgcontrol.h"

#include "ascii_chanclass.h"
#include "settings_snapshot.h"
#include "settings_table.h"

#include "extlibs/comport/comport.h"
#include "platform/autorun.h"
#include "platform/codepage.h"
#include "platform/dde_names.h"
#include "platform/dde_server.h"
#include "platform/profile.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>

#include <cstdio>

namespace {

const QString MainSection = QStringLiteral("Main");
const QString SensorsSection = QStringLiteral("Sensors");
const QString SettingsFileName = QStringLiteral("tagpump.ini");
const QString AutorunId = QStringLiteral("tagpump");
const QString AutorunName = QStringLiteral("Tagpump");

QString SensorKey(int n)
{
    return QStringLiteral("Sensor") + QString::number(n);
}

// The file's messages go to the user as the error boxes of the window thread, or to standard
// error when nobody is there to answer a box.
void ShowError(const TProgramControl &control, const QString &text)
{
    if (control.Unattended)
        std::fprintf(stderr, "tagpump: %s\n", qPrintable(text));
    else
        QMessageBox::critical(control.Owner, QStringLiteral("Tagpump"), text);
}

// Where the main window goes for a stored position: there when some screen shows its top strip
// (where it is grabbed and moved) at least partly, else the nearest place on the primary screen
// where it lies whole. Computed in 64 bits: a stored edge may be any 32-bit number.
QPoint VisibleWindowPosition(QPoint stored, QSize size)
{
    const qint64 left = stored.x(), top = stored.y();
    const qint64 width = std::max(size.width(), 1), strip = std::min(std::max(size.height(), 1), 20);
    for (const QScreen *screen : QGuiApplication::screens()) {
        const QRect area = screen->availableGeometry();
        const qint64 seenWidth = std::min<qint64>(left + width, qint64(area.left()) + area.width()) - std::max<qint64>(left, area.left());
        const qint64 seenHeight = std::min<qint64>(top + strip, qint64(area.top()) + area.height()) - std::max<qint64>(top, area.top());
        if (seenWidth >= std::min<qint64>(width, 40) && seenHeight >= strip)
            return stored;
    }
    const QScreen *primary = QGuiApplication::primaryScreen();
    if (!primary)
        return stored;
    const QRect area = primary->availableGeometry();
    const auto fit = [](qint64 at, qint64 length, qint64 start, qint64 room) {
        return int(std::max(start, std::min(at, start + room - length)));
    };
    return {fit(left, size.width(), area.left(), area.width()), fit(top, size.height(), area.top(), area.height())};
}

} // namespace

QString TProgramControl::SettingsToString()
{
    return u'|' + SettingsFields(*this).join(u'|') + u'|';
}

bool TProgramControl::SettingsFromString(const QString &text)
{
    qsizetype pos = text.indexOf(u'|');
    if (pos < 0)
        return false;
    QStringList fields;
    for (int i = 0; i < SettingsFieldCount; ++i) {
        const qsizetype bar = text.indexOf(u'|', pos + 1);
        if (bar < 0)
            break;
        fields.append(text.sliced(pos + 1, bar - pos - 1));
        pos = bar;
    }
    // Fields read before a missing or bad one keep their new values.
    return RestoreSettingsFields(*this, fields);
}

bool TProgramControl::ApplyPortConfig()
{
    return SetCOMCfg(PortHandle, platform::toCp1251(PortName).constData(), PortBaudRate(), TimeOut1, TimeOut2, TimeOut3);
}

std::uint16_t TProgramControl::PortBaudRate() const
{
    return BaudR >= 0 && BaudR <= 0xFFFF ? std::uint16_t(BaudR) : 0;
}

QString TProgramControl::PortSettingRefusal() const
{
    QStringList rates;
    bool rateOffered = false;
    for (const std::uint16_t *rate = GetCOMBaudRates(); *rate != 0; ++rate) {
        rates.append(QString::number(*rate));
        rateOffered = rateOffered || *rate == BaudR;
    }
    QString reason;
    if (PortName.isEmpty())
        reason = QStringLiteral("имя порта COMN не задано");
    else if (!rateOffered)
        reason = QStringLiteral("скорость BaudR=%1 не поддерживается (допустимы %2)").arg(BaudR).arg(rates.join(u", "));
    else
        reason = QStringLiteral("COMN=\"%1\" не может быть именем порта").arg(PortName);
    return QStringLiteral("Настройка COM-порта не принята: %1.\n"
                          "Порт не открывается, и каждый опрос завершается ошибкой, пока настройка не исправлена.")
        .arg(reason);
}

bool TProgramControl::FreeSensors()
{
    if (RunActive)
        return false;  // the polling thread reads the list
    for (const TSensorEntry &entry : std::as_const(SensorList))
        delete entry.Channel;
    SensorList.clear();
    return true;
}

bool TProgramControl::LoadSettings()
{
    // One read of the file for all keys: a file with tens of thousands of sensors loads in one pass.
    const platform::ProfileSnapshot ini(WorkingDir + SettingsFileName);
    QStringList warnings;  // said once the log's settings are known

    if (Owner) {
        const QPoint stored(ini.readInteger(MainSection, QStringLiteral("Left"), 200),
                            ini.readInteger(MainSection, QStringLiteral("Top"), 100));
        const QPoint placed = VisibleWindowPosition(stored, Owner->size());
        Owner->move(placed);
        KeptPosition = {stored, placed, placed != stored};
    }

    ReadTableSettings(ini, *this, warnings);

    if (!ApplyPortConfig())
        warnings << PortSettingRefusal();
    FreeSensors();

    // Only the number of keys counts, not their names: the sensors are numbered from 1. A sensor's
    // number is 16 bits wide, so the ones past MaxSensors are left out rather than served
    // under the wrapped numbers of others, without items of their own.
    const qsizetype keys = ini.readSection(SensorsSection).size();
    const int count = int(std::min<qsizetype>(keys, MaxSensors));
    if (keys > MaxSensors)
        warnings << QStringLiteral("В %1 датчиков: %2. Номер датчика не больше %3: "
                                   "датчики с %4 по %2 не загружены и при выходе не сохранятся.")
                        .arg(SettingsFileName).arg(keys).arg(MaxSensors).arg(MaxSensors + 1);

    // The items of the sensors are named ObjectName + number; a name the DDE layer refuses
    // would leave every sensor without one.
    if (!platform::isValidDdeName(ObjectName + QString::number(std::max(count, 1)))) {
        const QString refused = ObjectName;
        ObjectName = QStringLiteral("S");
        warnings << RefusedDdeNameText(QStringLiteral("DDE объект"), refused, ObjectName);
    }

    if (count == 0) {
        AddSensor();
    } else {
        SensorList.reserve(count);
        for (int n = 1; n <= count; ++n) {
            TASCIIChannel *channel = AddSensor();
            channel->FromConfigString(ini.readString(SensorsSection, SensorKey(n), QStringLiteral("|0|0|")).left(ShortTextLength));
        }
    }
    for (const QString &warning : std::as_const(warnings))
        WarnAtLoad(warning);
    return true;
}

bool TProgramControl::SaveSettings()
{
    const QString path = WorkingDir + SettingsFileName;
    try {
        platform::ProfileBatch ini(path);
        // A position that was off every screen stays in the file until the user moves the window.
        QPoint position = Owner ? Owner->pos() : QPoint(200, 100);
        if (KeptPosition.offScreen && position == KeptPosition.placed)
            position = KeptPosition.stored;
        ini.writeInteger(MainSection, QStringLiteral("Left"), position.x());
        ini.writeInteger(MainSection, QStringLiteral("Top"), position.y());

        WriteTableSettings(ini, *this);

        // The sensors are always Sensor1..SensorN without gaps, whatever the file held before.
        ini.eraseSection(SensorsSection);
        for (int n = 1; n <= SensorList.size(); ++n) {
            const TASCIIChannel *channel = SensorList[n - 1].Channel;
            ini.writeString(SensorsSection, SensorKey(n), channel ? channel->ToConfigString() : QStringLiteral("|0|0|"));
        }
        ini.commit();
    } catch (const platform::ProfileWriteError &e) {
        ShowError(*this, e.message());
        return false;
    }
    if (SensorList.isEmpty())
        return true;

    // The autorun entry starts this program's own executable in the working folder, where it
    // finds these settings again; the program rarely lies in that folder itself.
    if (AutoRunProgram) {
        QString folder = WorkingDir;
        if (folder.size() > 1 && folder.endsWith(u'/'))
            folder.chop(1);
        if (!platform::setAutorunEntry(AutorunId, AutorunName, QCoreApplication::applicationFilePath(), folder)) {
            ShowError(*this, QStringLiteral("Failed to set data for '%1'").arg(AutorunName));
            return false;
        }
    } else {
        platform::removeAutorunEntry(AutorunId);
    }
    return true;
}
