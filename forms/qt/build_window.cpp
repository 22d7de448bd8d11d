// Putting a window together from its template: the menus, a widget for
// every control kind (controls.cpp), the boxes' children nested in them,
// the routing of the common mouse, focus and keyboard events to event
// numbers, and the reading order Tab follows. Every widget made here is
// owned by the window's widget tree; the LiveWindow keeps plain pointers.
#include <QAction>
#include <QIcon>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <map>
#include <vector>

#include "forms/qt/live_p.h"

namespace forms::detail {

// --- the events of the common kinds -------------------------------------------

namespace {

// Maps the mouse, focus, keyboard and wheel events of a window's widgets to
// event numbers -1 … -12 and raises those that have a binding.
class EventRouter : public QObject {
 public:
  using QObject::QObject;
  void watch(QObject* o, const Item* item, Raiser r, bool mouseOnly) {
    entries_[o] = {item, r, mouseOnly};
    o->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    auto it = entries_.find(o);
    if (it == entries_.end()) return false;
    const Entry& en = it->second;
    auto bound = [&](int32_t ev) {
      for (const EventBinding& b : en.item->events)
        if (b.event == ev && b.handler >= 0) return true;
      return false;
    };
    auto fire = [&](int32_t ev) {
      if (bound(ev)) en.raise(ev);
    };
    switch (e->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease: {
        auto* m = static_cast<QMouseEvent*>(e);
        bool press = e->type() == QEvent::MouseButtonPress;
        if (m->button() == Qt::LeftButton) fire(press ? kEvLeftDown : kEvLeftUp);
        if (m->button() == Qt::RightButton) fire(press ? kEvRightDown : kEvRightUp);
        break;
      }
      case QEvent::MouseButtonDblClick:
        // Lists raise their double-click from the row itself.
        if (en.item->kind != kListViewKind && static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton)
          fire(kEvDoubleClick);
        break;
      case QEvent::MouseMove:
        fire(kEvMouseMove);
        break;
      case QEvent::Wheel:
        fire(kEvWheel);
        break;
      default:
        break;
    }
    if (en.mouseOnly) return false;
    switch (e->type()) {
      case QEvent::FocusIn:
      case QEvent::FocusOut: {
        auto* f = static_cast<QFocusEvent*>(e);
        if (f->reason() == Qt::PopupFocusReason) break;  // a drop-down or menu, not a focus move
        int32_t ev = e->type() == QEvent::FocusIn ? kEvGotFocus : kEvLostFocus;
        // After the focus change has finished: a handler may move the focus.
        if (bound(ev)) en.raise.queued(ev);
        break;
      }
      case QEvent::KeyPress:
        fire(kEvKeyDown);
        if (!static_cast<QKeyEvent*>(e)->text().isEmpty()) fire(kEvChar);
        break;
      case QEvent::KeyRelease:
        fire(kEvKeyUp);
        break;
      default:
        break;
    }
    return false;
  }

