// The measurement loops' frame (RunLoop) and what their readouts share.
#include "device_loops.h"

#include "device_u.h"
#include "global_u.h"
#include "loop_control.h"
#include "main_u.h"
#include "prgctrl_u.h"

#include <QAbstractButton>

#include <algorithm>
#include <exception>
#include <mutex>

const QString NoDataText = QStringLiteral("No Data");
const QString ReadErrorText = QStringLiteral("Ошибка!");
const QString MeasureStartText = QStringLiteral("Начать измерение");
const QString MeasureStopText = QStringLiteral("Остановить измерение");

QString ReadoutText(double value, int decimals)
{
    decimals = std::clamp(decimals, 0, 10);
    QString text = QString::number(value, 'f', decimals);
    // "-0.00" for a small negative value: nothing negative is left to show.
    if (text.startsWith(QLatin1Char('-')) && text.mid(1).toDouble() == 0)
        text.remove(0, 1);
    return text;
}

bool ReadSucceeded(const std::function<std::int32_t()> &read)
{
    try {
        return read() == 0;
    } catch (const TConvertError &) {
        return false;  // a reply that is no number is a failed read like any other
    }
}

std::int32_t RunLoop(TDevice &device, const TLoop &loop)
{
    TfMain *form = device.Form();
    if (!form)
        return -1;
    TProgramControl &control = *form->ProgramControl;
    QAbstractButton *button = loop.Button;
    const auto caption = [button](const QString &text) { RunOnWindowThread([&] { button->setText(text); }); };

    // The start click raised the flag and showed the stop caption; an operation that showed
    // "Wait..." while it prepared shows it again, unless a stop has come meanwhile.
    RunOnWindowThread([&] {
        if (LoopRunning())
            button->setText(loop.StopText);
    });
    control.AccessMasks().SetAlwaysEnabled(loop.AccessId, true);
    control.SetExchangeState(Exchanging);

    // The end runs however the loop ends.
    struct TEnd {
        TDevice &Device;
        TProgramControl &Control;
        const TLoop &Loop;
        std::function<void(const QString &)> Caption;
        ~TEnd()
        {
            if (!Loop.CallerEnds) {
                if (Loop.Rest)
                    RunOnWindowThread(Loop.Rest);
                Caption(Loop.StartText);
            }
            Device.ClosePort();
            Control.AccessMasks().SetAlwaysEnabled(Loop.AccessId, false);
            Control.SetExchangeState(Idle);
        }
    } end{device, control, loop, caption};

    QString failure;
    try {
        if (device.OpenPort() != 0)
            failure = device.OpenPortErrorText();
    } catch (const TConvertError &e) {
        failure = e.Message();
    }
    if (!failure.isEmpty()) {
        if (loop.PortFailed)
            loop.PortFailed(failure);
        return -1;
    }
    if (loop.Opened)
        loop.Opened();

    try {
        while (LoopRunning()) {
            {
                std::lock_guard<platform::NamedLock> lock(COMPortMutex());
                // A stop that came while the lock was awaited ends the loop without a sample.
                if (!LoopRunning())
                    break;
                loop.Sample();
            }
            if (loop.Show)
                loop.Show();
            // The pause ends at once on a stop.
            if (loop.PauseMs > 0 && !LoopPause(std::chrono::milliseconds(loop.PauseMs)))
                break;
        }
    } catch (const std::exception &e) {
        // Nothing foreseen throws here; the end still runs, and the loop says why it stopped.
        qWarning("measurement loop ended: %s", e.what());
    }
    return 0;
}
