#include "kdbtool_trail.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>

#include "db/engine.h"
#include "db/errors.h"
#include "db/facade.h"
#include "db/names.h"
#include "db/table.h"
#include "kdbtool_common.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"

namespace kdbtool {
namespace {

// The trail's fields, as the program defines them (app/tables.cpp).
const char* const kFields[] = {"xh", "sj", "czy", "gzz", "lx", "bm", "jlh", "yz", "xz"};
constexpr size_t kFieldCount = std::size(kFields);
const char* const kHeadings[] = {"序号", "时间", "操作员", "工作站", "类别", "数据表", "记录序号", "改前", "改后"};

struct Entry {
  int number = 0;
  double when = 0;
  std::vector<std::string> texts;  // UTF-8, in kFields order
};

// Every entry of the trail of `dir`, in stored order (records marked
// deleted included: the program never marks one, and one marked by hand is
// still a number taken). *exists false when there is no trail. 0 or the
// engine's code.
int readTrail(const std::string& dir, std::vector<Entry>* entries, bool* exists) {
  entries->clear();
  const std::string file = (std::filesystem::path(dir) / "czjl").string();
  std::string existing;
  *exists = db::resolveExisting(db::withDefaultExtension(file), &existing);
  if (!*exists) return 0;
  db::closeAllDatabases();
  if (!cmd::OpenDatabase(file, "", true)) return db::lastError();
  db::Table& t = *db::currentTable();
  std::vector<const db::Field*> fields;
  for (const char* name : kFields) {
    const int i = t.fieldIndex(name);
    if (i < 0) return db::kNotDatabase;  // not a trail
    fields.push_back(&t.fields()[size_t(i)]);
  }
  int failed = 0;
  const int rc = t.scan(0, true, [&](int32_t, uint8_t* rec) {
    Entry e;
    for (size_t k = 0; k < kFieldCount; ++k) {
      rt::Result v;
      if (const int code = loadField(t, *fields[k], rec, &v); code != db::kOk) {
        failed = code;
        return 1;
      }
      double d = 0;
      if (k == 0 && rt::numericValue(v.arg(), &d)) e.number = int(d);
      if (k == 1) e.when = v.real();  // a date-time
      e.texts.push_back(shownText(*fields[k], v.arg(), Amounts::kExact));
    }
    entries->push_back(std::move(e));
    return 0;
  });
  db::closeAllDatabases();
  if (failed != 0) return failed;
  return rc == 1 ? 0 : rc;
}

std::vector<int> gapsOf(const std::vector<Entry>& entries) {
  std::vector<int> missing;
  for (size_t i = 1; i < entries.size(); ++i)
    for (int k = entries[i - 1].number + 1; k < entries[i].number; ++k) missing.push_back(k);
  return missing;
}

// "缺少序号 5-7" for each run of missing numbers.
std::string gapText(const std::vector<int>& missing) {
  std::string out;
  for (size_t i = 0; i < missing.size();) {
    size_t j = i;
    while (j + 1 < missing.size() && missing[j + 1] == missing[j] + 1) ++j;
    out += "操作记录 czjl 不连续：缺少序号 " + std::to_string(missing[i]) +
           (j > i ? "-" + std::to_string(missing[j]) : std::string()) + "\n";
    i = j + 1;
  }
  return out;
}

[[noreturn]] void trailUsage() {
  std::fputs("usage: kdbtool trail DIR [--from YYYY-MM-DD] [--to YYYY-MM-DD] [--user NAME] [--kind KIND] [--csv]\n",
             stderr);
  std::exit(1);
}

double dayOf(const std::string& text) {
  const double d = rt::textToDateTime(rt::utf8ToGbk(text));
  if (d == rt::kNoDate) {
    std::fputs(("not a date: " + text + "\n").c_str(), stderr);
    std::exit(1);
  }
  return std::floor(d);
}

}  // namespace

int trailGaps(const std::string& dir, std::vector<int>* missing, std::string* said) {
  std::vector<Entry> entries;
  bool exists = false;
  missing->clear();
  said->clear();
  if (const int rc = readTrail(dir, &entries, &exists); rc != 0) return rc;
  *missing = gapsOf(entries);
  *said = gapText(*missing);
  return 0;
}

int trailCommand(const std::vector<std::string>& args) {
  std::string dir, user, kind;
  double from = -1e9, to = 1e9;
  bool csv = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--csv") {
      csv = true;
    } else if (a == "--from" && hasValue) {
      from = dayOf(args[++i]);
    } else if (a == "--to" && hasValue) {
      to = dayOf(args[++i]) + 1;  // the whole day
    } else if (a == "--user" && hasValue) {
      user = args[++i];
    } else if (a == "--kind" && hasValue) {
      kind = args[++i];
    } else if (a.rfind("--", 0) != 0 && dir.empty()) {
      dir = a;
    } else {
      trailUsage();
    }
  }
  if (dir.empty()) trailUsage();
  std::vector<Entry> entries;
  bool exists = false;
  if (const int rc = readTrail(dir, &entries, &exists); rc != 0) {
    std::fputs((dir + "/czjl: " + codeText(rc) + "\n").c_str(), stderr);
    return 1;
  }
  std::string text;
  if (csv) {
    text = "\xEF\xBB\xBF";
    for (size_t k = 0; k < kFieldCount; ++k) text += (k ? "," : "") + std::string(kHeadings[k]);
    text += "\r\n";
  }
  for (const Entry& e : entries) {
    if (e.when < from || e.when >= to) continue;
    if (!user.empty() && e.texts[2] != user) continue;
    if (!kind.empty() && e.texts[4] != kind) continue;
    if (csv) {
      for (size_t k = 0; k < kFieldCount; ++k) text += (k ? "," : "") + csvCell(e.texts[k]);
      text += "\r\n";
    } else {
      text += e.texts[0] + "  " + e.texts[1] + "  " + e.texts[2] + "  " + e.texts[3] + "  " + e.texts[4] + "  " +
              e.texts[5] + " #" + e.texts[6] + "\n";
      if (!e.texts[7].empty()) text += "    改前: " + e.texts[7] + "\n";
      if (!e.texts[8].empty()) text += "    改后: " + e.texts[8] + "\n";
    }
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  const std::vector<int> missing = gapsOf(entries);
  if (missing.empty()) return 0;
  std::fputs(gapText(missing).c_str(), stderr);
  return 1;
}

}  // namespace kdbtool
