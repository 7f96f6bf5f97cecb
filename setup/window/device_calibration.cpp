// TDevice: the calibration procedures.
//
// Every procedure has the same frame (RunCalibration): the question; the calibration's sensor
// type and range onto the form, the form into the model and the parameters into the instrument
// (its own question and report; the procedure goes on whatever came of it); the two resistances
// of the three-wire procedure read from the form; the prompt to apply the reference (shown
// whatever the message options say); then, under the link lock with the port open and the mode
// code on the instrument's display, the readings (a single-coefficient procedure reads its
// reference field at every reading, after the zero test); and on every path the clean-up: gauge hidden, indicators restored,
// port closed, exchange state idle, lock released.
//
// The result goes into the model's calibration block and onto the form only; the technician
// writes it into the instrument or a calibration file afterwards. What the readings give is
// computed by the instrument half's calibration_math.
#include "calibration_math.h"
#include "device_form.h"
#include "device_u.h"
#include "device_operation.h"

#include "global_u.h"
#include "main_form.h"
#include "main_u.h"
#include "prgctrl_u.h"

#include <QThread>

#include <algorithm>
#include <array>
#include <functional>
#include <mutex>
#include <optional>

namespace {

const QString NotProcessedText = QStringLiteral("Невозможно обработать результаты измерений");

// A reference field that is not a number; the text names the field.
struct TFieldError {
    QString Message;
};

// What ends a procedure's readings: a message of the given kind; no text: no message.
struct TOutcome {
    QString Text;
    TMessageKind Kind = mtInformation;
};

struct TCalibrationRun {
    QString Question;
    int SensorItem = 0;        // item of the sensor list TS1CB1
    QString RangeHigh;         // the range runs from "0" to this
    std::function<void()> ReadReferences;  // before the prompt; may throw TFieldError (so may Work)
    QString Prompt;
    std::uint8_t Mode = 0;     // on the instrument's display while it reads
    // With the link: the readings and the result.
    std::function<TOutcome()> Work;
};

// A reference field of the calibration tab with the label beside it.
struct TReferenceField {
    QLineEdit *Ui::TfMain::*Field;
    QLabel *Ui::TfMain::*Label;
};

// The value of a reference field; TFieldError naming the field when it is not a number.
float ReferenceValue(TDevice &device, const TReferenceField &reference)
{
    std::optional<QString> failure;
    const float value = RunOnWindowThread([&] {
        const Ui::TfMain &ui = *device.Form()->ui;
        try {
            return FieldFloat(ui.*reference.Field);
        } catch (const TConvertError &e) {
            // Nothing is thrown through the window thread's loop: carried out and thrown here.
            // The message names the field (its tab, group and label).
            failure = e.Message();
            return 0.0f;
        }
    });
    if (failure)
        throw TFieldError{*failure};
    return value;
}

std::int32_t RunCalibration(TDevice &device, const TCalibrationRun &run)
{
    TfMain *form = device.Form();
    if (!form)
        return -1;
    TProgramControl &control = *form->ProgramControl;
    Ui::TfMain &ui = *form->ui;

    std::unique_lock<platform::NamedLock> lock(COMPortMutex(), std::defer_lock);
    struct TCleanup {
        TDevice &Device;
        TProgramControl &Control;
        std::unique_lock<platform::NamedLock> &Lock;
        ~TCleanup()
        {
            Control.SetProgress(0, 0, 0, 0);
            // The port is only open, and the link only ours, once the lock was taken.
            if (Lock.owns_lock()) {
                Device.RestoreIndicators();
                Device.ClosePort();
            }
            Control.SetExchangeState(Idle);
        }
    } cleanup{device, control, lock};
    const auto report = [&](const TOutcome &outcome) {
        if (!outcome.Text.isEmpty())
            control.ShowProgramMessage(false, outcome.Text, outcome.Kind, mbOK);
    };

    if (!Accepted(control.ShowProgramMessage(false, run.Question, mtConfirmation, mbYesNo)))
        return -1;
    RunOnWindowThread([&] {
        ui.TS1CB1->setCurrentIndex(run.SensorItem);
        ui.TS1Edit0->setText(QStringLiteral("0"));
        ui.TS1Edit1->setText(run.RangeHigh);
    });
    try {
        device.TakeParams();
        device.WriteParams();  // its own question and report; the calibration goes on regardless
        if (run.ReadReferences)
            run.ReadReferences();
    } catch (const TConvertError &e) {
        report({e.Message(), mtError});
        return -1;
    } catch (const TFieldError &e) {
        report({e.Message, mtError});
        return -1;
    }
    if (!Accepted(control.ShowProgramMessage(true, run.Prompt, mtConfirmation, mbOKCancel)))
        return -1;

    lock.lock();
    control.SetExchangeState(Exchanging);
    TOutcome outcome;
    try {
        if (device.OpenPort() != 0)
            outcome = {device.OpenPortErrorText(), mtError};
        else if (device.ShowCalibrationMode(run.Mode) != 0)
            outcome = {LinkError(device), mtError};
        else
            outcome = run.Work();
    } catch (const TConvertError &e) {
        outcome = {e.Message(), mtError};
    } catch (const TFieldError &e) {
        outcome = {e.Message, mtError};
    }
    report(outcome);
    return outcome.Kind == mtInformation && !outcome.Text.isEmpty() ? 0 : -1;
}

// N readings and the pause before each, as the form holds them; window thread.
struct TReadingPlan {
    int Count = 1;
    int PauseSeconds = 0;
};

TReadingPlan ReadingPlan(TDevice &device)
{
    return RunOnWindowThread([&] {
        const Ui::TfMain &ui = *device.Form()->ui;
        return TReadingPlan{std::clamp(ui.TS3SE0->value(), 1, 100), std::clamp(ui.TS3SE1->value(), 0, 600)};
    });
}

// Pauses, then reads the ADC block: false on a link failure.
bool TakeReading(TDevice &device, const TReadingPlan &plan)
{
    if (plan.PauseSeconds > 0)
        QThread::sleep(unsigned(plan.PauseSeconds));
    return device.ReadADC() == 0;
}

TOutcome LinkFailure(TDevice &device)
{
    return {LinkError(device), mtError};
}

// A procedure that yields one coefficient: the mean of a per-sample term.
struct TSingleCoefficient {
    QString Question;
    int SensorItem;
    QString RangeHigh;
    QString Prompt;
    std::uint8_t Mode;
    const calibration::TCoefficientRule &Rule;
    // The reference field; none for the resistance procedures.
    std::optional<TReferenceField> Reference;
    QString DoneText;
};

std::int32_t CalibrateSingle(TDevice &device, const TSingleCoefficient &member)
{
    TCalibrationRun run{member.Question, member.SensorItem, member.RangeHigh, nullptr, member.Prompt, member.Mode,
                        nullptr};
    run.Work = [&]() -> TOutcome {
        const TReadingPlan plan = ReadingPlan(device);
        const auto update = [&](const auto &change) {
            TCalibration c = TCalibration::FromBytes(device.CalibBlock);
            change(c);
            c.ToBytes(device.CalibBlock);
        };
        float TCalibration::*const coefficient = member.Rule.Coefficient;
        update([&](TCalibration &c) { c.*coefficient = 0; });
        for (int k = 1; k <= plan.Count; ++k) {
            if (!TakeReading(device, plan))
                return LinkFailure(device);
            const TADCData reading = TADCData::FromBytes(device.ADCBlock);
            const TCalibration c = TCalibration::FromBytes(device.CalibBlock);
            if (member.Rule.ZeroFails(reading, c))
                return {NotProcessedText, mtError};
            // The reference as the field holds it now, read after the zero test of each reading.
            const double reference = member.Reference ? ReferenceValue(device, *member.Reference) : 0.0;
            // The sum lives in the 32-bit coefficient itself.
            update([&](TCalibration &held) {
                held.*coefficient = calibration::AddTerm(held.*coefficient, member.Rule.Term(reading, c, reference));
            });
            device.Form()->ProgramControl->SetProgress(1, 1, plan.Count, k);
        }
        update([&](TCalibration &c) { c.*coefficient = c.*coefficient / float(plan.Count); });
        device.ShowParams();
        return {member.DoneText, mtInformation};
    };
    return RunCalibration(device, run);
}

} // namespace

