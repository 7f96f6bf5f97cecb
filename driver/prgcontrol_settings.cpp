// The driver's settings file "tagpump.ini" in the working folder, the settings string and its
// fields, the autorun entry, and the two small controller operations around them
// (ApplyPortConfig, FreeSensors).
//
// The file is read once at start-up and written at every end of the program, as one atomic
// replacement (ProfileBatch), so a crash while saving never leaves half the sensors. ErrorValue
// is written with "." and read with "." or ",", and a value that is not a number reads as the
// default 1000 instead of stopping the start-up.
#include "prgcontrol.h"

#include "ascii_chanclass.h"
#include "settings_snapshot.h"

#include "extlibs/comport/comport.h"
#include "platform/autorun.h"
#include "platform/codepage.h"
#include "platform/dde_server.h"
#include "platform/profile.h"

#include <QLocale>
#include <QMessageBox>
#include <QWidget>

#include <cmath>
#include <functional>

namespace {

const QString MainSection = QStringLiteral("Main");
const QString CommonSection = QStringLiteral("Common Adjusts");
const QString PortSection = QStringLiteral("COM-port");
const QString SensorsSection = QStringLiteral("Sensors");
const QString SettingsFileName = QStringLiteral("tagpump.ini");
const QString AutorunId = QStringLiteral("tagpump");
const QString AutorunName = QStringLiteral("Tagpump");

constexpr int ShortTextLength = 255;
constexpr double DefaultErrorValue = 1000;

QString SensorKey(int n)
{
    return QStringLiteral("Sensor") + QString::number(n);
}

// The file's messages go to the user as the error boxes of the window thread.
void ShowError(QWidget *owner, const QString &text)
{
    QMessageBox::critical(owner, QStringLiteral("Tagpump"), text);
}

// One field of the settings string: its text, and how a text is put back into it. A setter
// returns false for a text that its field cannot take; the field then keeps its value.
struct SettingsField {
    std::function<QString(TProgramControl &)> get;
    std::function<bool(TProgramControl &, const QString &)> set;
};

// A number field of the given width: a signed decimal integer (locale-independent), of which
// the low bits are kept.
template <typename T>
SettingsField NumberField(T TProgramControl::*field)
{
    return {[field](TProgramControl &c) { return QString::number(c.*field); },
            [field](TProgramControl &c, const QString &text) {
                bool ok = false;
                const qlonglong value = text.toLongLong(&ok, 10);
                if (ok)
                    c.*field = T(value);
                return ok;
            }};
}

SettingsField FlagField(bool TProgramControl::*field)
{
    return {[field](TProgramControl &c) { return QString(c.*field ? u'1' : u'0'); },
            [field](TProgramControl &c, const QString &text) {
                c.*field = text == QLatin1String("1");
                return true;
            }};
}

SettingsField TextField(QString TProgramControl::*field, int limit = -1)
{
    return {[field](TProgramControl &c) { return c.*field; },
            [field, limit](TProgramControl &c, const QString &text) {
                c.*field = limit < 0 ? text : text.left(limit);
                return true;
            }};
}

const std::array<SettingsField, SettingsFieldCount> &Fields()
{
    static const std::array<SettingsField, SettingsFieldCount> fields{{
        NumberField(&TProgramControl::ActivePageNumber),
        TextField(&TProgramControl::ObjectName, ShortTextLength),
        NumberField(&TProgramControl::SensorTimeInterval),
        NumberField(&TProgramControl::SensorCircleInterval),
        FlagField(&TProgramControl::ConnectionScheme),
        FlagField(&TProgramControl::AutoRunProgram),
        FlagField(&TProgramControl::AutoRunExchange),
        {[](TProgramControl &c) { return QString(c.GetHints() ? u'1' : u'0'); },
         [](TProgramControl &c, const QString &text) {
             c.SetHints(text == QLatin1String("1"));
             return true;
         }},
        FlagField(&TProgramControl::ErrorState),
        {[](TProgramControl &c) { return ErrorValueString(c.ErrorValue); },
         [](TProgramControl &c, const QString &text) {
             const std::optional<double> value = ParseErrorValue(text);
             if (value)
                 c.ErrorValue = *value;
             return value.has_value();
         }},
        FlagField(&TProgramControl::IndividualTimeOutState),
        TextField(&TProgramControl::PortName),
        NumberField(&TProgramControl::BaudR),
        NumberField(&TProgramControl::TimeOut1),
        NumberField(&TProgramControl::TimeOut2),
        NumberField(&TProgramControl::TimeOut3),
        FlagField(&TProgramControl::Logging),
        TextField(&TProgramControl::LogFileDIR),
        FlagField(&TProgramControl::UseDdeManagement),
        TextField(&TProgramControl::DdeService, ShortTextLength),
        TextField(&TProgramControl::DdeTopic, ShortTextLength),
        TextField(&TProgramControl::DdeItem, ShortTextLength),
    }};
    return fields;
}

} // namespace

