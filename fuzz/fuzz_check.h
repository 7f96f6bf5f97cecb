#pragma once
// A property a fuzz target checks on every input: when it does not hold, the target aborts, and
// the fuzzer keeps the input that broke it.
#include <cstdlib>

namespace fuzz {

inline void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace fuzz
