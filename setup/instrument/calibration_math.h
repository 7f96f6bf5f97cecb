#pragma once
// The arithmetic of the calibration procedures, as functions of numbers: when a reading of the
// ADC block can give a term, what each reading adds to a coefficient, and the three-wire
// procedure's reference voltage and resistance from its two passes. The procedures themselves
// (the questions, the link and the form) are TDevice's operations in the window half; this is
// what they compute, testable without either.
//
// Sums live in 32-bit floats, as the coefficients of the calibration block do: a single
// coefficient is summed in the block's own field, a three-wire pass in a float of its own.
#include "device_blocks.h"

#include <optional>

namespace calibration {

// A procedure that yields one coefficient: the mean over N readings of a per-reading term.
struct TCoefficientRule {
    float TCalibration::*Coefficient;
    // True when the reading cannot give a term: its divisor is zero.
    bool (*ZeroFails)(const TADCData &reading, const TCalibration &c);
    // The reading's term; reference is the value the technician applied (the resistance rules
    // use Rref and Uref of c instead).
    double (*Term)(const TADCData &reading, const TCalibration &c, double reference);
};

extern const TCoefficientRule Voltage;                // Ku: U / V1
extern const TCoefficientRule Current5;               // Ki05: I / V3
extern const TCoefficientRule Current20;              // Ki20: I / V3
extern const TCoefficientRule LineResistance;         // Rl: V2 Rref / (Uref - V2)
extern const TCoefficientRule CompensatorResistance;  // Rc: (V2 - V3) Rref / (Uref - V2)

// The running sum after one more term, held in 32 bits.
float AddTerm(float sum, double term);

// The means of one three-wire pass: A of the channel 1 voltage, B of channel 2.
struct TPassMeans {
    float A = 0;
    float B = 0;
};

// Sums one pass's readings in 32 bits; Means() divides by their count.
class TPassSums {
public:
    void Add(const TADCData &reading);
    TPassMeans Means() const;

private:
    TPassMeans FSums;
    int FCount = 0;
};

// Uref and Rref of the three-wire procedure from the passes over R1 and R2; none when the
// readings cannot give them (P = B1 - 2 A1 or Q = (B2 - 2 A2) R1 - P R2 is zero). Uref is stored
// in 32 bits before Rref is computed from it.
struct TReferences {
    float Uref = 0;
    float Rref = 0;
};
std::optional<TReferences> ThreeWireReferences(TPassMeans first, TPassMeans second, float r1, float r2);

} // namespace calibration
