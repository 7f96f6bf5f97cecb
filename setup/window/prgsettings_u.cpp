// TProgramControl: the program settings file, the command line and the last project.
#include "prgctrl_u.h"

#include "main_form.h"
#include "main_u.h"
#include "platform/profile.h"
#include "prjctrl_u.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>

namespace {

const QString Section = QStringLiteral("Program Settings");

enum : int { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };

// The largest width or height a window is given from the settings file.
constexpr int MaxWindowSide = 16384;

} // namespace

int TProgramControl::LoadProgramSettings(const QString &path)
{
    const platform::ProfileFile ini(path);
    Ui::TfMainFrame &ui = FMain->Frame();

    // Each bound goes to the window as soon as it is read.
    FMain->move(ini.readInteger(Section, QStringLiteral("Left"), 200), FMain->y());
    FMain->move(FMain->x(), ini.readInteger(Section, QStringLiteral("Top"), 100));
    // A size from a damaged file is kept within what a screen can show, so that showing the
    // window never asks for a backing store of gigabytes.
    const auto size = [&](const char *key, int def) {
        return std::clamp(ini.readInteger(Section, QLatin1String(key), def), 1, MaxWindowSide);
    };
    FMain->resize(size("Width", 567), FMain->height());
    FMain->resize(FMain->width(), size("Height", 466));

    // A state other than the three known ones opens the window normal.
    switch (ini.readInteger(Section, QStringLiteral("WindowState"), wsNormal)) {
    case wsMinimized:
        FMain->setWindowState(Qt::WindowMinimized);
        break;
    case wsMaximized:
        FMain->setWindowState(Qt::WindowMaximized);
        break;
    default:
        FMain->setWindowState(Qt::WindowNoState);
        break;
    }

    SetProjectFileName(ini.readString(Section, QStringLiteral("ProjectFileName"), QString()));

    ui.M1N1->setChecked(ini.readBool(Section, QStringLiteral("NormalMessages"), true));
    ui.M1N2->setChecked(ini.readBool(Section, QStringLiteral("ErrorMessages"), true));
    ui.M1N3->setChecked(ini.readBool(Section, QStringLiteral("Confirmations"), true));
    ui.M1N4->setChecked(ini.readBool(Section, QStringLiteral("FontStyle"), false));
    ApplyFontStyle(ui.M1N4->isChecked());

    SetSaveDir(ini.readString(Section, QStringLiteral("SaveDir"), FProgramDir));

    ParseCommandLine();
    ReopenLastProject();
    return 0;
}

int TProgramControl::SaveProgramSettings(const QString &path)
{
    // One replacement of the file for all the keys.
    platform::ProfileBatch ini(path);
    Ui::TfMainFrame &ui = FMain->Frame();

    const Qt::WindowStates states = FMain->windowState();
    const int state = states.testFlag(Qt::WindowMinimized)   ? wsMinimized
                      : states.testFlag(Qt::WindowMaximized) ? wsMaximized
                                                             : wsNormal;
    ini.writeInteger(Section, QStringLiteral("WindowState"), state);
    // A minimised or maximised window leaves the stored normal bounds as they are.
    if (state == wsNormal) {
        ini.writeInteger(Section, QStringLiteral("Left"), FMain->x());
        ini.writeInteger(Section, QStringLiteral("Top"), FMain->y());
        ini.writeInteger(Section, QStringLiteral("Width"), FMain->width());
        ini.writeInteger(Section, QStringLiteral("Height"), FMain->height());
    }
    ini.writeString(Section, QStringLiteral("ProjectFileName"), FProjectFileName);
    ini.writeBool(Section, QStringLiteral("NormalMessages"), ui.M1N1->isChecked());
    ini.writeBool(Section, QStringLiteral("ErrorMessages"), ui.M1N2->isChecked());
    ini.writeBool(Section, QStringLiteral("Confirmations"), ui.M1N3->isChecked());
    ini.writeBool(Section, QStringLiteral("FontStyle"), ui.M1N4->isChecked());
    ini.writeString(Section, QStringLiteral("SaveDir"), FSaveDir);
    ini.commit();
    return 0;
}

int TProgramControl::ParseCommandLine()
{
    // Only the first argument counts; Admin cannot be chosen here.
    const QString first = QLocale::system().toUpper(QCoreApplication::arguments().value(1));
    SetMode(first == QLatin1String("/INT") ? Internal : External);
    return 0;
}

int TProgramControl::ReopenLastProject()
{
    const QString namePart = FileNamePart(FProjectFileName);
    if (namePart.isEmpty() || namePart == QLatin1String("noname.prj")
        || !QFileInfo(FProjectFileName).isFile()) {
        SetProjectFileName(QString());
        FMain->ProjectControl->ResetProject();  // no project: the tabs are hidden
        return -1;
    }
    // Its warning finds no message hook yet and is not shown; a project that cannot be read
    // does not keep the program from starting.
    FMain->ProjectControl->RunCommand([this] { FMain->ProjectControl->LoadProject(); });
    return 0;
}
