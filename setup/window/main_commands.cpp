// The main window's commands: which menu item, toolbar button and tab button runs which
// operation, and where: the project commands and the calibration files on the window thread,
// the device's transfers, tests, calibrations and loops on a worker of their own, one at a time;
// the start/stop buttons decide by their caption. The window's own life, fields and keys are
// in main_u.cpp.
#include "main_u.h"

#include "device_u.h"
#include "exchange_u.h"
#include "extlibs/ex_com/ex_com.h"
#include "loop_control.h"
#include "main_form.h"
#include "platform/help.h"
#include "prgctrl_u.h"
#include "prjctrl_u.h"

#include <QApplication>

#include <array>

namespace {

// The start/stop buttons: their caption decides what a click does.
struct TToggle {
    const char *Button;
    const char *StartText;
    const char *StopText;
};
const TToggle Toggles[] = {
    {"TS0Button2", "Начать поиск", "Остановить поиск"},
    {"TS3Button11", "Начать измерение", "Остановить измерение"},
    {"TS4Button1", "Начать измерение", "Остановить измерение"},
    {"TS4Button5", "Запустить циклический тест индикаторов", "Остановить циклический тест индикаторов"},
    {"TS5Button3", "Начать измерение", "Остановить измерение"},
    {"TS5Button4", "Начать измерение", "Остановить измерение"},
};

// Help topics: tab n has the context number 1536 + 16 n.
constexpr unsigned FirstHelpContext = 1536;

} // namespace

void TfMain::SetCommand(QObject *sender, TRunsOn runsOn, std::function<void()> action)
{
    FCommands[sender] = TCommand{runsOn, std::move(action)};
}

void TfMain::ConnectCommands()
{
    // Project commands and the calibration files run on the window thread; what they throw (a
    // refused write, a field that is no number) becomes an error message.
    const auto onWindow = [this](std::initializer_list<QObject *> senders, std::function<void()> command) {
        for (QObject *sender : senders)
            SetCommand(sender, OnWindowThread, [this, command] { ProjectControl->RunCommand(command); });
    };
    onWindow({ui->M0N1, ui->TB1}, [this] { ProjectControl->NewProject(); });
    onWindow({ui->M0N2, ui->TB2}, [this] { ProjectControl->OpenProject(); });
    onWindow({ui->M0N3, ui->TB3}, [this] { ProjectControl->SaveProject(); });
    onWindow({ui->M0N4}, [this] { ProjectControl->SaveProjectAs(); });
    onWindow({ui->M0N5, ui->TB4}, [this] { ProjectControl->CloseProject(); });
    onWindow({ui->TS3Button9}, [this] { Device->SaveCalibrationFile(); });
    onWindow({ui->TS3Button10}, [this] { Device->LoadCalibrationFile(); });

    // Transfers run on a worker of their own each; those that only read are marked.
    const auto onThread = [this](TRunsOn runsOn) {
        return [this, runsOn](std::initializer_list<QObject *> senders, std::int32_t (TDevice::*operation)()) {
            for (QObject *sender : senders)
                SetCommand(sender, runsOn, [this, operation] { (Device->*operation)(); });
        };
    };
    const auto onWorker = onThread(OnWorker);
    const auto onReader = onThread(OnReader);
    onReader({ui->M2N1, ui->TB5}, &TDevice::ReadAllSettings);
    onWorker({ui->M2N2, ui->TB6}, &TDevice::WriteAllSettings);
    onReader({ui->M2N3, ui->TB7, ui->TS5Button1}, &TDevice::SaveEEPROMToFile);
    onWorker({ui->M2N4, ui->TB8, ui->TS5Button2}, &TDevice::LoadEEPROMFromFile);
    onReader({ui->TS1Button1}, &TDevice::ReadParams);
    onWorker({ui->TS1Button2}, &TDevice::WriteParams);
    onReader({ui->TS2Button1}, &TDevice::ReadRelayParams);
    onWorker({ui->TS2Button2}, &TDevice::WriteRelayParams);
    onReader({ui->TS3Button1}, &TDevice::ReadCalibration);
    onWorker({ui->TS3Button2}, &TDevice::WriteCalibration);

    // The link check, the search and the tests of the relays and indicators; the indicator
    // steps too run on a worker, so that the window never waits for the link lock.
    onReader({ui->TS0Button1}, &TDevice::CheckLink);
    onReader({ui->TS0Button2}, &TDevice::SearchDevices);
    onWorker({ui->TS2Button3}, &TDevice::ForceRelays);
    onWorker({ui->TS2Button4}, &TDevice::ReleaseRelays);
    onWorker({ui->TS4Button3}, &TDevice::AllIndicatorsOn);
    onWorker({ui->TS4Button4}, &TDevice::AllIndicatorsOff);
    onWorker({ui->TS4Button5}, &TDevice::CyclicIndicatorTest);
    onWorker({ui->TS4Button6}, &TDevice::PrevSegment);
    onWorker({ui->TS4Button7}, &TDevice::NextSegment);
    onWorker({ui->TS4Button8}, &TDevice::FinishIndicatorTest);

    // Calibrations, and the loops that their start/stop buttons start (ToggleClick stops them).
    onWorker({ui->TS3Button3}, &TDevice::CalibrateCurrent5);
    onWorker({ui->TS3Button4}, &TDevice::CalibrateCurrent20);
    onWorker({ui->TS3Button5}, &TDevice::CalibrateVoltage);
    onWorker({ui->TS3Button6}, &TDevice::CalibrateResistance3W);
    onWorker({ui->TS3Button7}, &TDevice::CalibrateRL);
    onWorker({ui->TS3Button8}, &TDevice::CalibrateRc);
    onReader({ui->TS3Button11}, &TDevice::MonitorCalibration);
    onWorker({ui->TS4Button1}, &TDevice::InspectionMeasure);
    onReader({ui->TS5Button3}, &TDevice::MonitorValues);
    onReader({ui->TS5Button4}, &TDevice::MonitorADC);
    SetCommand(ui->TS4Button2, OnWindowThread, [this] { Device->ResetStatistics(); });
}

