#include "app/figures/kept_figures.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <utility>

#include "app/folder_id.h"
#include "db/changes.h"
#include "db/errors.h"
#include "db/facade.h"
#include "db/format.h"
#include "db/names.h"
#include "db/os.h"

namespace app::report {
namespace {

namespace fs = std::filesystem;
using kept::Look;
using kept::TableState;

// Raised whenever a reading step's sums change meaning (what a figure
// sums, how it is rounded): figures kept by an older program are then not
// taken.
constexpr int kFormat = 1;
// Readings kept for one table (a bill table serves every month's report):
// beyond that the oldest go.
constexpr size_t kMaxReadings = 64;
// Tables a round keeps open: enough for the bill tables of two years and
// a month's postings between the months' tables the chart window reads in
// turn, few enough that the engine's copies of them stay small.
constexpr size_t kOpenInRound = 6;

std::string g_dir;

struct Round {
  bool placeKnown = false;
  std::string place;
  std::map<std::string, Look> looks;
  std::vector<std::string> opened;
};
Round* g_round = nullptr;

std::string lower(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

std::string hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

bool unhex(const std::string& text, std::string* out) {
  if (text.size() % 2) return false;
  out->clear();
  auto digit = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
  for (size_t i = 0; i < text.size(); i += 2) {
    const int hi = digit(text[i]), lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(char(hi << 4 | lo));
  }
  return true;
}

uint64_t checksum(const std::string& text) {
  uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

// The folder of this centre's figures: the figures' place, then the
// working directory's id. "" when figures are not kept, or the folder has
// no id to be had now.
std::string placeNow() {
  if (g_dir.empty()) return "";
  std::error_code ec;
  const fs::path folder = fs::current_path(ec);
  if (ec) return "";
  const std::string id = folderId(folder.string());
  return id.empty() ? "" : g_dir + "/" + id;
}

std::string place() {
  if (!g_round) return placeNow();
  if (!g_round->placeKnown) {
    g_round->place = placeNow();
    g_round->placeKnown = true;
  }
  return g_round->place;
}

// The file of a table's figures: its name in lower case, any byte but a
// letter, a digit, '_' and '-' written as %XX.
std::string fileOf(const std::string& where, const std::string& name) {
  std::string file;
  for (unsigned char c : lower(name)) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-') {
      file += char(c);
    } else {
      static const char kDigits[] = "0123456789ABCDEF";
      file += '%';
      file += kDigits[c >> 4];
      file += kDigits[c & 15];
    }
  }
  return where + "/" + file + ".fig";
}

// One table's file as read: whose it is, the state its readings belong to,
// and the readings (signature, figures) oldest first.
struct KeptFile {
  std::string folder, table;
  TableState state;
  std::vector<std::pair<std::string, std::vector<int64_t>>> readings;
};

std::string folderIdOf(const std::string& where) { return fs::path(where).filename().string(); }

std::string textOf(const KeptFile& k) {
  std::ostringstream out;
  out << "clinic-figures " << kFormat << '\n'
      << "folder " << k.folder << '\n'
      << "table " << hex(k.table) << '\n'
      << "state " << k.state.created << ' ' << k.state.count << ' ' << k.state.serial << ' ' << k.state.length << ' '
      << k.state.mark << '\n';
  for (const auto& [signature, fens] : k.readings) {
    out << "reading " << hex(signature) << ' ' << fens.size();
    for (int64_t f : fens) out << ' ' << f;
    out << '\n';
  }
  std::string text = out.str();
  char sum[40];
  std::snprintf(sum, sizeof sum, "sum %016llx\n", (unsigned long long)checksum(text));
  return text + sum;
}

// The file of `name` read whole; false when there is none, or it is not
// whole (its check sum), not of this program's format, or another folder's
// or table's.
bool readKept(const std::string& where, const std::string& name, KeptFile* out) {
  std::ifstream in(fileOf(where, name), std::ios::binary);
  if (!in) return false;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t last = text.rfind("sum ");
  if (last == std::string::npos || (last > 0 && text[last - 1] != '\n')) return false;
  char sum[40];
  std::snprintf(sum, sizeof sum, "sum %016llx\n", (unsigned long long)checksum(text.substr(0, last)));
  if (text.compare(last, std::string::npos, sum) != 0) return false;
  std::istringstream lines(text.substr(0, last));
  std::string line, word, table;
  KeptFile k;
  int format = 0;
  if (!std::getline(lines, line) || !(std::istringstream(line) >> word >> format) || word != "clinic-figures" ||
      format != kFormat)
    return false;
  if (!std::getline(lines, line) || !(std::istringstream(line) >> word >> k.folder) || word != "folder") return false;
  if (!std::getline(lines, line) || !(std::istringstream(line) >> word >> table) || word != "table" ||
      !unhex(table, &k.table))
    return false;
  TableState& s = k.state;
  if (!std::getline(lines, line) ||
      !(std::istringstream(line) >> word >> s.created >> s.count >> s.serial >> s.length >> s.mark) || word != "state")
    return false;
  while (std::getline(lines, line)) {
    std::istringstream r(line);
    std::string hexSignature, signature;
    size_t n = 0;
    if (!(r >> word >> hexSignature >> n) || word != "reading" || !unhex(hexSignature, &signature) || n > 4096)
      return false;
    std::vector<int64_t> fens(n);
    for (int64_t& f : fens)
      if (!(r >> f)) return false;
    k.readings.emplace_back(std::move(signature), std::move(fens));
  }
  if (k.folder != folderIdOf(where) || k.table != lower(name)) return false;
  *out = std::move(k);
  return true;
}

// Written to a file of this program's own beside it and renamed over it:
// every reader finds the old file or the new one, whole.
void writeKept(const std::string& where, const std::string& name, const KeptFile& k) {
  std::error_code ec;
  fs::create_directories(where, ec);
  if (ec) return;
  const std::string file = fileOf(where, name);
  static unsigned counter = 0;
  const std::string temp = file + "." + std::to_string(::getpid()) + "." + std::to_string(++counter) + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const std::string text = textOf(k);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += size_t(n);
  }
  const bool written = ::close(fd) == 0 && done == text.size();
  if (!written || std::rename(temp.c_str(), file.c_str()) != 0) ::unlink(temp.c_str());
}

// The table's state from its header, its length and its mark: a few file
// calls, no record data, nothing locked (the state is taken before the
// table is read, so figures kept with it are never older than it).
Look lookAt(const std::string& name) {
  Look l;
  std::error_code ec;
  const fs::path folder = fs::current_path(ec);
  if (ec) return l;
  std::string path = folder.string() + "/" + db::withDefaultExtension(name);
  std::unique_ptr<db::os::File> f;
  int rc = db::os::env().open(path, false, false, &f);
  if (rc == db::kNotFound) {
    // Not by this name: found whatever the case of its name, as the
    // engine finds tables.
    std::string existing;
    const int found = db::findExisting(path, &existing);
    if (found == 0) l.outcome = Look::kMissing;
    if (found != 1) return l;
    path = existing;
    rc = db::os::env().open(path, false, false, &f);
  }
  if (rc != db::kOk) return l;
  uint8_t header[24];
  size_t got = 0;
  if (f->read(0, header, sizeof header, &got) != db::kOk || got != sizeof header) return l;
  TableState& s = l.state;
  s.created = int64_t(db::getU64(header + 8));
  s.count = db::getI32(header + 16);
  s.serial = db::getI32(header + 20);
  if (f->size(&s.length) != db::kOk || db::readChange(path, &s.mark) != db::kOk) return l;
  l.outcome = Look::kThere;
  return l;
}

}  // namespace

