#include "forms/template.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <string_view>

namespace forms {
namespace {

// Record body of the window and of controls, after the kind:
//   5 × int32 0; NUL name; NUL remark; int32 0; left, top, width, height;
//   int32 0; container id; int32 m + m contained ids; mouse pointer
//   (int32 length + bytes, always 0 here); NUL tag; 3 state words (the
//   middle one kept); int32 e + e × (event, handler); the property block.
// Menu item body after the kind:
//   5 × int32 0; NUL name; NUL remark; 0, level, 0; NUL caption;
//   int32 click handler; 16 zero bytes.
//
// Property blocks start with 20 zero bytes and (except printer and group
// box, which are exactly those 20 bytes) an int32 version; then, by kind:
//   window     border flags, background colour, picture (text), icon
//              (text), int32 0, title (text), int32 0
//   edit box   at 24 border style, 28 text colour, 32 background colour,
//              36..55 zero, 56 input mode, 60 mask character (int32),
//              64 font, then the initial content (text)
//   label      text colour, background colour, border style, font,
//              caption (text)
//   trans.     text colour, font, caption (text)
//   button     type, text colour, 0, 0, font, caption (text)
//   combo box  type, text colour, background colour, border style, font,
//              uint16 item count + items (texts)
//   list view  view type, text colour, background colour, border style,
//              font, int32 column bytes + columns (flag byte, image,
//              alignment, width, NUL caption)
//   timer      int32 1, interval
//   shape box  shape, line colour, fill colour, border style
//   draw panel border style, background colour, pen colour, font
//   date box   font
// A font is int32 0 (the default font) or int32 60 + the 60-byte record.

constexpr size_t kFontRecordSize = 60;
constexpr size_t kFaceSize = 32;
constexpr size_t kBlockLead = 20;

// ---- writing ---------------------------------------------------------------

class Writer {
 public:
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(char((v >> (8 * i)) & 0xFF));
  }
  void i32(int32_t v) { u32(uint32_t(v)); }
  void u16(uint16_t v) {
    out_.push_back(char(v & 0xFF));
    out_.push_back(char(v >> 8));
  }
  void u8(uint8_t v) { out_.push_back(char(v)); }
  void zeros(size_t n) { out_.append(n, '\0'); }
  void bytes(std::string_view s) { out_.append(s); }
  void text(std::string_view s) {
    u32(uint32_t(s.size()));
    bytes(s);
  }
  void cstr(std::string_view s) {
    // A NUL inside would cut the text short on reading; cut it here too.
    bytes(s.substr(0, s.find('\0')));
    u8(0);
  }
  void font(const Font& f) {
    if (!f.present) {
      u32(0);
      return;
    }
    u32(kFontRecordSize);
    i32(f.height);
    i32(f.width);
    i32(f.escapement);
    i32(f.orientation);
    i32(f.weight);
    u8(f.italic);
    u8(f.underline);
    u8(f.strikeOut);
    u8(f.charSet);
    u8(f.outPrecision);
    u8(f.clipPrecision);
    u8(f.quality);
    u8(f.pitchAndFamily);
    std::string face = f.face.substr(0, kFaceSize - 1);
    face = face.substr(0, face.find('\0'));
    bytes(face);
    zeros(kFaceSize - face.size());
  }
  std::string& str() { return out_; }

