// The registry of loaded windows, loading and closing, the handler tables,
// event delivery and the property operations.
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>

#include "forms/qt/live_p.h"
#include "runtime/fatal.h"
#include "runtime/gbk.h"

#if __has_include("forms/template.h")
#include "forms/template.h"
#define FORMS_HAVE_TEMPLATE_BLOCK 1
#endif

namespace forms {
namespace detail {
namespace {

// Heap-held and never destroyed: Qt may delete leftover windows while the
// program's statics are already gone.
struct State {
  std::vector<std::unique_ptr<LiveWindow>> windows;  // load order
  std::map<uint32_t, std::vector<Handler>> handlers;
  std::vector<EventSource> sources;
  std::vector<WindowClosedHook> closedHooks;
  std::vector<WindowBuiltHook> builtHooks;
  std::map<uint32_t, std::pair<PropertyGetter, PropertySetter>> kindProps;
  const TemplateData* source = nullptr;
  int loopDepth = 0;  // runMessageLoop running
  Handler afterHandler = nullptr;
};
State& st() {
  static State* s = new State;
  return *s;
}

[[noreturn]] void fatalMsg(const char* gbk) { rt::fatalError(gbk); }

[[noreturn]] void fatalNotLoaded() { fatalMsg(GBK("指定窗口或窗口组件不存在或尚未载入")); }

bool takesEvents(uint32_t kind) {
  switch (kind) {
    case kWindowKind:
    case kMenuItemKind:
    case kEditBoxKind:
    case kShapeBoxKind:
    case kDrawPanelKind:
    case kGroupBoxKind:
    case kLabelKind:
    case kButtonKind:
    case kComboBoxKind:
    case kDatePickerKind:
    case kTimerKind:
    case kListViewKind:
    case kTransLabelKind:
      return true;
    default:  // printer objects and anything unknown
      return false;
  }
}

struct SourceScope {
  SourceScope(uint32_t w, uint32_t c) { st().sources.push_back({w, c}); }
  ~SourceScope() { st().sources.pop_back(); }
};

std::unique_ptr<LiveWindow> unregister(uint32_t windowId) {
  auto& ws = st().windows;
  for (auto it = ws.begin(); it != ws.end(); ++it) {
    if ((*it)->id == windowId) {
      std::unique_ptr<LiveWindow> lw = std::move(*it);
      ws.erase(it);
      return lw;
    }
  }
  return nullptr;
}

// Ends a window: nothing of it raises events any more, its timers stop, it
// leaves the loaded windows, whatever waits for it is released, and the
// message loop ends with the last window.
void teardown(std::unique_ptr<LiveWindow> lw) {
  *lw->alive = false;
  for (auto& [id, c] : lw->controls)
    if (c.timer) c.timer->stop();
  if (lw->modalLoop) lw->modalLoop->quit();
  if (FormWindow* w = lw->widget.data()) {
    w->hide();
    w->deleteLater();
  }
  uint32_t id = lw->id;
  lw.reset();
  for (WindowClosedHook h : std::vector<WindowClosedHook>(st().closedHooks)) h(id);
  if (st().windows.empty() && st().loopDepth > 0) QCoreApplication::exit(0);
}

}  // namespace

LiveWindow* findWindow(uint32_t windowId) {
  for (auto& w : st().windows)
    if (w->id == windowId) return w.get();
  return nullptr;
}

LiveControl* commandControl(const rt::Arg* a, uint32_t kind) {
  if (!a) return nullptr;
  LiveWindow* lw = findWindow(a->lo);
  if (!lw || lw->state == WinState::Building) fatalNotLoaded();
  auto it = lw->controls.find(a->hi);
  if (it == lw->controls.end()) fatalNotLoaded();
  if (kind != 0 && it->second.item->kind != kind) return nullptr;
  return &it->second;
}

void Raiser::operator()(int32_t event) const {
  if (alive && *alive) raiseEvent(window, item, event);
}

void Raiser::queued(int32_t event) const {
  Raiser copy = *this;
  QTimer::singleShot(0, qApp, [copy, event] { copy(event); });
}

void windowClosed(uint32_t windowId, FormWindow* w) {
  // Only the record of this very widget: a close posted to a window that
  // has since been replaced by a new copy must not end the new one.
  LiveWindow* lw = findWindow(windowId);
  if (!lw || lw->widget.data() != w) return;
  teardown(unregister(windowId));
}

void windowDestroyed(uint32_t windowId, FormWindow* w) {
  // Deleted without a close (the application going away): drop the record
  // quietly, no hooks and no events.
  LiveWindow* lw = findWindow(windowId);
  if (lw && lw->widget.data() == w) {
    *lw->alive = false;
    if (lw->modalLoop) lw->modalLoop->quit();
    unregister(windowId);
  }
}

FormWindow::FormWindow(uint32_t windowId, const Item& window) : QWidget(nullptr), id_(windowId) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  (void)window;
}

FormWindow::~FormWindow() { windowDestroyed(id_, this); }

void FormWindow::closeEvent(QCloseEvent* e) {
  e->accept();
  windowClosed(id_, this);
}

// Enter presses the focused button, or else the window's default button
// (a button of type 1). Boxes leave Enter to their window.
void FormWindow::keyPressEvent(QKeyEvent* e) {
  if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) &&
      !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
    if (auto* b = qobject_cast<QPushButton*>(focusWidget()); b && b->isEnabled()) {
      b->click();
      return;
    }
    LiveWindow* lw = findWindow(id_);
    if (lw) {
      for (auto& [cid, c] : lw->controls) {
        auto* b = dynamic_cast<Button*>(c.widget);
        if (b && b->type() == 1 && b->isVisible() && b->isEnabled()) {
          b->click();
          return;
        }
      }
    }
  }
  QWidget::keyPressEvent(e);
}

}  // namespace detail

