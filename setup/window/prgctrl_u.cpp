#include "prgctrl_u.h"

#include "filedialog_u.h"
#include "global_u.h"
#include "main_form.h"
#include "main_u.h"
#include "prjctrl_u.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>

namespace {

const QString CaptionPrefix = QStringLiteral("Настройка ВКС 7410(20) и ЛДМ 0612/К3 - ");
const QString NoProjectCaption = QStringLiteral("нет открытого проекта");

// Folder of a path with its trailing separator, as the program keeps folders.
QString WithSeparator(const QString &dir)
{
    return dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}

// The path with the extension of its file name replaced (or, without one, added).
QString ChangeFileExt(const QString &path, const QString &ext)
{
    const qsizetype nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return (dot > nameStart ? path.left(dot) : path) + ext;
}

} // namespace

QString FileNamePart(const QString &path)
{
    const qsizetype cut = std::max({path.lastIndexOf(QLatin1Char('/')),
                                    path.lastIndexOf(QLatin1Char('\\')),
                                    path.lastIndexOf(QLatin1Char(':'))});
    return path.mid(cut + 1);
}

TProgramControl::TProgramControl(TfMain *main) : FMain(main)
{
    // The exchange label and the gauge lie on the status bar's second panel, the gauge over the
    // label while it is shown.
    QLabel *panel = main->Frame().SB0Panel1;
    auto *layout = new QGridLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    FExchangeLabel = new QLabel(panel);
    FExchangeLabel->setObjectName(QStringLiteral("ExchangeLabel"));
    FExchangeLabel->setFixedSize(95, 14);
    FExchangeLabel->setAlignment(Qt::AlignCenter);
    layout->addWidget(FExchangeLabel, 0, 0, Qt::AlignCenter);
    FProgressGauge = new QProgressBar(panel);
    FProgressGauge->setObjectName(QStringLiteral("ProgressGauge"));
    FProgressGauge->setFixedSize(95, 15);
    FProgressGauge->setTextVisible(false);
    FProgressGauge->setStyleSheet(QStringLiteral(
        "QProgressBar { border: none; background-color: palette(button); }"
        "QProgressBar::chunk { background-color: #FF0000; }"));
    FProgressGauge->setRange(0, 100);
    FProgressGauge->setValue(0);
    FProgressGauge->hide();
    layout->addWidget(FProgressGauge, 0, 0, Qt::AlignCenter);

    FSaveDir = WithSeparator(QDir::currentPath());
    FProgramDir = WithSeparator(QCoreApplication::applicationDirPath());
    FSettingsFileName = ChangeFileExt(QCoreApplication::applicationFilePath(), QStringLiteral(".ini"));

    SetMode(External);
    SetProjectFileName(QString());
    SetExchangeText(QString());
    SetExchangeState(Idle);
}

TProgramControl::~TProgramControl()
{
    delete FProgressGauge.data();
    delete FExchangeLabel.data();
}

// ---------------------------------------------------------------------------------------------
// Access mode

void TProgramControl::SetMode(TProgramMode mode)
{
    RunOnWindowThread([&] {
        FMode = mode;
        ApplyAccessMasks();
    });
}

void TProgramControl::ToggleAdmin()
{
    RunOnWindowThread([&] {
        if (Mode() != Admin) {
            FSavedMode = Mode();
            SetMode(Admin);
        } else {
            SetMode(FSavedMode);
        }
    });
}

void TProgramControl::ApplyAccessMasks()
{
    // One application at a time, on the window thread, whichever thread changed a state.
    RunOnWindowThread([&] {
        if (!FMain->ProjectControl)
            return;
        FMasks.Apply(Mode(), FMain->ProjectControl->State(), ExchangeState(), FMain);
    });
}

void TProgramControl::ApplyAccessMasksToNewControls()
{
    RunOnWindowThread([&] {
        FMasks.ComponentsAdded();
        ApplyAccessMasks();
    });
}

// ---------------------------------------------------------------------------------------------
// Project name and caption

QString TProgramControl::ProjectFileName() const
{
    return RunOnWindowThread([&] { return FProjectFileName; });
}

void TProgramControl::SetProjectFileName(const QString &name)
{
    RunOnWindowThread([&] {
        FProjectFileName = name;
        const QString namePart = FileNamePart(name);
        FMain->setWindowTitle(CaptionPrefix + (namePart.isEmpty() ? NoProjectCaption : namePart));
    });
}

// ---------------------------------------------------------------------------------------------
// Exchange label, state and gauge

QLabel *TProgramControl::ExchangeLabel() const
{
    return FExchangeLabel;
}

QProgressBar *TProgramControl::ProgressGauge() const
{
    return FProgressGauge;
}

