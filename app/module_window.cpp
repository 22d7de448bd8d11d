#include "app/module_window.h"

#include <cstdint>
#include <map>
#include <string>

#include "runtime/gbk.h"

namespace app {

forms::Control ModuleWindow::control(const char* utf8Name) const {
  return forms::control(id_, rt::utf8ToGbk(utf8Name));
}

void showClock(const forms::Control& label) { label.setText(cmd::ToText(cmd::Now())); }

void showStatus(const ModuleWindow& win, const std::string& gbk) {
  // The template's title of each window, as it was before any status.
  static std::map<uint32_t, std::string> titles;
  auto [at, added] = titles.emplace(win.id(), std::string());
  if (added) at->second = forms::windowTitle(win.id());
  forms::setWindowTitle(win.id(), gbk.empty() ? at->second : at->second + GBK("　　") + gbk);
}

}  // namespace app
