// Where Now() gets the time. Production reads the local wall clock; tests
// set a fixed time so that month and year turns can be exercised.
#pragma once

namespace rt {

// Current local date-time (days since 1899-12-30), whole seconds.
double clockNow();

// Freezes the clock at `dateTime` (tests only); clearClock() goes back to
// the wall clock.
void setClock(double dateTime);
void clearClock();

// The frozen time, or NaN while the wall clock runs: code that sets the
// clock for a while (the demo writer) gives back what it found with
// setClock(frozenClock()) taken before, NaN meaning the wall clock.
double frozenClock();

}  // namespace rt
