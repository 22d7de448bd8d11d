// The embedded block of the program's nine windows, checked against the
// window catalogue: identifiers, titles and sizes, nesting, combo items,
// list columns, input modes, handler indices and the module menu.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>

#include "forms/template.h"
#include "forms/template_block.h"
#include "forms/window_ids.h"
#include "runtime/gbk.h"

namespace forms {
namespace {

namespace ids = forms::ids;

const WindowTemplate& window(uint32_t id) {
  const WindowTemplate* w = templates().findWindow(id);
  if (!w) throw std::runtime_error("window missing");
  return *w;
}

const Item& control(uint32_t windowId, const char* utf8Name) {
  const Item* it = window(windowId).find(rt::utf8ToGbk(utf8Name));
  if (!it) throw std::runtime_error(std::string("control missing: ") + utf8Name);
  return *it;
}

int32_t handlerOf(const Item& it, int32_t event) {
  for (const EventBinding& b : it.events)
    if (b.event == event) return b.handler;
  return -1;
}

std::string u8(const std::string& gbk) { return rt::gbkToUtf8(gbk); }

TEST(TemplateWindows, EmbeddedBlockParsesAndRoundTrips) {
  TemplateData d;
  std::string why;
  ASSERT_TRUE(parseTemplates(kTemplateBlock, kTemplateBlockSize, &d, &why)) << why;
  const std::string again = serializeTemplates(d);
  ASSERT_EQ(again.size(), kTemplateBlockSize);
  EXPECT_EQ(again, std::string(reinterpret_cast<const char*>(kTemplateBlock), kTemplateBlockSize));
  EXPECT_TRUE(d == templates());
}

TEST(TemplateWindows, NineWindowsWithTitlesAndSizes) {
  struct Expect {
    uint32_t id;
    const char* title;
    int width, height;
  };
  const Expect expected[] = {
      {ids::kStartWindow, "选择系统", 290, 203},          {ids::kLoginWindow, "", 220, 192},
      {ids::kDrugWindow, "药品库存管理", 800, 500},       {ids::kInpatientWindow, "住院信息管理模块", 800, 500},
      {ids::kMedicationWindow, "住院用药管理", 800, 500}, {ids::kOutpatientWindow, "门诊用药模块", 800, 500},
      {ids::kReportWindow, "门诊用药管理", 800, 500},     {ids::kPrintRangeWindow, "", 324, 174},
      {ids::kAboutWindow, "关于作者", 350, 250},
  };
  const TemplateData& t = templates();
  ASSERT_EQ(t.windows.size(), 9u);
  ASSERT_EQ(ids::kWindowCount, 9);
  for (size_t i = 0; i < 9; ++i) {
    const WindowTemplate& w = t.windows[i];
    EXPECT_EQ(w.id, kWindowIdBase + i) << i;  // loading-table order
    EXPECT_EQ(w.id, expected[i].id) << i;
    const Item& self = w.window();
    EXPECT_EQ(self.kind, uint32_t(kWindowKind));
    EXPECT_EQ(u8(self.text), expected[i].title) << i;
    EXPECT_EQ(self.left, 50);
    EXPECT_EQ(self.top, 50);
    EXPECT_EQ(self.width, expected[i].width) << i;
    EXPECT_EQ(self.height, expected[i].height) << i;
    EXPECT_EQ(self.blockVersion, 6);
    EXPECT_FALSE(self.picture.empty()) << i;
    EXPECT_EQ(self.icon.empty(), w.id == ids::kLoginWindow) << i;  // only the login window lacks it
  }
  EXPECT_EQ(window(ids::kDrugWindow).window().id, 0x06010000u);
  EXPECT_EQ(ids::drug::kSelf, 0x06010000u);
}

TEST(TemplateWindows, IdentifiersAreUniqueAndWellFormed) {
  std::set<uint32_t> all;
  for (const WindowTemplate& w : templates().windows) {
    EXPECT_EQ(w.id >> 24, 0x52u);
    EXPECT_TRUE(all.insert(w.id).second);
    for (size_t k = 0; k < w.items.size(); ++k) {
      const Item& it = w.items[k];
      EXPECT_TRUE(all.insert(it.id).second) << std::hex << it.id;
      EXPECT_EQ(it.id & 0x06000000u, 0x06000000u) << std::hex << it.id;
      const uint32_t top = it.id >> 24;
      const uint32_t expectedTop = k == 0 ? 0x06u : it.kind == kMenuItemKind ? 0x26u : 0x16u;
      EXPECT_EQ(top, expectedTop) << std::hex << it.id;
      EXPECT_EQ((it.id & 0x20000000u) != 0, it.kind == kMenuItemKind) << std::hex << it.id;
      // Names are unique within a window (lookups are per window).
      if (!it.name.empty()) {
        EXPECT_EQ(w.find(it.name), &it) << u8(it.name);
      }
    }
  }
  // The header names the same items the block holds.
  EXPECT_EQ(control(ids::kDrugWindow, "编辑框12").id, ids::drug::kEdit12);
  EXPECT_EQ(control(ids::kLoginWindow, "外形框1").id, ids::login::kShape1);
  EXPECT_EQ(control(ids::kMedicationWindow, "超级列表框1").id, ids::medication::kList1);
  EXPECT_EQ(control(ids::kReportWindow, "画板1").id, ids::report::kPanel1);
  EXPECT_EQ(control(ids::kStartWindow, "透明标签1").id, ids::start::kTransLabel1);
  // The same name is a different control in each window.
  EXPECT_NE(control(ids::kDrugWindow, "编辑框1").id, control(ids::kLoginWindow, "编辑框1").id);
}

TEST(TemplateWindows, StateWordsAndFontsByKind) {
  for (const WindowTemplate& w : templates().windows) {
    for (const Item& it : w.items) {
      switch (it.kind) {
        case kEditBoxKind:
        case kButtonKind:
        case kComboBoxKind:
        case kListViewKind:
        case kDatePickerKind:
          EXPECT_EQ(it.stateWord, 5) << u8(it.name);
          break;
        case kTimerKind:
        case kPrinterKind:
          EXPECT_EQ(it.stateWord, 0) << u8(it.name);
          break;
        case kMenuItemKind:
          break;
        default:
          EXPECT_EQ(it.stateWord, 1) << u8(it.name);
      }
      if (it.font.present) {
        EXPECT_EQ(u8(it.font.face), "宋体");
        EXPECT_EQ(it.font.charSet, 134);
        EXPECT_EQ(it.font.weight, 400);
        EXPECT_TRUE(it.font.height == -19 || it.font.height == -16) << u8(it.name);
      }
      if (it.kind == kTimerKind) {
        EXPECT_EQ(it.interval, 500);
      }
    }
  }
  EXPECT_EQ(control(ids::kReportWindow, "日期框1").font.height, -16);
  EXPECT_EQ(control(ids::kDrugWindow, "编辑框1").font.height, -19);
}

TEST(TemplateWindows, DrugCatalogueWindow) {
  const uint32_t W = ids::kDrugWindow;
  const WindowTemplate& w = window(W);
  // 45 controls + the window + 9 menu items.
  EXPECT_EQ(w.items.size(), 1u + 45u + 9u);
  EXPECT_EQ(u8(w.items[1].name), "透明标签20");  // template order
  EXPECT_EQ(u8(w.items[45].name), "编辑框1");
  const Item& list = control(W, "超级列表框1");
  EXPECT_EQ(list.left, -1);
  EXPECT_EQ(list.top, 270);
  EXPECT_EQ(list.width, 765);
  EXPECT_EQ(list.height, 130);
  EXPECT_EQ(list.viewType, 3);
  ASSERT_EQ(list.columns.size(), 16u);
  EXPECT_EQ(u8(list.columns[0].caption), "药品代码");
  EXPECT_EQ(list.columns[0].alignment, 0);
  EXPECT_EQ(u8(list.columns[12].caption), "进 价");
  EXPECT_EQ(list.columns[15].width, 100);
  for (size_t c = 1; c < list.columns.size(); ++c) EXPECT_EQ(list.columns[c].alignment, 1) << c;
  for (const ListColumn& c : list.columns) EXPECT_EQ(c.image, -1);
  EXPECT_EQ(handlerOf(list, kEvDoubleClick), ids::drug::kShowDrug);

  const Item& units = control(W, "组合框3");
  ASSERT_EQ(units.comboItems.size(), 13u);
  EXPECT_EQ(u8(units.comboItems[11]), "毫升");
  EXPECT_EQ(units.comboType, 1);
  EXPECT_EQ(units.height, 20);
  ASSERT_EQ(control(W, "组合框1").comboItems.size(), 16u);
  EXPECT_EQ(u8(control(W, "组合框1").comboItems[15]), "其它");
  EXPECT_EQ(u8(control(W, "组合框2").comboItems[2]), "非类");

  EXPECT_EQ(control(W, "编辑框2").height, 25);
  EXPECT_EQ(u8(control(W, "透明标签6").text), "批    号：");
  const Item& price = control(W, "编辑框10");
  EXPECT_EQ(handlerOf(price, kEvFirst), ids::drug::kPurchasePriceChanged);
  EXPECT_EQ(handlerOf(price, kEvLostFocus), ids::drug::kPurchasePriceLeft);
  EXPECT_EQ(handlerOf(control(W, "按钮1"), kEvFirst), ids::drug::kAdd);
  EXPECT_EQ(u8(control(W, "按钮1").text), "添加");
  EXPECT_EQ(handlerOf(w.window(), kEvFirst), ids::drug::kCreated);
  EXPECT_EQ(control(W, "编辑框13").events.size(), 0u);
}

TEST(TemplateWindows, LoginWindowNestingAndModes) {
  const uint32_t W = ids::kLoginWindow;
  const Item& title = control(W, "透明标签3");
  const Item& shape = control(W, "外形框1");
  const Item& group = control(W, "分组框1");
  EXPECT_EQ(title.container, shape.id);
  EXPECT_EQ(shape.container, group.id);
  EXPECT_EQ(group.container, 0u);
  EXPECT_EQ(shape.contained, std::vector<uint32_t>{title.id});
  EXPECT_EQ(group.contained, std::vector<uint32_t>{shape.id});
  EXPECT_EQ(title.left, 4);  // relative to the shape box
  EXPECT_EQ(group.left, -1);
  EXPECT_EQ(group.top, -4);
  EXPECT_EQ(u8(title.text), "鹿鸣堂-医院管理系统1.2登陆");

  const Item& password = control(W, "编辑框1");
  EXPECT_EQ(password.inputMode, kInputPassword);
  EXPECT_EQ(password.passwordChar, '*');
  EXPECT_EQ(control(W, "组合框1").comboType, 0);
  EXPECT_TRUE(control(W, "组合框1").comboItems.empty());
  EXPECT_EQ(handlerOf(control(W, "按钮3"), kEvFirst), ids::login::kQuit);
  EXPECT_EQ(handlerOf(control(W, "按钮2"), kEvFirst), ids::login::kCheck);
  EXPECT_EQ(handlerOf(control(W, "按钮1"), kEvFirst), ids::login::kEditUsers);

  // No other edit box masks its text; every other combo box drops down.
  for (const WindowTemplate& w : templates().windows)
    for (const Item& it : w.items) {
      if (&it == &password || &it == &control(W, "组合框1")) continue;
      if (it.kind == kEditBoxKind) {
        EXPECT_NE(it.inputMode, kInputPassword) << u8(it.name);
      }
      if (it.kind == kComboBoxKind) {
        EXPECT_EQ(it.comboType, 1) << u8(it.name);
      }
    }
}

TEST(TemplateWindows, MedicationPanelSitsInTheShapeBox) {
  const uint32_t W = ids::kMedicationWindow;
  const Item& box = control(W, "外形框1");
  EXPECT_EQ(box.left, 10);
  EXPECT_EQ(box.top, 70);
  EXPECT_EQ(box.width, 770);
  EXPECT_EQ(box.height, 85);
  const char* held[] = {"标签30", "标签29", "标签28", "标签27", "标签26", "标签25", "标签24", "标签23",
                        "标签22", "标签21", "标签19", "标签13", "标签12", "标签11", "标签10", "标签9",
                        "标签8",  "标签7",  "标签6",  "标签5",  "标签4",  "标签3"};
  ASSERT_EQ(box.contained.size(), std::size(held));
  for (size_t i = 0; i < std::size(held); ++i) {
    EXPECT_EQ(box.contained[i], control(W, held[i]).id) << held[i];
    EXPECT_EQ(control(W, held[i]).container, box.id) << held[i];
  }
  EXPECT_EQ(control(W, "标签18").container, 0u);  // the clock label is outside
  EXPECT_EQ(handlerOf(control(W, "时钟1"), kEvFirst), ids::medication::kClockTick);
  EXPECT_TRUE(window(W).window().events.empty());  // no created handler
  const Item& charges = control(W, "超级列表框2");
  ASSERT_EQ(charges.columns.size(), 10u);
  EXPECT_EQ(u8(charges.columns[9].caption), "收费员");
  EXPECT_EQ(charges.columns[0].alignment, 0);
  EXPECT_EQ(charges.columns[1].alignment, 1);
}

TEST(TemplateWindows, InpatientOutpatientReportAndSmallWindows) {
  const Item& patients = control(ids::kInpatientWindow, "超级列表框1");
  ASSERT_EQ(patients.columns.size(), 11u);
  for (const ListColumn& c : patients.columns) EXPECT_EQ(c.alignment, 0);
  EXPECT_EQ(u8(patients.columns[10].caption), "预付款");
  // 退出 closes the window.
  EXPECT_EQ(handlerOf(control(ids::kInpatientWindow, "按钮5"), kEvFirst), ids::inpatient::kClose);
  EXPECT_EQ(u8(control(ids::kInpatientWindow, "组合框1").comboItems[1]), "女");
  EXPECT_EQ(control(ids::kInpatientWindow, "时钟1").height, 32);

  // The second "删　除" does what the first does; the timer runs the clock.
  EXPECT_EQ(handlerOf(control(ids::kOutpatientWindow, "按钮3"), kEvFirst), ids::outpatient::kDeleteCharge);
  EXPECT_EQ(handlerOf(control(ids::kOutpatientWindow, "按钮4"), kEvFirst), ids::outpatient::kDeleteCharge);
  EXPECT_EQ(handlerOf(control(ids::kOutpatientWindow, "时钟1"), kEvFirst), ids::outpatient::kClockTick);
  EXPECT_EQ(u8(control(ids::kOutpatientWindow, "按钮4").text), "删　除");
  EXPECT_EQ(control(ids::kOutpatientWindow, "打印机1").kind, uint32_t(kPrinterKind));
  EXPECT_EQ(handlerOf(control(ids::kOutpatientWindow, "编辑框4"), kEvFirst), ids::outpatient::kPrescriptionChanged);

  const Item& panel = control(ids::kReportWindow, "画板1");
  EXPECT_EQ(panel.kind, uint32_t(kDrawPanelKind));
  EXPECT_EQ(panel.width, 770);
  EXPECT_EQ(control(ids::kReportWindow, "日期框3").kind, uint32_t(kDatePickerKind));
  EXPECT_EQ(handlerOf(control(ids::kReportWindow, "按钮10"), kEvFirst), ids::report::kEditInternalInpatient);

  for (const char* name : {"透明标签1", "透明标签2", "透明标签3", "透明标签4", "透明标签5", "透明标签6"}) {
    const Item& entry = control(ids::kStartWindow, name);
    EXPECT_EQ(entry.kind, uint32_t(kTransLabelKind));
    EXPECT_NE(handlerOf(entry, kEvLeftUp), -1) << name;
  }
  EXPECT_EQ(handlerOf(control(ids::kStartWindow, "透明标签1"), kEvLeftUp), ids::start::kOpenDrug);
  EXPECT_EQ(u8(control(ids::kStartWindow, "透明标签5").text), "退出系统");
  EXPECT_EQ(handlerOf(control(ids::kPrintRangeWindow, "按钮2"), kEvFirst), ids::printRange::kCancel);
  EXPECT_EQ(u8(control(ids::kAboutWindow, "透明标签1").text), "鹿鸣堂-医疗管理系统1.2");
}

TEST(TemplateWindows, ModuleMenuOnTheFiveModuleWindows) {
  struct Module {
    uint32_t id;
    const char* inpatientCaption;
    int noAction;  // index among the system menu's items without a handler, -1 none
  };
  const Module modules[] = {
      {ids::kDrugWindow, "住 院 信 息", 0},        {ids::kInpatientWindow, "住 院 管 理", 1},
      {ids::kMedicationWindow, "住 院 管 理", -1}, {ids::kOutpatientWindow, "住 院 管 理", 3},
      {ids::kReportWindow, "住 院 信 息", 4},
  };
  for (const Module& m : modules) {
    std::vector<const Item*> menu;
    for (const Item& it : window(m.id).items)
      if (it.kind == kMenuItemKind) menu.push_back(&it);
    ASSERT_EQ(menu.size(), 9u);
    const char* captions[] = {"  系  统  ",  "药 品 库 存", m.inpatientCaption, "住 院 票 据", "门 诊 用 药",
                              "报 表 管 理", "退 出 系 统", "  关  于  ",       "关 于 作 者"};
    const int levels[] = {0, 1, 1, 1, 1, 1, 1, 0, 1};
    for (size_t i = 0; i < 9; ++i) {
      EXPECT_EQ(u8(menu[i]->text), captions[i]) << i;
      EXPECT_EQ(menu[i]->menuLevel, levels[i]) << i;
      const bool dropDown = levels[i] == 0;
      const bool none = dropDown || (m.noAction >= 0 && i == size_t(m.noAction) + 1);
      EXPECT_EQ(menu[i]->menuHandler == -1, none) << std::hex << m.id << " item " << i;
    }
    // Menu items come after all controls.
    EXPECT_EQ(window(m.id).items.back().id, menu.back()->id);
  }
  for (uint32_t other : {ids::kStartWindow, ids::kLoginWindow, ids::kAboutWindow, ids::kPrintRangeWindow})
    for (const Item& it : window(other).items) EXPECT_NE(it.kind, uint32_t(kMenuItemKind));
  // One handler per name in a window: the exit item of each module window
  // shares its index with nothing else.
  EXPECT_NE(ids::drug::kExitProgram, ids::drug::kOpenAbout);
}

TEST(TemplateWindows, HandlerIndicesStayInsideEachTable) {
  const std::map<uint32_t, int> counts = {
      {ids::kStartWindow, ids::start::kHandlerCount},
      {ids::kLoginWindow, ids::login::kHandlerCount},
      {ids::kDrugWindow, ids::drug::kHandlerCount},
      {ids::kInpatientWindow, ids::inpatient::kHandlerCount},
      {ids::kMedicationWindow, ids::medication::kHandlerCount},
      {ids::kOutpatientWindow, ids::outpatient::kHandlerCount},
      {ids::kReportWindow, ids::report::kHandlerCount},
      {ids::kPrintRangeWindow, ids::printRange::kHandlerCount},
      {ids::kAboutWindow, ids::about::kHandlerCount},
  };
  for (const WindowTemplate& w : templates().windows) {
    const int count = counts.at(w.id);
    std::set<int32_t> used;
    for (const Item& it : w.items) {
      for (const EventBinding& b : it.events) {
        EXPECT_GE(b.handler, 0);  // a binding always names a handler
        EXPECT_LT(b.handler, count);
        used.insert(b.handler);
      }
      if (it.kind == kMenuItemKind && it.menuHandler != -1) {
        EXPECT_LT(it.menuHandler, count);
        used.insert(it.menuHandler);
      }
    }
    EXPECT_EQ(int(used.size()), count) << std::hex << w.id;  // every index is bound somewhere
  }
}

// The real block cut short anywhere, or with its first window's blob size
// pushed past the end, is refused without a crash.
TEST(TemplateWindows, RealBlockCutShortIsRefused) {
  TemplateData d;
  std::string why;
  for (size_t cut = 0; cut < kTemplateBlockSize; cut += 1 + cut / 64) {
    EXPECT_FALSE(parseTemplates(kTemplateBlock, cut, &d, &why)) << cut;
    EXPECT_TRUE(d.windows.empty());
  }
  std::string block(reinterpret_cast<const char*>(kTemplateBlock), kTemplateBlockSize);
  const size_t windows = 9;
  const size_t blobSizeAt = 4 + 8 * windows + 5 * 4;  // table, then the first record's words
  const uint32_t huge = 0xFFFFFFF0u;
  std::memcpy(block.data() + blobSizeAt, &huge, 4);
  EXPECT_FALSE(parseTemplates(reinterpret_cast<const uint8_t*>(block.data()), block.size(), &d, &why));
  EXPECT_NE(why.find("item blob"), std::string::npos) << why;
}

using TemplateWindowsDeathTest = ::testing::Test;

TEST(TemplateWindowsDeathTest, BrokenBlockTakesTheFatalPath) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const size_t cut = kTemplateBlockSize / 2;
  EXPECT_EXIT(parseTemplatesOrDie(kTemplateBlock, cut), ::testing::ExitedWithCode(255), "载入窗口模板数据段出错!");
}

}  // namespace
}  // namespace forms
