// The window, control, drawing and message commands of the command table.
#include <QApplication>
#include <QStyle>
#include <QStyleFactory>
#include <mutex>

#include "forms/qt/live_p.h"
#include "runtime/builtins.h"
#include "runtime/commands.h"
#include "runtime/dialogs.h"
#include "runtime/gbk.h"

namespace forms {
namespace detail {
namespace {

using rt::Arg;
using rt::argAt;

// An optional integer argument.
std::optional<int> optInt(int argc, const Arg* argv, int i) {
  const Arg* a = argAt(argc, argv, i);
  if (!a) return std::nullopt;
  double d = 0;
  if (rt::numericValue(*a, &d)) return int(d);
  if (a->kind == rt::kBool) return a->lo != 0 ? 1 : 0;
  return int(rt::valueToNumber(*a));
}

int intArg(int argc, const Arg* argv, int i, int fallback) { return optInt(argc, argv, i).value_or(fallback); }

bool boolArg(int argc, const Arg* argv, int i) {
  const Arg* a = argAt(argc, argv, i);
  if (!a) return false;
  if (a->kind == rt::kBool) return a->lo != 0;
  double d = 0;
  return rt::numericValue(*a, &d) && d != 0;
}

// A text argument as GBK, other kinds as ToText gives them.
std::string gbkArg(int argc, const Arg* argv, int i) {
  const Arg* a = argAt(argc, argv, i);
  if (!a) return std::string();
  return a->kind == rt::kText ? std::string(rt::textValue(*a)) : rt::valueToText(*a);
}

QString textArg(int argc, const Arg* argv, int i) {
  const Arg* a = argAt(argc, argv, i);
  if (!a) return QString();
  return fromGbk(a->kind == rt::kText ? std::string(rt::textValue(*a)) : rt::valueToText(*a));
}

template <typename W>
W* widgetArg(int argc, const Arg* argv, uint32_t kind) {
  LiveControl* c = commandControl(argAt(argc, argv, 0), kind);
  return c ? dynamic_cast<W*>(c->widget) : nullptr;
}

void setInt(Arg* r, int v) { *r = rt::makeInt(v); }

// --- windows ---

void cmdLoadWindow(Arg* r, int argc, const Arg* argv) {
  const Arg* w = argAt(argc, argv, 0);
  if (!w) {
    *r = rt::makeBool(false);
    return;
  }
  const Arg* parent = argAt(argc, argv, 1);
  *r = rt::makeBool(loadWindow(w->lo, parent ? parent->lo : 0, boolArg(argc, argv, 2)));
}

void cmdCloseWindow(Arg*, int argc, const Arg* argv) {
  if (const Arg* w = argAt(argc, argv, 0)) closeWindow(w->lo);
}

void cmdFocusControl(Arg*, int argc, const Arg* argv) {
  LiveControl* c = commandControl(argAt(argc, argv, 0), 0);
  if (c && c->widget) c->widget->setFocus(Qt::OtherFocusReason);
}

void cmdSetVisualStyle(Arg* r, int argc, const Arg* argv) {
  int style = intArg(argc, argv, 0, 0);
  // The themed look is Fusion; without it the plain Windows-like style.
  QString want = style >= 1 && style <= 3 ? "Fusion" : "Windows";
  if (QApplication::style()->name().compare(want, Qt::CaseInsensitive) != 0) {
    if (QStyle* s = QStyleFactory::create(want)) QApplication::setStyle(s);
  }
  *r = rt::makeBool(true);
}

// --- combo and list ---

void cmdAddComboItem(Arg* r, int argc, const Arg* argv) {
  auto* cb = widgetArg<ComboBox>(argc, argv, kComboBoxKind);
  if (!cb) return setInt(r, -1);
  setInt(r, cb->addEntry(textArg(argc, argv, 1), intArg(argc, argv, 2, 0)));
}

void cmdListClear(Arg* r, int argc, const Arg* argv) {
  auto* lv = widgetArg<ListView>(argc, argv, kListViewKind);
  if (!lv) return setInt(r, 0);
  lv->clearRows();
  setInt(r, 1);
}

void cmdListInsertItem(Arg* r, int argc, const Arg* argv) {
  auto* lv = widgetArg<ListView>(argc, argv, kListViewKind);
  if (!lv) return setInt(r, -1);
  int index = intArg(argc, argv, 1, -1);
  int image = std::max(intArg(argc, argv, 3, -1), -1);
  std::optional<int> state = optInt(argc, argv, 4);
  int stateImage = state ? std::max(*state + 1, 0) : 0;
  int indent = std::max(intArg(argc, argv, 5, 0), 0);
  int data = intArg(argc, argv, 6, 0);
  setInt(r, lv->insertRow(index, gbkArg(argc, argv, 2), image, stateImage, indent, data));
}

void cmdListSetItemText(Arg*, int argc, const Arg* argv) {
  auto* lv = widgetArg<ListView>(argc, argv, kListViewKind);
  std::optional<int> row = optInt(argc, argv, 1), col = optInt(argc, argv, 2);
  if (!lv || !row || !col) return;
  lv->setCellText(*row, *col, gbkArg(argc, argv, 3));
}

// --- draw panel ---

void cmdClearPanel(Arg*, int argc, const Arg* argv) {
  auto* p = widgetArg<DrawPanel>(argc, argv, kDrawPanelKind);
  if (!p) return;
  std::optional<int> x = optInt(argc, argv, 1), y = optInt(argc, argv, 2), w = optInt(argc, argv, 3),
                     h = optInt(argc, argv, 4);
  if (!x && !y && !w && !h) return p->clearArea(std::nullopt);
  QSize s = p->surface().size();
  int left = x.value_or(0), top = y.value_or(0);
  p->clearArea(QRect(left, top, w.value_or(s.width() - left), h.value_or(s.height() - top)));
}

void cmdPanelTextAt(Arg*, int argc, const Arg* argv) {
  auto* p = widgetArg<DrawPanel>(argc, argv, kDrawPanelKind);
  if (!p) return;
  std::vector<QString> texts;
  for (int i = 3; i < argc; ++i)
    if (const Arg* v = argAt(argc, argv, i)) texts.push_back(fromGbk(rt::valueToText(*v)));
  p->textAt(optInt(argc, argv, 1), optInt(argc, argv, 2), texts);
}

void cmdPanelLine(Arg*, int argc, const Arg* argv) {
  auto* p = widgetArg<DrawPanel>(argc, argv, kDrawPanelKind);
  if (!p) return;
  p->line(intArg(argc, argv, 1, 0), intArg(argc, argv, 2, 0), intArg(argc, argv, 3, 0), intArg(argc, argv, 4, 0));
}

// --- messages ---

void cmdShowMessage(Arg* r, int argc, const Arg* argv) {
  std::string text;
  if (const Arg* v = argAt(argc, argv, 0)) {
    switch (v->kind) {
      case rt::kByte:
      case rt::kShort:
      case rt::kInt:
      case rt::kLong:
      case rt::kFloat:
      case rt::kDouble:
      case rt::kBool:
      case rt::kDateTime:
      case rt::kText:
        text = rt::valueToText(*v);
        break;
      default:
        break;  // other kinds show an empty text
    }
  }
  uint32_t style = uint32_t(intArg(argc, argv, 1, 0));
  if (!(style & rt::mb::kSystemModal)) style |= rt::mb::kTaskModal;
  std::string caption = GBK("信息：");
  if (const Arg* c = argAt(argc, argv, 2))
    caption = c->kind == rt::kText ? std::string(rt::textValue(*c)) : rt::valueToText(*c);
  setInt(r, rt::dialogs().message(text, caption, style));
}

}  // namespace
}  // namespace detail

void registerFormCommands() {
  using namespace detail;
  static std::once_flag once;
  std::call_once(once, [] {
    rt::registerCommand(rt::Cmd::LoadWindow, cmdLoadWindow);
    rt::registerCommand(rt::Cmd::CloseWindow, cmdCloseWindow);
    rt::registerCommand(rt::Cmd::FocusControl, cmdFocusControl);
    rt::registerCommand(rt::Cmd::SetVisualStyle, cmdSetVisualStyle);
    rt::registerCommand(rt::Cmd::AddComboItem, cmdAddComboItem);
    rt::registerCommand(rt::Cmd::ListClear, cmdListClear);
    rt::registerCommand(rt::Cmd::ListInsertItem, cmdListInsertItem);
    rt::registerCommand(rt::Cmd::ListSetItemText, cmdListSetItemText);
    rt::registerCommand(rt::Cmd::ClearPanel, cmdClearPanel);
    rt::registerCommand(rt::Cmd::PanelTextAt, cmdPanelTextAt);
    rt::registerCommand(rt::Cmd::PanelLine, cmdPanelLine);
    rt::registerCommand(rt::Cmd::ShowMessage, cmdShowMessage);
  });
}

}  // namespace forms
