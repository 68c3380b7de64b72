// 16-bit arithmetic as the runtime does it: a result outside -32768..32767 raises Overflow.
#pragma once

#include "RuntimeError.h"

#include <cstdint>

namespace kiv {

inline std::int16_t CheckedI2(long value) {
    if (value < -32768 || value > 32767) RaiseOverflow();
    return static_cast<std::int16_t>(value);
}

inline std::int16_t AddI2(std::int16_t a, std::int16_t b) { return CheckedI2(long{a} + long{b}); }
inline std::int16_t SubI2(std::int16_t a, std::int16_t b) { return CheckedI2(long{a} - long{b}); }

}  // namespace kiv
