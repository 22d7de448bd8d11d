// formgen: turns the window descriptions (forms/windows/*.win) into the
// embedded template block and the identifier header.
//
//   formgen --dir <description dir> --cpp <out.cpp> --header <out.h>
//           <window file>...      (in loading-table order)
//
// The description format is documented in forms/windows/README. Any
// error names the file and line and ends with exit code 1, so the build
// stops.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "forms/model.h"
#include "forms/template.h"
#include "runtime/gbk.h"

namespace {

using forms::Item;

[[noreturn]] void die(const std::string& where, const std::string& what) {
  std::fprintf(stderr, "formgen: %s: %s\n", where.c_str(), what.c_str());
  std::exit(1);
}

std::string readFile(const std::string& path, const std::string& where) {
  std::ifstream in(path, std::ios::binary);
  if (!in) die(where, "cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// UTF-8 description text to GBK; a character GBK cannot hold is an error,
// not a silent '?'.
std::string gbk(const std::string& utf8, const std::string& where) {
  std::string out = rt::utf8ToGbk(utf8);
  size_t qIn = 0, qOut = 0;
  for (char c : utf8) qIn += c == '?';
  for (char c : out) qOut += c == '?';
  if (qIn != qOut) die(where, "text has characters outside GBK: \"" + utf8 + "\"");
  return out;
}

struct KindInfo {
  const char* keyword;
  uint32_t kind;
  int32_t version;
  int32_t state;  // middle state word
  bool hasFont;
  bool hasText;            // caption / content in the property block
  const char* firstEvent;  // name of the kind's event 0, null if none
  bool visible;            // takes the common (negative) events
};

const KindInfo kKinds[] = {
    {"EditBox", forms::kEditBoxKind, 2, 5, true, true, "changed", true},
    {"ShapeBox", forms::kShapeBoxKind, 1, 1, false, false, nullptr, true},
    {"DrawPanel", forms::kDrawPanelKind, 1, 1, true, false, nullptr, true},
    {"GroupBox", forms::kGroupBoxKind, 1, 1, false, false, nullptr, true},
    {"Label", forms::kLabelKind, 2, 1, true, true, nullptr, true},
    {"Button", forms::kButtonKind, 1, 5, true, true, "click", true},
    {"ComboBox", forms::kComboBoxKind, 3, 5, true, false, nullptr, true},
    {"DatePicker", forms::kDatePickerKind, 2, 5, true, false, nullptr, true},
    {"Timer", forms::kTimerKind, 1, 0, false, false, "tick", false},
    {"Printer", forms::kPrinterKind, 1, 0, false, false, nullptr, false},
    {"ListView", forms::kListViewKind, 1, 5, true, false, nullptr, true},
    {"TransLabel", forms::kTransLabelKind, 1, 1, true, true, nullptr, true},
};

const KindInfo* kindByKeyword(const std::string& k) {
  for (const KindInfo& info : kKinds)
    if (k == info.keyword) return &info;
  return nullptr;
}

// The common events every visible kind raises.
const std::map<std::string, int32_t> kCommonEvents = {
    {"leftdown", -1}, {"leftup", -2},    {"dblclick", -3}, {"rightdown", -4}, {"rightup", -5}, {"mousemove", -6},
    {"gotfocus", -7}, {"lostfocus", -8}, {"keydown", -9},  {"keyup", -10},    {"char", -11},   {"wheel", -12},
};

// Stored control names to C++ names: the kind word of the name, then its
// number (编辑框12 → Edit12). Longer words first, 透明标签 before 标签.
const std::pair<const char*, const char*> kNameWords[] = {
    {"超级列表框", "List"}, {"透明标签", "TransLabel"}, {"编辑框", "Edit"}, {"组合框", "Combo"},
    {"外形框", "Shape"},    {"分组框", "Group"},        {"日期框", "Date"}, {"打印机", "Printer"},
    {"按钮", "Button"},     {"标签", "Label"},          {"时钟", "Timer"},  {"画板", "Panel"},
};

std::string cppName(const std::string& utf8Name, const std::string& where) {
  for (const auto& [word, ascii] : kNameWords) {
    std::string w(word);
    if (utf8Name.compare(0, w.size(), w) == 0) {
      std::string rest = utf8Name.substr(w.size());
      if (rest.empty()) die(where, "control name '" + utf8Name + "' has no number");
      for (char c : rest)
        if (!std::isdigit(static_cast<unsigned char>(c)))
          die(where, "control name '" + utf8Name + "' does not end in a number");
      return std::string(ascii) + rest;
    }
  }
  die(where, "control name '" + utf8Name + "' does not start with a known control word");
}

bool isIdent(const std::string& s) {
  if (s.empty() || !std::isalpha(static_cast<unsigned char>(s[0]))) return false;
  for (char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  return true;
}

// ---- tokens -----------------------------------------------------------------

// A line splits at blanks outside double quotes. Inside quotes a
// backslash makes the next character (a quote or a backslash) plain; the
// quotes stay in the token so values can tell text from words.
std::vector<std::string> tokenize(const std::string& line, const std::string& where) {
  std::vector<std::string> out;
  std::string cur;
  bool inQuote = false, have = false;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (inQuote) {
      if (c == '\\' && i + 1 < line.size()) {
        cur += c;
        cur += line[++i];
        continue;
      }
      if (c == '"') inQuote = false;
      cur += c;
      continue;
    }
    if (c == ' ' || c == '\t') {
      if (have) out.push_back(cur);
      cur.clear();
      have = false;
      continue;
    }
    if (c == '"') inQuote = true;
    cur += c;
    have = true;
  }
  if (inQuote) die(where, "unterminated quote");
  if (have) out.push_back(cur);
  return out;
}

// Reads one quoted string at s[pos]; pos moves past it.
std::string quoted(const std::string& s, size_t& pos, const std::string& where) {
  if (pos >= s.size() || s[pos] != '"') die(where, "expected a quoted text in '" + s + "'");
  std::string out;
  for (++pos; pos < s.size(); ++pos) {
    if (s[pos] == '\\' && pos + 1 < s.size()) {
      out += s[++pos];
      continue;
    }
    if (s[pos] == '"') {
      ++pos;
      return out;
    }
    out += s[pos];
  }
  die(where, "unterminated quote in '" + s + "'");
}

std::string onlyQuoted(const std::string& v, const std::string& where) {
  size_t pos = 0;
  std::string s = quoted(v, pos, where);
  if (pos != v.size()) die(where, "unexpected text after \"" + s + "\"");
  return s;
}

long number(const std::string& v, const std::string& where) {
  if (v.empty()) die(where, "missing number");
  char* end = nullptr;
  long n = std::strtol(v.c_str(), &end, 0);
  if (*end != '\0') die(where, "not a number: '" + v + "'");
  return n;
}

std::vector<long> numbers(const std::string& v, size_t count, const std::string& where) {
  std::vector<long> out;
  std::stringstream ss(v);
  std::string part;
  while (std::getline(ss, part, ',')) out.push_back(number(part, where));
  if (out.size() != count)
    die(where, "expected " + std::to_string(count) + " comma-separated numbers, got '" + v + "'");
  return out;
}

// ---- windows ----------------------------------------------------------------

struct Handler {
  std::string name;
  std::string comment;
};

struct Window {
  std::string ident;  // C++ name of the window (drug, login, ...)
  std::string file;
  forms::WindowTemplate tpl;
  std::vector<std::string> names;     // UTF-8 control names, per item ("" for window/menu)
  std::vector<std::string> comments;  // per item: what the header says about it
  std::vector<Handler> handlers;      // in index order
  std::map<std::string, int32_t> handlerIndex;
};

forms::Font songti(int px) {
  forms::Font f;
  f.present = true;
  f.height = -px;
  f.weight = 400;
  f.charSet = 134;
  f.face = rt::utf8ToGbk("宋体");
  return f;
}

int32_t handlerFor(Window& w, const std::string& name, const std::string& comment, const std::string& where) {
  if (!isIdent(name)) die(where, "handler name '" + name + "' is not a plain identifier");
  auto it = w.handlerIndex.find(name);
  if (it != w.handlerIndex.end()) return it->second;
  int32_t index = int32_t(w.handlers.size());
  w.handlers.push_back({name, comment});
  w.handlerIndex[name] = index;
  return index;
}

struct Description {
  std::string dir;
  std::vector<Window> windows;
};

void parseWindowLine(Description& d, Window& w, const std::vector<std::string>& tok, const std::string& where) {
  if (tok.size() < 2 || !isIdent(tok[1])) die(where, "window line needs a plain name");
  w.ident = tok[1];
  Item it;
  it.kind = forms::kWindowKind;
  it.blockVersion = 6;
  it.stateWord = 1;
  bool haveItem = false, haveRect = false;
  std::string picture, icon;
  for (size_t i = 2; i < tok.size(); ++i) {
    size_t eq = tok[i].find('=');
    if (eq == std::string::npos) die(where, "expected key=value, got '" + tok[i] + "'");
    std::string key = tok[i].substr(0, eq), v = tok[i].substr(eq + 1);
    if (key == "item") {
      it.id = uint32_t(number(v, where));
      haveItem = true;
    } else if (key == "title") {
      it.text = gbk(onlyQuoted(v, where), where);
    } else if (key == "rect") {
      auto r = numbers(v, 4, where);
      it.left = int32_t(r[0]), it.top = int32_t(r[1]), it.width = int32_t(r[2]), it.height = int32_t(r[3]);
      haveRect = true;
    } else if (key == "picture") {
      it.picture = readFile(d.dir + "/" + v, where);
    } else if (key == "icon") {
      if (v != "none") it.icon = readFile(d.dir + "/" + v, where);
    } else if (key == "on.created") {
      it.events.push_back({forms::kEvFirst, handlerFor(w, v, "window created", where)});
    } else {
      die(where, "unknown window key '" + key + "'");
    }
  }
  if (!haveItem || !haveRect) die(where, "window line needs item= and rect=");
  if ((it.id & 0xFF00FFFFu) != 0x06000000u || (it.id & 0x00FF0000u) == 0)
    die(where, "window item must be 0x06nn0000 with nn not 0");
  w.tpl.items.push_back(it);
  w.names.push_back("");
  w.comments.push_back("the window's own item");
}

struct PendingContainer {
  size_t item;
  std::string container;
  std::string where;
};

void parseControlLine(Window& w, const KindInfo& info, const std::vector<std::string>& tok, const std::string& where,
                      std::vector<PendingContainer>& pending) {
  if (tok.size() < 3) die(where, "a control line needs a name and left,top,width,height");
  Item it;
  it.kind = info.kind;
  it.blockVersion = info.version;
  it.stateWord = info.state;
  const std::string& name = tok[1];
  cppName(name, where);  // checks the name's form
  for (const std::string& n : w.names)
    if (n == name) die(where, "control name '" + name + "' used twice in window " + w.ident);
  it.name = gbk(name, where);
  auto r = numbers(tok[2], 4, where);
  it.left = int32_t(r[0]), it.top = int32_t(r[1]), it.width = int32_t(r[2]), it.height = int32_t(r[3]);
  if (info.hasFont) it.font = songti(19);
  if (info.kind == forms::kDrawPanelKind) it.backColor = 0xFFFFFF;
  if (info.kind == forms::kLabelKind) it.borderStyle = 0;
  std::string comment = name;
  auto needKind = [&](bool ok, const std::string& key) {
    if (!ok) die(where, std::string("'") + key + "' does not apply to a " + info.keyword);
  };
  for (size_t i = 3; i < tok.size(); ++i) {
    size_t eq = tok[i].find('=');
    if (eq == std::string::npos) die(where, "expected key=value, got '" + tok[i] + "'");
    std::string key = tok[i].substr(0, eq), v = tok[i].substr(eq + 1);
    if (key == "in") {
      pending.push_back({w.tpl.items.size(), v, where});
    } else if (key == "text") {
      needKind(info.hasText, key);
      it.text = gbk(onlyQuoted(v, where), where);
    } else if (key == "font") {
      needKind(info.hasFont, key);
      if (v == "default")
        it.font = forms::Font{};
      else
        it.font = songti(int(number(v, where)));
    } else if (key == "mode") {
      needKind(info.kind == forms::kEditBoxKind, key);
      static const std::map<std::string, int32_t> modes = {{"normal", forms::kInputNormal},
                                                           {"readonly", forms::kInputReadOnly},
                                                           {"password", forms::kInputPassword},
                                                           {"integer", forms::kInputInteger},
                                                           {"datetime", forms::kInputDateTime}};
      auto m = modes.find(v);
      if (m == modes.end()) die(where, "unknown input mode '" + v + "'");
      it.inputMode = m->second;
    } else if (key == "type") {
      needKind(info.kind == forms::kComboBoxKind || info.kind == forms::kButtonKind, key);
      long t = number(v, where);
      if (info.kind == forms::kComboBoxKind) {
        if (t < 0 || t > 2) die(where, "combo box type must be 0, 1 or 2");
        it.comboType = int32_t(t);
      } else {
        if (t < 0 || t > 1) die(where, "button type must be 0 or 1");
        it.buttonType = int32_t(t);
      }
    } else if (key == "items") {
      needKind(info.kind == forms::kComboBoxKind, key);
      size_t pos = 0;
      while (pos < v.size()) {
        it.comboItems.push_back(gbk(quoted(v, pos, where), where));
        if (pos < v.size()) {
          if (v[pos] != ',') die(where, "combo items are separated by commas");
          ++pos;
        }
      }
    } else if (key == "cols") {
      needKind(info.kind == forms::kListViewKind, key);
      size_t pos = 0;
      while (pos < v.size()) {
        forms::ListColumn c;
        char a = v[pos++];
        if (a == 'L')
          c.alignment = 0;
        else if (a == 'C')
          c.alignment = 1;
        else if (a == 'R')
          c.alignment = 2;
        else
          die(where, "a column starts with L, C or R");
        size_t q = v.find('"', pos);
        if (q == std::string::npos) die(where, "a column needs a quoted caption");
        c.width = int32_t(number(v.substr(pos, q - pos), where));
        pos = q;
        c.caption = gbk(quoted(v, pos, where), where);
        it.columns.push_back(c);
        if (pos < v.size()) {
          if (v[pos] != ',') die(where, "columns are separated by commas");
          ++pos;
        }
      }
    } else if (key == "interval") {
      needKind(info.kind == forms::kTimerKind, key);
      it.interval = int32_t(number(v, where));
      if (it.interval <= 0) die(where, "a timer interval must be positive");
    } else if (key == "shape") {
      needKind(info.kind == forms::kShapeBoxKind, key);
      it.shape = int32_t(number(v, where));
    } else if (key.rfind("on.", 0) == 0) {
      std::string ev = key.substr(3);
      int32_t number;
      if (info.firstEvent && ev == info.firstEvent) {
        number = forms::kEvFirst;
      } else if (kCommonEvents.count(ev) && info.visible) {
        number = kCommonEvents.at(ev);
      } else {
        die(where, std::string("a ") + info.keyword + " has no event '" + ev + "'");
      }
      for (const auto& b : it.events)
        if (b.event == number) die(where, "event '" + ev + "' bound twice");
      it.events.push_back({number, handlerFor(w, v, name + " " + ev, where)});
    } else {
      die(where, "unknown key '" + key + "'");
    }
  }
  w.tpl.items.push_back(it);
  w.names.push_back(name);
  w.comments.push_back(comment);
}

void parseMenuLine(Window& w, const std::vector<std::string>& tok, const std::string& where) {
  if (tok.size() < 3) die(where, "a menu line needs a level and a caption");
  Item it;
  it.kind = forms::kMenuItemKind;
  long level = number(tok[1], where);
  if (level != 0 && level != 1) die(where, "menu level must be 0 or 1");
  bool anyMenu = false;
  for (const Item& x : w.tpl.items) anyMenu |= x.kind == forms::kMenuItemKind;
  if (level == 1 && !anyMenu) die(where, "a level-1 menu item needs a drop-down menu before it");
  it.menuLevel = int32_t(level);
  std::string caption = onlyQuoted(tok[2], where);
  it.text = gbk(caption, where);
  for (size_t i = 3; i < tok.size(); ++i) {
    if (tok[i].rfind("on.click=", 0) != 0) die(where, "a menu item takes only on.click=");
    it.menuHandler = handlerFor(w, tok[i].substr(9), "menu \"" + caption + "\"", where);
  }
  w.tpl.items.push_back(it);
  w.names.push_back("");
  w.comments.push_back("menu \"" + caption + "\"");
}

Window parseWindowFile(Description& d, const std::string& file) {
  Window w;
  w.file = file;
  std::ifstream in(d.dir + "/" + file, std::ios::binary);
  if (!in) die(file, "cannot open");
  std::string line;
  int lineNo = 0;
  std::vector<PendingContainer> pending;
  bool menusStarted = false;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string where = file + ":" + std::to_string(lineNo);
    std::vector<std::string> tok = tokenize(line, where);
    if (tok.empty() || tok[0][0] == '#') continue;
    if (tok[0] == "window") {
      if (!w.tpl.items.empty()) die(where, "a second window line");
      parseWindowLine(d, w, tok, where);
      continue;
    }
    if (w.tpl.items.empty()) die(where, "the window line must come first");
    if (tok[0] == "menu") {
      parseMenuLine(w, tok, where);
      menusStarted = true;
      continue;
    }
    const KindInfo* info = kindByKeyword(tok[0]);
    if (!info) die(where, "unknown control kind '" + tok[0] + "'");
    if (menusStarted) die(where, "controls come before the menu items");
    parseControlLine(w, *info, tok, where, pending);
  }
  if (w.tpl.items.empty()) die(file, "no window line");

  // Nesting: containers are shape or group boxes of this window; their
  // lists follow the template order of what they hold.
  for (const PendingContainer& p : pending) {
    size_t c = 0;
    for (; c < w.names.size(); ++c)
      if (w.names[c] == p.container) break;
    if (c == w.names.size()) die(p.where, "container '" + p.container + "' is not a control of this window");
    Item& box = w.tpl.items[c];
    if (box.kind != forms::kShapeBoxKind && box.kind != forms::kGroupBoxKind)
      die(p.where, "container '" + p.container + "' is neither a shape box nor a group box");
    if (c == p.item) die(p.where, "a control cannot contain itself");
    w.tpl.items[p.item].container = uint32_t(c);  // index for now, id below
  }
  // Ids: the window's own item carries 0x06nn0000; controls and menu
  // items carry the same nn with their position in the template.
  const uint32_t nn = w.tpl.items[0].id & 0x00FF0000u;
  for (size_t k = 1; k < w.tpl.items.size(); ++k) {
    if (k > 0xFFFF) die(file, "too many items");
    Item& it = w.tpl.items[k];
    it.id = (it.kind == forms::kMenuItemKind ? 0x26000000u : 0x16000000u) | nn | uint32_t(k);
  }
  // Containers from indices to ids; the boxes' lists in template order;
  // no cycles (a box inside itself, directly or not).
  std::vector<size_t> parent(w.tpl.items.size(), 0);
  for (const PendingContainer& p : pending) parent[p.item] = w.tpl.items[p.item].container;
  for (const PendingContainer& p : pending) {
    size_t at = p.item;
    for (size_t steps = 0; parent[at] != 0; ++steps) {
      if (steps > w.tpl.items.size()) die(p.where, "containers form a loop");
      at = parent[at];
    }
  }
  for (size_t k = 1; k < w.tpl.items.size(); ++k) {
    if (parent[k] == 0) continue;
    w.tpl.items[k].container = w.tpl.items[parent[k]].id;
    w.tpl.items[parent[k]].contained.push_back(w.tpl.items[k].id);
  }
  return w;
}

// ---- output -----------------------------------------------------------------

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

std::string capitalized(const std::string& s) {
  std::string out = s;
  out[0] = char(std::toupper(static_cast<unsigned char>(out[0])));
  return out;
}

std::string header(const Description& d) {
  std::ostringstream h;
  h << "// Generated by formgen from forms/windows/*.win; edit those, not this.\n"
       "// Window ids, per window the ids of its items and the indices of its\n"
       "// handler table (the handler offsets stored in the template block).\n"
       "#pragma once\n\n#include <cstdint>\n\nnamespace forms::ids {\n\n";
  for (const Window& w : d.windows)
    h << "constexpr uint32_t k" << capitalized(w.ident) << "Window = " << hex(w.tpl.id) << ";\n";
  h << "constexpr int kWindowCount = " << d.windows.size() << ";\n";
  for (const Window& w : d.windows) {
    h << "\n// " << w.file << "\nnamespace " << w.ident << " {\n";
    h << "constexpr uint32_t kWindow = " << hex(w.tpl.id) << ";\n";
    int menu = 0;
    for (size_t k = 0; k < w.tpl.items.size(); ++k) {
      const Item& it = w.tpl.items[k];
      std::string name;
      if (k == 0)
        name = "kSelf";
      else if (it.kind == forms::kMenuItemKind)
        name = "kMenu" + std::to_string(++menu);
      else
        name = "k" + cppName(w.names[k], w.file);
      h << "constexpr uint32_t " << name << " = " << hex(it.id) << ";  // " << w.comments[k] << "\n";
    }
    h << "enum Handler : int32_t {\n";
    for (size_t i = 0; i < w.handlers.size(); ++i)
      h << "  k" << capitalized(w.handlers[i].name) << " = " << i << ",  // " << w.handlers[i].comment << "\n";
    h << "  kHandlerCount = " << w.handlers.size() << "\n};\n}  // namespace " << w.ident << "\n";
  }
  h << "\n}  // namespace forms::ids\n";
  return h.str();
}

std::string blockSource(const std::string& block) {
  std::ostringstream s;
  s << "// Generated by formgen from forms/windows/*.win; edit those, not this.\n"
       "#include \"forms/template_block.h\"\n\n"
       "alignas(4) const unsigned char kTemplateBlock[] = {\n";
  for (size_t i = 0; i < block.size(); ++i) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%u,", unsigned(static_cast<unsigned char>(block[i])));
    s << buf;
    if (i % 24 == 23) s << "\n";
  }
  s << "\n};\nconst size_t kTemplateBlockSize = " << block.size() << ";\n";
  return s.str();
}

void writeIfChanged(const std::string& path, const std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (in) {
    std::ostringstream old;
    old << in.rdbuf();
    if (old.str() == content) return;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) die(path, "cannot write");
}

}  // namespace

