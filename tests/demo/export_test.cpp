// kdbtool export on the small demo year: every row of every SQL table is
// the record `kdbtool dump` prints for its table (serial, deleted flag,
// each field typed), the CSV files and the XLSX workbook hold the same
// rows, amounts agree to the fen with the tables everywhere, and a damaged
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
#include <map>
#include <sstream>

#include "db/each.h"
#include "db/engine.h"
#include "db/facade.h"
#include "demo/year.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"
#include "runtime/money.h"

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
  // Every REAL of the centre's tables is an amount, written to the fen.
  std::string csv() const {
    if (type == SQLITE_INTEGER) return std::to_string(integer);
    if (type != SQLITE_FLOAT) return text;
    return rt::fenText(std::llround(real * 100));
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

// A field as dump shows it against its exported value: an amount as the
// same two-decimal value in both.
bool sameField(const std::string& shown, const Value& v) {
  switch (v.type) {
    case SQLITE_INTEGER:
      return shown == std::to_string(v.integer);
    case SQLITE_FLOAT:
      return shown == v.csv() && std::stod(shown) == v.real;
    case SQLITE_TEXT:
      if (shown == v.text) return true;
      return std::fabs(rt::textToDateTime(rt::utf8ToGbk(shown)) - isoDays(v.text)) < 0.5 / 86400;
    default:
      return false;
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

// The workbook as a spreadsheet program reads it (Python's openpyxl): per
// sheet, per row, each cell as "n:<number>:<format>", "s:<text>",
// "d:<ISO date-time>" or "" when empty, tabs and line ends in texts
// escaped.
std::map<std::string, std::vector<std::vector<std::string>>> readWorkbook(const fs::path& book,
                                                                          const fs::path& scratch) {
  const fs::path script = scratch / "read_xlsx.py";
  std::ofstream(script) << R"(import datetime, sys, openpyxl
def esc(t): return t.replace('\\', '\\\\').replace('\t', '\\t').replace('\n', '\\n')
book = openpyxl.load_workbook(sys.argv[1], read_only=True)
out = sys.stdout
for name in book.sheetnames:
    for row in book[name].iter_rows():
        cells = []
        for c in row:
            v = c.value
            if v is None: cells.append('')
            elif isinstance(v, datetime.datetime): cells.append('d:' + v.isoformat())
            elif isinstance(v, (int, float)): cells.append('n:%s:%s' % (repr(float(v)), c.number_format))
            else: cells.append('s:' + esc(str(v)))
        out.write(name + '\t' + '\t'.join(cells) + '\n')
)";
  // Debian's interpreter, where python3-openpyxl is installed.
  const ToolRun r = [&] {
    ToolRun run;
    FILE* p = popen(
        ("/usr/bin/python3 '" + script.string() + "' '" + book.string() + "' 2>'" + (scratch / "py.txt").string() + "'")
            .c_str(),
        "r");
    std::array<char, 65536> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) run.out.append(buf.data(), n);
    const int st = pclose(p);
    run.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return run;
  }();
  EXPECT_EQ(r.status, 0) << "openpyxl could not read " << book;
  std::map<std::string, std::vector<std::vector<std::string>>> sheets;
  for (const std::string& line : split(r.out, '\n')) {
    if (line.empty()) continue;
    std::vector<std::string> cells = split(line, '\t');
    const std::string name = cells[0];
    cells.erase(cells.begin());
    sheets[name].push_back(std::move(cells));
  }
  return sheets;
}

// The sum of float field `field` over `table`'s records read with the
// engine, every value to its nearest fen, added in integers.
int64_t fenSumOf(const fs::path& dir, const std::string& table, const char* field) {
  int64_t fen = 0;
  const fs::path old = fs::current_path();
  fs::current_path(dir);
  EXPECT_TRUE(cmd::OpenDatabase(table, "", true));
  EXPECT_TRUE(cmd::SetCurrentDatabase(table));
  cmd::MoveFirst();
  EXPECT_EQ(
      db::forEachRecord([&] { fen += std::llround(double(rt::floatValue(cmd::ReadField(field).arg())) * 100.0); }),
      db::kOk);
  db::closeAllDatabases();
  fs::current_path(old);
  return fen;
}

// The workbook holds every table's rows as the SQLite export does, typed
// for a spreadsheet: texts stay texts (prescription numbers keep their
// leading zeros), amounts are numbers shown with two decimals, dates are
// dates. Amounts agree to the fen with the tables in dump, sum, SQLite,
// CSV and XLSX; --exact gives the stored values instead.
TEST_F(ExportTest, TheWorkbookAndEveryAmountAgreeWithTheTablesToTheFen) {
  const fs::path sqlite = dir_ / "year.sqlite", book = dir_ / "year.xlsx";
  ASSERT_EQ(kdbtool("export '" + year_.string() + "' '" + sqlite.string() + "'", dir_ / "err.txt").status, 1);
  const ToolRun x = kdbtool("export '" + year_.string() + "' '" + book.string() + "'", dir_ / "err.txt");
  EXPECT_EQ(x.status, 1);
  EXPECT_NE(x.err.find("zz.kdb -22"), std::string::npos) << x.err;
  ASSERT_TRUE(fs::exists(book));
  EXPECT_FALSE(fs::exists(book.string() + ".part"));

  const auto sheets = readWorkbook(book, dir_);
  EXPECT_EQ(sheets.count("zz"), 0u);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(sqlite.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  bool sawZero = false;
  for (const std::string& t : tables()) {
    ASSERT_EQ(sheets.count(t), 1u) << t;
    const auto& sheet = sheets.at(t);
    const std::vector<std::vector<Value>> rows = selectAll(db, t);
    ASSERT_EQ(sheet.size(), rows.size() + 1) << t;  // the header first
    EXPECT_EQ(sheet[0][0], "s:_serial");
    for (size_t i = 0; i < rows.size(); ++i) {
      const std::vector<std::string>& cells = sheet[i + 1];
      for (size_t k = 0; k < rows[i].size(); ++k) {
        const Value& v = rows[i][k];
        const std::string cell = k < cells.size() ? cells[k] : "";
        const std::string where = t + " row " + std::to_string(i + 1) + " column " + std::to_string(k);
        if (v.type == SQLITE_INTEGER || v.type == SQLITE_FLOAT) {
          ASSERT_EQ(cell.rfind("n:", 0), 0u) << where << ": " << cell;
          const size_t colon = cell.find(':', 2);
          EXPECT_EQ(std::stod(cell.substr(2, colon - 2)), v.type == SQLITE_INTEGER ? double(v.integer) : v.real)
              << where;
          EXPECT_EQ(cell.substr(colon + 1), v.type == SQLITE_FLOAT ? "0.00" : "General") << where;
        } else if (!std::isnan(isoDays(v.text))) {
          ASSERT_EQ(cell.rfind("d:", 0), 0u) << where << ": " << cell;
          EXPECT_NEAR(isoDays(cell.substr(2)), isoDays(v.text), 0.5 / 86400) << where;
        } else {
          EXPECT_EQ(cell, v.text.empty() ? "" : "s:" + v.text) << where;
          sawZero |= !v.text.empty() && v.text[0] == '0';
        }
      }
    }
  }
  EXPECT_TRUE(sawZero);  // prescription numbers such as "0601069"

  // One month's line totals and the yearly bill totals, summed five ways.
  for (const auto& [table, field] : {std::pair{"m20105", "hj"}, std::pair{"bm2010", "phj"}}) {
    const int64_t exact = fenSumOf(year_, table, field);
    const fs::path file = year_ / (std::string(table) + ".kdb");
    const ToolRun sum = kdbtool("sum '" + file.string() + "' " + field, dir_ / "err.txt");
    EXPECT_EQ(sum.out, rt::fenText(exact) + "\n") << table;
    int64_t dumped = 0, sql = 0, csv = 0, xlsx = 0;
    const ToolRun dump = kdbtool("dump '" + file.string() + "'", dir_ / "err.txt");
    const size_t column = std::string(field) == "hj" ? 8 : 20;  // after the serial
    for (const std::string& line : split(dump.out.substr(0, dump.out.size() - 1), '\n')) {
      const std::string amount = split(line, '\t')[column];
      ASSERT_EQ(amount.size() - amount.find('.'), 3u) << amount;  // two decimals
      dumped += std::llround(std::stod(amount) * 100);
    }
    for (const std::vector<Value>& row : selectAll(db, table)) {
      const double real = row[column + 1].real;
      EXPECT_EQ(real, rt::yuanOf(std::llround(real * 100))) << table;  // no float leftovers
      sql += std::llround(real * 100);
    }
    const ToolRun c =
        kdbtool("export '" + year_.string() + "' --csv '" + (dir_ / "csv").string() + "'", dir_ / "err.txt");
    std::ifstream in(dir_ / "csv" / (std::string(table) + ".csv"), std::ios::binary);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) csv += std::llround(std::stod(split(line, ',')[column + 1]) * 100);
    for (size_t i = 1; i < sheets.at(table).size(); ++i)
      xlsx += std::llround(std::stod(sheets.at(table)[i][column + 1].substr(2)) * 100);
    EXPECT_EQ(dumped, exact) << table;
    EXPECT_EQ(sql, exact) << table;
    EXPECT_EQ(csv, exact) << table;
    EXPECT_EQ(xlsx, exact) << table;
  }
  sqlite3_close(db);

  // --exact: the stored single-precision values, leftovers and all.
  const fs::path exactOut = dir_ / "exact.sqlite";
  kdbtool("export --exact '" + year_.string() + "' '" + exactOut.string() + "'", dir_ / "err.txt");
  ASSERT_EQ(sqlite3_open_v2(exactOut.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  const ToolRun exactDump = kdbtool("dump --exact '" + (year_ / "m20105.kdb").string() + "'", dir_ / "err.txt");
  const std::vector<std::string> lines = split(exactDump.out.substr(0, exactDump.out.size() - 1), '\n');
  const std::vector<std::vector<Value>> rows = selectAll(db, "m20105");
  ASSERT_EQ(rows.size(), lines.size());
  size_t leftovers = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string shown = split(lines[i], '\t')[8];
    // The shortest decimal that reads back as the stored float, in both.
    EXPECT_EQ(std::stod(shown), rows[i][9].real);
    leftovers += std::llround(rows[i][9].real * 100) != rows[i][9].real * 100;
  }
  EXPECT_GT(leftovers, 0u);
  sqlite3_close(db);
}

}  // namespace
