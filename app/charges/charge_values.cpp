#include "app/charges/charge_values.h"

#include "app/login_user.h"
#include "runtime/gbk.h"

namespace app {
namespace {

ProgramValues g_values;

}  // namespace

ProgramValues& programValues() { return g_values; }

const std::string& cashier() { return loggedInUser(); }

void releaseProgramValues() { g_values = ProgramValues{}; }

}  // namespace app
