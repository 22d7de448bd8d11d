// Typed window and control commands for module code, in namespace cmd
// beside the runtime's and the engine's (runtime/facade.h, db/facade.h).
// Each goes through the command table, so registerFormCommands() must have
// run. Controls and windows are passed as their argument records
// (forms::Control::arg(), forms::windowArg()).
//
//   cmd::ListClear(list.arg());
//   int row = cmd::ListInsertItem(list.arg(), 0, caption);
//   if (cmd::ShowMessage(GBK("你确定要删除吗？"), rt::mb::kOkCancel) == rt::kOk) ...
#pragma once

#include <string>

#include "runtime/dialogs.h"
#include "runtime/facade.h"

namespace cmd {

// Builds and shows a window (modal: returns after it has closed).
inline bool LoadWindow(const rt::Arg& window, const rt::Arg& parent = rt::Arg{}, bool modal = false) {
  return rt::invoke(rt::Cmd::LoadWindow, window, parent, modal).boolean();
}
// Closes a window once the running handler has returned.
inline void CloseWindow(const rt::Arg& window) { rt::invoke(rt::Cmd::CloseWindow, window); }
inline void FocusControl(const rt::Arg& control) { rt::invoke(rt::Cmd::FocusControl, control); }
inline bool SetVisualStyle(int style) { return rt::invoke(rt::Cmd::SetVisualStyle, style).boolean(); }
inline int AddComboItem(const rt::Arg& combo, const std::string& gbk, int data = 0) {
  return rt::invoke(rt::Cmd::AddComboItem, combo, gbk, data).integer();
}

// The report-style list: remove every row, insert a row (its caption, the
// text of column 0) at `index`, set the text of a column of a row.
inline void ListClear(const rt::Arg& list) { rt::invoke(rt::Cmd::ListClear, list); }
inline int ListInsertItem(const rt::Arg& list, int index, const std::string& caption) {
  return rt::invoke(rt::Cmd::ListInsertItem, list, index, caption).integer();
}
// The same with a number kept with the row (the serial of the record the
// row shows), read back as forms::listItem(...).data.
inline int ListInsertItem(const rt::Arg& list, int index, const std::string& caption, int32_t data) {
  return rt::invoke(rt::Cmd::ListInsertItem, list, index, caption, rt::omitted, rt::omitted, rt::omitted, data)
      .integer();
}
inline void ListSetItemText(const rt::Arg& list, int row, int column, const std::string& gbk) {
  rt::invoke(rt::Cmd::ListSetItemText, list, row, column, gbk);
}

// The draw panel: clear it, write values from (x, y), draw a line.
inline void ClearPanel(const rt::Arg& panel) { rt::invoke(rt::Cmd::ClearPanel, panel); }
template <typename... Ts>
void PanelTextAt(const rt::Arg& panel, int x, int y, const Ts&... values) {
  rt::invoke(rt::Cmd::PanelTextAt, panel, x, y, values...);
}
}  // namespace cmd
namespace forms {
int panelTextWidth(uint32_t windowId, uint32_t controlId, const std::string& gbk);  // live_windows.h
}  // namespace forms
namespace cmd {

// The width in panel pixels of the text in the panel's current font.
inline int PanelTextWidth(const rt::Arg& panel, const std::string& gbk) {
  return forms::panelTextWidth(panel.lo, panel.hi, gbk);
}
inline void PanelLine(const rt::Arg& panel, int x1, int y1, int x2, int y2) {
  rt::invoke(rt::Cmd::PanelLine, panel, x1, y1, x2, y2);
}

// The message box with the default caption "信息："; style as rt::mb. The
// button pressed (rt::kOk, ...).
inline int ShowMessage(const std::string& gbk, int style = 0) {
  return rt::invoke(rt::Cmd::ShowMessage, gbk, style).integer();
}

}  // namespace cmd
