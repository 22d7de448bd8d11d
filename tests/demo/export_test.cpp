// kdbtool export on the small demo year: every row of every SQL table is
// the record `kdbtool dump` prints for its table (serial, deleted flag,
// each field typed), the CSV files hold the same rows, and a damaged
// table is named, left out and makes the export fail.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "db/engine.h"
#include "demo/year.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status = -1;
  std::string out, err;
};

ToolRun kdbtool(const std::string& args, const fs::path& errFile) {
  const std::string tool = (fs::read_symlink("/proc/self/exe").parent_path() / "kdbtool").string();
  ToolRun r;
  FILE* p = popen((tool + " " + args + " 2>'" + errFile.string() + "'").c_str(), "r");
  std::array<char, 65536> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::ifstream in(errFile);
  std::stringstream s;
  s << in.rdbuf();
  r.err = s.str();
  return r;
}

std::vector<std::string> split(const std::string& line, char sep) {
  std::vector<std::string> cells;
  for (size_t from = 0;;) {
    const size_t at = line.find(sep, from);
    cells.push_back(line.substr(from, at - from));
    if (at == std::string::npos) return cells;
    from = at + 1;
  }
}

// One SQL value: its type and its text as the CSV export writes it.
struct Value {
  int type = SQLITE_NULL;
  int64_t integer = 0;
  double real = 0;
  std::string text;
  std::string csv() const {
    if (type == SQLITE_INTEGER) return std::to_string(integer);
    if (type != SQLITE_FLOAT) return text;
    char buf[64];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, real).ptr);
  }
};

std::vector<std::vector<Value>> selectAll(sqlite3* db, const std::string& table) {
  std::vector<std::vector<Value>> rows;
  sqlite3_stmt* st = nullptr;
  const std::string sql = "SELECT * FROM \"" + table + "\" ORDER BY rowid";
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << table;
  while (st && sqlite3_step(st) == SQLITE_ROW) {
    rows.emplace_back();
    for (int i = 0; i < sqlite3_column_count(st); ++i) {
      Value v;
      v.type = sqlite3_column_type(st, i);
      v.integer = sqlite3_column_int64(st, i);
      v.real = sqlite3_column_double(st, i);
      if (const unsigned char* t = sqlite3_column_text(st, i)) v.text = reinterpret_cast<const char*>(t);
      rows.back().push_back(v);
    }
  }
  sqlite3_finalize(st);
  return rows;
}

// "2010-05-03" or "2010-05-03T14:30:00" as a date-time.
double isoDays(const std::string& s) {
  int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0;
  const int n = std::sscanf(s.c_str(), "%d-%d-%dT%d:%d:%d", &y, &m, &d, &hh, &mm, &ss);
  return n == 3 || n == 6 ? rt::makeDateTime(y, m, d, hh, mm, ss) : NAN;
}

// A field as dump shows it (ToText) against its exported value.
bool sameField(const std::string& shown, const Value& v) {
  switch (v.type) {
    case SQLITE_INTEGER: return shown == std::to_string(v.integer);
    case SQLITE_FLOAT:
      // ToText shows a float to its own digits; the export keeps the float.
      return std::fabs(std::stod(shown) - v.real) <= 1e-5 * std::max(1.0, std::fabs(v.real));
    case SQLITE_TEXT:
      if (shown == v.text) return true;
      return std::fabs(rt::textToDateTime(rt::utf8ToGbk(shown)) - isoDays(v.text)) < 0.5 / 86400;
    default: return false;
  }
}

class ExportTest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/exporttest.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    year_ = dir_ / "year 2010";
    fs::create_directories(year_);
    const fs::path old = fs::current_path();
    fs::current_path(year_);
    db::registerDatabaseCommands();
    const demo::WriteResult w = demo::writeYear(demo::makeYear(demo::Scale::kSmall));
    db::closeAllDatabases();
    fs::current_path(old);
    ASSERT_TRUE(w.ok) << w.error;
    // A table that is not one: named and left out.
    std::ofstream(year_ / "zz.kdb") << "not a table";
    // A record marked deleted (it stays in the file until a pack).
    const ToolRun del = kdbtool("delete '" + (year_ / "user.kdb").string() + "' --where use=demo", dir_ / "err.txt");
    ASSERT_EQ(del.out, "1 records marked deleted\n") << del.err;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::vector<std::string> tables() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(year_))
      if (e.path().extension() == ".kdb" && e.path().stem() != "zz") names.push_back(e.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_, year_;
};

