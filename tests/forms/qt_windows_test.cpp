// Loading and closing windows, the handler tables and event delivery, and
// the fatal errors of the window layer.
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "qt_support.h"
#include "runtime/commands.h"
#include "runtime/facade.h"

namespace {

using namespace qtest;

constexpr uint32_t kMain = 0x52010001, kDialog = 0x52010002, kOther = 0x52010003;
constexpr uint32_t kEdit = 0x16010001, kButton = 0x16010002, kShape = 0x16010003, kGroup = 0x16010004,
                   kInner = 0x16010005, kTimer = 0x16010006, kPrinter = 0x16010007, kMenuBar = 0x26010001,
                   kMenuLoad = 0x26010002, kMenuNone = 0x26010003;

// Handlers are plain functions; these forward to whatever the test sets.
std::function<void()> g_slot[6];
template <int N>
void slot() {
  if (g_slot[N]) g_slot[N]();
}
std::vector<forms::Handler> handlerTable() { return {slot<0>, slot<1>, slot<2>, slot<3>, slot<4>, slot<5>}; }

forms::TemplateData sample() {
  forms::TemplateData d;
  forms::WindowTemplate w = window(kMain, "主窗口", 400, 300);
  on(w.items[0], forms::kEvFirst, 0);  // created → slot 0
  forms::Item edit = item(kEdit, forms::kEditBoxKind, "编辑框1", 10, 10, 100, 24);
  w.items.push_back(edit);
  forms::Item button = item(kButton, forms::kButtonKind, "按钮1", 10, 40, 60, 24);
  button.text = gbk("确定");
  w.items.push_back(on(button, forms::kEvFirst, 1));  // click → slot 1
  // 外形框1 inside 分组框1, holding 标签1.
  forms::Item group = item(kGroup, forms::kGroupBoxKind, "分组框1", 100, 100, 200, 100);
  group.contained = {kShape};
  forms::Item shape = item(kShape, forms::kShapeBoxKind, "外形框1", 20, 30, 150, 50);
  shape.container = kGroup;
  shape.contained = {kInner};
  forms::Item inner = item(kInner, forms::kLabelKind, "标签1", 5, 7, 80, 20);
  inner.container = kShape;
  w.items.push_back(inner);  // stored before its container, as templates do
  w.items.push_back(shape);
  w.items.push_back(group);
  forms::Item timer = item(kTimer, forms::kTimerKind, "时钟1", 0, 0, 32, 32);
  timer.interval = 20;
  timer.stateWord = 0;
  w.items.push_back(on(timer, forms::kEvFirst, 2));  // tick → slot 2
  forms::Item printer = item(kPrinter, forms::kPrinterKind, "打印机1", 0, 0, 32, 32);
  w.items.push_back(printer);
  forms::Item bar = item(kMenuBar, forms::kMenuItemKind, "", 0, 0, 0, 0);
  bar.text = gbk("  系  统  ");
  forms::Item load = item(kMenuLoad, forms::kMenuItemKind, "", 0, 0, 0, 0);
  load.text = gbk("载 入");
  load.menuLevel = 1;
  load.menuHandler = 3;
  forms::Item none = item(kMenuNone, forms::kMenuItemKind, "", 0, 0, 0, 0);
  none.text = gbk("无 动 作");
  none.menuLevel = 1;
  w.items.push_back(bar);
  w.items.push_back(load);
  w.items.push_back(none);
  d.windows.push_back(w);

  forms::WindowTemplate dlg = window(kDialog, "", 220, 192);
  forms::Item ok = item(0x16020001, forms::kButtonKind, "按钮1", 10, 10, 60, 24);
  dlg.items.push_back(on(ok, forms::kEvFirst, 0));
  d.windows.push_back(dlg);
  d.windows.push_back(window(kOther, "其它", 200, 100));
  return d;
}

class Windows : public FormsTest {
 protected:
  void SetUp() override {
    FormsTest::SetUp();
    use(sample());
    for (auto& s : g_slot) s = nullptr;
    forms::setHandlers(kMain, handlerTable());
    forms::setHandlers(kDialog, handlerTable());
    forms::setHandlers(kOther, {});
  }
};

TEST_F(Windows, LoadBuildsRaisesCreatedOnceAndSecondLoadOnlyActivates) {
  int created = 0;
  forms::EventSource seen;
  g_slot[0] = [&] {
    ++created;
    seen = forms::eventSource();
    // Every control exists when the created event runs.
    forms::setText(kMain, gbk("编辑框1"), gbk("初值"));
    EXPECT_EQ(forms::text(kMain, gbk("标签1")), "");
  };
  rt::Arg win = forms::windowArg(kMain);
  EXPECT_EQ(win.hi, data.windows[0].items[0].id);
  EXPECT_TRUE(rt::call(rt::Cmd::LoadWindow, 1, &win).lo);
  EXPECT_EQ(created, 1);
  EXPECT_EQ(seen.window, kMain);
  EXPECT_EQ(seen.control, win.hi);
  EXPECT_EQ(forms::eventSource().window, 0u);  // only during the handler

  QWidget* w = forms::windowWidget(kMain);
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->windowTitle(), QString::fromUtf8("主窗口"));
  EXPECT_EQ(w->pos(), QPoint(50, 50));
  EXPECT_EQ(w->size(), QSize(400, 300));

