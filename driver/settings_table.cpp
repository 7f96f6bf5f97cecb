// The driver's plain settings as one table: each key's section, name, default, the controller's
// member that holds it and how its text is read and made. The settings file ("tagpump.ini") and
// the settings string "|f1|...|f22|" walk the same table; where the two take a setting
// differently, its kind says how:
// - numbers are read from the file also as "0x"/"$" hexadecimal, but written decimal in both,
//   and the member keeps the low bits of what it reads;
// - ErrorValue is written with "." and read with "." or ","; a file's value that is not a number
//   reads as the default instead of stopping the start-up;
// - the object and DDE names keep at most 255 characters of what they read;
// - the log folder's default lies in the working folder;
// - the hints go through the controller's SetHints/GetHints, and the DDE topic's name through
//   its DDE topic; the topic's name is in the file only, not in the settings string.
#include "settings_table.h"

#include "prgcontrol.h"
#include "settings_snapshot.h"

#include "platform/dde_server.h"
#include "platform/profile.h"

#include <QLocale>

#include <array>
#include <cmath>
#include <variant>

namespace {

constexpr const char *CommonSection = "Common Adjusts";
constexpr const char *PortSection = "COM-port";

enum class TKind {
    Number,      // an integer member
    Flag,        // a bool member, "1" or "0"
    Text,        // a QString member as it stands
    ShortText,   // a QString member, at most ShortTextLength characters read
    Folder,      // a QString member whose default lies in the working folder
    ErrorValue,  // the double ErrorValue
    Hints,       // SetHints/GetHints
    Topic,       // the DDE topic's name; file only
};

using TMember = std::variant<std::monostate, std::uint8_t TProgramControl::*, std::uint16_t TProgramControl::*,
                             int TProgramControl::*, bool TProgramControl::*, QString TProgramControl::*,
                             double TProgramControl::*>;

template <typename Field>
constexpr bool IsNumberMember = std::is_same_v<Field, std::uint8_t TProgramControl::*>
                                || std::is_same_v<Field, std::uint16_t TProgramControl::*>
                                || std::is_same_v<Field, int TProgramControl::*>;

struct TSetting {
    const char *Section;
    const char *Key;
    TKind Kind;
    const char *Default;
    TMember Member;
};

// In the order of the settings string; the file gets each section's keys in the same order.
// ErrorValue's default here is the file's; the controller's creation value is another
// (prgcontrol.h, ErrorValue).
constexpr std::array<TSetting, SettingsFieldCount + 1> Settings{{
    {CommonSection, "ActivePageNumber", TKind::Number, "0", &TProgramControl::ActivePageNumber},
    {CommonSection, "TopicName", TKind::Topic, "ORVANT", {}},
    {CommonSection, "ObjectName", TKind::ShortText, "S", &TProgramControl::ObjectName},
    {CommonSection, "SensorTimeInterval", TKind::Number, "500", &TProgramControl::SensorTimeInterval},
    {CommonSection, "SensorCircleInterval", TKind::Number, "1000", &TProgramControl::SensorCircleInterval},
    {CommonSection, "ConnectionScheme", TKind::Flag, "0", &TProgramControl::ConnectionScheme},
    {CommonSection, "AutoRunProgram", TKind::Flag, "0", &TProgramControl::AutoRunProgram},
    {CommonSection, "AutoRunExchange", TKind::Flag, "0", &TProgramControl::AutoRunExchange},
    {CommonSection, "Hints", TKind::Hints, "0", {}},
    {CommonSection, "ErrorState", TKind::Flag, "0", &TProgramControl::ErrorState},
    {CommonSection, "ErrorValue", TKind::ErrorValue, "1000", &TProgramControl::ErrorValue},
    {CommonSection, "IndividualTimeOutState", TKind::Flag, "0", &TProgramControl::IndividualTimeOutState},
    {PortSection, "COMN", TKind::Text, "COM1", &TProgramControl::PortName},
    {PortSection, "BaudR", TKind::Number, "9600", &TProgramControl::BaudR},
    {PortSection, "TimeOut1", TKind::Number, "100", &TProgramControl::TimeOut1},
    {PortSection, "TimeOut2", TKind::Number, "10", &TProgramControl::TimeOut2},
    {PortSection, "TimeOut3", TKind::Number, "1000", &TProgramControl::TimeOut3},
    {CommonSection, "Logging", TKind::Flag, "0", &TProgramControl::Logging},
    {CommonSection, "LogFileDIR", TKind::Folder, "Logs", &TProgramControl::LogFileDIR},
    {CommonSection, "UseDdeManagement", TKind::Flag, "0", &TProgramControl::UseDdeManagement},
    {CommonSection, "DdeService", TKind::ShortText, "", &TProgramControl::DdeService},
    {CommonSection, "DdeTopic", TKind::ShortText, "", &TProgramControl::DdeTopic},
    {CommonSection, "DdeItem", TKind::ShortText, "", &TProgramControl::DdeItem},
}};

// Each setting's member is of the type that its kind reads and writes, and the string has
// SettingsFieldCount fields.
constexpr bool TableFits()
{
    int fields = 0;
    for (const TSetting &s : Settings) {
        const bool fits = std::visit([&s](auto field) {
            using Field = decltype(field);
            switch (s.Kind) {
            case TKind::Number:
                return IsNumberMember<Field>;
            case TKind::Flag:
                return std::is_same_v<Field, bool TProgramControl::*>;
            case TKind::Text:
            case TKind::ShortText:
            case TKind::Folder:
                return std::is_same_v<Field, QString TProgramControl::*>;
            case TKind::ErrorValue:
                return std::is_same_v<Field, double TProgramControl::*>;
            case TKind::Hints:
            case TKind::Topic:
                return std::is_same_v<Field, std::monostate>;
            }
            return false;
        }, s.Member);
        if (!fits)
            return false;
        fields += s.Kind != TKind::Topic;
    }
    return fields == SettingsFieldCount;
}
static_assert(TableFits());

qlonglong Number(const TProgramControl &c, const TMember &member)
{
    return std::visit([&c](auto field) -> qlonglong {
        if constexpr (IsNumberMember<decltype(field)>)
            return c.*field;
        else
            return 0;
    }, member);
}

// The member keeps the low bits of the value.
void SetNumber(TProgramControl &c, const TMember &member, qlonglong value)
{
    std::visit([&c, value](auto field) {
        if constexpr (IsNumberMember<decltype(field)>)
            c.*field = std::remove_reference_t<decltype(c.*field)>(value);
    }, member);
}

bool &Flag(TProgramControl &c, const TSetting &setting)
{
    return c.*std::get<bool TProgramControl::*>(setting.Member);
}

QString &Text(TProgramControl &c, const TSetting &setting)
{
    return c.*std::get<QString TProgramControl::*>(setting.Member);
}

double &Double(TProgramControl &c, const TSetting &setting)
{
    return c.*std::get<double TProgramControl::*>(setting.Member);
}

QString FlagText(bool value)
{
    return QString(value ? u'1' : u'0');
}

void ReadSetting(const platform::ProfileSnapshot &ini, TProgramControl &c, const TSetting &s, QStringList &warnings)
{
    const QString section = QLatin1String(s.Section);
    const QString key = QLatin1String(s.Key);
    const QString def = QLatin1String(s.Default);
    switch (s.Kind) {
    case TKind::Number:
        SetNumber(c, s.Member, ini.readInteger(section, key, def.toInt()));
        break;
    case TKind::Flag:
        Flag(c, s) = ini.readBool(section, key, def == QLatin1String("1"));
        break;
    case TKind::Text:
        Text(c, s) = ini.readString(section, key, def);
        break;
    case TKind::ShortText:
        Text(c, s) = ini.readString(section, key, def).left(ShortTextLength);
        break;
    case TKind::Folder:
        Text(c, s) = ini.readString(section, key, c.WorkingDir + def);
        break;
    case TKind::ErrorValue:
        Double(c, s) = ParseErrorValue(ini.readString(section, key, def)).value_or(*ParseErrorValue(def));
        break;
    case TKind::Hints:
        c.SetHints(ini.readBool(section, key, def == QLatin1String("1")));
        break;
    case TKind::Topic:
        if (c.ServerConv) {
            const QString topic = ini.readString(section, key, def);
            if (!c.ServerConv->setName(topic))
                warnings << RefusedDdeNameText(QStringLiteral("DDE раздел"), topic, c.ServerConv->name());
        }
        break;
    }
}

void WriteSetting(platform::ProfileBatch &ini, TProgramControl &c, const TSetting &s)
{
    const QString section = QLatin1String(s.Section);
    const QString key = QLatin1String(s.Key);
    switch (s.Kind) {
    case TKind::Number:
        ini.writeInteger(section, key, int(Number(c, s.Member)));
        break;
    case TKind::Flag:
        ini.writeBool(section, key, Flag(c, s));
        break;
    case TKind::Text:
    case TKind::ShortText:
    case TKind::Folder:
        ini.writeString(section, key, Text(c, s));
        break;
    case TKind::ErrorValue:
        ini.writeFloat(section, key, Double(c, s));
        break;
    case TKind::Hints:
        ini.writeBool(section, key, c.GetHints());
        break;
    case TKind::Topic:
        ini.writeString(section, key, c.TopicName());
        break;
    }
}

bool InString(const TSetting &s)
{
    return s.Kind != TKind::Topic;
}

// The setting's field of the settings string: integers decimal, locale-independent.
QString FieldText(TProgramControl &c, const TSetting &s)
{
    switch (s.Kind) {
    case TKind::Number:
        return QString::number(Number(c, s.Member));
    case TKind::Flag:
        return FlagText(Flag(c, s));
    case TKind::Text:
    case TKind::ShortText:
    case TKind::Folder:
        return Text(c, s);
    case TKind::ErrorValue:
        return ErrorValueString(Double(c, s));
    case TKind::Hints:
        return FlagText(c.GetHints());
    case TKind::Topic:
        break;
    }
    return QString();
}

// False for a text that the setting cannot take; the setting then keeps its value.
bool SetFieldText(TProgramControl &c, const TSetting &s, const QString &text)
{
    switch (s.Kind) {
    case TKind::Number: {
        bool ok = false;
        const qlonglong value = text.toLongLong(&ok, 10);
        if (ok)
            SetNumber(c, s.Member, value);
        return ok;
    }
    case TKind::Flag:
        Flag(c, s) = text == QLatin1String("1");
        return true;
    case TKind::Text:
    case TKind::Folder:
        Text(c, s) = text;
        return true;
    case TKind::ShortText:
        Text(c, s) = text.left(ShortTextLength);
        return true;
    case TKind::ErrorValue: {
        const std::optional<double> value = ParseErrorValue(text);
        if (value)
            Double(c, s) = *value;
        return value.has_value();
    }
    case TKind::Hints:
        c.SetHints(text == QLatin1String("1"));
        return true;
    case TKind::Topic:
        break;
    }
    return false;
}

} // namespace

