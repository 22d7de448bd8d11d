// The in-memory form of the window template data: what the template block
// says about each window, its controls and its menu items. The block reader
// (template.h) fills these from the embedded block; the window builder
// (the Qt side) makes live windows from them. No Qt here, so the build-time
// generator and the reader tests use it too.
//
// Texts are GBK. Geometry is in pixels, relative to the container (the
// window's client area or the shape/group box holding the control).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace forms {

// Control kinds (low 16 bits: kind within its library, high 16: library).
enum ItemKind : uint32_t {
  kWindowKind = 0x00010001,
  kMenuItemKind = 0x00010003,
  kEditBoxKind = 0x00010005,
  kShapeBoxKind = 0x00010007,
  kDrawPanelKind = 0x00010008,
  kGroupBoxKind = 0x00010009,
  kLabelKind = 0x0001000A,
  kButtonKind = 0x0001000B,
  kComboBoxKind = 0x0001000E,
  kDatePickerKind = 0x00010017,
  kTimerKind = 0x00010020,
  kPrinterKind = 0x00010021,
  kListViewKind = 0x00020004,
  kTransLabelKind = 0x00020005,
};

// Identifier ranges.
constexpr uint32_t kWindowIdBase = 0x52010001;  // first window
constexpr uint32_t kItemTopWindow = 0x06;       // the window's own item
constexpr uint32_t kItemTopControl = 0x16;
constexpr uint32_t kItemTopMenu = 0x26;  // 0x20000000 marks menu items

// Event numbers the application binds.
enum Event : int32_t {
  kEvFirst = 0,  // window created, button click, edit content changed, timer tick
  kEvLeftDown = -1,
  kEvLeftUp = -2,
  kEvDoubleClick = -3,
  kEvRightDown = -4,
  kEvRightUp = -5,
  kEvMouseMove = -6,
  kEvGotFocus = -7,
  kEvLostFocus = -8,
  kEvKeyDown = -9,
  kEvKeyUp = -10,
  kEvChar = -11,
  kEvWheel = -12,
};

// Edit box input modes.
enum InputMode : int32_t {
  kInputNormal = 0,
  kInputReadOnly = 1,
  kInputPassword = 2,
  kInputInteger = 3,
  kInputDateTime = 11,
};

// The 60-byte font record of a property block.
struct Font {
  bool present = false;  // false: length 0, the default font
  int32_t height = -19;  // pixels, negative
  int32_t width = 0, escapement = 0, orientation = 0;
  int32_t weight = 400;
  uint8_t italic = 0, underline = 0, strikeOut = 0;
  uint8_t charSet = 134;  // GB2312
  uint8_t outPrecision = 0, clipPrecision = 0, quality = 0, pitchAndFamily = 0;
  std::string face;  // GBK, at most 31 bytes ("宋体")

  bool operator==(const Font&) const = default;
};

struct ListColumn {
  uint8_t flag = 0;
  int32_t image = -1;     // -1 none
  int32_t alignment = 0;  // 0 left, 1 centred, 2 right
  int32_t width = 80;
  std::string caption;

  bool operator==(const ListColumn&) const = default;
};

struct EventBinding {
  int32_t event = 0;
  int32_t handler = -1;  // index into the window's handler table, -1 none

  bool operator==(const EventBinding&) const = default;
};

// One item of a window: the window itself (item 0), a control or a menu
// item. Fields a kind does not use keep their defaults.
struct Item {
  uint32_t id = 0;
  uint32_t kind = 0;
  std::string name;  // control name ("编辑框3"); empty for window and menu items
  int32_t left = 0, top = 0, width = 0, height = 0;
  uint32_t container = 0;           // 0: the window
  std::vector<uint32_t> contained;  // for shape and group boxes
  int32_t stateWord = 0;            // middle state word: 5 input, 1 visible, 0 invisible
  std::vector<EventBinding> events;

  // Property block (by kind).
  int32_t blockVersion = 1;
  Font font;
  std::string text;  // window title, button/label caption, initial text
  // window
  uint32_t borderFlags = 0;
  uint32_t backColor = 0xFF00000F;  // top byte 0xFF: a system colour
  std::string picture;              // GIF bytes
  std::string icon;                 // icon-file bytes, empty for none
  // edit box
  int32_t borderStyle = 1;
  uint32_t textColor = 0;
  uint32_t editBackColor = 0xFFFFFF;
  int32_t inputMode = kInputNormal;
  uint8_t passwordChar = '*';
  // button
  int32_t buttonType = 0;  // 1 default button
  // combo box
  int32_t comboType = 1;  // 0 simple, 1 drop-down, 2 drop-down list
  std::vector<std::string> comboItems;
  bool comboSorted = false;  // the list keeps its items sorted
  // list view
  int32_t viewType = 3;  // report view
  std::vector<ListColumn> columns;
  // shape box: 0 rectangle, 1 horizontal line; its line colour
  int32_t shape = 0;
  uint32_t lineColor = 0;
  // timer
  int32_t interval = 500;
  // menu item
  int32_t menuLevel = 0;  // 0 menu-bar entry, 1 item of the menu before it
  int32_t menuHandler = -1;

  bool operator==(const Item&) const = default;
};

struct WindowTemplate {
  uint32_t id = 0;
  int32_t reserved1 = 0, reserved2 = 0;  // first two words, not relied on
  std::vector<Item> items;               // items[0] is the window itself

  const Item& window() const { return items.front(); }
  // The item with this control name (GBK), or null.
  const Item* find(const std::string& name) const;
  const Item* findId(uint32_t id) const;

  bool operator==(const WindowTemplate&) const = default;
};

struct TemplateData {
  std::vector<WindowTemplate> windows;  // loading-table order
  const WindowTemplate* findWindow(uint32_t id) const;

  bool operator==(const TemplateData&) const = default;
};

}  // namespace forms
