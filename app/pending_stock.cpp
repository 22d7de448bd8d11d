#include "app/pending_stock.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "app/charging.h"
#include "app/module.h"
#include "app/program_values.h"
#include "db/facade.h"
#include "runtime/gbk.h"

namespace app::pending {
namespace {

// One line of the journal: "stock" or "pack", the folder, then the fields,
// tab-separated; texts are GBK written as hex so that no byte of a name can
// break a line; the price as the bits of its float.
struct Change {
  enum Kind { kStock, kPack, kEntry } kind = kStock;
  std::string folder;
  std::string name;      // stock: the drug's name; pack: the table
  std::string category;  // stock only
  float price = 0;
  int32_t delta = 0;
  journal::Movement why;  // stock and entry
  journal::Entry entry;   // entry only (its `why` is the one above)
};

const char* kindWord(Change::Kind k) {
  return k == Change::kStock ? "stock" : k == Change::kPack ? "pack" : "entry";
}

std::string g_path;
std::vector<Change> g_changes;
bool g_applying = false;

std::string hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

bool unhex(const std::string& text, std::string* out) {
  if (text.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < text.size(); i += 2) {
    auto nibble = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
    const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    *out += char(hi * 16 + lo);
  }
  return true;
}

std::string encode(const Change& c) {
  uint32_t bits = 0;
  std::memcpy(&bits, &c.price, sizeof bits);
  std::ostringstream line;
  line << kindWord(c.kind) << '\t' << hex(c.folder);
  if (c.kind == Change::kEntry) {
    const journal::Entry& e = c.entry;
    line << '\t' << hex(e.dm) << '\t' << hex(e.mch) << '\t' << hex(e.ph) << '\t' << e.change << '\t' << e.after;
  } else {
    line << '\t' << hex(c.name);
  }
  if (c.kind == Change::kStock) line << '\t' << hex(c.category) << '\t' << bits << '\t' << c.delta;
  if (c.kind != Change::kPack)
    line << '\t' << hex(c.why.reason) << '\t' << hex(c.why.reference) << '\t' << hex(c.why.user);
  return line.str();
}

bool decode(const std::string& line, Change* c) {
  std::vector<std::string> f;
  std::istringstream in(line);
  for (std::string part; std::getline(in, part, '\t');) f.push_back(part);
  if (f.size() == 3 && f[0] == "pack") {
    c->kind = Change::kPack;
    return unhex(f[1], &c->folder) && unhex(f[2], &c->name);
  }
  auto movement = [&](size_t at) {
    return unhex(f[at], &c->why.reason) && unhex(f[at + 1], &c->why.reference) && unhex(f[at + 2], &c->why.user);
  };
  try {
    if (f.size() == 10 && f[0] == "entry") {
      c->kind = Change::kEntry;
      journal::Entry& e = c->entry;
      if (!unhex(f[1], &c->folder) || !unhex(f[2], &e.dm) || !unhex(f[3], &e.mch) || !unhex(f[4], &e.ph))
        return false;
      e.change = int32_t(std::stol(f[5]));
      e.after = int32_t(std::stol(f[6]));
      return movement(7);
    }
    // A line written before stock changes carried their journal entry has
    // six fields: its entry is made without a reason.
    if ((f.size() != 6 && f.size() != 9) || f[0] != "stock") return false;
    c->kind = Change::kStock;
    if (!unhex(f[1], &c->folder) || !unhex(f[2], &c->name) || !unhex(f[3], &c->category)) return false;
    const uint32_t bits = uint32_t(std::stoul(f[4]));
    std::memcpy(&c->price, &bits, sizeof bits);
    c->delta = int32_t(std::stol(f[5]));
    return f.size() == 6 || movement(6);
  } catch (...) {
    return false;
  }
}

// The whole journal written anew: a temporary file renamed over it, so a
// crash leaves the old journal or the new one.
bool save() {
  if (g_path.empty()) return true;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(g_path).parent_path(), ec);
  const std::string temp = g_path + ".new";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    for (const Change& c : g_changes) out << encode(c) << '\n';
    out.flush();
    if (!out) return false;
  }
  return std::rename(temp.c_str(), g_path.c_str()) == 0;
}

std::string thisFolder() {
  std::error_code ec;
  return std::filesystem::current_path(ec).string();
}

bool add(Change c) {
  c.folder = thisFolder();
  g_changes.push_back(c);
  if (save()) return true;
  g_changes.pop_back();
  return false;
}

}  // namespace

void setJournalPath(const std::string& path) {
  g_path = path;
  g_changes.clear();
  if (path.empty()) return;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    Change c;
    if (!line.empty() && decode(line, &c)) g_changes.push_back(c);
  }
}

bool addStockChange(const std::string& name, const std::string& category, float price, int32_t delta,
                    const journal::Movement& why) {
  Change c;
  c.kind = Change::kStock;
  c.name = name;
  c.category = category;
  c.price = price;
  c.delta = delta;
  c.why = why;
  // The user of the login now: the entry is made for him, whoever is
  // logged in when it is made.
  if (c.why.user.empty()) c.why.user = cashier();
  return add(c);
}

bool addJournalEntry(const journal::Entry& e) {
  Change c;
  c.kind = Change::kEntry;
  c.entry = e;
  c.why = e.why;
  if (c.why.user.empty()) c.why.user = cashier();
  return add(c);
}

bool addPack(const std::string& table) {
  for (const Change& c : g_changes)
    if (c.kind == Change::kPack && c.name == table && c.folder == thisFolder()) return true;
  Change c;
  c.kind = Change::kPack;
  c.name = table;
  return add(c);
}

int applyAll() {
  if (g_changes.empty() || g_applying) return waiting();
  g_applying = true;
  const std::string folder = thisFolder();
  for (size_t i = 0; i < g_changes.size();) {
    const Change c = g_changes[i];
    if (c.folder != folder) {
      ++i;
      continue;
    }
    bool done = false;
    if (c.kind == Change::kPack) {
      // Only a table of charge lines is packed: the name came from one.
      done = openChargeTable(c.name) == 0 && cmd::PackDatabase();
    } else if (c.kind == Change::kEntry) {
      journal::Entry e = c.entry;
      e.why = c.why;
      done = journal::prepare() == 0 && journal::append(e) == 0;
    } else {
      const int rc = changeStock(c.name, c.category, c.price, c.delta, c.why);
      done = rc == 0 || rc == kNoCatalogueMatch;
      if (rc == kNoCatalogueMatch) {
        const std::string text = GBK("补记库存时，药品目录中已没有“") + c.name + GBK("”，库存未变动。");
        tell(text.c_str());
      }
    }
    if (!done) break;  // the folder is still away: the rest waits too, in order
    g_changes.erase(g_changes.begin() + long(i));
    save();
  }
  g_applying = false;
  return waiting();
}

int waiting() {
  const std::string folder = thisFolder();
  int n = 0;
  for (const Change& c : g_changes) n += c.folder == folder;
  return n;
}

void clearAll() {
  g_changes.clear();
  save();
}

}  // namespace app::pending