QString ErrorValueString(double value)
{
    // The shortest text that reads back as the same number ("1000", "12.5").
    return std::isfinite(value) ? QString::number(value, 'g', QLocale::FloatingPointShortest) : QString();
}

std::optional<double> ParseErrorValue(const QString &text)
{
    QString decimal = text.trimmed();
    decimal.replace(u',', u'.');
    bool ok = false;
    const double value = QLocale::c().toDouble(decimal, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QStringList SettingsFields(TProgramControl &control)
{
    QStringList texts;
    texts.reserve(SettingsFieldCount);
    for (const SettingsField &field : Fields())
        texts.append(field.get(control));
    return texts;
}

bool RestoreSettingsFields(TProgramControl &control, const QStringList &fields)
{
    for (int i = 0; i < SettingsFieldCount; ++i) {
        if (i >= fields.size() || !Fields()[i].set(control, fields[i]))
            return false;
    }
    control.ApplyPortConfig();
    return true;
}

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
    return SetCOMCfg(PortHandle, platform::toCp1251(PortName).constData(), BaudR, TimeOut1, TimeOut2, TimeOut3);
}

bool TProgramControl::FreeSensors()
{
    for (const TSensorEntry &entry : std::as_const(SensorList))
        delete entry.Channel;
    SensorList.clear();
    return true;
}

bool TProgramControl::LoadSettings()
{
    const platform::ProfileFile ini(WorkingDir + SettingsFileName);

    // Each edge goes to the main window as soon as it is read.
    if (Owner) {
        Owner->move(ini.readInteger(MainSection, QStringLiteral("Left"), 200), Owner->y());
        Owner->move(Owner->x(), ini.readInteger(MainSection, QStringLiteral("Top"), 100));
    }

    const auto number = [&](const char *key, int def) { return ini.readInteger(CommonSection, QLatin1String(key), def); };
    const auto flag = [&](const char *key) { return ini.readBool(CommonSection, QLatin1String(key), false); };
    const auto text = [&](const char *key, const QString &def) { return ini.readString(CommonSection, QLatin1String(key), def); };

    ActivePageNumber = std::uint8_t(number("ActivePageNumber", 0));
    if (ServerConv)
        ServerConv->setName(text("TopicName", QStringLiteral("ORVANT")));
    ObjectName = text("ObjectName", QStringLiteral("S")).left(ShortTextLength);
    SensorTimeInterval = std::uint16_t(number("SensorTimeInterval", 500));
    SensorCircleInterval = std::uint16_t(number("SensorCircleInterval", 1000));
    ConnectionScheme = flag("ConnectionScheme");
    AutoRunProgram = flag("AutoRunProgram");
    AutoRunExchange = flag("AutoRunExchange");
    SetHints(flag("Hints"));
    ErrorState = flag("ErrorState");
    ErrorValue = ParseErrorValue(text("ErrorValue", QStringLiteral("1000"))).value_or(DefaultErrorValue);
    IndividualTimeOutState = flag("IndividualTimeOutState");
    Logging = flag("Logging");
    LogFileDIR = text("LogFileDIR", WorkingDir + QStringLiteral("Logs"));
    UseDdeManagement = flag("UseDdeManagement");
    DdeService = text("DdeService", QString()).left(ShortTextLength);
    DdeTopic = text("DdeTopic", QString()).left(ShortTextLength);
    DdeItem = text("DdeItem", QString()).left(ShortTextLength);

    PortName = ini.readString(PortSection, QStringLiteral("COMN"), QStringLiteral("COM1"));
    BaudR = std::uint16_t(ini.readInteger(PortSection, QStringLiteral("BaudR"), 9600));
    TimeOut1 = std::uint16_t(ini.readInteger(PortSection, QStringLiteral("TimeOut1"), 100));
    TimeOut2 = std::uint16_t(ini.readInteger(PortSection, QStringLiteral("TimeOut2"), 10));
    TimeOut3 = std::uint16_t(ini.readInteger(PortSection, QStringLiteral("TimeOut3"), 1000));

    ApplyPortConfig();
    FreeSensors();

    // Only the number of keys counts, not their names: the sensors are numbered from 1.
    const qsizetype count = ini.readSection(SensorsSection).size();
    if (count == 0) {
        AddSensor();
        return true;
    }
    for (int n = 1; n <= count; ++n) {
        TASCIIChannel *channel = AddSensor();
        channel->FromConfigString(ini.readString(SensorsSection, SensorKey(n), QStringLiteral("|0|0|")).left(ShortTextLength));
    }
    return true;
}

bool TProgramControl::SaveSettings()
{
    const QString path = WorkingDir + SettingsFileName;
    try {
        platform::ProfileBatch ini(path);
        ini.writeInteger(MainSection, QStringLiteral("Left"), Owner ? Owner->x() : 200);
        ini.writeInteger(MainSection, QStringLiteral("Top"), Owner ? Owner->y() : 100);

        const auto number = [&](const char *key, int value) { ini.writeInteger(CommonSection, QLatin1String(key), value); };
        const auto flag = [&](const char *key, bool value) { ini.writeBool(CommonSection, QLatin1String(key), value); };
        const auto text = [&](const char *key, const QString &value) { ini.writeString(CommonSection, QLatin1String(key), value); };
        number("ActivePageNumber", ActivePageNumber);
        text("TopicName", TopicName());
        text("ObjectName", ObjectName);
        number("SensorTimeInterval", SensorTimeInterval);
        number("SensorCircleInterval", SensorCircleInterval);
        flag("ConnectionScheme", ConnectionScheme);
        flag("AutoRunProgram", AutoRunProgram);
        flag("AutoRunExchange", AutoRunExchange);
        flag("Hints", GetHints());
        flag("ErrorState", ErrorState);
        ini.writeFloat(CommonSection, QStringLiteral("ErrorValue"), ErrorValue);
        flag("IndividualTimeOutState", IndividualTimeOutState);
        flag("Logging", Logging);
        text("LogFileDIR", LogFileDIR);
        flag("UseDdeManagement", UseDdeManagement);
        text("DdeService", DdeService);
        text("DdeTopic", DdeTopic);
        text("DdeItem", DdeItem);

        ini.writeString(PortSection, QStringLiteral("COMN"), PortName);
        ini.writeInteger(PortSection, QStringLiteral("BaudR"), BaudR);
        ini.writeInteger(PortSection, QStringLiteral("TimeOut1"), TimeOut1);
        ini.writeInteger(PortSection, QStringLiteral("TimeOut2"), TimeOut2);
        ini.writeInteger(PortSection, QStringLiteral("TimeOut3"), TimeOut3);

        // The sensors are always Sensor1..SensorN without gaps, whatever the file held before.
        ini.eraseSection(SensorsSection);
        for (int n = 1; n <= SensorList.size(); ++n) {
            const TASCIIChannel *channel = SensorList[n - 1].Channel;
            ini.writeString(SensorsSection, SensorKey(n), channel ? channel->ToConfigString() : QStringLiteral("|0|0|"));
        }
        ini.commit();
    } catch (const platform::ProfileWriteError &e) {
        ShowError(Owner, e.message());
        return false;
    }
    if (SensorList.isEmpty())
        return true;

    // The autorun entry starts the working folder's program in that folder.
    if (AutoRunProgram) {
        QString folder = WorkingDir;
        if (folder.size() > 1 && folder.endsWith(u'/'))
            folder.chop(1);
        if (!platform::setAutorunEntry(AutorunId, AutorunName, WorkingDir + QStringLiteral("tagpump"), folder)) {
            ShowError(Owner, QStringLiteral("Failed to set data for '%1'").arg(AutorunName));
            return false;
        }
    } else {
        platform::removeAutorunEntry(AutorunId);
    }
    return true;
}