// --- The procedures ---

namespace {

const QString CurrentPrompt = QStringLiteral("Установите калибровочный ток!");

// One pass of the three-wire procedure: N readings with the gauge from first to first + N - 1
// (of 2N), their mean channel 1 and 2 voltages into means. False on a link failure.
bool ThreeWirePass(TDevice &device, const TReadingPlan &plan, int first, calibration::TPassMeans &means)
{
    calibration::TPassSums sums;
    for (int k = 0; k < plan.Count; ++k) {
        if (!TakeReading(device, plan))
            return false;
        sums.Add(TADCData::FromBytes(device.ADCBlock));
        device.Form()->ProgramControl->SetProgress(1, 1, 2 * plan.Count, first + k);
    }
    means = sums.Means();
    return true;
}

} // namespace

std::int32_t TDevice::CalibrateVoltage()
{
    return CalibrateSingle(
        *this, {QStringLiteral("Начать калибровку по напряжению (диапазон 0..100 мВ)?"), 18, QStringLiteral("100"),
                QStringLiteral("Установите калибровочное напряжение!"), 2, calibration::Voltage,
                TReferenceField{&Ui::TfMain::TS3Edit2, &Ui::TfMain::TS3Label2},
                QStringLiteral("Калибровка по напряжению (диапазон 0..100 мВ) завершена.")});
}