  // Loaded again (minimised meanwhile): the same window comes back with its
  // contents, no second created event, no second copy.
  w->showMinimized();
  EXPECT_TRUE(rt::call(rt::Cmd::LoadWindow, 1, &win).lo);
  EXPECT_EQ(created, 1);
  EXPECT_EQ(forms::windowWidget(kMain), w);
  EXPECT_FALSE(w->isMinimized());
  EXPECT_EQ(forms::loadedWindows(), std::vector<uint32_t>{kMain});
  EXPECT_EQ(forms::text(kMain, gbk("编辑框1")), gbk("初值"));
}

TEST_F(Windows, ContainedControlsAreChildrenPlacedRelativeToTheirBox) {
  forms::loadWindow(kMain);
  QWidget* group = forms::controlWidget(kMain, kGroup);
  QWidget* shape = forms::controlWidget(kMain, kShape);
  QWidget* inner = forms::controlWidget(kMain, kInner);
  ASSERT_TRUE(group && shape && inner);
  EXPECT_EQ(shape->parentWidget(), group);
  EXPECT_EQ(inner->parentWidget(), shape);
  EXPECT_EQ(inner->pos(), QPoint(5, 7));
  QWidget* client = group->parentWidget();
  EXPECT_EQ(inner->mapTo(client, QPoint(0, 0)), QPoint(100 + 20 + 5, 100 + 30 + 7));
  group->move(0, 0);
  EXPECT_EQ(inner->mapTo(client, QPoint(0, 0)), QPoint(25, 37));
  // Invisible kinds have no widget.
  EXPECT_EQ(forms::controlWidget(kMain, kTimer), nullptr);
  EXPECT_EQ(forms::controlWidget(kMain, kPrinter), nullptr);
}