using namespace detail;

// --- template source, handlers, events ------------------------------------------

void setTemplateSource(const TemplateData* data) { st().source = data; }

const TemplateData& templateSource() {
  if (st().source) return *st().source;
#ifdef FORMS_HAVE_TEMPLATE_BLOCK
  return templates();
#else
  rt::fatalError(GBK("窗口模板数据尚未构建：本程序没有可载入的窗口模板"));
#endif
}

void setHandlers(uint32_t windowId, std::vector<Handler> table) { st().handlers[windowId] = std::move(table); }

EventSource eventSource() { return st().sources.empty() ? EventSource{} : st().sources.back(); }

void raiseEvent(uint32_t windowId, uint32_t itemId, int32_t event) {
  if (reportingFatal()) return;
  LiveWindow* lw = findWindow(windowId);
  if (!lw) fatalMsg(GBK("未找到引发事件的窗口"));
  const Item* item = lw->tpl->findId(itemId);
  if (!item) fatalMsg(GBK("未找到引发事件的窗口组件"));
  if (!takesEvents(item->kind)) fatalMsg(GBK("引发事件的窗口组件无效"));
  int32_t handler = -1;
  if (item->kind == kMenuItemKind) {
    handler = item->menuHandler;
  } else {
    for (const EventBinding& b : item->events)
      if (b.event == event) {
        handler = b.handler;
        break;
      }
  }
  if (handler < 0) return;
  auto t = st().handlers.find(windowId);
  if (t == st().handlers.end() || size_t(handler) >= t->second.size() || !t->second[size_t(handler)]) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "window 0x%08X item 0x%08X event %d handler %d", unsigned(windowId),
                  unsigned(itemId), int(event), int(handler));
    std::string msg = GBK("事件处理子程序未注册：");
    msg += buf;
    rt::fatalError(msg.c_str());
  }
  Handler fn = t->second[size_t(handler)];
  SourceScope scope(windowId, itemId);
  fn();
  if (st().afterHandler) st().afterHandler();
}

void setAfterHandler(Handler hook) { st().afterHandler = hook; }

