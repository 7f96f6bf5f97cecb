// TDevice: the model on the main window's tabs and back (ShowParams, TakeParams).
//
// Both run their whole body on the window thread in one call: a worker hands it over and
// waits, so the widgets are only ever touched there and the blocks are not read or written
// by two threads at once.
#include "device_form.h"
#include "device_u.h"

#include "field_place.h"

#include "global_u.h"
#include "main_form.h"
#include "main_u.h"
#include "prgctrl_u.h"
#include "relaymatrix_u.h"

#include <QRegularExpression>

#include <cfloat>
#include <cmath>
#include <optional>

namespace {

// Floats are shown fixed with three decimals; a value with more than 15 integer digits in the
// general form with 15 significant digits ("1.23456789012346E20").
QString FloatText(float value)
{
    const double v = value;
    if (std::isnan(v))
        return QStringLiteral("NAN");
    if (std::isinf(v))
        return v > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (std::fabs(v) >= 1e15)
        return QString::number(v, 'g', 15).toUpper().remove(QLatin1Char('+'));
    QString text = QString::number(v, 'f', 3);
    if (text == QLatin1String("-0.000"))
        text.remove(0, 1);
    return text;
}

// A float into its edit box. A box that holds fewer characters than the text (the coefficient
// boxes take 15) would cut it, and a cut number reads back as another value: such a value is
// shown instead in the general form with 9 significant digits, which still gives back the
// same 32-bit float.
void ShowFloat(QLineEdit *edit, float value)
{
    QString text = FloatText(value);
    if (text.size() > edit->maxLength())
        text = QString::number(double(value), 'g', 9).toUpper().remove(QLatin1Char('+'));
    edit->setText(text);
}

} // namespace

// A float field's text as a number: optional blanks around, sign, digits with "." as the
// separator, optional exponent; it must round to a finite 32-bit float ("3.40282347E38", the
// largest as the form shows it, does). Anything else throws TConvertError naming the field and
// the text: not a number (an empty field, "NAN", "1,5") or a number too large for the
// instrument ("1e39").
float FieldFloat(const QLineEdit *edit)
{
    static const QRegularExpression number(QStringLiteral("^\\s*[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?\\s*$"));
    const QString text = edit->text();
    std::optional<float> single;
    TConvertError::TKind kind = TConvertError::Float;
    if (number.match(text).hasMatch()) {
        bool ok = false;
        const double value = text.trimmed().toDouble(&ok);  // not ok: beyond even a double
        single = ok ? device_bytes::ToSingle(value) : std::nullopt;
        kind = TConvertError::FloatRange;
    }
    if (!single) {
        TConvertError error(text, kind);
        error.SetPlace(FieldPlace(edit), edit);
        throw error;
    }
    return *single;
}