void ReadTableSettings(const platform::ProfileSnapshot &ini, TProgramControl &control, QStringList &warnings)
{
    for (const TSetting &setting : Settings)
        ReadSetting(ini, control, setting, warnings);
}

void WriteTableSettings(platform::ProfileBatch &ini, TProgramControl &control)
{
    for (const TSetting &setting : Settings)
        WriteSetting(ini, control, setting);
}

QStringList SettingsFields(TProgramControl &control)
{
    QStringList texts;
    texts.reserve(SettingsFieldCount);
    for (const TSetting &setting : Settings) {
        if (InString(setting))
            texts.append(FieldText(control, setting));
    }
    return texts;
}

bool RestoreSettingsFields(TProgramControl &control, const QStringList &fields)
{
    qsizetype i = 0;
    for (const TSetting &setting : Settings) {
        if (!InString(setting))
            continue;
        if (i >= fields.size() || !SetFieldText(control, setting, fields[i]))
            return false;
        ++i;
    }
    control.ApplyPortConfig();
    return true;
}

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

QString RefusedDdeNameText(const QString &what, const QString &refused, const QString &served)
{
    QString shown = refused.left(60);
    for (QChar &c : shown) {
        if (c.category() == QChar::Other_Control)
            c = u'?';
    }
    if (refused.size() > shown.size())
        shown += QStringLiteral("...");
    return QStringLiteral("%1 \"%2\" (%3 симв.) отклонён; используется \"%4\".")
        .arg(what, shown).arg(refused.size()).arg(served);
}
