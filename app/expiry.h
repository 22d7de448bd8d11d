// How a drug batch stands against its expiry date on a given day: the
// drug window colours expired and soon-expiring records and counts them in
// its title, and a charge of an expired batch asks the operator first.
#pragma once

namespace app {

// A batch is expiring when its expiry date falls within this many days
// from today (the drug window's amber rows, "N 种 90 天内到期").
constexpr int kExpiringDays = 90;

enum class Expiry { kValid, kExpiring, kExpired };

// The standing on `today` (a date, 00:00) of a batch whose expiry date is
// `expiry` (the field yx; 0 when none was typed, which never expires). A
// batch is expired from the day after its expiry date.
inline Expiry expiryOn(double expiry, double today) {
  if (expiry <= 0) return Expiry::kValid;
  if (expiry < today) return Expiry::kExpired;
  return expiry < today + kExpiringDays ? Expiry::kExpiring : Expiry::kValid;
}

}  // namespace app
