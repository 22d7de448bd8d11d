// How a figure is held when it is stored in a float field, shared by the
// windows and by the report figures that run without them.
#pragma once

#include <cstdint>
#include <limits>

#include "runtime/money.h"

namespace app {

// A double as a float field holds it: beyond the float range it becomes an
// infinity of the same sign instead of an undefined conversion.
inline float asStored(double v) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (v > kMax) return std::numeric_limits<float>::infinity();
  if (v < -kMax) return -std::numeric_limits<float>::infinity();
  return float(v);
}

// Amounts in fen (runtime/money.h).
using rt::fenOf;
using rt::yuanOf;

// An amount in fen as a float field stores it: the float nearest to it.
inline float storedOf(int64_t fen) { return asStored(yuanOf(fen)); }

}  // namespace app
