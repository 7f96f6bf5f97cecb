#pragma once
// The driver's plain settings, those of "Common Adjusts" and "COM-port" in "tagpump.ini", as one
// table (settings_table.cpp) that the settings file and the settings string both walk. The
// window's position and the sensor list are not plain settings: LoadSettings and SaveSettings
// (prgcontrol_settings.cpp) keep them.
#include <QStringList>

class TProgramControl;

// The most characters that the object, DDE and sensor texts keep of what they read.
constexpr int ShortTextLength = 255;

namespace platform {
class ProfileBatch;
class ProfileSnapshot;
} // namespace platform

// Puts every setting of the file into the controller, a missing or unreadable key giving its
// default. A DDE topic name the DDE layer refuses adds its warning to `warnings`.
void ReadTableSettings(const platform::ProfileSnapshot &ini, TProgramControl &control, QStringList &warnings);
void WriteTableSettings(platform::ProfileBatch &ini, TProgramControl &control);

// A refused DDE name as a warning says it: control characters shown as "?", and a long name by
// its start.
QString RefusedDdeNameText(const QString &what, const QString &refused, const QString &served);
