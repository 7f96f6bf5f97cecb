// TDevice: the inspection measurement and the reset of its statistics.
//
// The inspection switches the instrument into the measuring mode chosen on the inspection tab,
// reads the measured value without pause until stopped, shows it with its maximum, moving
// average and minimum, and at the end writes the instrument's earlier parameters back.
//
// The statistics (CurrentValue, MinValue, MaxValue, AvgValue) are only changed on the window
// thread: each good sample hands its whole step (ring, average, extremes, readouts) over in one
// call, and the reset runs there too, so a reset never falls between a sample's comparisons.
#include "device_loops.h"
#include "device_u.h"

#include "global_u.h"
#include "loop_control.h"
#include "main_form.h"
#include "main_u.h"
#include "prgctrl_u.h"

#include <algorithm>
#include <array>

namespace {

// The sensor type that each item of the inspection's sensor list gives the instrument.
constexpr std::array<int, 8> InspectionSensorTypes{15, 16, 17, 18, 20, 9, 20, 10};

constexpr double StartMinimum = 99999;
constexpr double StartMaximum = -99999;

// The moving average: slots 0 to N in use, slot N the newest value.
struct TRing {
    std::array<float, 11> Slots{};
    std::uint16_t Count = 0;  // good samples, never above N
};

} // namespace

std::int32_t TDevice::InspectionMeasure()
{
    if (!FForm)
        return -1;
    TProgramControl &control = *FForm->ProgramControl;
    Ui::TfMain &ui = *FForm->ui;
    const auto caption = [&](const QString &text) { RunOnWindowThread([&] { ui.TS4Button1->setText(text); }); };

    const std::uint16_t answer = control.ShowProgramMessage(false, QStringLiteral("Начать чтение измеряемой величины?"),
                                                            mtConfirmation, mbYesNo);
    // Declined, or stopped by a second click before the question came: nothing is measured.
    if ((answer != mrYes && answer != mrOk) || !LoopRunning()) {
        caption(MeasureStartText);
        return -1;
    }
    caption(QStringLiteral("Wait..."));

    // The parameters to put back at the end.
    QString saved;
    try {
        TakeParams();
    } catch (const TConvertError &e) {
        control.ShowProgramMessage(false, e.Message(), mtError, mbOK);
        caption(MeasureStartText);
        return -1;
    }
    BlockToHex(ParamsBlockType, saved);

    // The inspection's measuring mode into the device parameters, then into the instrument.
    RunOnWindowThread([&] {
        const int item = ui.TS4CB0->currentIndex();
        if (item >= 0 && item < int(InspectionSensorTypes.size()))
            ui.TS1CB1->setCurrentIndex(InspectionSensorTypes[item]);
        ui.TS1SE1->setValue(ui.TS4SE0->value());
        ui.TS1Edit0->setText(ui.TS4Edit0->text());
        ui.TS1Edit1->setText(ui.TS4Edit1->text());
        ui.TS1Edit2->setText(ui.TS4Edit2->text());
        ui.TS1Edit3->setText(ui.TS4Edit3->text());
    });
    WriteParams();  // declined or failed: the inspection measures with what the instrument has

    RunOnWindowThread([this] {
        CurrentValue = 0;
        MinValue = StartMinimum;
        MaxValue = StartMaximum;
        AvgValue = 0;
    });
    TRing ring;
    float value = 0;
    bool ok = false;
    TLoop loop;
    loop.Button = ui.TS4Button1;
    loop.StartText = MeasureStartText;
    loop.StopText = MeasureStopText;
    loop.AccessId = 612;
    loop.CallerEnds = true;
    loop.Sample = [&] { ok = ReadSucceeded([&] { return ReadRAMFloat(0, value); }); };
    loop.Show = [&] {
        RunOnWindowThread([&] {
            CurrentValue = ok ? value : 0;
            if (!ok)
                return;  // not a sample: ring, count and readouts stay
            // N as the control holds it, kept within the ring while the user types.
            const int n = std::clamp(ui.TS4SE1->value(), 1, int(ring.Slots.size()) - 1);
            std::copy(ring.Slots.begin() + 1, ring.Slots.begin() + n + 1, ring.Slots.begin());
            ring.Slots[n] = CurrentValue;
            double sum = 0;
            for (int i = 0; i < n; ++i)
                sum += ring.Slots[i];
            AvgValue = ring.Count < n ? 0 : sum / n;
            if (ring.Count < n)
                ++ring.Count;
            if (CurrentValue > MaxValue)
                MaxValue = CurrentValue;
            if (CurrentValue < MinValue)
                MinValue = CurrentValue;
            const int decimals = ui.TS4SE2->value();
            ui.TS4ST0->setText(ReadoutText(CurrentValue, decimals));
            ui.TS4ST1->setText(ReadoutText(MaxValue, decimals));
            ui.TS4ST2->setText(ReadoutText(AvgValue, decimals));
            ui.TS4ST3->setText(ReadoutText(MinValue, decimals));
        });
    };
    loop.PortFailed = [&](const QString &text) { control.ShowProgramMessage(false, text, mtError, mbOK); };
    const std::int32_t result = RunLoop(*this, loop);

    // The earlier parameters back on the form and into the instrument.
    HexToBlock(ParamsBlockType, saved);
    ShowParams();
    if (WriteParams() != 0)
        control.ShowProgramMessage(true,
                                   QStringLiteral("Параметры прибора не восстановлены: прибор остался в режиме "
                                                  "измерения, заданном для проверки."),
                                   mtWarning, mbOK);
    control.ShowProgramMessage(false, QStringLiteral("Чтение измеряемой величины завершено."), mtInformation, mbOK);
    RunOnWindowThread([&] {
        ui.TS4Button1->setText(MeasureStartText);
        for (QLabel *readout : {ui.TS4ST0, ui.TS4ST1, ui.TS4ST2, ui.TS4ST3})
            readout->setText(NoDataText);
    });
    return result;
}

void TDevice::ResetStatistics()
{
    if (!FForm)
        return;
    MinValue = StartMinimum;
    MaxValue = StartMaximum;
    Ui::TfMain &ui = *FForm->ui;
    for (QLabel *readout : {ui.TS4ST1, ui.TS4ST2, ui.TS4ST3})
        readout->setText(NoDataText);
}
