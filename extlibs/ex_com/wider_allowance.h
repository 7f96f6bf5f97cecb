#pragma once
// A time allowance that an environment variable may widen: the two link libraries let a rig whose
// far end is a program (a simulator that a busy machine may wake late) give replies more time,
// while without the variable they keep the allowances of the field.

#include <chrono>

namespace excom {

// `fieldMs`, or the value of the environment variable `name` when that is a whole number of
// milliseconds above `fieldMs` and at most `mostMs`; any other value is ignored. Read at every
// call, so that a caller may change the variable between exchanges.
std::chrono::milliseconds widerAllowance(const char *name, int fieldMs, int mostMs);

} // namespace excom
