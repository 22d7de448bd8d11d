#include "app/trail.h"

#include <QPushButton>
#include <QWidget>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/hex_text.h"
#include "app/listed_records.h"
#include "app/module_window.h"
#include "app/table_use.h"
#include "app/telling.h"
#include "app/shell.h"
#include "app/charges/stock_journal.h"
#include "app/tables.h"
#include "db/each.h"
#include "db/errors.h"
#include "db/facade.h"
#include "db/format.h"
#include "db/table.h"
#include "forms/window_ids.h"
#include "forms/live_windows.h"
#include "runtime/builtins.h"
#include "runtime/dialogs.h"
#include "runtime/gbk.h"

namespace app::trail {
namespace {

const std::string kTrailTable = kTrailName;
// The before and after fields hold this many bytes.
constexpr size_t kValuesBytes = 500;

}  // namespace

const std::string& lineDeleted() {
  static const std::string s = GBK("删除明细");
  return s;
}
const std::string& recordChanged() {
  static const std::string s = GBK("更正记录");
  return s;
}
const std::string& recordAdded() {
  static const std::string s = GBK("新增记录");
  return s;
}
const std::string& recordMarked() {
  static const std::string s = GBK("标记删除");
  return s;
}
const std::string& recordUnmarked() {
  static const std::string s = GBK("恢复记录");
  return s;
}
const std::string& tablePurged() {
  static const std::string s = GBK("清除删除");
  return s;
}
const std::string& tableEmptied() {
  static const std::string s = GBK("清空数据");
  return s;
}
const std::string& catalogueAdded() {
  static const std::string s = GBK("目录新增");
  return s;
}
const std::string& catalogueChanged() {
  static const std::string s = GBK("目录修改");
  return s;
}
const std::string& catalogueDeleted() {
  static const std::string s = GBK("目录删除");
  return s;
}
const std::string& loggedIn() {
  static const std::string s = GBK("登录");
  return s;
}
const std::string& loginFailed() {
  static const std::string s = GBK("登录失败");
  return s;
}

// --- values as text --------------------------------------------------------------

namespace {

// The shortest decimal that reads back as `v` at the given precision.
std::string shortest(double v, bool single) {
  char buf[48];
  for (int digits = single ? 6 : 15; digits <= 17; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    const double back = std::strtod(buf, nullptr);
    if (single ? float(back) == float(v) : back == v) break;
  }
  return buf;
}

// A GBK text cut to at most `bytes`, never inside a two-byte character.
std::string cut(const std::string& s, size_t bytes) {
  if (s.size() <= bytes) return s;
  size_t end = 0;
  for (size_t i = 0; i < s.size();) {
    const size_t n = rt::isGbkLead(static_cast<unsigned char>(s[i])) && i + 1 < s.size() ? 2 : 1;
    if (i + n > bytes) break;
    i += n;
    end = i;
  }
  return s.substr(0, end);
}

}  // namespace

std::string valueText(int32_t fieldKind, const rt::Arg& v) {
  if (v.kind == rt::kText) return rt::textValue(v) ? rt::textValue(v) : "";
  if (v.kind == rt::kBytes) return GBK("[字节集]");
  double d = 0;
  if (!rt::numericValue(v, &d)) return rt::valueToText(v);
  switch (fieldKind) {
    case db::kFByte:
    case db::kFShort:
    case db::kFInt:
    case db::kFLong:
      return std::to_string(int64_t(std::trunc(d)));
    case db::kFFloat:
      return shortest(float(d), true);
    case db::kFDouble:
      return shortest(d, false);
    case db::kFBool:
      return d != 0 ? "1" : "0";
    case db::kFDateTime:
      return cmd::ToText(rt::DateTime{d});
    default:
      return rt::valueToText(v);
  }
}

std::string joined(const std::vector<FieldValue>& values) {
  std::string out;
  for (const FieldValue& f : values) {
    if (!out.empty()) out += "; ";
    out += f.field + "=" + f.text;
  }
  return out;
}

namespace {

int32_t fieldKindOf(const char* gbkField) {
  const db::Table* t = db::currentTable();
  if (!t) return 0;
  const int i = t->fieldIndex(gbkField);
  return i < 0 ? 0 : t->fields()[size_t(i)].kind;
}

}  // namespace

std::vector<FieldValue> recordValues(const ReadRecord& r) {
  std::vector<FieldValue> out;
  const db::Table* t = db::currentTable();
  if (!t) return out;
  for (const db::Field& f : t->fields()) out.push_back({f.name, valueText(f.kind, r.value(f.name.c_str()))});
  return out;
}

int recordValuesAt(db::Table& t, int32_t pos, std::vector<FieldValue>* out) {
  out->clear();
  std::vector<uint8_t> rec(size_t(t.recordSize()));
  int rc = t.lockRecord(pos);
  if (rc != db::kOk) return rc;
  rc = t.readRecord(pos, rec.data());
  for (size_t i = 0; rc == db::kOk && i < t.fields().size(); ++i) {
    const db::Field& f = t.fields()[i];
    rt::Arg v;
    rc = t.loadValue(f, rec.data(), &v);
    rt::Result owned(v);
    if (rc == db::kOk) out->push_back({f.name, valueText(f.kind, owned.arg())});
  }
  // Released after the values are taken; a release that fails leaves the
  // lock to the handle's close, and the values read stand.
  static_cast<void>(t.unlockRecord(pos));
  if (rc != db::kOk) out->clear();
  return rc;
}

// --- notes on this workstation ------------------------------------------------------

namespace {

struct Note {
  std::string op;
  std::string folder;  // the table folder's path when it was noted
  Landing how = Landing::kNone;
  bool landed = false;  // its action is known to have landed
  double when = 0;
  std::string user, workstation;
  Entry e;
  std::vector<FieldValue> holds;
};

std::string g_path;
std::vector<Note> g_notes;

// One note a line: tab-separated, texts in hex so that no byte of a value
// can break a line, the time as the bits of its double.
std::string encode(const Note& n) {
  std::ostringstream line;
  uint64_t when = 0;
  static_assert(sizeof when == sizeof n.when);
  std::memcpy(&when, &n.when, sizeof when);
  std::string holds;
  for (const FieldValue& f : n.holds) holds += (holds.empty() ? "" : ",") + hex(f.field) + ":" + hex(f.text);
  line << n.op << '\t' << hex(n.folder) << '\t' << int(n.how) << '\t' << (n.landed ? 1 : 0) << '\t' << when << '\t'
       << hex(n.user) << '\t' << hex(n.workstation) << '\t' << hex(n.e.kind) << '\t' << hex(n.e.table) << '\t'
       << n.e.serial << '\t' << hex(n.e.before) << '\t' << hex(n.e.after) << '\t' << (holds.empty() ? "-" : holds);
  return line.str();
}

bool decode(const std::string& line, Note* n) {
  std::vector<std::string> f;
  std::istringstream in(line);
  for (std::string part; std::getline(in, part, '\t');) f.push_back(part);
  if (f.size() != 13 || f[0].size() != 16) return false;
  try {
    n->op = f[0];
    const int how = std::stoi(f[2]);
    if (how < 0 || how > int(Landing::kHolds)) return false;
    n->how = Landing(how);
    n->landed = f[3] == "1";
    const uint64_t when = std::stoull(f[4]);
    std::memcpy(&n->when, &when, sizeof when);
    n->e.serial = int32_t(std::stol(f[9]));
  } catch (...) {
    return false;
  }
  if (!unhex(f[1], &n->folder) || !unhex(f[5], &n->user) || !unhex(f[6], &n->workstation) || !unhex(f[7], &n->e.kind) ||
      !unhex(f[8], &n->e.table) || !unhex(f[10], &n->e.before) || !unhex(f[11], &n->e.after))
    return false;
  n->holds.clear();
  if (f[12] == "-") return true;
  std::istringstream pairs(f[12]);
  for (std::string pair; std::getline(pairs, pair, ',');) {
    const size_t colon = pair.find(':');
    FieldValue v;
    if (colon == std::string::npos || !unhex(pair.substr(0, colon), &v.field) ||
        !unhex(pair.substr(colon + 1), &v.text))
      return false;
    n->holds.push_back(v);
  }
  return true;
}

// The notes file is shared by every program of this account on this
// workstation: read, changed and written anew under a lock on a file
// beside it.
class FileLock {
 public:
  FileLock() {
    if (g_path.empty()) {
      held_ = true;
      return;
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(g_path).parent_path(), ec);
    fd_ = ::open((g_path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    for (int waited = 0; waited < 10000; waited += 20) {
      if (::fcntl(fd_, F_OFD_SETLK, &fl) == 0) {
        held_ = true;
        return;
      }
      if (errno != EAGAIN && errno != EACCES && errno != EINTR) return;
      ::usleep(20000);
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

// The notes read again (the lock held). A line that cannot be read is
// kept aside in a file beside it and the operator told.
void load() {
  if (g_path.empty()) return;
  g_notes.clear();
  std::ifstream in(g_path, std::ios::binary);
  std::vector<std::string> damaged;
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    Note n;
    if (decode(line, &n))
      g_notes.push_back(n);
    else
      damaged.push_back(line);
  }
  if (damaged.empty()) return;
  std::ofstream aside(g_path + ".damaged", std::ios::binary | std::ios::app);
  for (const std::string& l : damaged) aside << l << '\n';
  const std::string text = GBK("本机待补写的操作记录中有 ") + std::to_string(damaged.size()) +
                           GBK(" 行无法读取，已另存于 ") + g_path + GBK(".damaged，请通知管理员。");
  tell(text.c_str());
}

// Written anew through to the disk: a temporary file renamed over it.
bool save() {
  if (g_path.empty()) return true;
  const std::string temp = g_path + ".new";
  std::string text;
  for (const Note& n : g_notes) text += encode(n) + '\n';
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t at = 0; ok && at < text.size();) {
    const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) at += size_t(n);
  }
  ok = ::fsync(fd) == 0 && ok;
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

std::string thisFolder() {
  std::error_code ec;
  return std::filesystem::current_path(ec).string();
}

// Changes the notes under the lock, read afresh first; false when the
// change could not be written through (the notes are as they were).
bool change(const std::function<void(std::vector<Note>&)>& edit) {
  FileLock lock;
  if (!lock.held()) return false;
  load();
  const std::vector<Note> before = g_notes;
  edit(g_notes);
  if (save()) return true;
  g_notes = before;
  return false;
}

void forget(const std::string& op) {
  change([&op](std::vector<Note>& all) {
    for (size_t i = 0; i < all.size(); ++i)
      if (all[i].op == op) {
        all.erase(all.begin() + long(i));
        return;
      }
  });
}

bool noted(const std::string& op, Note* out) {
  FileLock lock;
  if (lock.held()) load();
  for (const Note& n : g_notes)
    if (n.op == op) {
      *out = n;
      return true;
    }
  return false;
}

// --- the trail table ----------------------------------------------------------------

// The trail current, made when the folder says there is none. 0 or the
// engine's code (-22 for a file of that name with other fields).
int prepareTrail() { return useTable(kTrailTable, {.def = &kTrail, .createWhenMissing = true}).failure(); }

// The trail as this program's last entry left it, and that entry's
// number. Entries are only ever appended (never changed in place), so a
// trail still in that state ends with that entry: its number is known
// without reading it (three round trips on a shared folder).
struct LastEntry {
  db::TableState after;
  int32_t number = 0;
};
LastEntry g_last;

// Appends the entry of `n` with the next number, taken from the last
// entry while the trail's count is held.
int append(const Note& n) {
  if (const int why = prepareTrail(); why != 0) return why;
  return db::holdHeader([&] {
    db::TableState now;
    if (const int rc = db::readTableState(&now); rc != 0) return rc;
    int32_t last = 0;
    if (now == g_last.after) {
      last = g_last.number;
    } else if (now.count > 0) {
      if (!cmd::MoveTo(now.count)) return db::lastErrorOr(db::kRecordReadFailed);
      rt::Result xh = cmd::ReadField("xh");
      double v = 0;
      if (db::lastError() != db::kOk) return db::lastError();
      if (!rt::numericValue(xh.arg(), &v)) return int(db::kFieldKindWrong);
      last = int32_t(v);
    }
    // Forgotten first: an append whose failure is reported may have landed.
    g_last = LastEntry{};
    const bool ok =
        cmd::AppendRecord(last + 1, rt::DateTime{n.when}, cut(n.user, 10), cut(n.workstation, 30), n.e.kind, n.e.table,
                          n.e.serial, cut(n.e.before, kValuesBytes), cut(n.e.after, kValuesBytes), n.op);
    if (!ok) return db::lastErrorOr(db::kRecordWriteFailed);
    // The count is still held: this reading is the file's state right after
    // the entry (a state not read leaves nothing remembered).
    if (db::readTableState(&g_last.after) == 0) g_last.number = last + 1;
    return 0;
  });
}

// Whether the trail holds the entry of operation `op`: 1, 0, or the
// engine's code when it could not be read whole.
int inTrail(const std::string& op) {
  if (!cmd::FileExists(kTrailTable + ".kdb")) return db::lastError();
  if (const int why = prepareTrail(); why != 0) return why;
  bool found = false;
  const int rc = db::forEachRecord([&] { found = found || db::fieldTextEquals("czh", op); });
  return rc != 0 ? rc : found ? 1 : 0;
}

// Whether the action of `n` landed, looked at in its table: 1, 0, or the
// engine's code when that cannot be told now.
int actionLanded(const Note& n) {
  if (n.landed || n.how == Landing::kNone) return 1;
  if (n.e.serial <= 0) return n.how == Landing::kGone ? int(db::kNoRecord) : 0;
  const std::string& table = n.e.table;
  if (!cmd::FileExists(table + ".kdb")) {
    if (db::lastError() != db::kOk) return db::lastError();
    return n.how == Landing::kGone ? 1 : 0;
  }
  if (const TableUse use = useTable(table, {.moveFirst = false}); !use.ok()) return use.code;
  if (const int rc = db::moveToRecord(n.e.serial, 0); rc != 0) return rc;
  ReadRecord r;
  const int rc = r.read();
  if (rc == db::kNoRecord) return n.how == Landing::kGone ? 1 : 0;
  if (rc != 0) return rc;
  if (n.how == Landing::kGone) return 0;
  if (n.how == Landing::kThere) return 1;
  for (const FieldValue& f : n.holds)
    if (valueText(fieldKindOf(f.field.c_str()), r.value(f.field.c_str())) != f.text) return 0;
  return 1;
}

enum class Outcome { kAppended, kDropped, kWaits };

// Settles one note: appended once when its action landed, dropped when it
// did not, left when either cannot be told now.
Outcome settleNote(const Note& n) {
  const int there = inTrail(n.op);
  if (there < 0) return Outcome::kWaits;
  if (there == 1) {
    forget(n.op);
    return Outcome::kAppended;
  }
  const int landed = actionLanded(n);
  if (landed < 0) return Outcome::kWaits;
  if (landed == 0) {
    forget(n.op);
    return Outcome::kDropped;
  }
  if (append(n) != 0) return Outcome::kWaits;
  forget(n.op);
  return Outcome::kAppended;
}

bool mayWait() {
  if (g_path.empty()) return !g_notes.empty();
  std::error_code ec;
  return std::filesystem::file_size(g_path, ec) > 0 && !ec;
}

}  // namespace

// --- noted actions -----------------------------------------------------------------

Noted::~Noted() {
  if (!active()) return;
  Note n;
  if (noted(op_, &n)) settleNote(n);
}

bool Noted::begin(const Entry& e, Landing how, std::vector<FieldValue> holds) {
  Note n;
  n.op = journal::newOperationId();
  n.folder = thisFolder();
  n.how = how;
  n.when = cmd::Now().days;
  n.user = e.user.empty() ? loggedInUser() : e.user;
  n.workstation = journal::workstation();
  n.e = e;
  n.holds = std::move(holds);
  if (!change([&n](std::vector<Note>& all) { all.push_back(n); })) return false;
  op_ = n.op;
  return true;
}

bool Noted::setSerial(int32_t serial) {
  return change([&](std::vector<Note>& all) {
    for (Note& n : all)
      if (n.op == op_) n.e.serial = serial;
  });
}

int Noted::landed(bool tellWhenKept) {
  Note n;
  const std::string op = op_;
  op_.clear();
  if (!noted(op, &n)) return 0;
  n.landed = true;
  const int rc = append(n);
  if (rc == 0) {
    forget(op);
    return 0;
  }
  // Kept: appended by settle() once the trail can be written, looked for by
  // its operation first (an append whose reply was lost may be there).
  change([&op](std::vector<Note>& all) {
    for (Note& x : all)
      if (x.op == op) x.landed = true;
  });
  if (tellWhenKept)
    tellFailure(GBK("操作已完成，但操作记录暂未能写入"), rc, GBK("本机已记下，共享文件夹恢复后将自动补写。"));
  return rc;
}

void Noted::dropped() {
  if (!active()) return;
  forget(op_);
  op_.clear();
}

void record(const Entry& e) {
  Noted n;
  // A note that cannot be written on this disk does not undo the login:
  // the entry is appended all the same, only not kept when that fails.
  if (n.begin(e, Landing::kNone)) {
    // Not appended now: it stays noted, to be appended by settle().
    static_cast<void>(n.landed(false));
    return;
  }
  Note direct;
  direct.op = journal::newOperationId();
  direct.when = cmd::Now().days;
  direct.user = e.user.empty() ? loggedInUser() : e.user;
  direct.workstation = journal::workstation();
  direct.e = e;
  static_cast<void>(append(direct));
}

int settle() {
  if (!mayWait()) return 0;
  const std::string here = thisFolder();
  std::vector<Note> notes;
  {
    FileLock lock;
    if (lock.held()) load();
    notes = g_notes;
  }
  for (const Note& n : notes) {
    if (n.folder != here) continue;
    if (settleNote(n) == Outcome::kWaits) break;  // the rest wait too, in order
  }
  return waiting();
}

int waiting() {
  if (!mayWait()) return 0;
  FileLock lock;
  if (lock.held()) load();
  const std::string here = thisFolder();
  int count = 0;
  for (const Note& n : g_notes) count += n.folder == here;
  return count;
}

void setNotesPath(const std::string& path) {
  g_path = path;
  g_notes.clear();
  if (path.empty()) return;
  FileLock lock;
  load();
}

void clearNotes() {
  FileLock lock;
  g_notes.clear();
  save();
}

// --- corrections in the record-edit dialog ---------------------------------------------

DialogTrail::DialogTrail(std::string table, std::string user)
    : table_(std::move(table)), user_(std::move(user)), scope_(this) {}

DialogTrail::~DialogTrail() {
  // An action whose end was not seen settles as the dialog closes; the
  // table corrected stays current.
  noted_.reset();
  // The dialog's table was current when it opened and stays open: made
  // current again by name, which cannot fail while it is open.
  static_cast<void>(cmd::SetCurrentDatabase(table_));
}

int DialogTrail::before(db::Table& t, const db::EditChange& change) {
  noted_ = std::make_unique<Noted>();
  Entry e;
  e.table = table_;
  e.user = user_;
  e.serial = change.serial;
  Landing how = Landing::kNone;
  std::vector<FieldValue> holds;
  // A secret field (the user list's passwords) is trailed as changed, its
  // values not written anywhere.
  auto shown = [&t](size_t i, const std::string& text) { return db::fieldIsSecret(t, i) ? std::string("***") : text; };
  switch (change.kind) {
    case db::EditChange::kModify: {
      e.kind = recordChanged();
      how = Landing::kHolds;
      std::vector<FieldValue> was;
      if (const int rc = recordValuesAt(t, change.position, &was); rc != 0) return rc;
      std::vector<FieldValue> from, to;
      for (size_t i = 0; i < change.values.size() && i < was.size(); ++i) {
        if (!change.values[i]) continue;
        const std::string now = valueText(t.fields()[i].kind, *change.values[i]);
        from.push_back({was[i].field, shown(i, was[i].text)});
        to.push_back({was[i].field, shown(i, now)});
        if (!db::fieldIsSecret(t, i)) holds.push_back({was[i].field, now});
      }
      e.before = joined(from);
      e.after = joined(to);
      break;
    }
    case db::EditChange::kAppend: {
      e.kind = recordAdded();
      how = Landing::kThere;
      std::vector<FieldValue> to;
      for (size_t i = 0; i < change.values.size() && i < t.fields().size(); ++i)
        if (change.values[i])
          to.push_back({t.fields()[i].name, shown(i, valueText(t.fields()[i].kind, *change.values[i]))});
      e.after = joined(to);
      break;
    }
    case db::EditChange::kMark:
    case db::EditChange::kUnmark: {
      const bool mark = change.kind == db::EditChange::kMark;
      e.kind = mark ? recordMarked() : recordUnmarked();
      how = mark ? Landing::kGone : Landing::kThere;
      std::vector<FieldValue> values;
      if (const int rc = recordValuesAt(t, change.position, &values); rc != 0) return rc;
      for (size_t i = 0; i < values.size(); ++i) values[i].text = shown(i, values[i].text);
      (mark ? e.before : e.after) = joined(values);
      break;
    }
    case db::EditChange::kPurge:
    case db::EditChange::kEmpty: {
      e.kind = change.kind == db::EditChange::kPurge ? tablePurged() : tableEmptied();
      int32_t count = 0;
      if (const int rc = t.readCount(&count); rc != 0) return rc;
      e.before = GBK("记录数=") + std::to_string(count);
      break;
    }
  }
  if (!noted_->begin(e, how, holds)) {
    noted_.reset();
    return db::kRecordWriteFailed;
  }
  uncertainBefore_ = db::uncertainWrites();
  // An added record is known by the serial its append takes.
  if (change.kind == db::EditChange::kAppend)
    watch_ = std::make_unique<db::SerialWatch>([this](int32_t serial) { return noted_->setSerial(serial); });
  return 0;
}

void DialogTrail::after(db::Table&, const db::EditChange&, int rc, int32_t serial) {
  watch_.reset();
  if (!noted_) return;
  if (rc == 0) {
    if (serial > 0) static_cast<void>(noted_->setSerial(serial));
    // Kept noted and told when it cannot be appended now.
    static_cast<void>(noted_->landed());
    // Seen by the other workstations now, as the correction is.
    db::markWritten();
  } else if (db::uncertainWrites() == uncertainBefore_) {
    noted_->dropped();
  }
  // Otherwise whether it landed is looked at now (or, when that cannot be
  // told, once the folder is back).
  noted_.reset();
  // The dialog goes on with its table: see the destructor.
  static_cast<void>(cmd::SetCurrentDatabase(table_));
}

// --- reading -----------------------------------------------------------------------

int entries(const Filter& filter, std::vector<Row>* rows, std::vector<int32_t>* gaps) {
  rows->clear();
  if (gaps) gaps->clear();
  if (!cmd::FileExists(kTrailTable + ".kdb")) return db::lastError();
  // Read only, through this program's handle when it has one: the view
  // never writes.
  const TableUse use = useTable(kTrailTable, {.def = &kTrail, .readOnly = true});
  const bool openedHere = use.openedHere;
  int code = use.failure();
  std::vector<Row> found;
  std::vector<int32_t> missing;
  int32_t expected = 0;
  if (code == 0)
    code = db::forEachRecord(
        [&] {
          FieldReader r;
          Row row;
          row.number = int32_t(r.number("xh"));
          if (expected != 0)
            for (int32_t k = expected; k < row.number; ++k) missing.push_back(k);
          expected = row.number + 1;
          rt::Result sj = r.value("sj");
          row.when = sj.kind() == rt::kDateTime ? sj.real() : 0;
          row.user = r.text("czy");
          row.kind = r.text("lx");
          if (row.when < filter.from || row.when >= std::floor(filter.to) + 1) return;
          if (!filter.user.empty() && row.user != filter.user) return;
          if (!filter.kind.empty() && row.kind != filter.kind) return;
          row.workstation = r.text("gzz");
          row.table = r.text("bm");
          row.serial = int32_t(r.number("jlh"));
          row.before = r.text("yz");
          row.after = r.text("xz");
          found.push_back(row);
        },
        true);
  if (openedHere) cmd::CloseDatabase(kTrailTable);
  if (code != 0) return code;
  *rows = std::move(found);
  if (gaps) *gaps = std::move(missing);
  return 0;
}

void showTrail() {
  // What to show: "起始日期 截止日期 操作员 类别", each may be left out
  // or given as "*".
  std::string asked;
  if (!rt::dialogs().askText(GBK("请输入查看条件：起始日期 截止日期 操作员 类别（用空格分开，不限的项填 * "
                                 "或不填；日期如 2010-5-3）"),
                             GBK("操作记录"), &asked, false))
    return;
  std::vector<std::string> words;
  std::istringstream in(asked);
  for (std::string w; in >> w;) words.push_back(w == "*" ? "" : w);
  words.resize(4);
  Filter filter;
  for (int i = 0; i < 2; ++i) {
    if (words[size_t(i)].empty()) continue;
    const double day = cmd::ToDateTime(words[size_t(i)]).days;
    if (day == rt::kNoDate) {
      const std::string text = GBK("“") + words[size_t(i)] + GBK("”不是日期，请按 2010-5-3 的样子输入。");
      tell(text.c_str());
      return;
    }
    (i == 0 ? filter.from : filter.to) = std::floor(day);
  }
  filter.user = words[2];
  filter.kind = words[3];
  std::vector<Row> rows;
  std::vector<int32_t> gaps;
  if (const int rc = entries(filter, &rows, &gaps); rc != 0) {
    tellFailure(GBK("操作记录 czjl 无法读取"), rc, "");
    return;
  }
  std::vector<std::vector<std::string>> shown;
  for (auto it = rows.rbegin(); it != rows.rend(); ++it)
    shown.push_back({std::to_string(it->number), cmd::ToText(rt::DateTime{it->when}), it->user, it->workstation,
                     it->kind, it->table, std::to_string(it->serial), it->before, it->after});
  std::string note = GBK("共 ") + std::to_string(rows.size()) + GBK(" 条，最新的在上");
  if (!gaps.empty()) {
    note += GBK("。注意：缺少序号 ");
    for (size_t i = 0; i < gaps.size() && i < 10; ++i) note += (i ? "," : "") + std::to_string(gaps[i]);
    if (gaps.size() > 10) note += "...";
    note += GBK("，操作记录不连续");
  }
  const std::vector<std::string> headings = {GBK("序号"),   GBK("时间"),     GBK("操作员"), GBK("工作站"), GBK("类别"),
                                             GBK("数据表"), GBK("记录序号"), GBK("改前"),   GBK("改后")};
  rt::dialogs().showRows(GBK("操作记录"), note, headings, shown);
}

void addTrailButton(uint32_t windowId) {
  namespace r = forms::ids::report;
  if (windowId != r::kWindow) return;
  QWidget* neighbour = forms::controlWidget(r::kWindow, r::kButton10);
  QWidget* area = neighbour ? neighbour->parentWidget() : nullptr;
  if (!area || area->findChild<QPushButton*>("trailButton", Qt::FindDirectChildrenOnly)) return;
  auto* b = new QPushButton(QString::fromUtf8("操作记录"), area);
  b->setObjectName("trailButton");
  b->setFont(neighbour->font());
  const QRect n = neighbour->geometry();
  b->setGeometry(n.right() + 3, n.top(), 64, n.height());
  b->setToolTip(QString::fromUtf8("谁在何时删除、更正、改价或登录：按日期、操作员、类别查看"));
  QObject::connect(b, &QPushButton::clicked, b, [] { showTrail(); });
  b->show();
}

}  // namespace app::trail