 private:
  struct Entry {
    const Item* item;
    Raiser raise;
    bool mouseOnly;
  };
  std::map<QObject*, Entry> entries_;
};

QString menuText(const std::string& gbk) { return fromGbk(gbk).replace('&', "&&"); }

}  // namespace

// --- building -------------------------------------------------------------------

namespace {

bool takesKeyboardInput(uint32_t kind) {
  switch (kind) {
    case kEditBoxKind:
    case kButtonKind:
    case kComboBoxKind:
    case kListViewKind:
    case kDatePickerKind:
      return true;
    default:
      return false;
  }
}

// A control's rectangle in window coordinates: its own position plus that
// of every box it sits in.
QRect windowRect(const WindowTemplate& tpl, const Item& it) {
  QPoint at(it.left, it.top);
  const Item* box = it.container ? tpl.findId(it.container) : nullptr;
  for (int depth = 0; box && depth < 16; ++depth) {
    at += QPoint(box->left, box->top);
    box = box->container ? tpl.findId(box->container) : nullptr;
  }
  return QRect(at, QSize(std::max(1, it.width), std::max(1, it.height)));
}

}  // namespace

// Tab and the first focus follow reading order: rows from top to bottom,
// each row from left to right. The templates store their controls in the
// order they were drawn (often bottom-up), which would send Tab backwards
// through the boxes and open a window with the focus in a summary box at
// its foot. Boxes of one row are rarely on the same pixel line (40, 42,
// 44), so a control joins the row when its top lies above the middle of
// the row's first control.
void setReadingOrder(LiveWindow& lw, bool focusFirst) {
  struct Entry {
    QWidget* widget;
    QRect rect;
  };
  std::vector<Entry> entries;
  for (const Item& it : lw.tpl->items) {
    if (!takesKeyboardInput(it.kind)) continue;
    auto c = lw.controls.find(it.id);
    if (c == lw.controls.end() || !c->second.widget) continue;
    entries.push_back({c->second.widget, windowRect(*lw.tpl, it)});
  }
  // Buttons module code added outside the template take their place too.
  if (lw.client)
    for (QPushButton* b : lw.client->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly))
      if (b->objectName().startsWith(QStringLiteral("extra:"))) entries.push_back({b, b->geometry()});
  std::stable_sort(entries.begin(), entries.end(),
                   [](const Entry& a, const Entry& b) { return a.rect.top() < b.rect.top(); });
  std::vector<Entry> ordered;
  for (size_t i = 0; i < entries.size();) {
    const QRect& first = entries[i].rect;
    size_t end = i + 1;
    while (end < entries.size() && entries[end].rect.top() < first.top() + first.height() / 2) ++end;
    std::stable_sort(entries.begin() + long(i), entries.begin() + long(end),
                     [](const Entry& a, const Entry& b) { return a.rect.left() < b.rect.left(); });
    ordered.insert(ordered.end(), entries.begin() + long(i), entries.begin() + long(end));
    i = end;
  }
  for (size_t i = 1; i < ordered.size(); ++i) QWidget::setTabOrder(ordered[i - 1].widget, ordered[i].widget);
  // The window opens with the focus on the first of them (module code may
  // move it from its created handler).
  if (focusFirst && !ordered.empty()) ordered.front().widget->setFocus(Qt::OtherFocusReason);
}