TEST_F(ExportTest, EverySqlRowIsTheRecordDumpPrints) {
  const fs::path out = dir_ / "year.sqlite";
  const ToolRun r = kdbtool("export '" + year_.string() + "' '" + out.string() + "'", dir_ / "err.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("zz.kdb -22"), std::string::npos) << r.err;
  ASSERT_TRUE(fs::exists(out));
  EXPECT_FALSE(fs::exists(out.string() + ".part"));

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(out.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  const std::vector<std::string> names = tables();
  ASSERT_GT(names.size(), 20u);
  size_t compared = 0;
  bool sawDeleted = false, sawDate = false, sawReal = false;
  for (const std::string& t : names) {
    const ToolRun dump = kdbtool("dump '" + (year_ / (t + ".kdb")).string() + "'", dir_ / "dump.txt");
    ASSERT_EQ(dump.status, 0) << t << dump.err;
    const std::vector<std::vector<Value>> rows = selectAll(db, t);
    const std::vector<std::string> lines = split(dump.out.substr(0, dump.out.size() - 1), '\n');
    ASSERT_EQ(rows.size(), dump.out.empty() ? 0 : lines.size()) << t;
    for (size_t i = 0; i < rows.size(); ++i) {
      const std::vector<std::string> shown = split(lines[i], '\t');
      const std::vector<Value>& row = rows[i];
      ASSERT_EQ(row.size(), shown.size() + 1) << t << " record " << i + 1;
      // dump's serial is negative for a record marked deleted.
      const int64_t serial = std::stoll(shown[0]);
      EXPECT_EQ(row[0].integer, serial < 0 ? -serial : serial) << t;
      EXPECT_EQ(row[1].integer, serial < 0 ? 1 : 0) << t;
      sawDeleted |= serial < 0;
      for (size_t f = 1; f < shown.size(); ++f) {
        EXPECT_TRUE(sameField(shown[f], row[f + 1]))
            << t << " record " << i + 1 << " field " << f << ": " << shown[f] << " / " << row[f + 1].csv();
        sawDate |= row[f + 1].type == SQLITE_TEXT && !std::isnan(isoDays(row[f + 1].text));
        sawReal |= row[f + 1].type == SQLITE_FLOAT;
      }
      ++compared;
    }
  }
  EXPECT_GT(compared, 1000u);
  EXPECT_TRUE(sawDate && sawReal && sawDeleted);
  // The damaged table is not in the database.
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master WHERE name = 'zz'", -1, &st, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), 0);
  sqlite3_finalize(st);

  // The CSV files: the same rows, under a header, with a byte-order mark.
  const fs::path csvDir = dir_ / "csv";
  const ToolRun c = kdbtool("export '" + year_.string() + "' --csv '" + csvDir.string() + "'", dir_ / "err.txt");
  EXPECT_EQ(c.status, 1);
  EXPECT_NE(c.err.find("zz.kdb"), std::string::npos) << c.err;
  EXPECT_FALSE(fs::exists(csvDir / "zz.csv"));
  for (const std::string& t : names) {
    std::ifstream in(csvDir / (t + ".csv"), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    const std::string text = s.str();
    ASSERT_EQ(text.rfind("\xEF\xBB\xBF_serial,_deleted,", 0), 0u) << t;
    // Every line ends in CRLF, the last one too.
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n") << t;
    const std::vector<std::string> lines = split(text.substr(3, text.size() - 4), '\n');
    const std::vector<std::vector<Value>> rows = selectAll(db, t);
    ASSERT_EQ(lines.size(), rows.size() + 1) << t;
    for (size_t i = 0; i < rows.size(); ++i) {
      std::string expected;
      for (size_t k = 0; k < rows[i].size(); ++k) {
        std::string cell = rows[i][k].csv();
        if (cell.find_first_of(",\"") != std::string::npos) {
          std::string q = "\"";
          for (char ch : cell) q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
          cell = q + "\"";
        }
        expected += (k ? "," : "") + cell;
      }
      EXPECT_EQ(lines[i + 1], expected + "\r") << t << " record " << i + 1;
    }
  }
  sqlite3_close(db);
}

}  // namespace
