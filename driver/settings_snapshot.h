#pragma once
// The settings of the snapshot (the 22 fields of the settings string, TopicName and the sensors
// not among them), each as its own text.
//
// The settings string "|f1|f2|...|f22|" does not escape its texts, so a "|" in a port name,
// folder or DDE name would shift every later field when the string is parsed back. The settings
// window therefore keeps the fields one by one: SettingsFields takes them, and
// RestoreSettingsFields puts each back from its own text, whatever the texts hold, then
// re-applies the port configuration. SettingsToString and SettingsFromString
// (prgcontrol_settings.cpp) join and split the same fields.
#include <QStringList>

#include <optional>

class TProgramControl;

constexpr int SettingsFieldCount = 22;

QStringList SettingsFields(TProgramControl &control);
// True when all fields were read; fields before a bad one keep their new values, and only a
// full read re-applies the port configuration.
bool RestoreSettingsFields(TProgramControl &control, const QStringList &fields);

// ErrorValue as text, and back: "." as the decimal separator, "," accepted on reading, so that
// files and strings written on a system with a decimal comma still read. Empty when not a
// finite number.
QString ErrorValueString(double value);
std::optional<double> ParseErrorValue(const QString &text);