TEST_F(Windows, CloseTakesEffectAfterTheHandlerReturns) {
  static int closedHookCalls = 0;
  static uint32_t closedId = 0;
  closedHookCalls = 0;
  forms::addWindowClosedHook([](uint32_t id) {
    ++closedHookCalls;
    closedId = id;
  });
  forms::loadWindow(kMain);
  bool stillThere = false;
  g_slot[1] = [&] {
    rt::Arg win = forms::windowArg(kMain);
    rt::call(rt::Cmd::CloseWindow, 1, &win);
    // The close is posted: the window and its controls are still there.
    stillThere =
        forms::windowWidget(kMain) != nullptr && forms::text(kMain, gbk("编辑框1")) == "" && !forms::isLoaded(kMain);
    rt::call(rt::Cmd::CloseWindow, 1, &win);  // a second request changes nothing
  };
  static_cast<QPushButton*>(forms::controlWidget(kMain, kButton))->click();
  EXPECT_TRUE(stillThere);
  EXPECT_EQ(closedHookCalls, 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(forms::windowWidget(kMain), nullptr);
  EXPECT_EQ(closedHookCalls, 1);
  EXPECT_EQ(closedId, kMain);
  // Once closed it loads afresh.
  int created = 0;
  g_slot[0] = [&] { ++created; };
  forms::loadWindow(kMain);
  EXPECT_EQ(created, 1);
}

TEST_F(Windows, ModalLoadReturnsOnlyAfterTheDialogClosed) {
  qtest::ExpectModal modal;  // answered by the test itself
  bool closedByTimer = false;
  forms::loadWindow(kMain);
  QTimer::singleShot(30, [&] {
    EXPECT_TRUE(forms::isLoaded(kDialog));
    EXPECT_TRUE(forms::windowWidget(kDialog)->isModal());
    closedByTimer = true;
    forms::closeWindow(kDialog);
  });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] {
    ADD_FAILURE() << "modal wait did not end";
    if (QWidget* w = forms::windowWidget(kDialog)) w->close();
  });
  guard.start(5000);
  rt::Arg args[3] = {forms::windowArg(kDialog), forms::windowArg(kMain), rt::makeBool(true)};
  EXPECT_TRUE(rt::call(rt::Cmd::LoadWindow, 3, args).lo);
  EXPECT_TRUE(closedByTimer);
  EXPECT_FALSE(forms::isLoaded(kDialog));
  EXPECT_TRUE(forms::isLoaded(kMain));
}

TEST_F(Windows, MessageLoopEndsWhenTheLastWindowCloses) {
  forms::loadWindow(kMain);
  forms::loadWindow(kOther);
  QTimer::singleShot(10, [] { forms::closeWindow(kMain); });
  // Closing the window that was loaded first leaves the program running:
  // once that close has taken effect (however busy the machine), the loop
  // still runs with the other window loaded. Had it ended, the other
  // window would still be loaded below.
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&poll] {
    if (forms::loadedWindows() != std::vector<uint32_t>{kOther}) return;
    poll.stop();
    forms::closeWindow(kOther);
  });
  poll.start(10);
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] {
    ADD_FAILURE() << "loop did not end";
    QCoreApplication::exit(1);
  });
  guard.start(5000);
  EXPECT_EQ(forms::runMessageLoop(), 0);
  EXPECT_TRUE(forms::loadedWindows().empty());
}

