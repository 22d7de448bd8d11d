// How a figure is held when it is stored in a float field, shared by the
// windows and by the report figures that run without them.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace app {

// A double as a float field holds it: beyond the float range it becomes an
// infinity of the same sign instead of an undefined conversion.
inline float asStored(double v) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (v > kMax) return std::numeric_limits<float>::infinity();
  if (v < -kMax) return -std::numeric_limits<float>::infinity();
  return float(v);
}

// Money is counted in fen. A stored amount (a float field) is worth the
// nearest fen of its value, half away from zero (95.100006 is 9510 fen);
// every sum of money adds fen, so a total is exactly the sum of the rows
// it totals. A value beyond any sum of money (an infinity, a NaN, more
// than 10^15 yuan) is held as 0.
inline int64_t fenOf(double yuan) {
  const double fen = yuan * 100.0;
  if (!(std::fabs(fen) < 1e17)) return 0;
  return std::llround(fen);
}
// Fen as yuan, for the text conversions (exact to the fen when written
// to the fen).
inline double yuanOf(int64_t fen) { return double(fen) / 100.0; }
// An amount in fen as a float field stores it: the float nearest to it.
inline float storedOf(int64_t fen) { return asStored(yuanOf(fen)); }

}  // namespace app