 private:
  std::string out_;
};

void writeProperties(Writer& w, const Item& it) {
  w.zeros(kBlockLead);
  if (it.kind == kPrinterKind || it.kind == kGroupBoxKind) return;
  w.i32(it.blockVersion);
  switch (it.kind) {
    case kWindowKind:
      w.u32(it.borderFlags);
      w.u32(it.backColor);
      w.text(it.picture);
      w.text(it.icon);
      w.i32(0);
      w.text(it.text);
      w.i32(0);
      break;
    case kEditBoxKind:
      w.i32(it.borderStyle);
      w.u32(it.textColor);
      w.u32(it.editBackColor);
      w.zeros(20);
      w.i32(it.inputMode);
      w.u32(it.passwordChar);
      w.font(it.font);
      w.text(it.text);
      break;
    case kLabelKind:
      w.u32(it.textColor);
      w.u32(it.editBackColor);
      w.i32(it.borderStyle);
      w.font(it.font);
      w.text(it.text);
      break;
    case kTransLabelKind:
      w.u32(it.textColor);
      w.font(it.font);
      w.text(it.text);
      break;
    case kButtonKind:
      w.i32(it.buttonType);
      w.u32(it.textColor);
      w.i32(0);
      w.i32(0);
      w.font(it.font);
      w.text(it.text);
      break;
    case kComboBoxKind:
      w.i32(it.comboType);
      w.u32(it.textColor);
      w.u32(it.editBackColor);
      w.i32(it.borderStyle);
      w.font(it.font);
      w.u16(uint16_t(it.comboItems.size()));
      for (const std::string& s : it.comboItems) w.text(s);
      break;
    case kListViewKind: {
      w.i32(it.viewType);
      w.u32(it.textColor);
      w.u32(it.editBackColor);
      w.i32(it.borderStyle);
      w.font(it.font);
      Writer cols;
      for (const ListColumn& c : it.columns) {
        cols.u8(c.flag);
        cols.i32(c.image);
        cols.i32(c.alignment);
        cols.i32(c.width);
        cols.cstr(c.caption);
      }
      w.text(cols.str());
      break;
    }
    case kTimerKind:
      w.i32(1);
      w.i32(it.interval);
      break;
    case kShapeBoxKind:
      w.i32(it.shape);
      w.u32(it.lineColor);
      w.u32(it.backColor);
      w.i32(it.borderStyle);
      break;
    case kDrawPanelKind:
      w.i32(it.borderStyle);
      w.u32(it.backColor);
      w.u32(it.textColor);
      w.font(it.font);
      break;
    case kDatePickerKind:
      w.font(it.font);
      break;
    default:
      // Unknown kinds carry only the lead and version; the reader keeps
      // nothing else of them either.
      break;
  }
}

std::string itemBody(const Item& it) {
  Writer w;
  w.u32(it.kind);
  w.zeros(20);
  if (it.kind == kMenuItemKind) {
    w.cstr(it.name);
    w.cstr("");
    w.i32(0);
    w.i32(it.menuLevel);
    w.i32(0);
    w.cstr(it.text);
    w.i32(it.menuHandler);
    w.zeros(16);
    return std::move(w.str());
  }
  w.cstr(it.name);
  w.cstr("");
  w.i32(0);
  w.i32(it.left);
  w.i32(it.top);
  w.i32(it.width);
  w.i32(it.height);
  w.i32(0);
  w.u32(it.container);
  w.u32(uint32_t(it.contained.size()));
  for (uint32_t id : it.contained) w.u32(id);
  w.u32(0);  // mouse pointer: none
  w.cstr("");
  w.i32(0);
  w.i32(it.stateWord);
  w.i32(0);
  w.u32(uint32_t(it.events.size()));
  for (const EventBinding& e : it.events) {
    w.i32(e.event);
    w.i32(e.handler);
  }
  writeProperties(w, it);
  return std::move(w.str());
}

// ---- reading ---------------------------------------------------------------

// A bounded view: every read checks the bytes left first. After a failed
// read the reader stays failed and the message names the first failure.
class Reader {
 public:
  Reader(const uint8_t* p, size_t n, std::string where) : p_(p), n_(n), where_(std::move(where)) {}

  bool ok() const { return ok_; }
  size_t left() const { return n_ - pos_; }
  size_t pos() const { return pos_; }
  const uint8_t* here() const { return p_ + pos_; }
  const std::string& error() const { return error_; }

