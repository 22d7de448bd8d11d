#include "app/login_user.h"

namespace app {
namespace {

std::string g_user;

}  // namespace

const std::string& loggedInUser() { return g_user; }

void setLoggedInUser(const std::string& gbk) { g_user = gbk; }

void forgetLoggedInUser() {
  g_user.clear();
  g_user.shrink_to_fit();
}

}  // namespace app
