// How a figure is held when it is stored in a float field, shared by the
// windows and by the report figures that run without them.
#pragma once

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

}  // namespace app