  bool fail(const std::string& what) {
    if (ok_) {
      ok_ = false;
      error_ = where_ + ": " + what + " (at byte " + std::to_string(pos_) + ")";
    }
    return false;
  }
  bool need(size_t k, const char* what) {
    if (!ok_) return false;
    if (k > left())
      return fail(std::string(what) + ": needs " + std::to_string(k) + " bytes, " + std::to_string(left()) + " left");
    return true;
  }
  uint32_t u32(const char* what) {
    if (!need(4, what)) return 0;
    uint32_t v =
        uint32_t(p_[pos_]) | uint32_t(p_[pos_ + 1]) << 8 | uint32_t(p_[pos_ + 2]) << 16 | uint32_t(p_[pos_ + 3]) << 24;
    pos_ += 4;
    return v;
  }
  int32_t i32(const char* what) { return int32_t(u32(what)); }
  uint16_t u16(const char* what) {
    if (!need(2, what)) return 0;
    uint16_t v = uint16_t(p_[pos_] | p_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
  }
  uint8_t u8(const char* what) {
    if (!need(1, what)) return 0;
    return p_[pos_++];
  }
  void skip(size_t k, const char* what) {
    if (need(k, what)) pos_ += k;
  }
  std::string bytes(size_t k, const char* what) {
    if (!need(k, what)) return {};
    std::string s(reinterpret_cast<const char*>(p_ + pos_), k);
    pos_ += k;
    return s;
  }
  // int32 length + bytes; the length is checked before anything is made.
  std::string text(const char* what) {
    uint32_t k = u32(what);
    return bytes(k, what);
  }
  std::string cstr(const char* what) {
    if (!ok_) return {};
    const void* nul = std::memchr(p_ + pos_, 0, left());
    if (!nul) {
      fail(std::string(what) + ": text without its terminating NUL");
      return {};
    }
    size_t k = size_t(static_cast<const uint8_t*>(nul) - (p_ + pos_));
    std::string s(reinterpret_cast<const char*>(p_ + pos_), k);
    pos_ += k + 1;
    return s;
  }
  // A count of entries of at least `minEntry` bytes each that must fit in
  // what is left; anything larger is a broken count, not an allocation.
  uint32_t count(const char* what, size_t minEntry) {
    uint32_t c = u32(what);
    if (ok_ && minEntry != 0 && c > left() / minEntry) {
      fail(std::string(what) + ": count " + std::to_string(c) + " cannot fit in " + std::to_string(left()) + " bytes");
      return 0;
    }
    return c;
  }
  void font(Font* f) {
    uint32_t k = u32("font length");
    if (!ok_) return;
    if (k == 0) {
      *f = Font{};
      f->present = false;
      return;
    }
    if (k != kFontRecordSize) {
      fail("font length " + std::to_string(k) + " is neither 0 nor 60");
      return;
    }
    if (!need(kFontRecordSize, "font record")) return;
    f->present = true;
    f->height = i32("font");
    f->width = i32("font");
    f->escapement = i32("font");
    f->orientation = i32("font");
    f->weight = i32("font");
    f->italic = u8("font");
    f->underline = u8("font");
    f->strikeOut = u8("font");
    f->charSet = u8("font");
    f->outPrecision = u8("font");
    f->clipPrecision = u8("font");
    f->quality = u8("font");
    f->pitchAndFamily = u8("font");
    std::string face = bytes(kFaceSize, "font face");
    f->face = face.substr(0, face.find('\0'));
  }

 private:
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
  bool ok_ = true;
  std::string where_;
  std::string error_;
};

void readProperties(Reader& r, Item* it) {
  r.skip(kBlockLead, "property block lead");
  if (it->kind == kPrinterKind || it->kind == kGroupBoxKind) return;
  it->blockVersion = r.i32("property block version");
  switch (it->kind) {
    case kWindowKind:
      it->borderFlags = r.u32("window border flags");
      it->backColor = r.u32("window background colour");
      it->picture = r.text("window picture");
      it->icon = r.text("window icon");
      r.skip(4, "window block");
      it->text = r.text("window title");
      r.skip(4, "window block end");
      break;
    case kEditBoxKind:
      it->borderStyle = r.i32("edit box border style");
      it->textColor = r.u32("edit box text colour");
      it->editBackColor = r.u32("edit box background colour");
      r.skip(20, "edit box appearance");
      it->inputMode = r.i32("edit box input mode");
      it->passwordChar = uint8_t(r.u32("edit box mask character"));
      r.font(&it->font);
      it->text = r.text("edit box content");
      break;
    case kLabelKind:
      it->textColor = r.u32("label text colour");
      it->editBackColor = r.u32("label background colour");
      it->borderStyle = r.i32("label border style");
      r.font(&it->font);
      it->text = r.text("label caption");
      break;
    case kTransLabelKind:
      it->textColor = r.u32("transparent label text colour");
      r.font(&it->font);
      it->text = r.text("transparent label caption");
      break;
    case kButtonKind:
      it->buttonType = r.i32("button type");
      it->textColor = r.u32("button text colour");
      r.skip(8, "button appearance");
      r.font(&it->font);
      it->text = r.text("button caption");
      break;
    case kComboBoxKind: {
      it->comboType = r.i32("combo box type");
      it->textColor = r.u32("combo box text colour");
      it->editBackColor = r.u32("combo box background colour");
      it->borderStyle = r.i32("combo box border style");
      r.font(&it->font);
      uint16_t n = r.u16("combo box item count");
      if (r.ok() && n > r.left() / 4) {
        r.fail("combo box item count " + std::to_string(n) + " cannot fit");
        break;
      }
      it->comboItems.clear();
      for (uint16_t i = 0; i < n && r.ok(); ++i) it->comboItems.push_back(r.text("combo box item"));
      break;
    }
    case kListViewKind: {
      it->viewType = r.i32("list view type");
      it->textColor = r.u32("list view text colour");
      it->editBackColor = r.u32("list view background colour");
      it->borderStyle = r.i32("list view border style");
      r.font(&it->font);
      uint32_t k = r.u32("list view column bytes");
      if (!r.need(k, "list view columns")) break;
      Reader cols(r.here(), k, "list view columns");
      r.skip(k, "list view columns");
      it->columns.clear();
      while (cols.ok() && cols.left() > 0) {
        ListColumn c;
        c.flag = cols.u8("column flag");
        c.image = cols.i32("column image");
        c.alignment = cols.i32("column alignment");
        c.width = cols.i32("column width");
        c.caption = cols.cstr("column caption");
        if (cols.ok()) it->columns.push_back(std::move(c));
      }
      if (!cols.ok()) r.fail(cols.error());
      break;
    }
    case kTimerKind:
      r.skip(4, "timer block");
      it->interval = r.i32("timer interval");
      break;
    case kShapeBoxKind:
      it->shape = r.i32("shape box shape");
      it->lineColor = r.u32("shape box line colour");
      it->backColor = r.u32("shape box fill colour");
      it->borderStyle = r.i32("shape box border style");
      break;
    case kDrawPanelKind:
      it->borderStyle = r.i32("draw panel border style");
      it->backColor = r.u32("draw panel background colour");
      it->textColor = r.u32("draw panel pen colour");
      r.font(&it->font);
      break;
    case kDatePickerKind:
      r.font(&it->font);
      break;
    default:
      break;
  }
}

bool readItem(Reader& r, Item* it) {
  it->kind = r.u32("item kind");
  r.skip(20, "item lead");
  if (it->kind == kMenuItemKind) {
    it->name = r.cstr("menu item name");
    r.cstr("menu item remark");
    r.skip(4, "menu item");
    it->menuLevel = r.i32("menu item level");
    r.skip(4, "menu item");
    it->text = r.cstr("menu item caption");
    it->menuHandler = r.i32("menu item handler");
    r.skip(16, "menu item end");
    return r.ok();
  }
  it->name = r.cstr("item name");
  r.cstr("item remark");
  r.skip(4, "item");
  it->left = r.i32("item left");
  it->top = r.i32("item top");
  it->width = r.i32("item width");
  it->height = r.i32("item height");
  r.skip(4, "item");
  it->container = r.u32("item container");
  uint32_t m = r.count("contained count", 4);
  for (uint32_t i = 0; i < m && r.ok(); ++i) it->contained.push_back(r.u32("contained id"));
  uint32_t pointer = r.u32("mouse pointer length");
  r.skip(pointer, "mouse pointer data");
  r.cstr("item tag");
  r.skip(4, "state words");
  it->stateWord = r.i32("state words");
  r.skip(4, "state words");
  uint32_t e = r.count("event count", 8);
  for (uint32_t i = 0; i < e && r.ok(); ++i) {
    EventBinding b;
    b.event = r.i32("event number");
    b.handler = r.i32("event handler");
    it->events.push_back(b);
  }
  readProperties(r, it);
  return r.ok();
}

bool readWindow(Reader& r, uint32_t id, WindowTemplate* w, std::string* why) {
  const std::string where = "window 0x" + [&] {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08X", id);
    return std::string(buf);
  }();
  auto failWith = [&](const std::string& what) {
    if (why) *why = where + ": " + what;
    return false;
  };
  w->id = id;
  w->reserved1 = r.i32("window record");
  w->reserved2 = r.i32("window record");
  r.text("window record text");
  r.text("window record text");
  uint32_t count = r.u32("item count");
  uint32_t blobSize = r.u32("item blob size");
  if (!r.ok()) return failWith(r.error());
  if (!r.need(blobSize, "item blob")) return failWith(r.error());
  if (count == 0) return failWith("a window needs at least its own item");
  if (count > blobSize / 12)  // id, offset and a length at the least
    return failWith("item count " + std::to_string(count) + " cannot fit in a blob of " + std::to_string(blobSize) +
                    " bytes");
  const uint8_t* blob = r.here();
  r.skip(blobSize, "item blob");

  Reader head(blob, blobSize, where + " item table");
  std::vector<uint32_t> ids(count), offsets(count);
  for (uint32_t k = 0; k < count; ++k) ids[k] = head.u32("item id");
  for (uint32_t k = 0; k < count; ++k) offsets[k] = head.u32("item offset");
  if (!head.ok()) return failWith(head.error());
  const uint8_t* records = blob + head.pos();
  const size_t recordsSize = head.left();

  std::set<uint32_t> seen;
  w->items.clear();
  w->items.reserve(count);
  for (uint32_t k = 0; k < count; ++k) {
    if (!seen.insert(ids[k]).second) return failWith("item id " + std::to_string(ids[k]) + " appears twice");
    if (offsets[k] > recordsSize || recordsSize - offsets[k] < 4)
      return failWith("item " + std::to_string(k) + ": offset " + std::to_string(offsets[k]) +
                      " outside the item records");
    Reader lenReader(records + offsets[k], recordsSize - offsets[k], where);
    uint32_t len = lenReader.u32("item length");
    if (!lenReader.need(len, "item record")) return failWith(lenReader.error());
    Reader body(records + offsets[k] + 4, len, where + " item " + std::to_string(k));
    Item it;
    it.id = ids[k];
    if (!readItem(body, &it)) return failWith(body.error());
    if (k == 0 && it.kind != kWindowKind) return failWith("item 0 is not the window");
    if (k != 0 && it.kind == kWindowKind) return failWith("a second window item");
    w->items.push_back(std::move(it));
  }
  // Containment must name items of this window.
  for (const Item& it : w->items) {
    if (it.container != 0 && !seen.count(it.container))
      return failWith("item '" + it.name + "' sits in a container that is not in the window");
    for (uint32_t c : it.contained)
      if (!seen.count(c)) return failWith("item '" + it.name + "' holds an item that is not in the window");
  }
  return true;
}

}  // namespace

std::string serializeTemplates(const TemplateData& data) {
  Writer w;
  w.u32(uint32_t(8 * data.windows.size()));
  for (const WindowTemplate& win : data.windows) w.u32(win.id);
  for (size_t i = 0; i < data.windows.size(); ++i) w.u32(0);
  for (const WindowTemplate& win : data.windows) {
    w.i32(win.reserved1);
    w.i32(win.reserved2);
    w.text("");
    w.text("");
    Writer records;
    std::vector<uint32_t> offsets;
    for (const Item& it : win.items) {
      offsets.push_back(uint32_t(records.str().size()));
      records.text(itemBody(it));
    }
    Writer blob;
    for (const Item& it : win.items) blob.u32(it.id);
    for (uint32_t off : offsets) blob.u32(off);
    blob.bytes(records.str());
    w.u32(uint32_t(win.items.size()));
    w.text(blob.str());
  }
  return std::move(w.str());
}

bool parseTemplates(const uint8_t* data, size_t size, TemplateData* out, std::string* why) {
  out->windows.clear();
  if (data == nullptr && size != 0) {
    if (why) *why = "no data";
    return false;
  }
  static const uint8_t kEmpty = 0;
  Reader r(data ? data : &kEmpty, size, "template block");
  auto failed = [&](const std::string& what) {
    if (why) *why = what;
    out->windows.clear();
    return false;
  };
  uint32_t n = r.u32("window table size");
  if (!r.ok()) return failed(r.error());
  if (n % 8 != 0) return failed("window table size " + std::to_string(n) + " is not a multiple of 8");
  if (n > r.left()) return failed("window table of " + std::to_string(n) + " bytes runs past the end");
  const uint32_t windows = n / 8;
  std::vector<uint32_t> ids(windows);
  for (uint32_t i = 0; i < windows; ++i) ids[i] = r.u32("window id");
  r.skip(size_t(4) * windows, "window slots");
  if (!r.ok()) return failed(r.error());
  std::set<uint32_t> seen;
  for (uint32_t i = 0; i < windows; ++i) {
    if (!seen.insert(ids[i]).second) return failed("window id " + std::to_string(ids[i]) + " appears twice");
    WindowTemplate w;
    std::string whyWindow;
    if (!readWindow(r, ids[i], &w, &whyWindow)) return failed(whyWindow.empty() ? r.error() : whyWindow);
    out->windows.push_back(std::move(w));
  }
  if (r.left() != 0) return failed(std::to_string(r.left()) + " bytes after the last window record");
  return true;
}

}  // namespace forms
