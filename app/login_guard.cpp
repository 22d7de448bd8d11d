#include "app/login_guard.h"

#include <cmath>
#include <map>

#include "app/listed_records.h"
#include "app/module_window.h"
#include "app/table_use.h"
#include "app/telling.h"
#include "app/rights.h"
#include "app/tables.h"
#include "app/trail.h"
#include "db/dialog/edit_records.h"
#include "db/errors.h"
#include "db/facade.h"
#include "runtime/gbk.h"

namespace app::login {
namespace {

struct Tries {
  int failedInRow = 0;
  double waitUntil = 0;  // days on the runtime clock
};
std::map<std::string, Tries>& tries() {
  static std::map<std::string, Tries> t;
  return t;
}

constexpr double kSecondsPerDay = 86400.0;

}  // namespace

bool mayTry(const std::string& name) {
  const auto it = tries().find(name);
  if (it == tries().end()) return true;
  const double left = (it->second.waitUntil - cmd::Now().days) * kSecondsPerDay;
  if (left <= 0) return true;
  const std::string text = GBK("用户“") + name + GBK("”已连续 ") + std::to_string(it->second.failedInRow) +
                           GBK(" 次登录失败，请等待 ") + std::to_string(int(std::ceil(left))) + GBK(" 秒后再试。");
  tell(text.c_str());
  return false;
}

std::string refused(const std::string& name) {
  trail::record({trail::loginFailed(), kUsersName, 0, "", "", name});
  Tries& t = tries()[name];
  ++t.failedInRow;
  std::string text = GBK("密码错误!");
  if (t.failedInRow >= kTriesBeforeWait) {
    // Every failure from the fifth on makes the next try wait.
    t.waitUntil = cmd::Now().days + kWaitSeconds / kSecondsPerDay;
    text += GBK("已连续 ") + std::to_string(t.failedInRow) + GBK(" 次登录失败，请等待 ") +
            std::to_string(kWaitSeconds) + GBK(" 秒后再试。");
  }
  return text;
}

bool accepted(const std::string& name) {
  if (const int rc = rights::takeForLogin(name); rc != 0) {
    tellFailure(GBK("用户权限文件 yhqx.kdb 无法读取"), rc, GBK("暂时无法登录。"));
    return false;
  }
  tries().erase(name);
  trail::record({trail::loggedIn(), kUsersName, 0, "", "", name});
  trail::settle();
  return true;
}

void resetTries() { tries().clear(); }

bool mayOpenWindow(uint32_t windowId) {
  rights::Right r;
  if (!rights::windowRight(windowId, &r)) return true;
  return rights::require(r, GBK("未打开该窗口。"));
}

bool mayEditUsers(const std::string& name) {
  if (name.empty()) return true;
  rights::Rights r;
  if (const int rc = rights::read(name, &r); rc != 0) {
    tellFailure(GBK("用户权限文件 yhqx.kdb 无法读取"), rc, GBK("未打开用户名单。"));
    return false;
  }
  if (r.users) return true;
  const std::string text =
      GBK("用户“") + name + GBK("”没有“") + rights::rightName(rights::Right::kUsers) + GBK("”的权限，未打开。");
  tell(text.c_str());
  return false;
}

namespace {

void editTable(const std::string& table, const TableDef& def, const std::string& name) {
  const TableUse use = useTable(table, {.def = &def, .createWhenMissing = true});
  if (use.outcome == TableUse::Outcome::kOtherLayout) {
    const std::string text = table + GBK(".kdb 的字段与程序不符，未打开。");
    tell(text.c_str());
    return;
  }
  if (!use.ok()) {
    const std::string text = table + GBK(".kdb 无法打开：") + causeText(use.code);
    tell(text.c_str());
    return;
  }
  // Made before any correction is: a trail that cannot be written makes
  // each change wait on this workstation until it can.
  trail::settle();
  if (const TableUse again = useTable(table, {.def = &def}); !again.ok()) {
    const std::string text = table + GBK(".kdb 无法打开：") + causeText(again.failure());
    tell(text.c_str());
    return;
  }
  // Without a name in the box the change is the manager code's.
  trail::DialogTrail trailed(table, name.empty() ? std::string(GBK("管理员码")) : name);
  cmd::EditRecords();
}

}  // namespace

void editUsers(const std::string& name) { editTable(kUsersName, kUsers, name); }
void editRights(const std::string& name) { editTable(kRightsName, kRights, name); }

}  // namespace app::login
