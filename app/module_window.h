// A module window as its handlers see it: its boxes by stored control
// name, its clock label and its status line. Everything runs on the window
// thread, inside a handler of the window named; controls are looked up per
// call (the window must be loaded, a missing control name is fatal as in
// forms::control).
#pragma once

#include <cstdint>
#include <string>

#include "forms/facade.h"
#include "forms/live_windows.h"
#include "runtime/facade.h"
#include "runtime/gbk.h"

namespace app {

// One loaded module window; controls by their stored names, written in
// the source as UTF-8 literals ("编辑框3") and converted once each.
class ModuleWindow {
 public:
  explicit constexpr ModuleWindow(uint32_t windowId) : id_(windowId) {}
  uint32_t id() const { return id_; }
  rt::Arg arg() const { return forms::windowArg(id_); }

  forms::Control control(const char* utf8Name) const;
  std::string text(const char* utf8Name) const { return control(utf8Name).text(); }
  void setText(const char* utf8Name, const std::string& gbk) const { control(utf8Name).setText(gbk); }
  // The box's text converted to a number (a text that is not a number is 0).
  double number(const char* utf8Name) const { return cmd::ToNumber(text(utf8Name)); }
  void focus(const char* utf8Name) const { cmd::FocusControl(control(utf8Name).arg()); }
  void close() const { cmd::CloseWindow(arg()); }

 private:
  uint32_t id_;
};

// The clock label: the current date-time as text.
void showClock(const forms::Control& label);

// The window's status line, shown after the template's title in its title
// bar ("" clears it): what a handler that must not raise a box (a
// keystroke) could not do, with its cause, until it can again.
void showStatus(const ModuleWindow& win, const std::string& gbk);

}  // namespace app