void keepFiguresIn(const std::string& dir) { g_dir = dir; }

std::string workstationFiguresDir() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  const std::string cache = xdg && *xdg ? xdg : std::string(home ? home : "") + "/.cache";
  return cache + "/clinic/figures";
}

ReadingRound::ReadingRound() : outer_(g_round == nullptr) {
  if (outer_) g_round = new Round;
}

ReadingRound::~ReadingRound() {
  if (!outer_) return;
  for (const std::string& name : g_round->opened) cmd::CloseDatabase(name);
  delete g_round;
  g_round = nullptr;
}

namespace kept {

Look look(const std::string& name) {
  if (place().empty()) return {};
  if (!g_round) return lookAt(name);
  const std::string key = lower(name);
  auto it = g_round->looks.find(key);
  if (it == g_round->looks.end()) it = g_round->looks.emplace(key, lookAt(name)).first;
  return it->second;
}

bool find(const std::string& name, const TableState& state, const std::string& signature, std::vector<int64_t>* fens) {
  const std::string where = place();
  KeptFile k;
  if (where.empty() || !readKept(where, name, &k) || !(k.state == state)) return false;
  for (const auto& [s, f] : k.readings) {
    if (s != signature) continue;
    *fens = f;
    return true;
  }
  return false;
}

void keep(const std::string& name, const TableState& state, const std::string& signature,
          const std::vector<int64_t>& fens) {
  const std::string where = place();
  if (where.empty()) return;
  KeptFile k;
  if (!readKept(where, name, &k) || !(k.state == state)) {
    k = KeptFile{};
    k.folder = folderIdOf(where);
    k.table = lower(name);
    k.state = state;
  }
  std::erase_if(k.readings, [&](const auto& r) { return r.first == signature; });
  k.readings.emplace_back(signature, fens);
  if (k.readings.size() > kMaxReadings) k.readings.erase(k.readings.begin());
  writeKept(where, name, k);
}

bool keptOpenInRound(const std::string& name, bool openedHere) {
  if (!g_round) return false;
  std::vector<std::string>& opened = g_round->opened;  // read longest ago first
  const auto it =
      std::find_if(opened.begin(), opened.end(), [&](const std::string& n) { return lower(n) == lower(name); });
  if (it != opened.end()) {
    std::rotate(it, it + 1, opened.end());
    return true;
  }
  if (!openedHere) return false;
  opened.push_back(name);
  if (opened.size() > kOpenInRound) {
    cmd::CloseDatabase(opened.front());
    opened.erase(opened.begin());
  }
  return true;
}

}  // namespace kept
}  // namespace app::report