TEST_F(Windows, TimersTickWhileTheWindowIsLoaded) {
  int ticks = 0;
  forms::EventSource src;
  g_slot[2] = [&] {
    ++ticks;
    src = forms::eventSource();
  };
  forms::loadWindow(kMain);
  QEventLoop loop;
  QTimer::singleShot(120, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_GE(ticks, 2);
  EXPECT_EQ(src.control, kTimer);
  forms::windowWidget(kMain)->close();
  int after = ticks;
  QTimer::singleShot(80, &loop, &QEventLoop::quit);
  loop.exec();
  EXPECT_EQ(ticks, after);
}

TEST_F(Windows, MenuItemsRaiseTheirHandlerAndItemsWithoutOneDoNothing) {
  forms::loadWindow(kMain);
  auto* w = forms::windowWidget(kMain);
  QMenuBar* bar = w->findChild<QMenuBar*>();
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(bar->actions().size(), 1);
  EXPECT_EQ(bar->actions()[0]->text(), QString::fromUtf8("  系  统  "));
  QMenu* menu = bar->actions()[0]->menu();
  ASSERT_NE(menu, nullptr);
  ASSERT_EQ(menu->actions().size(), 2);
  int loads = 0;
  g_slot[3] = [&] {
    ++loads;
    EXPECT_EQ(forms::eventSource().control, kMenuLoad);
    forms::loadWindow(kOther);
  };
  menu->actions()[0]->trigger();
  EXPECT_EQ(loads, 1);
  EXPECT_TRUE(forms::isLoaded(kOther));
  QAction* none = menu->actions()[1];
  EXPECT_TRUE(none->isEnabled());
  EXPECT_TRUE(none->isVisible());
  none->trigger();  // no handler: nothing runs and nothing fails
  EXPECT_EQ(loads, 1);
}

// --- fatal errors (in a child process, report on standard error) ---

using WindowsDeath = Windows;

TEST_F(WindowsDeath, PropertyOfAWindowThatIsNotLoaded) {
  EXPECT_EXIT(forms::getProperty(kMain, kEdit, forms::prop::kEditContent), ::testing::ExitedWithCode(255),
              "未载入欲访问窗口组件所在的窗口");
  EXPECT_EXIT(forms::setProperty(kMain, kEdit, forms::prop::kEditContent, -1, rt::makeInt(1)),
              ::testing::ExitedWithCode(255), "未载入欲访问窗口组件所在的窗口");
}

TEST_F(WindowsDeath, UnknownControlsAndUnloadedWindowsInOperations) {
  forms::loadWindow(kMain);
  EXPECT_EXIT(forms::getProperty(kMain, 0x16019999, 8), ::testing::ExitedWithCode(255),
              "指定窗口或窗口组件不存在或尚未载入");
  EXPECT_EXIT(forms::control(kMain, gbk("编辑框9")), ::testing::ExitedWithCode(255),
              "指定窗口或窗口组件不存在或尚未载入");
  rt::Arg list = rt::makeObject(rt::kListView, kOther, 0x16030001);
  EXPECT_EXIT(rt::call(rt::Cmd::ListClear, 1, &list), ::testing::ExitedWithCode(255),
              "指定窗口或窗口组件不存在或尚未载入");
  rt::Arg other = forms::windowArg(kOther);
  EXPECT_EXIT(rt::call(rt::Cmd::CloseWindow, 1, &other), ::testing::ExitedWithCode(255),
              "指定窗口或窗口组件不存在或尚未载入");
  // A property number the kind does not have is reported, never ignored.
  EXPECT_EXIT(forms::getProperty(kMain, kEdit, 12), ::testing::ExitedWithCode(255), "窗口组件属性尚未实现");
}

TEST_F(WindowsDeath, EventDeliveryChecks) {
  forms::loadWindow(kMain);
  EXPECT_EXIT(forms::raiseEvent(kOther, kEdit, 0), ::testing::ExitedWithCode(255), "未找到引发事件的窗口");
  EXPECT_EXIT(forms::raiseEvent(kMain, 0x16019999, 0), ::testing::ExitedWithCode(255), "未找到引发事件的窗口组件");
  EXPECT_EXIT(forms::raiseEvent(kMain, kPrinter, 0), ::testing::ExitedWithCode(255), "引发事件的窗口组件无效");
  // A binding whose handler the module never registered.
  forms::setHandlers(kMain, {slot<0>});
  EXPECT_EXIT(forms::raiseEvent(kMain, kButton, 0), ::testing::ExitedWithCode(255), "事件处理子程序未注册");
  // No binding: ignored.
  forms::raiseEvent(kMain, kEdit, forms::kEvWheel);
}

TEST_F(WindowsDeath, NoEventsWhileAFatalErrorIsReported) {
  // The reporter runs the message loop (its box); a timer firing meanwhile
  // must not reach module code.
  static int ticksDuringReport = 0;
  ticksDuringReport = 0;
  g_slot[2] = [] { ++ticksDuringReport; };
  forms::loadWindow(kMain);
  auto reporter = [](const std::string&, const std::string&) {
    // Only the Qt reporter marks the report as running; call it with
    // nothing to show (offscreen), then spin the loop as the box would.
    forms::qtFatalReporter("", "");
    QEventLoop loop;
    QTimer::singleShot(100, &loop, &QEventLoop::quit);
    loop.exec();
    std::fprintf(stderr, "ticks during report: %d\n", ticksDuringReport);
  };
  EXPECT_EXIT(
      {
        rt::setFatalReporter(reporter);
        rt::fatalError("x");
      },
      ::testing::ExitedWithCode(255), "ticks during report: 0");
}

}  // namespace