namespace {

// A list shows a code by its item; a code without an item leaves the list without a selection.
void ShowItem(QComboBox *list, int code)
{
    list->setCurrentIndex(code < list->count() ? code : -1);
}

// The code of a list's item; without a selection the code the model held (its bits kept).
int ItemCode(const QComboBox *list, int heldCode)
{
    return list->currentIndex() >= 0 ? list->currentIndex() : heldCode;
}

// The relays' fields of the parameter block and their edit boxes, relay by relay.
struct TRelayFields {
    float TParams::*Setpoint;
    float TParams::*Hysteresis;
    std::uint8_t TParams::*Reaction;
    QLineEdit *Ui::TfMain::*SetpointEdit;
    QLineEdit *Ui::TfMain::*HysteresisEdit;
};
constexpr TRelayFields RelayFields[relay_matrix::RelayCount] = {
    {&TParams::Setpoint1, &TParams::Hysteresis1, &TParams::Relay1Reaction, &Ui::TfMain::TS2Edit0, &Ui::TfMain::TS2Edit1},
    {&TParams::Setpoint2, &TParams::Hysteresis2, &TParams::Relay2Reaction, &Ui::TfMain::TS2Edit2, &Ui::TfMain::TS2Edit3},
    {&TParams::Setpoint3, &TParams::Hysteresis3, &TParams::Relay3Reaction, &Ui::TfMain::TS2Edit4, &Ui::TfMain::TS2Edit5},
};

// The coefficients and their edit boxes, in the order the form shows them.
struct TCoefficientField {
    float TCalibration::*Field;
    QLineEdit *Ui::TfMain::*Edit;
};
constexpr TCoefficientField CoefficientFields[] = {
    {&TCalibration::Ki05, &Ui::TfMain::TS3Edit7}, {&TCalibration::Ki20, &Ui::TfMain::TS3Edit8},
    {&TCalibration::Ku, &Ui::TfMain::TS3Edit9},   {&TCalibration::Rref, &Ui::TfMain::TS3Edit10},
    {&TCalibration::Uref, &Ui::TfMain::TS3Edit11}, {&TCalibration::Rl, &Ui::TfMain::TS3Edit12},
    {&TCalibration::Rc, &Ui::TfMain::TS3Edit13},
};

void ShowOnForm(const TParams &p, const TCalibration &c, TfMain &form)
{
    Ui::TfMain &ui = *form.ui;
    // Device parameters.
    ui.TS1SE0->setValue(p.NetworkAddress);
    ShowItem(ui.TS1CB0, p.LinkDisplaySetup & 0x07);
    ui.TS1CE0->setValue(p.Password);
    ui.TS1CE1->setValue(p.PasswordConfirm);
    if (p.SensorSetup & 0x40)
        ui.TS1RB1->setChecked(true);
    else
        ui.TS1RB0->setChecked(true);
    ShowItem(ui.TS1CB1, p.SensorSetup & 0x1F);
    ShowFloat(ui.TS1Edit0, p.InputRangeLow);
    ShowFloat(ui.TS1Edit1, p.InputRangeHigh);
    ShowFloat(ui.TS1Edit2, p.CurrentRangeLow);
    ShowFloat(ui.TS1Edit3, p.CurrentRangeHigh);
    ui.TS1ChB0->setChecked(p.SensorSetup & 0x20);
    ui.TS1ChB1->setChecked(p.SensorSetup & 0x80);
    ui.TS1ChB2->setChecked(p.OutputSetup & 0x01);
    ui.TS1SE1->setValue(p.AveragingCount);  // the box runs 1 to 100 and shows 0 as 1
    ShowItem(ui.TS1CB2, (p.OutputSetup >> 1) & 0x03);
    ui.TS1S0->setValue(p.OutputSetup >> 4);  // the sliders run 1 to 15 and show 0 as 1
    ui.TS1S1->setValue(p.IndicatorBrightness & 0x0F);
    ui.TS1S2->setValue(p.IndicatorBrightness >> 4);
    ShowItem(ui.TS1CB3, (p.LinkDisplaySetup >> 4) & 0x03);
    ui.TS1SE2->setValue(p.LinkDisplaySetup >> 6);

    // Setpoints and the relay matrix. A reaction field holding 3 has no picture: the cell
    // refuses it and keeps its mode.
    const auto cells = relay_matrix::Cells(ui);
    for (int relay = 0; relay < relay_matrix::RelayCount; ++relay) {
        const TRelayFields &f = RelayFields[relay];
        ShowFloat(ui.*f.SetpointEdit, p.*f.Setpoint);
        ShowFloat(ui.*f.HysteresisEdit, p.*f.Hysteresis);
        const std::uint8_t reaction = p.*f.Reaction;
        for (int column = 1; column <= 3; ++column)
            form.ProgramControl->SetRelayImage(cells[relay][column], std::uint8_t(column),
                                               std::uint8_t((reaction >> (2 * (column - 1))) & 0x03));
        form.ProgramControl->SetRelayImage(cells[relay][relay_matrix::BreakColumn], relay_matrix::BreakColumn,
                                           std::uint8_t((reaction >> 6) & 0x01));
        form.MyMouseDown(cells[relay][0]);
    }

    // Calibration coefficients.
    for (const TCoefficientField &f : CoefficientFields)
        ShowFloat(ui.*f.Edit, c.*f.Field);

    // The brightness rule (at most 25 together) and the value labels.
    for (QSlider *slider : {ui.TS1S0, ui.TS1S1, ui.TS1S2})
        form.MySliderChanged(slider);
}

// Takes the form into p and c field by field, in the form's order; a field that cannot be
// read ends it there with TConvertError.
void TakeFromForm(TParams &p, TCalibration &c, const TfMain &form)
{
    const Ui::TfMain &ui = *form.ui;
    p.InputRangeLow = FieldFloat(ui.TS1Edit0);
    p.InputRangeHigh = FieldFloat(ui.TS1Edit1);
    p.CurrentRangeLow = FieldFloat(ui.TS1Edit2);
    p.CurrentRangeHigh = FieldFloat(ui.TS1Edit3);

    p.NetworkAddress = static_cast<std::uint8_t>(ui.TS1SE0->value());
    p.Password = static_cast<std::uint16_t>(qRound(ui.TS1CE0->value()));
    p.PasswordConfirm = static_cast<std::uint16_t>(qRound(ui.TS1CE1->value()));

    // The bytes are sums of their fields; a list without a selection keeps the code it had.
    p.SensorSetup = static_cast<std::uint8_t>(ItemCode(ui.TS1CB1, p.SensorSetup & 0x1F)
                                              + (ui.TS1ChB0->isChecked() ? 32 : 0)
                                              + (ui.TS1RB0->isChecked() ? 0 : 64)
                                              + (ui.TS1ChB1->isChecked() ? 128 : 0));
    p.AveragingCount = static_cast<std::uint8_t>(ui.TS1SE1->value());
    p.OutputSetup = static_cast<std::uint8_t>((ui.TS1ChB2->isChecked() ? 1 : 0)
                                              + 2 * ItemCode(ui.TS1CB2, (p.OutputSetup >> 1) & 0x03)
                                              + 16 * ui.TS1S0->value());
    p.IndicatorBrightness = static_cast<std::uint8_t>(ui.TS1S1->value() + 16 * ui.TS1S2->value());
    p.LinkDisplaySetup = static_cast<std::uint8_t>(ItemCode(ui.TS1CB0, p.LinkDisplaySetup & 0x07)
                                                   + 16 * ItemCode(ui.TS1CB3, (p.LinkDisplaySetup >> 4) & 0x03)
                                                   + 64 * ui.TS1SE2->value());

    const auto cells = relay_matrix::Cells(ui);
    for (int relay = 0; relay < relay_matrix::RelayCount; ++relay) {
        const TRelayFields &f = RelayFields[relay];
        p.*f.Setpoint = FieldFloat(ui.*f.SetpointEdit);
        p.*f.Hysteresis = FieldFloat(ui.*f.HysteresisEdit);
        const auto &row = cells[relay];
        p.*f.Reaction = static_cast<std::uint8_t>(relay_matrix::Mode(row[1]) + 4 * relay_matrix::Mode(row[2])
                                                  + 16 * relay_matrix::Mode(row[3])
                                                  + 64 * relay_matrix::Mode(row[4]));
    }

    for (const TCoefficientField &f : CoefficientFields)
        c.*f.Field = FieldFloat(ui.*f.Edit);
}

} // namespace

std::int32_t TDevice::ShowParams()
{
    if (!FForm)
        return -1;
    RunOnWindowThread([this] {
        ShowOnForm(TParams::FromBytes(ParamsBlock), TCalibration::FromBytes(CalibBlock), *FForm);
    });
    return 0;
}

std::int32_t TDevice::TakeParams()
{
    if (!FForm)
        return -1;
    // The error crosses back to the calling thread: nothing may be thrown through the window
    // thread's event loop.
    std::optional<TConvertError> failure;
    RunOnWindowThread([this, &failure] {
        TParams p = TParams::FromBytes(ParamsBlock);
        TCalibration c = TCalibration::FromBytes(CalibBlock);
        try {
            TakeFromForm(p, c, *FForm);
        } catch (const TConvertError &e) {
            // The message names the field; the field is put before the user.
            failure = e;
            if (e.Field())
                ShowField(const_cast<QWidget *>(e.Field()));
        }
        // What was taken before a failing field stays taken.
        p.ToBytes(ParamsBlock);
        c.ToBytes(CalibBlock);
    });
    if (failure)
        throw *failure;
    return 0;
}
