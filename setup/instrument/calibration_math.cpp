#include "calibration_math.h"

namespace calibration {

namespace {

double V1(const TADCData &r) { return r.Channel1Voltage; }
double V2(const TADCData &r) { return r.Channel2Voltage; }
double V3(const TADCData &r) { return r.Channel3Voltage; }

bool V1Zero(const TADCData &r, const TCalibration &) { return V1(r) == 0; }
bool V3Zero(const TADCData &r, const TCalibration &) { return V3(r) == 0; }
bool UrefMinusV2Zero(const TADCData &r, const TCalibration &c) { return c.Uref - V2(r) == 0; }

double PerV1(const TADCData &r, const TCalibration &, double reference) { return reference / V1(r); }
double PerV3(const TADCData &r, const TCalibration &, double reference) { return reference / V3(r); }

} // namespace

const TCoefficientRule Voltage{&TCalibration::Ku, V1Zero, PerV1};
const TCoefficientRule Current5{&TCalibration::Ki05, V3Zero, PerV3};
const TCoefficientRule Current20{&TCalibration::Ki20, V3Zero, PerV3};
const TCoefficientRule LineResistance{
    &TCalibration::Rl, UrefMinusV2Zero,
    [](const TADCData &r, const TCalibration &c, double) { return V2(r) * c.Rref / (c.Uref - V2(r)); }};
const TCoefficientRule CompensatorResistance{
    &TCalibration::Rc, UrefMinusV2Zero,
    [](const TADCData &r, const TCalibration &c, double) { return (V2(r) - V3(r)) * c.Rref / (c.Uref - V2(r)); }};

float AddTerm(float sum, double term)
{
    return float(double(sum) + term);
}

void TPassSums::Add(const TADCData &reading)
{
    FSums.A += reading.Channel1Voltage;
    FSums.B += reading.Channel2Voltage;
    ++FCount;
}

TPassMeans TPassSums::Means() const
{
    if (FCount == 0)
        return {};
    return {FSums.A / float(FCount), FSums.B / float(FCount)};
}

std::optional<TReferences> ThreeWireReferences(TPassMeans first, TPassMeans second, float r1, float r2)
{
    const double p = double(first.B) - 2.0 * first.A;
    const double q = (double(second.B) - 2.0 * second.A) * r1 - p * r2;
    if (p == 0 || q == 0)
        return std::nullopt;
    TReferences result;
    result.Uref = float((double(r1) * first.B * (double(second.B) - 2.0 * second.A) - double(r2) * second.B * p) / q);
    result.Rref = float((double(result.Uref) - first.B) * r1 / p);
    return result;
}

} // namespace calibration
