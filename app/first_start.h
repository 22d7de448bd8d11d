// The login window on a fresh installation: while the user list is empty,
// one line below the password box tells whoever sits down that no user
// exists yet and that the administrator adds the first one. It never names
// the manager code; the administrator finds that in the README.
#pragma once

namespace app {

// The line's object name, for tests.
constexpr const char* kNoUserLineName = "noUserLine";

// Shows the line on the loaded login window when `noUser`, hides it
// otherwise (after the administrator has added the first user).
void showNoUserLine(bool noUser);

}  // namespace app
