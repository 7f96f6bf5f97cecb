// TDevice: the three monitoring loops (calibration test, value and setpoints, ADC data).
//
// They ask nothing and report nothing: a failed read shows "Ошибка!" in its readout ("Err" in
// the ADC code readout) and the loop goes on; at rest the readouts show "No Data" ("0" for the
// code). Each runs in the loops' frame (RunLoop) with a pause of 100 ms after each sample. The
// decimals of a readout are read at every sample, so a change shows from the next one on.
#include "device_loops.h"
#include "device_u.h"

#include "global_u.h"
#include "main_form.h"
#include "main_u.h"

#include <array>

namespace {

constexpr unsigned MonitorPauseMs = 100;

// A value into its readout with the decimals of its control, or "Ошибка!"; window thread.
void ShowReading(QLabel *readout, const QSpinBox *decimals, bool ok, double value)
{
    readout->setText(ok ? ReadoutText(value, decimals->value()) : ReadErrorText);
}

TLoop MonitorLoop(QAbstractButton *button, int accessId)
{
    TLoop loop;
    loop.Button = button;
    loop.StartText = MeasureStartText;
    loop.StopText = MeasureStopText;
    loop.AccessId = accessId;
    loop.PauseMs = MonitorPauseMs;
    return loop;
}

} // namespace

std::int32_t TDevice::MonitorCalibration()
{
    if (!FForm)
        return -1;
    Ui::TfMain &ui = *FForm->ui;
    TLoop loop = MonitorLoop(ui.TS3Button11, 538);
    loop.Sample = [&] {
        float value = 0;
        const bool ok = ReadSucceeded([&] { return ReadRAMFloat(0, value); });
        RunOnWindowThread([&] { ShowReading(ui.TS3ST0, ui.TS3SE2, ok, value); });
    };
    loop.Rest = [&] { ui.TS3ST0->setText(NoDataText); };
    return RunLoop(*this, loop);
}

std::int32_t TDevice::MonitorValues()
{
    if (!FForm)
        return -1;
    Ui::TfMain &ui = *FForm->ui;
    const std::array<QLabel *, 4> readouts{ui.TS5ST0, ui.TS5ST1, ui.TS5ST2, ui.TS5ST3};
    TLoop loop = MonitorLoop(ui.TS5Button3, 707);
    loop.Sample = [&] {
        // The measured value, then the three setpoints, each shown as soon as it is read.
        for (std::uint8_t index = 0; index < readouts.size(); ++index) {
            double value = 0;
            const bool ok = GetDeviceValue(index, value) == 0;
            RunOnWindowThread([&] { ShowReading(readouts[index], ui.TS5SE0, ok, value); });
        }
    };
    loop.Rest = [&] {
        for (QLabel *readout : readouts)
            readout->setText(NoDataText);
    };
    return RunLoop(*this, loop);
}

std::int32_t TDevice::MonitorADC()
{
    if (!FForm)
        return -1;
    Ui::TfMain &ui = *FForm->ui;
    const std::array<QLabel *, 4> readouts{ui.TS5ST5, ui.TS5ST6, ui.TS5ST7, ui.TS5ST8};
    bool ok = false;
    TLoop loop = MonitorLoop(ui.TS5Button4, 710);
    loop.Sample = [&] { ok = ReadSucceeded([&] { return ReadADC(); }); };
    // The readouts follow once the lock is free again.
    loop.Show = [&] {
        const TADCData data = TADCData::FromBytes(ADCBlock);
        const std::array<float, 4> values{data.MeasuredValue, data.Channel1Voltage, data.Channel2Voltage,
                                          data.Channel3Voltage};
        RunOnWindowThread([&] {
            ui.TS5ST4->setText(ok ? QString::number(data.ADCCode) : QStringLiteral("Err"));
            for (std::size_t i = 0; i < readouts.size(); ++i)
                ShowReading(readouts[i], ui.TS5SE1, ok, values[i]);
        });
    };
    loop.Rest = [&] {
        ui.TS5ST4->setText(QStringLiteral("0"));
        for (QLabel *readout : readouts)
            readout->setText(NoDataText);
    };
    return RunLoop(*this, loop);
}