void TfMain::MyClick(QObject *sender)
{
    const Ui::TfMainFrame &frame = Frame();
    if (sender == frame.M0N9) {
        close();
        return;
    }
    // The message options are check items: Qt has already inverted their tick.
    if (sender == frame.M1N1 || sender == frame.M1N2 || sender == frame.M1N3)
        return;
    if (sender == frame.M1N4) {
        ProgramControl->ApplyFontStyle(frame.M1N4->isChecked());
        return;
    }
    if (sender == frame.M9N1 || sender == frame.TB19) {
        ShowHelp(platform::HELP_FINDER, 0);
        return;
    }
    // What follows needs the sheets' buttons and the commands, which come with the sheets.
    BuildSheets();
    const std::array<QPushButton *, 6> helpButtons{ui->TS0Button0, ui->TS1Button0, ui->TS2Button0,
                                                   ui->TS3Button0, ui->TS4Button0, ui->TS5Button0};
    for (unsigned tab = 0; tab < helpButtons.size(); ++tab) {
        if (sender == helpButtons[tab]) {
            ShowHelp(platform::HELP_CONTEXT, FirstHelpContext + 16 * tab);
            return;
        }
    }
    if (auto *button = qobject_cast<QAbstractButton *>(sender); button && ToggleClick(button))
        return;

    const auto found = FCommands.find(sender);
    if (found == FCommands.end())
        return;
    if (found->second.RunsOn != OnWindowThread)
        StartOperation(found->second);
    else
        found->second.Action();
}

// One operation at a time: the masks disable the commands only once an operation has the
// link, so a quick second click could otherwise start another one while the first still asks
// its question or copies the form.
void TfMain::StartOperation(const TCommand &command)
{
    if (TExchange::Running() > 0) {
        QApplication::beep();
        return;
    }
    TExchange::Start(command.Action, command.RunsOn == OnReader ? TExchange::ReadsOnly : TExchange::Writes);
}

bool TfMain::ToggleClick(QAbstractButton *button)
{
    for (const TToggle &toggle : Toggles) {
        if (button->objectName() != QLatin1String(toggle.Button))
            continue;
        const QString caption = button->text();
        if (caption == QString::fromUtf8(toggle.StartText)) {
            // The click that starts changes the button's meaning at once: a quick second click
            // (a double click) is the stop, not a second start. A loop's flag is raised here,
            // before its worker exists, so that such a stop is never lost.
            const auto found = FCommands.find(button);
            if (found == FCommands.end() || TExchange::Running() > 0) {
                QApplication::beep();
                return true;
            }
            button->setText(QString::fromUtf8(toggle.StopText));
            if (button != ui->TS0Button2)
                StartLoop();
            StartOperation(found->second);
        } else if (caption == QString::fromUtf8(toggle.StopText)) {
            button->setText(WaitCaption());
            if (button == ui->TS0Button2)
                EX_StopSearchAvailableDevices(Device->LinkHandle);
            else
                RequestLoopStop();
        }
        // "Wait...": a stop is pending; the worker restores the start text when it has ended.
        return true;
    }
    return false;
}
