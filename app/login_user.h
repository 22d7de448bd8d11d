// The user of the last successful login, for whatever records who did
// something (the charge windows' cashier, the stock journal's user). The
// login window sets it; nothing else does.
#pragma once

#include <string>

namespace app {

// The user name (GBK); empty until a login succeeded.
const std::string& loggedInUser();
void setLoggedInUser(const std::string& gbk);
// Forgets it, its memory released (at the program's end).
void forgetLoggedInUser();

}  // namespace app