int main(int argc, char** argv) {
  Description d;
  std::string outCpp, outHeader;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if ((a == "--dir" || a == "--cpp" || a == "--header") && i + 1 < argc) {
      std::string v = argv[++i];
      (a == "--dir" ? d.dir : a == "--cpp" ? outCpp : outHeader) = v;
    } else if (a.rfind("--", 0) == 0) {
      die("formgen", "unknown option " + a);
    } else {
      files.push_back(a);
    }
  }
  if (d.dir.empty() || outCpp.empty() || outHeader.empty() || files.empty())
    die("formgen", "usage: formgen --dir D --cpp OUT.cpp --header OUT.h FILE...");

  std::set<std::string> idents;
  std::set<uint32_t> itemBytes;
  forms::TemplateData data;
  for (size_t i = 0; i < files.size(); ++i) {
    Window w = parseWindowFile(d, files[i]);
    if (!idents.insert(w.ident).second) die(files[i], "window name '" + w.ident + "' used twice");
    if (!itemBytes.insert(w.tpl.items[0].id).second)
      die(files[i], "window item " + hex(w.tpl.items[0].id) + " used by another window");
    w.tpl.id = forms::kWindowIdBase + uint32_t(i);
    data.windows.push_back(w.tpl);
    d.windows.push_back(std::move(w));
  }
  const std::string block = forms::serializeTemplates(data);
  // The block must read back as exactly what was described.
  forms::TemplateData back;
  std::string why;
  if (!forms::parseTemplates(reinterpret_cast<const uint8_t*>(block.data()), block.size(), &back, &why))
    die("formgen", "the written block does not read back: " + why);
  if (!(back == data)) die("formgen", "the written block reads back differently");
  writeIfChanged(outCpp, blockSource(block));
  writeIfChanged(outHeader, header(d));
  return 0;
}
