#include "app/charges/pending.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <vector>

#include "app/hex_text.h"
#include "app/folder_id.h"
#include "app/telling.h"
#include "app/charges/charge_values.h"
#include "db/facade.h"
#include "runtime/gbk.h"

namespace app::pending {
namespace {

// One line of the parked-changes file: "stock" or "pack", the folder, then the fields,
// tab-separated; texts are GBK written as hex so that no byte of a name can
// break a line; the price as the bits of its float.
struct Change {
  enum Kind { kStock, kPack, kEntry, kAction } kind = kStock;
  std::string folder;    // the table folder's path when it was noted
  std::string folderId;  // and its id (centre.id), "" when it could not be read
  std::string name;      // stock: the drug's name; pack: the table
  std::string category;  // stock only
  float price = 0;
  int32_t delta = 0;
  journal::Movement why;  // stock and entry
  journal::Entry entry;   // entry only (its `why` is the one above)
  LineAction action;      // action only
};

const char* kindWord(Change::Kind k) {
  return k == Change::kStock ? "stock" : k == Change::kPack ? "pack" : k == Change::kEntry ? "entry" : "action";
}

std::string g_path;
std::vector<Change> g_changes;
bool g_applying = false;

std::string encode(const Change& c) {
  uint32_t bits = 0;
  std::memcpy(&bits, &c.price, sizeof bits);
  std::ostringstream line;
  // The folder: its path in hex, then ":" and its id when known.
  line << kindWord(c.kind) << '\t' << hex(c.folder) << (c.folderId.empty() ? "" : ":" + c.folderId);
  if (c.kind == Change::kAction) {
    const LineAction& a = c.action;
    uint32_t priceBits = 0;
    std::memcpy(&priceBits, &a.price, sizeof priceBits);
    line << '\t' << a.op << '\t' << (a.kind == LineAction::kCharge ? 'c' : 'd') << '\t' << hex(a.table) << '\t'
         << a.serial << '\t' << hex(a.name) << '\t' << hex(a.category) << '\t' << priceBits << '\t' << a.quantity
         << '\t' << hex(a.prescription) << '\t' << hex(a.cashier) << '\t' << (a.lineKnown ? 1 : 0) << '\t'
         << hex(a.why.reason) << '\t' << hex(a.why.reference) << '\t' << hex(a.why.user);
    return line.str();
  }
  if (c.kind == Change::kEntry) {
    const journal::Entry& e = c.entry;
    line << '\t' << hex(e.dm) << '\t' << hex(e.mch) << '\t' << hex(e.ph) << '\t' << e.change << '\t' << e.after;
  } else {
    line << '\t' << hex(c.name);
  }
  if (c.kind == Change::kStock) line << '\t' << hex(c.category) << '\t' << bits << '\t' << c.delta;
  if (c.kind != Change::kPack)
    line << '\t' << hex(c.why.reason) << '\t' << hex(c.why.reference) << '\t' << hex(c.why.user);
  // An entry's operation, when it has one (older lines end before it).
  if (c.kind == Change::kEntry && !c.entry.by.op.empty()) line << '\t' << c.entry.by.op;
  return line.str();
}

bool decode(const std::string& line, Change* c) {
  std::vector<std::string> f;
  std::istringstream in(line);
  for (std::string part; std::getline(in, part, '\t');) f.push_back(part);
  // Lines written before folders had ids name the path alone.
  if (f.size() > 1) {
    if (const size_t colon = f[1].find(':'); colon != std::string::npos) {
      c->folderId = f[1].substr(colon + 1);
      f[1].resize(colon);
      if (c->folderId.size() != 32) return false;
    }
  }
  if (f.size() == 3 && f[0] == "pack") {
    c->kind = Change::kPack;
    return unhex(f[1], &c->folder) && unhex(f[2], &c->name);
  }
  auto movement = [&](size_t at) {
    return unhex(f[at], &c->why.reason) && unhex(f[at + 1], &c->why.reference) && unhex(f[at + 2], &c->why.user);
  };
  try {
    if (f.size() == 16 && f[0] == "action") {
      c->kind = Change::kAction;
      LineAction& a = c->action;
      a.op = f[2];
      if (a.op.size() != 16 || (f[3] != "c" && f[3] != "d")) return false;
      a.kind = f[3] == "c" ? LineAction::kCharge : LineAction::kDeletion;
      const uint32_t bits = uint32_t(std::stoul(f[8]));
      std::memcpy(&a.price, &bits, sizeof bits);
      a.serial = int32_t(std::stol(f[5]));
      a.quantity = int32_t(std::stol(f[9]));
      a.lineKnown = f[12] == "1";
      return unhex(f[1], &c->folder) && unhex(f[4], &a.table) && unhex(f[6], &a.name) && unhex(f[7], &a.category) &&
             unhex(f[10], &a.prescription) && unhex(f[11], &a.cashier) && unhex(f[13], &a.why.reason) &&
             unhex(f[14], &a.why.reference) && unhex(f[15], &a.why.user);
    }
    if ((f.size() == 10 || f.size() == 11) && f[0] == "entry") {
      c->kind = Change::kEntry;
      journal::Entry& e = c->entry;
      if (f.size() == 11) {
        if (f[10].size() != 16) return false;
        e.by.op = f[10];
      }
      if (!unhex(f[1], &c->folder) || !unhex(f[2], &e.dm) || !unhex(f[3], &e.mch) || !unhex(f[4], &e.ph)) return false;
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

// A stock change noted alone becomes an action of its own whose line is
// known (none to look for): made once by its operation id like any other,
// whatever fails while it is made.
Change asAction(const Change& c) {
  if (c.kind != Change::kStock) return c;
  Change a = c;
  a.kind = Change::kAction;
  LineAction& l = a.action;
  l.kind = LineAction::kDeletion;  // the stock changes by +quantity
  l.op = journal::newOperationId();
  l.name = c.name;
  l.category = c.category;
  l.price = c.price;
  l.quantity = c.delta;
  l.why = c.why;
  l.lineKnown = true;
  return a;
}

// --- the folder a change belongs to -------------------------------------------

// A table folder is known by its id (app/folder_id.h); while a folder
// cannot be read its path alone names it.
struct Folder {
  std::string path, id;
};

Folder thisFolder() {
  std::error_code ec;
  Folder f{std::filesystem::current_path(ec).string(), ""};
  f.id = folderId(f.path);
  return f;
}

// A change noted with an id belongs to the folder with that id, wherever
// it is mounted; one noted without (its folder could not be read then) to
// the folder at its path.
bool belongsHere(const Change& c, const Folder& here) {
  if (!c.folderId.empty() && !here.id.empty()) return c.folderId == here.id;
  return c.folder == here.path;
}

// --- the file ------------------------------------------------------------------

// The parked-changes file is shared by every program of this account on this
// workstation: each reading, change and rewriting of it is made under an
// open-file-description lock on a file beside it (the file itself is
// replaced by each rewriting), so no program loses or doubles another's
// lines.
class FileLock {
 public:
  FileLock() {
    // Taken again inside a change being made (a stock change whose entry
    // waits here): the lock is this program's already, and what is in
    // memory is the file.
    if (g_path.empty() || depth() > 0) {
      held_ = true;
      nested_ = depth() > 0;
      ++depth();
      return;
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(g_path).parent_path(), ec);
    fd_ = ::open((g_path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    // Another program of this account applying its changes holds it for
    // moments: waited for up to ten seconds.
    for (int waited = 0; waited < 10000; waited += 20) {
      if (::fcntl(fd_, F_OFD_SETLK, &fl) == 0) {
        held_ = true;
        ++depth();
        return;
      }
      if (errno != EAGAIN && errno != EACCES && errno != EINTR) return;
      ::usleep(20000);
    }
  }
  ~FileLock() {
    if (held_) --depth();
    if (fd_ >= 0) ::close(fd_);  // releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return held_; }
  bool nested() const { return nested_; }

 private:
  static int& depth() {
    static int d = 0;
    return d;
  }
  int fd_ = -1;
  bool held_ = false;
  bool nested_ = false;
};

// Lines of the file that could not be read are moved to a file beside it
// (".damaged"), kept as they were, and the operator is told once.
void keepAside(const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  std::ofstream aside(g_path + ".damaged", std::ios::binary | std::ios::app);
  for (const std::string& l : lines) aside << l << '\n';
  aside.flush();
  const std::string text = GBK("本机待补记的库存变动中有 ") + std::to_string(lines.size()) + GBK(" 行无法读取，") +
                           (aside ? GBK("已另存于 ") + g_path + GBK(".damaged") : GBK("也未能另存")) +
                           GBK("，未补记。请通知管理员核对这些药品的库存。");
  tell(text.c_str());
}

// The whole journal written anew: a temporary file renamed over it, so a
// crash leaves the old file or the new one.
// Written through to the disk (the file, then its folder's entry), so that
// an action noted before its first shared write survives a power cut.
bool save() {
  if (g_path.empty()) return true;
  const std::string temp = g_path + ".new";
  std::string text;
  for (const Change& c : g_changes) text += encode(c) + '\n';
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t at = 0; ok && at < text.size();) {
    const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) at += size_t(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || std::rename(temp.c_str(), g_path.c_str()) != 0) return false;
  const std::string folder = std::filesystem::path(g_path).parent_path().string();
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

// The file read again (the lock held): what other programs of this
// account noted since is in g_changes afterwards. Damaged lines are kept
// aside and the file rewritten without them.
void load() {
  if (g_path.empty()) return;
  g_changes.clear();
  std::ifstream in(g_path, std::ios::binary);
  std::vector<std::string> damaged;
  bool converted = false;
  for (std::string line; std::getline(in, line);) {
    Change c;
    if (line.empty()) continue;
    if (!decode(line, &c)) {
      damaged.push_back(line);
      continue;
    }
    // A stock change noted alone by an earlier version gets its operation
    // id now, kept before it is first tried.
    converted = converted || c.kind == Change::kStock;
    g_changes.push_back(asAction(c));
  }
  in.close();
  if (!damaged.empty() && save())
    keepAside(damaged);
  else if (converted)
    save();
}

bool add(Change c) {
  const Folder here = thisFolder();
  c.folder = here.path;
  c.folderId = here.id;
  FileLock lock;
  if (!lock.held()) return false;
  if (!lock.nested()) load();
  g_changes.push_back(c);
  if (save()) return true;
  g_changes.pop_back();
  return false;
}

}  // namespace

void setFilePath(const std::string& path) {
  g_path = path;
  g_changes.clear();
  if (path.empty()) return;
  FileLock lock;
  load();
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
  return add(asAction(c));
}

bool addJournalEntry(const journal::Entry& e) {
  Change c;
  c.kind = Change::kEntry;
  c.entry = e;
  c.why = e.why;
  if (c.why.user.empty()) c.why.user = cashier();
  return add(c);
}

bool begin(const LineAction& a) {
  Change c;
  c.kind = Change::kAction;
  c.action = a;
  return add(c);
}

namespace {

// Changes the noted action `op` (the lock held, the file read); false when
// it is not noted or could not be written.
bool rewriteAction(const std::string& op, const std::function<void(std::vector<Change>&, size_t)>& change) {
  FileLock lock;
  if (!lock.held()) return false;
  if (!lock.nested()) load();
  for (size_t i = 0; i < g_changes.size(); ++i)
    if (g_changes[i].kind == Change::kAction && g_changes[i].action.op == op) {
      const std::vector<Change> before = g_changes;
      change(g_changes, i);
      if (save()) return true;
      g_changes = before;
      return false;
    }
  return false;
}

}  // namespace

bool noteSerial(const std::string& op, int32_t serial) {
  return rewriteAction(op, [serial](std::vector<Change>& all, size_t i) { all[i].action.serial = serial; });
}

void noteLineKnown(const std::string& op) {
  rewriteAction(op, [](std::vector<Change>& all, size_t i) { all[i].action.lineKnown = true; });
}

void finish(const std::string& op) {
  rewriteAction(op, [](std::vector<Change>& all, size_t i) { all.erase(all.begin() + long(i)); });
}

bool addPack(const std::string& table) {
  {
    FileLock lock;
    if (!lock.nested()) load();
    const Folder here = thisFolder();
    for (const Change& c : g_changes)
      if (c.kind == Change::kPack && c.name == table && belongsHere(c, here)) return true;
  }
  Change c;
  c.kind = Change::kPack;
  c.name = table;
  return add(c);
}

namespace {

// Changes made whose removal from the file could not be written: not made
// again in this run (their lines are compared), and the operator was told.
std::set<std::string>& madeButNoted() {
  static std::set<std::string> made;
  return made;
}

// Whether the file may hold changes (or what is in memory does), without
// taking the lock: cheap enough for the start of every handler.
bool mayWait() {
  if (g_path.empty()) return !g_changes.empty();
  std::error_code ec;
  return std::filesystem::file_size(g_path, ec) > 0 && !ec;
}

}  // namespace

int makeEach(const std::function<Making(const Parked&)>& make) {
  if (g_applying || !mayWait()) return g_applying ? waiting() : 0;
  g_applying = true;
  {
    // Held while the changes are made: another program of this account
    // makes none of them at the same time.
    FileLock lock;
    if (lock.held()) {
      load();
      const Folder here = thisFolder();
      for (size_t i = 0; i < g_changes.size();) {
        const Change c = g_changes[i];
        if (!belongsHere(c, here) || madeButNoted().count(encode(c))) {
          ++i;
          continue;
        }
        Parked parked;
        parked.kind = c.kind == Change::kAction ? Parked::Kind::kAction
                      : c.kind == Change::kPack ? Parked::Kind::kPack
                                                : Parked::Kind::kEntry;
        parked.name = c.name;
        parked.action = c.action;
        parked.entry = c.entry;
        parked.entry.why = c.why;
        const bool done = make(parked) == Making::kMade;
        if (!done) break;  // the folder is still away: the rest waits too, in order
        g_changes.erase(g_changes.begin() + long(i));
        if (c.kind == Change::kAction && !save()) {
          // Still noted: settling it again finds it made and makes nothing.
          g_changes.insert(g_changes.begin() + long(i), c);
          ++i;
        } else if (c.kind != Change::kAction && !save()) {
          // Made, but still noted on this disk: after a restart it would be
          // made again. This run makes it no more; the operator is told.
          madeButNoted().insert(encode(c));
          g_changes.insert(g_changes.begin() + long(i), c);
          ++i;
          const std::string text = GBK("已补记一笔库存变动（") + c.name +
                                   GBK("），但本机的待补记录未能更新。请勿重新启动程序，并通知管理员从 ") + g_path +
                                   GBK(" 中删去已补记的一行。");
          tell(text.c_str());
        }
      }
    }
  }
  g_applying = false;
  return waiting();
}

int waiting() {
  if (!mayWait()) return 0;
  if (!g_applying) {
    FileLock lock;
    if (lock.held()) load();
  }
  const Folder here = thisFolder();
  int n = 0;
  for (const Change& c : g_changes) n += belongsHere(c, here) && !madeButNoted().count(encode(c));
  return n;
}

void clearAll() {
  FileLock lock;
  g_changes.clear();
  madeButNoted().clear();
  save();
}

}  // namespace app::pending
