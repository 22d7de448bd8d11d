// The login window on a fresh installation: while the user list is empty,
// one line below the password box tells whoever sits down that no user
// exists yet and that the administrator adds the first one, and a line
// under the buttons says where the administrator finds the manager code
// (the manual page `man clinic`, and /usr/share/doc/clinic/README.Debian).
// Neither names the code itself.
#pragma once

namespace app {

// The lines' object names, for tests.
constexpr const char* kNoUserLineName = "noUserLine";
constexpr const char* kManagerCodeHintName = "managerCodeHint";

// Shows both lines on the loaded login window when `noUser`, hides them
// otherwise (after the administrator has added the first user).
void showNoUserLine(bool noUser);

}  // namespace app