namespace {

// An extra button's click: the handler runs as a handler of its window.
void runExtraHandler(uint32_t windowId, Handler fn) {
  if (reportingFatal() || !findWindow(windowId)) return;
  SourceScope scope(windowId, 0);
  fn();
  if (st().afterHandler) st().afterHandler();
}

}  // namespace

std::string windowTitle(uint32_t windowId) {
  LiveWindow* lw = findWindow(windowId);
  return lw && lw->widget ? toGbk(lw->widget->windowTitle()) : std::string();
}

void setWindowTitle(uint32_t windowId, const std::string& gbk) {
  if (LiveWindow* lw = findWindow(windowId); lw && lw->widget) lw->widget->setWindowTitle(fromGbk(gbk));
}

bool addExtraButton(uint32_t windowId, const std::string& gbkCaption, int left, int top, int width, int height,
                    Handler handler) {
  LiveWindow* lw = findWindow(windowId);
  if (!lw || !lw->client) return false;
  auto* b = new QPushButton(fromGbk(gbkCaption), lw->client);
  b->setObjectName(QStringLiteral("extra:") + fromGbk(gbkCaption));
  // Lettered like the template's own buttons.
  for (QPushButton* other : lw->client->findChildren<QPushButton*>())
    if (other != b && !other->objectName().startsWith(QStringLiteral("extra:"))) {
      b->setFont(other->font());
      break;
    }
  b->setAutoDefault(false);
  b->setGeometry(left, top, width, height);
  b->show();
  QObject::connect(b, &QPushButton::clicked, b, [windowId, handler] { runExtraHandler(windowId, handler); });
  setReadingOrder(*lw, false);
  return true;
}

bool pressExtraButton(uint32_t windowId, const std::string& gbkCaption) {
  LiveWindow* lw = findWindow(windowId);
  if (!lw || !lw->client) return false;
  auto* b = lw->client->findChild<QPushButton*>(QStringLiteral("extra:") + fromGbk(gbkCaption));
  if (!b) return false;
  b->click();
  return true;
}

// --- windows ----------------------------------------------------------------

bool loadWindow(uint32_t windowId, uint32_t parentWindowId, bool modal) {
  if (LiveWindow* lw = findWindow(windowId)) {
    if (lw->state == WinState::Loaded) {
      FormWindow* w = lw->widget.data();
      if (!w) return false;
      if (w->isMinimized()) w->showNormal();
      w->raise();
      w->activateWindow();
      return true;
    }
    if (lw->state == WinState::Building) return false;  // loading itself from its own build
    // Closing: the posted close happens now, then a fresh copy is built.
    windowClosed(windowId, lw->widget.data());
  }
  const WindowTemplate* tpl = templateSource().findWindow(windowId);
  if (!tpl || tpl->items.empty()) fatalNotLoaded();

  st().windows.push_back(std::make_unique<LiveWindow>());
  LiveWindow* lw = st().windows.back().get();
  lw->id = windowId;
  lw->tpl = tpl;
  buildWindow(*lw);
  for (WindowBuiltHook h : std::vector<WindowBuiltHook>(st().builtHooks)) h(windowId);
  FormWindow* w = lw->widget.data();

  if (LiveWindow* parent = parentWindowId ? findWindow(parentWindowId) : nullptr) {
    if (FormWindow* pw = parent->widget.data()) {
      w->winId();
      pw->winId();
      if (w->windowHandle() && pw->windowHandle()) w->windowHandle()->setTransientParent(pw->windowHandle());
    }
  }
  if (modal) w->setWindowModality(Qt::ApplicationModal);
  w->show();
  lw->state = WinState::Loaded;
  // Keep the record's liveness: the created handler may close the window
  // (posted) or load others (the vector may move, the record does not).
  std::shared_ptr<bool> alive = lw->alive;
  raiseEvent(windowId, tpl->window().id, kEvFirst);
  if (!*alive) return true;
  for (auto& [cid, c] : lw->controls)
    if (c.timer) c.timer->start();
  if (modal) {
    QEventLoop loop;
    lw->modalLoop = &loop;
    loop.exec(QEventLoop::DialogExec);
    if (*alive) lw->modalLoop = nullptr;
  }
  return true;
}

