// The start/stop buttons' runs and the loops' stop request.
#include "loop_control.h"

#include "global_u.h"
#include "main_u.h"
#include "prgctrl_u.h"

#include <QAbstractButton>

#include <condition_variable>
#include <mutex>

namespace {

// Wakes a pausing loop when its stop comes; RunFlag itself stays the one shared byte.
std::mutex pauseLock;
std::condition_variable pauseWake;

void SetCaption(QAbstractButton *button, const QString &caption)
{
    RunOnWindowThread([button, &caption] { button->setText(caption); });
}

} // namespace

QString WaitCaption()
{
    return QStringLiteral("Wait...");
}

TButtonRun::TButtonRun(TfMain &form, TStopButton button) : FForm(form), FButton(std::move(button))
{
    RunOnWindowThread([this] {
        if (FButton.Button->text() != WaitCaption())
            FButton.Button->setText(FButton.StopCaption);
    });
}

void TButtonRun::BeginExchange()
{
    FForm.ProgramControl->AccessMasks().SetAlwaysEnabled(FButton.AccessId, true);
    FForm.ProgramControl->SetExchangeState(Exchanging);
    FExchanging = true;
}

TButtonRun::~TButtonRun()
{
    SetCaption(FButton.Button, FButton.StartCaption);
    if (FExchanging) {
        FForm.ProgramControl->AccessMasks().SetAlwaysEnabled(FButton.AccessId, false);
        FForm.ProgramControl->SetExchangeState(Idle);
    }
}

void StartLoop()
{
    std::lock_guard guard(pauseLock);
    RunFlag = 1;
}

void RequestLoopStop()
{
    {
        std::lock_guard guard(pauseLock);
        RunFlag = 0;
    }
    pauseWake.notify_all();
}

bool LoopRunning()
{
    return RunFlag != 0;
}

bool LoopPause(std::chrono::milliseconds pause)
{
    std::unique_lock guard(pauseLock);
    pauseWake.wait_for(guard, pause, [] { return RunFlag == 0; });
    return RunFlag != 0;
}
