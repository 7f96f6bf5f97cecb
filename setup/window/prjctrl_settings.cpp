// The "Project Settings" section of a project file: the form's link, search, relay test,
// calibration, inspection and readout settings and the tab last shown, read into the form's
// controls and written from them. The project commands are in prjctrl_u.cpp.
#include "prjctrl_u.h"

#include "main_form.h"
#include "main_u.h"
#include "platform/profile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>

#include <array>

namespace {

const QString SettingsSection = QStringLiteral("Project Settings");

constexpr int PageCount = 6;

// The keys of "Project Settings" in the order in which they are read and written, each with its
// control and default. Port and baud keys select a combo box item by its text, the sensor type
// by its index.
enum class TKind { ComboText, ComboIndex, Spin, Check, Edit };
struct TSetting {
    const char *Key;
    TKind Kind;
    const char *Control;
    const char *Default;
};
const std::array<TSetting, 28> Settings{{
    {"COMPortName", TKind::ComboText, "TS0CB0", "COM1"},
    {"COMPortBaudRate", TKind::ComboText, "TS0CB1", "9600"},
    {"COMDeviceAddress", TKind::Spin, "TS0SE0", "0"},
    {"COMSeekPortName", TKind::ComboText, "TS0CB2", "COM1"},
    {"COMSeekPortBaudRate", TKind::ComboText, "TS0CB3", "9600"},
    {"COMSeekMinDeviceAddress", TKind::Spin, "TS0SE1", "0"},
    {"COMSeekMaxDeviceAddress", TKind::Spin, "TS0SE2", "255"},
    {"ReleTestRele1", TKind::Check, "TS2ChB0", "1"},
    {"ReleTestRele2", TKind::Check, "TS2ChB1", "1"},
    {"ReleTestRele3", TKind::Check, "TS2ChB2", "1"},
    {"ClbdKi05", TKind::Edit, "TS3Edit0", "0"},
    {"ClbdKi20", TKind::Edit, "TS3Edit1", "0"},
    {"ClbdKu", TKind::Edit, "TS3Edit2", "0"},
    {"ClbdRref", TKind::Edit, "TS3Edit3", "0"},
    {"ClbdUref", TKind::Edit, "TS3Edit4", "0"},
    {"ClbMiddling", TKind::Spin, "TS3SE0", "6"},
    {"ClbInterval", TKind::Spin, "TS3SE1", "2"},
    {"ClbDecPoints", TKind::Spin, "TS3SE2", "3"},
    {"OTKSensorType", TKind::ComboIndex, "TS4CB0", "0"},
    {"OTKMiddling1", TKind::Spin, "TS4SE0", "0"},
    {"OTKIUMin", TKind::Edit, "TS4Edit0", "0"},
    {"OTKIUMax", TKind::Edit, "TS4Edit1", "0"},
    {"OTKIMin", TKind::Edit, "TS4Edit2", "0"},
    {"OTKIMax", TKind::Edit, "TS4Edit3", "0"},
    {"OTKMiddling2", TKind::Spin, "TS4SE1", "6"},
    {"OTKDecPoints", TKind::Spin, "TS4SE2", "3"},
    {"DifferDecPoints1", TKind::Spin, "TS5SE0", "3"},
    {"DifferDecPoints2", TKind::Spin, "TS5SE1", "3"},
}};
const QString PageKey = QStringLiteral("ActivePageIndex");

} // namespace

int TProjectControl::ReadProjectSettings(const QString &fileName)
{
    const platform::ProfileFile ini(fileName);
    Ui::TfMain &ui = *FMain->ui;

    // The stored page, when its tab is shown in this access mode; otherwise the first.
    const int page = ini.readInteger(SettingsSection, PageKey, 0);
    const bool shown = page >= 0 && page < PageCount && ui.PC0->isTabVisible(page);
    ui.PC0->setCurrentIndex(shown ? page : 0);

    for (const TSetting &setting : Settings) {
        const QString key = QLatin1String(setting.Key);
        const QString def = QLatin1String(setting.Default);
        QWidget *control = FMain->findChild<QWidget *>(QLatin1String(setting.Control));
        switch (setting.Kind) {
        case TKind::ComboText: {
            // Matched without regard to letter case; no match leaves no selection, but for a
            // port: a port that is not present now (an adapter unplugged, another machine's
            // name) stays shown under its name, so that the user sees which one the project
            // wants and a command names it.
            auto *box = static_cast<QComboBox *>(control);
            const QString text = ini.readString(SettingsSection, key, def);
            int index = box->findText(text, Qt::MatchFixedString);
            if (index < 0 && !text.isEmpty() && (box == ui.TS0CB0 || box == ui.TS0CB2)) {
                box->addItem(text);
                index = box->count() - 1;
            }
            box->setCurrentIndex(index);
            break;
        }
        case TKind::ComboIndex: {
            auto *box = static_cast<QComboBox *>(control);
            const int index = ini.readInteger(SettingsSection, key, def.toInt());
            box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
            break;
        }
        case TKind::Spin:
            // The spin box keeps the value within its range.
            static_cast<QSpinBox *>(control)->setValue(ini.readInteger(SettingsSection, key, def.toInt()));
            break;
        case TKind::Check:
            static_cast<QCheckBox *>(control)->setChecked(ini.readBool(SettingsSection, key, def == QLatin1String("1")));
            break;
        case TKind::Edit:
            static_cast<QLineEdit *>(control)->setText(ini.readString(SettingsSection, key, def));
            break;
        }
    }
    // The sensor type presets the range fields as a choice of the user would.
    FMain->MyChange(ui.TS4CB0);
    return 0;
}

int TProjectControl::WriteProjectSettings(const QString &fileName)
{
    platform::ProfileBatch ini(fileName);
    WriteProjectSettings(ini);
    ini.commit();
    return 0;
}

int TProjectControl::WriteProjectSettings(platform::ProfileBatch &ini)
{
    ini.writeInteger(SettingsSection, PageKey, FMain->ui->PC0->currentIndex());
    for (const TSetting &setting : Settings) {
        const QString key = QLatin1String(setting.Key);
        QWidget *control = FMain->findChild<QWidget *>(QLatin1String(setting.Control));
        switch (setting.Kind) {
        case TKind::ComboText:
            ini.writeString(SettingsSection, key, static_cast<QComboBox *>(control)->currentText());
            break;
        case TKind::ComboIndex:
            ini.writeInteger(SettingsSection, key, static_cast<QComboBox *>(control)->currentIndex());
            break;
        case TKind::Spin:
            ini.writeInteger(SettingsSection, key, static_cast<QSpinBox *>(control)->value());
            break;
        case TKind::Check:
            ini.writeBool(SettingsSection, key, static_cast<QCheckBox *>(control)->isChecked());
            break;
        case TKind::Edit:
            ini.writeString(SettingsSection, key, static_cast<QLineEdit *>(control)->text());
            break;
        }
    }
    return 0;
}