void closeWindow(uint32_t windowId) {
  LiveWindow* lw = findWindow(windowId);
  if (!lw) fatalNotLoaded();
  if (lw->state != WinState::Loaded) return;  // already on its way out
  lw->state = WinState::Closing;
  QPointer<FormWindow> w = lw->widget;
  QTimer::singleShot(0, qApp, [w] {
    if (w) w->close();
  });
}

bool isLoaded(uint32_t windowId) {
  LiveWindow* lw = findWindow(windowId);
  return lw && lw->state == WinState::Loaded;
}

std::vector<uint32_t> loadedWindows() {
  std::vector<uint32_t> ids;
  for (auto& w : st().windows)
    if (w->state != WinState::Building) ids.push_back(w->id);
  return ids;
}

QWidget* windowWidget(uint32_t windowId) {
  LiveWindow* lw = findWindow(windowId);
  return lw ? lw->widget.data() : nullptr;
}

QWidget* controlWidget(uint32_t windowId, uint32_t controlId) {
  LiveWindow* lw = findWindow(windowId);
  if (!lw) return nullptr;
  auto it = lw->controls.find(controlId);
  return it == lw->controls.end() ? nullptr : it->second.widget;
}

void addWindowClosedHook(WindowClosedHook hook) { st().closedHooks.push_back(hook); }

void addWindowBuiltHook(WindowBuiltHook hook) {
  std::vector<WindowBuiltHook>& hooks = st().builtHooks;
  if (std::find(hooks.begin(), hooks.end(), hook) == hooks.end()) hooks.push_back(hook);
}

rt::Arg windowArg(uint32_t windowId) {
  const WindowTemplate* tpl = templateSource().findWindow(windowId);
  if (!tpl || tpl->items.empty()) fatalNotLoaded();
  return rt::makeObject(rt::kWindow, windowId, tpl->window().id);
}

int runMessageLoop() {
  if (st().windows.empty()) return 0;
  ++st().loopDepth;
  int rc = QApplication::exec();
  --st().loopDepth;
  return rc;
}

// --- properties ---------------------------------------------------------------

namespace {

LiveControl& propertyControl(uint32_t windowId, uint32_t controlId, bool writing) {
  LiveWindow* lw = findWindow(windowId);
  if (!lw) fatalMsg(GBK("未载入欲访问窗口组件所在的窗口"));
  if (writing && lw->state == WinState::Building) fatalMsg(GBK("指定窗口尚未载入"));
  auto it = lw->controls.find(controlId);
  if (it == lw->controls.end()) fatalNotLoaded();
  return it->second;
}

}  // namespace

void registerKindProperties(uint32_t kind, PropertyGetter get, PropertySetter set) {
  st().kindProps[kind] = {get, set};
}

rt::Arg getProperty(uint32_t windowId, uint32_t controlId, int prop) {
  LiveControl& c = propertyControl(windowId, controlId, false);
  auto ext = st().kindProps.find(c.item->kind);
  if (ext != st().kindProps.end() && ext->second.first) return ext->second.first(windowId, controlId, prop);
  return readControlProperty(c, prop);
}

void setProperty(uint32_t windowId, uint32_t controlId, int prop, int subField, const rt::Arg& v) {
  LiveControl& c = propertyControl(windowId, controlId, true);
  auto ext = st().kindProps.find(c.item->kind);
  if (ext != st().kindProps.end() && ext->second.second) {
    ext->second.second(windowId, controlId, prop, subField, v);
    return;
  }
  writeControlProperty(c, prop, subField, v);
}

// --- typed access -------------------------------------------------------------

