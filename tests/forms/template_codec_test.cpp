// The block reader and writer on small hand-built windows: every kind's
// property block survives a round trip, and damaged blocks fail cleanly.
#include <gtest/gtest.h>

#include <cstring>

#include "forms/template.h"

namespace forms {
namespace {

Font songti(int height) {
  Font f;
  f.present = true;
  f.height = height;
  f.face = "\xCB\xCE\xCC\xE5";  // 宋体 in GBK
  return f;
}

Item control(uint32_t id, uint32_t kind, const std::string& name, int l, int t, int w, int h) {
  Item it;
  it.id = id;
  it.kind = kind;
  it.name = name;
  it.left = l;
  it.top = t;
  it.width = w;
  it.height = h;
  it.stateWord = 1;
  return it;
}

// Two windows holding one item of every kind with non-default values.
TemplateData sample() {
  TemplateData d;
  WindowTemplate a;
  a.id = 0x52010001;
  a.reserved1 = 7;
  a.reserved2 = -3;
  Item win = control(0x06010000, kWindowKind, "", 50, 50, 800, 500);
  win.blockVersion = 6;
  win.text = "title";
  win.picture = std::string("GIF89a\0\x01\x02", 9);
  win.icon = std::string("\0\0\x01\0", 4);
  win.borderFlags = 0x11;
  win.events = {{kEvFirst, 0}};
  a.items.push_back(win);

  Item edit = control(0x16010001, kEditBoxKind, "edit1", 10, 20, 100, 24);
  edit.blockVersion = 2;
  edit.stateWord = 5;
  edit.inputMode = kInputPassword;
  edit.passwordChar = '#';
  edit.textColor = 255;
  edit.font = songti(-19);
  edit.text = "initial";
  edit.events = {{kEvFirst, 1}, {kEvLostFocus, 2}};
  a.items.push_back(edit);

  Item group = control(0x16010002, kGroupBoxKind, "group1", -1, -4, 216, 40);
  group.contained = {0x16010003};
  a.items.push_back(group);

  Item shape = control(0x16010003, kShapeBoxKind, "shape1", 28, 11, 166, 24);
  shape.container = 0x16010002;
  shape.contained = {0x16010004};
  shape.shape = 1;
  shape.lineColor = 0x808080;
  a.items.push_back(shape);

  Item tl = control(0x16010004, kTransLabelKind, "tl1", 4, 4, 158, 16);
  tl.container = 0x16010003;
  tl.text = "caption";
  tl.font = songti(-16);
  tl.events = {{kEvLeftUp, 3}};
  a.items.push_back(tl);

  Item combo = control(0x16010005, kComboBoxKind, "combo1", 1, 2, 3, 4);
  combo.blockVersion = 3;
  combo.comboType = 0;
  combo.comboItems = {"a", "", "ccc"};
  combo.font = songti(-16);
  a.items.push_back(combo);

  Item list = control(0x16010006, kListViewKind, "list1", -1, 270, 765, 130);
  list.columns = {{0, -1, 0, 80, "code"}, {1, 2, 1, 100, "name"}, {0, -1, 2, 50, ""}};
  list.font = songti(-19);
  list.events = {{kEvDoubleClick, 4}};
  a.items.push_back(list);

  Item menu0;
  menu0.id = 0x26010007;
  menu0.kind = kMenuItemKind;
  menu0.text = "  sys  ";
  menu0.menuLevel = 0;
  a.items.push_back(menu0);
  Item menu1 = menu0;
  menu1.id = 0x26010008;
  menu1.text = "item";
  menu1.menuLevel = 1;
  menu1.menuHandler = 5;
  a.items.push_back(menu1);
  d.windows.push_back(a);

  WindowTemplate b;
  b.id = 0x52010002;
  Item win2 = control(0x06020000, kWindowKind, "", 50, 50, 324, 174);
  win2.blockVersion = 6;
  b.items.push_back(win2);
  Item button = control(0x16020001, kButtonKind, "button1", 50, 100, 80, 24);
  button.buttonType = 1;
  button.text = "ok";
  b.items.push_back(button);
  Item label = control(0x16020002, kLabelKind, "label1", 5, 5, 60, 24);
  label.blockVersion = 2;
  label.borderStyle = 0;
  b.items.push_back(label);
  Item timer = control(0x16020003, kTimerKind, "timer1", 712, 410, 32, 32);
  timer.stateWord = 0;
  timer.interval = 250;
  b.items.push_back(timer);
  Item printer = control(0x16020004, kPrinterKind, "printer1", 1, 1, 32, 32);
  printer.stateWord = 0;
  b.items.push_back(printer);
  Item date = control(0x16020005, kDatePickerKind, "date1", 216, 40, 208, 24);
  date.blockVersion = 2;
  date.font = songti(-16);
  b.items.push_back(date);
  Item panel = control(0x16020006, kDrawPanelKind, "panel1", 10, 140, 770, 290);
  panel.backColor = 0xFFFFFF;
  panel.font = songti(-19);
  b.items.push_back(panel);
  d.windows.push_back(b);
  return d;
}

bool parse(const std::string& block, TemplateData* out, std::string* why = nullptr) {
  return parseTemplates(reinterpret_cast<const uint8_t*>(block.data()), block.size(), out, why);
}

TEST(TemplateCodec, RoundTripKeepsEveryKindsFields) {
  const TemplateData d = sample();
  const std::string block = serializeTemplates(d);
  TemplateData back;
  std::string why;
  ASSERT_TRUE(parse(block, &back, &why)) << why;
  ASSERT_EQ(back.windows.size(), 2u);
  // Field by field first, so that a mismatch names the item.
  for (size_t w = 0; w < d.windows.size(); ++w) {
    ASSERT_EQ(back.windows[w].items.size(), d.windows[w].items.size());
    for (size_t i = 0; i < d.windows[w].items.size(); ++i)
      EXPECT_TRUE(back.windows[w].items[i] == d.windows[w].items[i]) << "window " << w << " item " << i;
  }
  EXPECT_TRUE(back == d);
  // And the block is a fixed point.
  EXPECT_EQ(serializeTemplates(back), block);
}

TEST(TemplateCodec, LayoutOfTheTopLevelAndFirstRecord) {
  const std::string block = serializeTemplates(sample());
  auto word = [&](size_t at) {
    uint32_t v;
    std::memcpy(&v, block.data() + at, 4);
    return v;
  };
  EXPECT_EQ(word(0), 16u);          // 8 × two windows
  EXPECT_EQ(word(4), 0x52010001u);  // ids in table order
  EXPECT_EQ(word(8), 0x52010002u);
  EXPECT_EQ(word(12), 0u);  // the slots
  EXPECT_EQ(word(16), 0u);
  EXPECT_EQ(word(20), 7u);  // first window record: reserved words
  EXPECT_EQ(word(24), uint32_t(-3));
  EXPECT_EQ(word(28), 0u);  // two empty texts
  EXPECT_EQ(word(32), 0u);
  EXPECT_EQ(word(36), 9u);  // item count
  const size_t blob = 44;
  EXPECT_EQ(word(blob), 0x06010000u);  // item 0 id
  EXPECT_EQ(word(blob + 4 * 9), 0u);   // item 0 offset
  const size_t records = blob + 8 * 9;
  const uint32_t len0 = word(records);
  EXPECT_EQ(word(blob + 4 * 10), len0 + 4);  // item 1 starts after item 0
  EXPECT_EQ(word(records + 4), uint32_t(kWindowKind));
}

TEST(TemplateCodec, EditBoxBlockKeepsItsFixedOffsets) {
  TemplateData d;
  WindowTemplate w;
  w.id = 0x52010001;
  Item win;
  win.id = 0x06010000;
  win.kind = kWindowKind;
  w.items.push_back(win);
  Item edit;
  edit.id = 0x16010001;
  edit.kind = kEditBoxKind;
  edit.name = "e";
  edit.blockVersion = 2;
  edit.inputMode = kInputDateTime;
  edit.passwordChar = '*';
  edit.textColor = 255;
  w.items.push_back(edit);
  d.windows.push_back(w);
  const std::string block = serializeTemplates(d);
  // Locate the edit box body: the last record; its property block starts
  // after the fixed part (kind..events) which has no contained ids or events.
  const std::string body_start = std::string("e\0\0", 3);
  size_t at = block.rfind(body_start);
  ASSERT_NE(at, std::string::npos);
  // After name+remark: zero, 4 geometry, zero, container, m, pointer, tag, 3
  // state words, event count = 13 words + 1 byte.
  const size_t props = at + 3 + 13 * 4 + 1;
  auto word = [&](size_t off) {
    uint32_t v;
    std::memcpy(&v, block.data() + props + off, 4);
    return v;
  };
  for (size_t i = 0; i < 20; i += 4) EXPECT_EQ(word(i), 0u);
  EXPECT_EQ(word(20), 2u);
  EXPECT_EQ(word(24), 1u);
  EXPECT_EQ(word(28), 255u);
  EXPECT_EQ(word(32), 0xFFFFFFu);
  EXPECT_EQ(word(56), 11u);
  EXPECT_EQ(word(60), uint32_t('*'));
  EXPECT_EQ(word(64), 0u);  // default font
}

TEST(TemplateCodec, EveryTruncationFailsCleanly) {
  const std::string block = serializeTemplates(sample());
  TemplateData out;
  for (size_t cut = 0; cut < block.size(); ++cut) {
    std::string why;
    const std::string part = block.substr(0, cut);
    EXPECT_FALSE(parse(part, &out, &why)) << "cut at " << cut;
    EXPECT_FALSE(why.empty()) << "cut at " << cut;
    EXPECT_TRUE(out.windows.empty());
  }
  // Trailing bytes are a broken block too.
  EXPECT_FALSE(parse(block + std::string(1, '\0'), &out));
}

// Every 32-bit word of the block overwritten with hostile values: the
// reader may accept (the word was harmless) but must never crash, read
// out of bounds (run under a sanitizer to see) or allocate absurd sizes.
TEST(TemplateCodec, HostileWordsNeverCrash) {
  const std::string block = serializeTemplates(sample());
  const uint32_t hostile[] = {0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x10000u, 61u};
  size_t failures = 0;
  for (size_t at = 0; at + 4 <= block.size(); at += 1) {
    for (uint32_t v : hostile) {
      std::string bad = block;
      std::memcpy(bad.data() + at, &v, 4);
      TemplateData out;
      if (!parse(bad, &out)) ++failures;
    }
  }
  EXPECT_GT(failures, 0u);
}

TEST(TemplateCodec, NamedFailures) {
  const std::string block = serializeTemplates(sample());
  TemplateData out;
  std::string why;

  std::string badTable = block;
  badTable[0] = 9;  // not a multiple of 8
  EXPECT_FALSE(parse(badTable, &out, &why));
  EXPECT_NE(why.find("multiple of 8"), std::string::npos) << why;

  std::string hugeTable = block;
  const uint32_t huge = 0x7FFFFFF8u;
  std::memcpy(hugeTable.data(), &huge, 4);
  EXPECT_FALSE(parse(hugeTable, &out, &why));
  EXPECT_NE(why.find("past the end"), std::string::npos) << why;

  // Item count of the first window far beyond its blob.
  std::string hugeCount = block;
  const uint32_t many = 0x40000000u;
  std::memcpy(hugeCount.data() + 36, &many, 4);
  EXPECT_FALSE(parse(hugeCount, &out, &why));
  EXPECT_NE(why.find("cannot fit"), std::string::npos) << why;

  // Offset of item 1 of the first window outside the records.
  std::string badOffset = block;
  const uint32_t far = 0x00FFFFFFu;
  std::memcpy(badOffset.data() + 44 + 4 * 10, &far, 4);
  EXPECT_FALSE(parse(badOffset, &out, &why));
  EXPECT_NE(why.find("offset"), std::string::npos) << why;

  // A duplicate window id.
  std::string dupWindow = block;
  std::memcpy(dupWindow.data() + 8, dupWindow.data() + 4, 4);
  EXPECT_FALSE(parse(dupWindow, &out, &why));
  EXPECT_NE(why.find("twice"), std::string::npos) << why;

  EXPECT_FALSE(parseTemplates(nullptr, 4, &out, &why));
  EXPECT_FALSE(parseTemplates(nullptr, 0, &out, &why));  // no window table at all
}

TEST(TemplateCodec, BrokenNestingAndFontsAreRejected) {
  TemplateData d = sample();
  d.windows[0].items[4].container = 0x16999999;  // no such item
  TemplateData out;
  std::string why;
  EXPECT_FALSE(parse(serializeTemplates(d), &out, &why));
  EXPECT_NE(why.find("container"), std::string::npos) << why;

  d = sample();
  d.windows[0].items[2].contained.push_back(0x16888888);
  EXPECT_FALSE(parse(serializeTemplates(d), &out, &why));

  // A font length that is neither 0 nor 60.
  d = sample();
  std::string block = serializeTemplates(d);
  const std::string face = "\xCB\xCE\xCC\xE5";
  size_t at = block.find(face);
  ASSERT_NE(at, std::string::npos);
  const size_t lenAt = at - 28 - 4;  // the length word precedes the 28 bytes before the face
  uint32_t len;
  std::memcpy(&len, block.data() + lenAt, 4);
  ASSERT_EQ(len, 60u);
  len = 59;
  std::memcpy(block.data() + lenAt, &len, 4);
  EXPECT_FALSE(parse(block, &out, &why));
  EXPECT_NE(why.find("font length"), std::string::npos) << why;
}

TEST(TemplateCodec, PropertyBlockShorterThanItsKindNeeds) {
  // A window whose only control is a timer with its block cut after the
  // version: the record length is consistent, the block is too short.
  TemplateData d;
  WindowTemplate w;
  w.id = 0x52010001;
  Item win;
  win.id = 0x06010000;
  win.kind = kWindowKind;
  w.items.push_back(win);
  Item timer;
  timer.id = 0x16010001;
  timer.kind = kTimerKind;
  timer.name = "t";
  w.items.push_back(timer);
  d.windows.push_back(w);
  std::string block = serializeTemplates(d);
  // The timer record is last: drop its interval word and fix up the
  // lengths that enclose it (record length, blob size).
  block.resize(block.size() - 4);
  auto patch = [&](size_t at, int delta) {
    uint32_t v;
    std::memcpy(&v, block.data() + at, 4);
    v = uint32_t(int64_t(v) + delta);
    std::memcpy(block.data() + at, &v, 4);
  };
  patch(32, -4);  // blob size: after the table (12), 2 words, 2 empty texts, count
  // Offset of item 1 is the second offset word of the blob.
  const size_t blob = 36;
  uint32_t off1;
  std::memcpy(&off1, block.data() + blob + 12, 4);
  patch(blob + 16 + off1, -4);  // the timer's record length
  TemplateData out;
  std::string why;
  EXPECT_FALSE(parse(block, &out, &why));
  EXPECT_NE(why.find("timer interval"), std::string::npos) << why;
}

}  // namespace
}  // namespace forms