namespace {

using RaiserFor = std::function<Raiser(uint32_t)>;

// Menus: a bar entry holding the items that follow it. The bar is made
// only when the template has menu items.
void addMenus(LiveWindow& lw, QWidget* w, QVBoxLayout* layout, const RaiserFor& raiser) {
  const WindowTemplate& tpl = *lw.tpl;
  QMenuBar* bar = nullptr;
  QMenu* current = nullptr;
  for (size_t i = 1; i < tpl.items.size(); ++i) {
    const Item& it = tpl.items[i];
    if (it.kind != kMenuItemKind) continue;
    if (!bar) {
      bar = new QMenuBar(w);
      layout->setMenuBar(bar);
    }
    LiveControl c;
    c.item = &it;
    bool opensMenu = false;
    for (size_t j = i + 1; j < tpl.items.size(); ++j) {
      if (tpl.items[j].kind != kMenuItemKind) continue;
      opensMenu = tpl.items[j].menuLevel > 0;
      break;
    }
    if (it.menuLevel <= 0) {
      if (opensMenu) {
        current = bar->addMenu(menuText(it.text));
        c.action = current->menuAction();
      } else {
        current = nullptr;
        c.action = bar->addAction(menuText(it.text));
      }
    } else {
      c.action = current ? current->addAction(menuText(it.text)) : bar->addAction(menuText(it.text));
    }
    if (!opensMenu || it.menuLevel > 0) {
      Raiser r = raiser(it.id);
      QObject::connect(c.action, &QAction::triggered, w, [r] { r(kEvFirst); });
    }
    lw.controls[it.id] = c;
  }
}

// The widget (or timer) of one control of the template, placed at its
// template rectangle in `client` and watched for the common events.
// Printer objects and other invisible kinds get neither.
LiveControl makeControl(const Item& it, Raiser r, QWidget* w, QWidget* client, EventRouter* router) {
  LiveControl c;
  c.item = &it;
  switch (it.kind) {
    case kEditBoxKind:
      c.widget = new EditBox(it, r, client);
      break;
    case kComboBoxKind: {
      auto* cb = new ComboBox(it, client);
      c.widget = cb;
      if (cb->lineEdit()) router->watch(cb->lineEdit(), &it, r, true);
      break;
    }
    case kButtonKind: {
      auto* b = new Button(it, client);
      QObject::connect(b, &QPushButton::clicked, b, [r] { r(kEvFirst); });
      c.widget = b;
      break;
    }
    case kLabelKind:
      c.widget = new Label(it, false, client);
      break;
    case kTransLabelKind:
      c.widget = new Label(it, true, client);
      break;
    case kShapeBoxKind:
      c.widget = new ShapeBox(it, client);
      break;
    case kGroupBoxKind:
      c.widget = new GroupBox(it, client);
      break;
    case kDatePickerKind:
      c.widget = new DatePicker(it, client);
      break;
    case kListViewKind: {
      auto* lv = new ListView(it, r, client);
      router->watch(lv->viewport(), &it, r, true);
      c.widget = lv;
      break;
    }
    case kDrawPanelKind:
      c.widget = new DrawPanel(it, client);
      break;
    case kTimerKind: {
      c.timer = new QTimer(w);
      c.timer->setInterval(it.interval > 0 ? it.interval : 500);
      QObject::connect(c.timer, &QTimer::timeout, w, [r] { r(kEvFirst); });
      break;
    }
    default:
      break;
  }
  if (auto* label = dynamic_cast<Label*>(c.widget)) {
    label->place(QRect(it.left, it.top, std::max(0, it.width), std::max(0, it.height)));
    router->watch(c.widget, &it, r, false);
  } else if (c.widget) {
    c.widget->setGeometry(it.left, it.top, std::max(0, it.width), std::max(0, it.height));
    router->watch(c.widget, &it, r, false);
  }
  return c;
}

// Nesting: a control held by a shape or group box is its child widget,
// placed relative to it, so it moves with the box. Then later controls
// stack above earlier ones, as they were designed.
void nestAndStack(LiveWindow& lw) {
  for (auto& [id, c] : lw.controls) {
    if (!c.widget || c.item->container == 0) continue;
    auto box = lw.controls.find(c.item->container);
    if (box == lw.controls.end() || !box->second.widget) continue;
    c.widget->setParent(box->second.widget);
    c.widget->move(c.item->left, c.item->top);
    c.widget->show();
  }
  const WindowTemplate& tpl = *lw.tpl;
  for (size_t i = 1; i < tpl.items.size(); ++i) {
    auto c = lw.controls.find(tpl.items[i].id);
    if (c != lw.controls.end() && c->second.widget) c->second.widget->raise();
  }
}

}  // namespace

// The window, its menus, a client area holding every other control, the
// boxes' children nested in them, and the reading order for Tab.
void buildWindow(LiveWindow& lw) {
  const WindowTemplate& tpl = *lw.tpl;
  const Item& wi = tpl.window();
  auto* w = new FormWindow(lw.id, wi);
  lw.widget = w;
  w->setWindowTitle(fromGbk(wi.text));
  if (!wi.icon.empty()) {
    QPixmap icon;
    if (icon.loadFromData(reinterpret_cast<const uchar*>(wi.icon.data()), uint(wi.icon.size())))
      w->setWindowIcon(QIcon(icon));
  }
  w->setFont(templateFont(wi.font));
  auto* layout = new QVBoxLayout(w);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* router = new EventRouter(w);
  const RaiserFor raiser = [&lw](uint32_t item) { return Raiser{lw.id, item, lw.alive}; };

  addMenus(lw, w, layout, raiser);

  auto* client = new ClientArea(wi, w);
  lw.client = client;
  layout->addWidget(client, 1);
  router->watch(client, &wi, raiser(wi.id), false);
  for (size_t i = 1; i < tpl.items.size(); ++i) {
    const Item& it = tpl.items[i];
    if (it.kind != kMenuItemKind) lw.controls[it.id] = makeControl(it, raiser(it.id), w, client, router);
  }
  nestAndStack(lw);

  setReadingOrder(lw, true);

  w->move(wi.left, wi.top);
  w->resize(std::max(1, wi.width), std::max(1, wi.height));
}

}  // namespace forms::detail
