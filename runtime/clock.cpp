#include "runtime/clock.h"

#include <atomic>
#include <ctime>

#include "runtime/convert.h"

namespace rt {
namespace {
// A frozen test time, or NaN for the wall clock. Only the window thread
// reads it, but an atomic keeps a test's writer thread honest too.
std::atomic<double> g_frozen{__builtin_nan("")};
}  // namespace

double clockNow() {
  double frozen = g_frozen.load();
  if (frozen == frozen) return frozen;
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return makeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

void setClock(double dateTime) { g_frozen.store(dateTime); }
void clearClock() { g_frozen.store(__builtin_nan("")); }
double frozenClock() { return g_frozen.load(); }

}  // namespace rt
