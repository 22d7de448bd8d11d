// What the login window and the module menu ask before they act: whether
// a name may try to log in now (five failed logins in a row make the next
// try wait), what a login and a failed login leave in the trail, the
// rights taken at the login, and who may edit the user list and the
// rights behind the manager code.
#pragma once

#include <cstdint>
#include <string>

namespace app::login {

// Failed logins in a row for one name before its next try waits, and how
// long (seconds, on the runtime clock).
constexpr int kTriesBeforeWait = 5;
constexpr int kWaitSeconds = 5;

// Whether `name` (GBK) may try now; when it must still wait, the operator
// is told how long and false is returned (the password is not looked at).
[[nodiscard]] bool mayTry(const std::string& name);
// A failed login of `name`: trailed and counted. Returns the message to
// show: "密码错误!", and at the fifth failure in a row that the next try
// waits.
std::string refused(const std::string& name);
// A login of `name` whose password matched: his rights read (a rights
// table that cannot be read is told and the login refused: false), the
// login trailed, the count of failures cleared, and trail entries left
// from a time the folder was away written.
[[nodiscard]] bool accepted(const std::string& name);
// Forgets the counts: the login window is made once a run, and counts
// from its making.
void resetTries();

// Whether the module window may be opened by the login (told when not).
[[nodiscard]] bool mayOpenWindow(uint32_t windowId);

// Behind the manager code: whether the user named in the login window's
// box (`name`, GBK) may edit the user list and the rights. A name without
// a rights record (or no name: the first user is made this way) may; one
// whose record denies it is told so, naming the right.
[[nodiscard]] bool mayEditUsers(const std::string& name);

// The user list, or the rights table, in the record-edit dialog with every
// change trailed as made by `name` (GBK).
void editUsers(const std::string& name);
void editRights(const std::string& name);

}  // namespace app::login
