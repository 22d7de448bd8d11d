// Money is counted in fen. The tables store amounts in single-precision
// float fields (every float field of the centre's tables is an amount);
// a stored amount is worth the nearest fen of its value, half away from
// zero (95.100006 is 9510 fen). Every sum of money adds fen, so a total is
// exactly the sum of the rows it totals, on screen, on paper and in every
// export.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>

namespace rt {

// The nearest fen of an amount in yuan. A value beyond any sum of money
// (an infinity, a NaN, more than 10^15 yuan) is held as 0.
inline int64_t fenOf(double yuan) {
  const double fen = yuan * 100.0;
  if (!(std::fabs(fen) < 1e17)) return 0;
  return std::llround(fen);
}

// Fen as yuan: the double nearest to the two-decimal amount, for
// conversions that write it to the fen.
inline double yuanOf(int64_t fen) { return double(fen) / 100.0; }

// Fen as text with exactly two decimals and no grouping: "95.10",
// "-0.05", "0.00".
inline std::string fenText(int64_t fen) {
  const uint64_t a = fen < 0 ? uint64_t(0) - uint64_t(fen) : uint64_t(fen);
  const uint64_t cents = a % 100;
  return (fen < 0 ? "-" : "") + std::to_string(a / 100) + (cents < 10 ? ".0" : ".") + std::to_string(cents);
}

}  // namespace rt
