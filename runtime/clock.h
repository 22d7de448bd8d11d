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

}  // namespace rt
