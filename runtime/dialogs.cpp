#include "runtime/dialogs.h"

#include <cstdio>

#include "runtime/gbk.h"

namespace rt {
namespace {

class StderrDialogs final : public Dialogs {
 public:
  int message(const std::string& text, const std::string& caption, uint32_t style) override {
    std::fprintf(stderr, "[%s] %s\n", gbkToUtf8(caption).c_str(), gbkToUtf8(text).c_str());
    // Nobody can answer: take the button that changes nothing.
    switch (style & mb::kButtonMask) {
      case mb::kOk:
        return kOk;
      case mb::kYesNo:
        return kNo;
      case mb::kAbortRetryIgnore:
        return kAbort;
      default:
        return kCancel;
    }
  }
  bool askText(const std::string&, const std::string&, std::string*, bool) override { return false; }
  bool saveFile(const std::string&, const std::string&, std::string*) override { return false; }
};

StderrDialogs g_fallback;
Dialogs* g_current = &g_fallback;

}  // namespace

Dialogs& dialogs() { return *g_current; }

Dialogs* setDialogs(Dialogs* d) {
  Dialogs* old = g_current;
  g_current = d ? d : &g_fallback;
  return old == &g_fallback ? nullptr : old;
}

}  // namespace rt