Control control(uint32_t windowId, const std::string& gbkName) {
  LiveWindow* lw = findWindow(windowId);
  if (!lw) fatalMsg(GBK("未载入欲访问窗口组件所在的窗口"));
  const Item* it = gbkName.empty() ? nullptr : lw->tpl->find(gbkName);
  if (!it || it->kind == kWindowKind) {
    std::string msg = GBK("指定窗口或窗口组件不存在或尚未载入");
    msg += "\xA3\xBA";  // "："
    msg += gbkName;
    rt::fatalError(msg.c_str());
  }
  return Control(windowId, it->id, it->kind);
}

rt::Arg Control::arg() const { return rt::makeObject(kind_, window_, id_); }

namespace {
int textProperty(uint32_t kind) {
  switch (kind) {
    case kEditBoxKind:
      return prop::kEditContent;
    case kComboBoxKind:
      return prop::kComboContent;
    case kLabelKind:
      return prop::kLabelCaption;
    default:
      rt::fatalError(GBK("该窗口组件没有可读写的文本"));
  }
}
}  // namespace

std::string Control::text() const {
  rt::Result r(getProperty(window_, id_, textProperty(kind_)));
  return r.text();
}

void Control::setText(const std::string& gbk) const {
  setProperty(window_, id_, textProperty(kind_), -1, rt::makeTextRef(gbk.c_str()));
}

int Control::selectedRow() const { return rt::Result(getProperty(window_, id_, prop::kListSelected)).integer(); }

rt::DateTime Control::date() const { return {rt::Result(getProperty(window_, id_, prop::kDateValue)).real()}; }

void Control::setFontSize(int points) const {
  setProperty(window_, id_, prop::kPanelFont, kFontSize, rt::makeInt(points));
}

void Control::setButtonType(int type) const { setProperty(window_, id_, prop::kButtonType, -1, rt::makeInt(type)); }

void Control::focus() const {
  rt::Arg a = arg();
  rt::call(rt::Cmd::FocusControl, 1, &a);
}

// --- list and combo contents ---------------------------------------------------

namespace {
template <typename W>
W* widgetOf(uint32_t windowId, uint32_t controlId) {
  LiveWindow* lw = findWindow(windowId);
  if (!lw) fatalMsg(GBK("未载入欲访问窗口组件所在的窗口"));
  auto it = lw->controls.find(controlId);
  W* w = it == lw->controls.end() ? nullptr : dynamic_cast<W*>(it->second.widget);
  if (!w) fatalNotLoaded();
  return w;
}
}  // namespace

int listRowCount(uint32_t windowId, uint32_t controlId) { return widgetOf<ListView>(windowId, controlId)->rowCount(); }

void setListRowBackground(uint32_t windowId, uint32_t controlId, int row, uint32_t rgb) {
  widgetOf<ListView>(windowId, controlId)->setRowBackground(row, rgb);
}

ListItemInfo listItem(uint32_t windowId, uint32_t controlId, int row) {
  ListView* lv = widgetOf<ListView>(windowId, controlId);
  if (row < 0 || row >= lv->rowCount()) rt::raiseRuntimeError(1);
  return lv->info(row);
}

std::vector<PanelDrawn> panelDrawing(uint32_t windowId, uint32_t controlId) {
  return widgetOf<DrawPanel>(windowId, controlId)->drawn();
}

int panelTextWidth(uint32_t windowId, uint32_t controlId, const std::string& gbk) {
  return widgetOf<DrawPanel>(windowId, controlId)->textWidth(fromGbk(gbk));
}

int comboCount(uint32_t windowId, uint32_t controlId) { return widgetOf<ComboBox>(windowId, controlId)->count(); }

std::string comboItemText(uint32_t windowId, uint32_t controlId, int index) {
  ComboBox* cb = widgetOf<ComboBox>(windowId, controlId);
  if (index < 0 || index >= cb->count()) rt::raiseRuntimeError(1);
  return toGbk(cb->itemText(index));
}

int32_t comboItemData(uint32_t windowId, uint32_t controlId, int index) {
  ComboBox* cb = widgetOf<ComboBox>(windowId, controlId);
  if (index < 0 || index >= cb->count()) rt::raiseRuntimeError(1);
  return cb->itemData(index).toInt();
}

}  // namespace forms
