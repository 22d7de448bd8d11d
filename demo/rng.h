// The demo year's one source of chance: a fixed-seed generator whose
// sequence is the same on every machine and library (the standard
// distributions are not), so a scale always gives the same tables.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace demo {

class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed) {}

  // splitmix64.
  uint64_t next() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1 (n > 0).
  int below(int n) { return int(next() % uint64_t(n)); }
  // lo .. hi, both included.
  int between(int lo, int hi) { return lo + below(hi - lo + 1); }
  // [0, 1).
  double unit() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }
  bool chance(double p) { return unit() < p; }
  template <typename T>
  const T& pick(const std::vector<T>& v) {
    return v[size_t(below(int(v.size())))];
  }
  // An index drawn with the given weights.
  int weighted(const std::vector<int>& weights) {
    int total = 0;
    for (int w : weights) total += w;
    int r = below(total);
    for (size_t i = 0; i < weights.size(); ++i) {
      if (r < weights[i]) return int(i);
      r -= weights[i];
    }
    return int(weights.size()) - 1;
  }

 private:
  uint64_t s_;
};

}  // namespace demo