QString TProgramControl::ExchangeText() const
{
    return RunOnWindowThread([&] { return FExchangeText; });
}

void TProgramControl::SetExchangeText(const QString &text)
{
    RunOnWindowThread([&] {
        FExchangeText = text;
        FExchangeLabel->setText(text);
        FExchangeLabel->repaint();
    });
}

void TProgramControl::SetExchangeState(std::uint8_t state)
{
    RunOnWindowThread([&] {
        FExchangeState = state;
        QColor colour;
        if (state == Idle) {
            SetExchangeText(QStringLiteral(" Обмена нет "));
            colour = QColor(0, 0, 128);
        } else if (state == Exchanging) {
            SetExchangeText(QStringLiteral(" Идет обмен "));
            colour = QColor(255, 0, 0);
        }
        if (colour.isValid()) {
            QPalette palette = FExchangeLabel->palette();
            palette.setColor(QPalette::WindowText, colour);
            FExchangeLabel->setPalette(palette);
            FExchangeLabel->repaint();
        }
        ApplyAccessMasks();
    });
}

void TProgramControl::SetProgress(std::uint8_t show, int min, int max, int position)
{
    RunOnWindowThread([&] {
        if (show == 0) {
            FProgressGauge->hide();
            FProgressGauge->setRange(0, 100);
            FProgressGauge->setValue(0);
        } else if (show == 1 && min <= max && min <= position && position <= max) {
            FProgressGauge->setRange(min, max);
            FProgressGauge->setValue(position);
            FProgressGauge->show();
        }
    });
}

// ---------------------------------------------------------------------------------------------
// Folders, file dialogs, font

QString TProgramControl::SaveDir() const
{
    return RunOnWindowThread([&] { return FSaveDir; });
}

void TProgramControl::SetSaveDir(const QString &dir)
{
    RunOnWindowThread([&] {
        FSaveDir = dir;
        const auto dialogs = FMain->findChildren<TFileDialog *>();
        for (TFileDialog *dialog : dialogs)
            dialog->SetInitialDir(dir);
    });
}

void TProgramControl::ApplyFontStyle(bool bold)
{
    // The working controls of the tabs: buttons, fields, lists and the slider value labels.
    static const char *const names[] = {
        "TS0Button0", "TS0CB0", "TS0CB1", "TS0SE0", "TS0Button1", "TS0CB2", "TS0CB3", "TS0SE1",
        "TS0SE2", "TS0LB0", "TS0Button2",
        "TS1Button0", "TS1Button1", "TS1Button2", "TS1SE0", "TS1CB0", "TS1CE0", "TS1CE1",
        "TS1CB1", "TS1Edit0", "TS1Edit1", "TS1Edit2", "TS1Edit3", "TS1SE1", "TS1CB2", "TS1L0",
        "TS1L1", "TS1L2", "TS1CB3", "TS1SE2",
        "TS2Button0", "TS2Button1", "TS2Button2", "TS2Edit0", "TS2Edit1", "TS2Edit2", "TS2Edit3",
        "TS2Edit4", "TS2Edit5", "TS2Button3", "TS2Button4",
        "TS3Button0", "TS3Button1", "TS3Button2", "TS3Edit0", "TS3Edit1", "TS3Edit2", "TS3Edit3",
        "TS3Edit4", "TS3Edit7", "TS3Edit8", "TS3Edit9", "TS3Edit10", "TS3Edit11", "TS3Edit12",
        "TS3Edit13", "TS3SE0", "TS3SE1", "TS3Button3", "TS3Button4", "TS3Button5", "TS3Button6",
        "TS3Button7", "TS3Button8", "TS3Button9", "TS3Button10", "TS3SE2", "TS3Button11",
        "TS4Button0", "TS4CB0", "TS4Edit0", "TS4Edit1", "TS4Edit2", "TS4Edit3", "TS4SE0",
        "TS4SE1", "TS4SE2", "TS4Button1", "TS4Button2", "TS4Button3", "TS4Button4", "TS4Button5",
        "TS4Button6", "TS4Button7", "TS4Button8",
        "TS5Button0", "TS5Button1", "TS5Button2", "TS5SE0", "TS5Button3", "TS5SE1", "TS5Button4",
    };
    static_assert(std::size(names) == 92);
    RunOnWindowThread([&] {
        for (const char *name : names) {
            // A control already of that weight is left alone: setting its font again would
            // only make it resolve and lay out its font anew (at every start, for nothing).
            auto *widget = FMain->findChild<QWidget *>(QLatin1String(name));
            if (widget && widget->font().bold() != bold) {
                QFont font = widget->font();
                font.setBold(bold);
                widget->setFont(font);
            }
        }
    });
}