std::int32_t TDevice::CalibrateCurrent5()
{
    return CalibrateSingle(
        *this, {QStringLiteral("Начать калибровку по току (диапазон 0..5 мА)?"), 15, QStringLiteral("5"), CurrentPrompt,
                3, calibration::Current5, TReferenceField{&Ui::TfMain::TS3Edit0, &Ui::TfMain::TS3Label0},
                QStringLiteral("Калибровка по току (диапазон 0..5 мА) завершена.")});
}

std::int32_t TDevice::CalibrateCurrent20()
{
    return CalibrateSingle(
        *this, {QStringLiteral("Начать калибровку по току (диапазон 0..20 мА)?"), 16, QStringLiteral("20"),
                CurrentPrompt, 4, calibration::Current20, TReferenceField{&Ui::TfMain::TS3Edit1, &Ui::TfMain::TS3Label1},
                QStringLiteral("Калибровка по току (диапазон 0..20 мА) завершена.")});
}

std::int32_t TDevice::CalibrateRL()
{
    return CalibrateSingle(
        *this, {QStringLiteral("Начать калибровку RL?"), 20, QStringLiteral("320"), QStringLiteral("Закоротите линию!"), 5,
                calibration::LineResistance, std::nullopt,
                QStringLiteral("Калибровка по RL завершена.")});
}

std::int32_t TDevice::CalibrateRc()
{
    return CalibrateSingle(
        *this, {QStringLiteral("Начать калибровку Rc?"), 10, QStringLiteral("320"), QStringLiteral("Установите что-нибудь!"),
                6, calibration::CompensatorResistance, std::nullopt,
                QStringLiteral("Калибровка по Rc завершена.")});
}

std::int32_t TDevice::CalibrateResistance3W()
{
    float r1 = 0, r2 = 0;
    TCalibrationRun run;
    run.Question = QStringLiteral("Начать калибровку по сопротивлению (3ех проводная схема)?");
    run.SensorItem = 20;
    run.RangeHigh = QStringLiteral("320");
    run.ReadReferences = [&] {
        r1 = ReferenceValue(*this, {&Ui::TfMain::TS3Edit3, &Ui::TfMain::TS3Label3});
        r2 = ReferenceValue(*this, {&Ui::TfMain::TS3Edit4, &Ui::TfMain::TS3Label4});
    };
    run.Prompt = QStringLiteral("Подключите сопротивление R1 по 3ех проводной схеме!");
    run.Mode = 1;
    run.Work = [&]() -> TOutcome {
        const TReadingPlan plan = ReadingPlan(*this);
        calibration::TPassMeans first, second;
        if (!ThreeWirePass(*this, plan, 1, first) || RestoreIndicators() != 0)
            return LinkFailure(*this);
        // The lock stays held and the port open while the technician changes the resistor.
        const std::uint16_t answer = FForm->ProgramControl->ShowProgramMessage(
            true, QStringLiteral("Подключите сопротивление R2 по 3ех проводной схеме!"), mtConfirmation, mbOKCancel);
        if (!Accepted(answer))
            return {};
        if (ShowCalibrationMode(1) != 0 || !ThreeWirePass(*this, plan, plan.Count + 1, second))
            return LinkFailure(*this);

        const std::optional<calibration::TReferences> references =
            calibration::ThreeWireReferences(first, second, r1, r2);
        if (!references)
            return {NotProcessedText + QLatin1Char('.'), mtError};
        TCalibration c = TCalibration::FromBytes(CalibBlock);
        c.Uref = references->Uref;
        c.Rref = references->Rref;
        c.ToBytes(CalibBlock);
        ShowParams();
        return {QStringLiteral("Калибровка по сопротивлению (3ех проводная схема) завершена."), mtInformation};
    };
    return RunCalibration(*this, run);
}

std::int32_t TDevice::ShowCalibrationMode(std::uint8_t mode)
{
    // The patterns in write order, the last on the leftmost digit.
    static constexpr std::array<std::array<std::uint8_t, 4>, 6> Patterns{{
        {0x00, 0x00, 0x4F, 0x50},  // 1 "r3"
        {0x00, 0x00, 0x00, 0x3E},  // 2 "U"
        {0x00, 0x6D, 0x3F, 0x06},  // 3 "I05"
        {0x3F, 0x5B, 0x3F, 0x06},  // 4 "I020"
        {0x00, 0x4F, 0x38, 0x50},  // 5 "rL3"
        {0x00, 0x3F, 0x39, 0x50},  // 6 "rC0"
    }};
    if (mode < 1 || mode > Patterns.size())
        return LastError;
    if (SetIndicatorPosition(4) != 0)
        return LastError;
    for (const std::uint8_t pattern : Patterns[mode - 1]) {
        if (WriteIndicatorByte(pattern) != 0)
            return LastError;
    }
    return 0;
}
