#include "kdbtool_export.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <xlsxwriter.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>

#include "db/errors.h"
#include "db/locks.h"
#include "db/names.h"
#include "kdbtool_backup.h"
#include "kdbtool_common.h"
#include "runtime/gbk.h"
#include "runtime/money.h"

namespace kdbtool {
namespace {

void say(std::FILE* to, const std::string& utf8) { std::fwrite(utf8.data(), 1, utf8.size(), to); }

[[noreturn]] void usage() {
  say(stderr, "usage: kdbtool export [--exact] DIR OUT.sqlite|OUT.xlsx | kdbtool export [--exact] DIR --csv OUTDIR\n");
  std::exit(1);
}

// A table as read: its columns and every record's cells.
struct ReadTable {
  std::string name;                  // the file's name without ".kdb" (UTF-8)
  std::vector<const char*> types;    // SQL type per field
  std::vector<std::string> columns;  // field names, UTF-8
  struct Row {
    int32_t serial = 0;
    bool deleted = false;
    std::vector<Cell> cells;
  };
  std::vector<Row> rows;
};

const char* sqlType(int32_t kind) {
  switch (kind) {
    case db::kFByte:
    case db::kFShort:
    case db::kFInt:
    case db::kFLong:
    case db::kFSubPtr:
    case db::kFBool:
      return "INTEGER";
    case db::kFFloat:
    case db::kFDouble:
      return "REAL";
    case db::kFBytes:
      return "BLOB";
    default:
      return "TEXT";
  }
}

// Reads every record of the table at `path`, read-only, under the
// whole-file lock (no append of another workstation is half in it). The
// engine's code; nothing is kept of a table that could not be read whole.
[[nodiscard]] int readTable(const std::string& path, const std::string& password, Amounts amounts, ReadTable* out) {
  db::OpenOptions o;
  o.readOnly = true;
  o.password = password;
  std::unique_ptr<db::Table> t;
  if (int rc = db::Table::open(path, o, &t); rc != db::kOk) return rc;
  int32_t count = 0;
  if (int rc = t->readCount(&count); rc != db::kOk) return rc;
  for (const db::Field& f : t->fields()) {
    out->columns.push_back(rt::gbkToUtf8(f.name));
    out->types.push_back(sqlType(f.kind));
  }
  out->rows.reserve(size_t(count));
  const std::vector<db::Field>& fields = t->fields();
  int rc = t->scan(0, true, [&](int32_t, uint8_t* rec) {
    ReadTable::Row row;
    const int32_t header = db::getI32(rec);
    row.serial = header < 0 ? -header : header;
    row.deleted = header < 0;
    row.cells.reserve(fields.size());
    for (const db::Field& f : fields) {
      rt::Result v;
      if (int code = loadField(*t, f, rec, &v); code != db::kOk) return code;
      row.cells.push_back(exportCell(f, v.arg(), amounts));
    }
    out->rows.push_back(std::move(row));
    return 0;
  });
  if (rc == db::kOk && out->rows.size() < size_t(count)) rc = db::kRecordReadFailed;
  return rc;
}

std::string quoted(const std::string& identifier) {
  std::string q = "\"";
  for (char c : identifier) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}

// --- SQLite ------------------------------------------------------------------------

class SqliteOut {
 public:
  ~SqliteOut() {
    if (insert_) sqlite3_finalize(insert_);
    if (db_) sqlite3_close(db_);
  }
  // A new database at `path` (any earlier file of that name is removed: it
  // is this export's own scratch name).
  bool open(const std::string& path) {
    ::unlink(path.c_str());
    if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) return false;
    // A scratch file put in place only when complete: no journal needed.
    return exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN");
  }
  bool add(const ReadTable& t) {
    std::string create = "CREATE TABLE " + quoted(t.name) + " (\"_serial\" INTEGER, \"_deleted\" INTEGER";
    std::string insert = "INSERT INTO " + quoted(t.name) + " VALUES (?, ?";
    for (size_t i = 0; i < t.columns.size(); ++i) {
      create += ", " + quoted(t.columns[i]) + " " + t.types[i];
      insert += ", ?";
    }
    if (!exec(create + ")")) return false;
    if (insert_) sqlite3_finalize(insert_);
    insert_ = nullptr;
    if (sqlite3_prepare_v2(db_, (insert + ")").c_str(), -1, &insert_, nullptr) != SQLITE_OK) return false;
    for (const ReadTable::Row& r : t.rows) {
      sqlite3_reset(insert_);
      sqlite3_bind_int64(insert_, 1, r.serial);
      sqlite3_bind_int(insert_, 2, r.deleted ? 1 : 0);
      int at = 3;
      for (const Cell& c : r.cells) {
        switch (c.kind) {
          case Cell::kInteger:
            sqlite3_bind_int64(insert_, at, c.integer);
            break;
          case Cell::kMoney:
            sqlite3_bind_double(insert_, at, rt::yuanOf(c.integer));
            break;
          case Cell::kReal:
            sqlite3_bind_double(insert_, at, c.real);
            break;
          case Cell::kDate:
          case Cell::kText:
            sqlite3_bind_text(insert_, at, c.text.data(), int(c.text.size()), SQLITE_STATIC);
            break;
          case Cell::kBlob:
            sqlite3_bind_blob(insert_, at, c.text.data(), int(c.text.size()), SQLITE_STATIC);
            break;
        }
        ++at;
      }
      if (sqlite3_step(insert_) != SQLITE_DONE) return false;
    }
    return true;
  }
  bool finish() {
    if (insert_) sqlite3_finalize(insert_);
    insert_ = nullptr;
    if (!exec("COMMIT")) return false;
    const bool ok = sqlite3_close(db_) == SQLITE_OK;
    db_ = nullptr;
    return ok;
  }
  std::string error() const { return db_ ? sqlite3_errmsg(db_) : "cannot open the database"; }

 private:
  bool exec(const std::string& sql) { return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK; }
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

// --- XLSX --------------------------------------------------------------------------

// A workbook written row by row (libxlsxwriter's constant-memory mode: a
// table's rows do not stay in memory), one worksheet per table.
class XlsxOut {
 public:
  ~XlsxOut() {
    if (book_) workbook_close(book_);  // a failed export's scratch file, removed by the caller
  }
  // A new workbook at `path` (its own scratch name).
  bool open(const std::string& path) {
    ::unlink(path.c_str());
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    book_ = workbook_new_opt(path.c_str(), &options);
    if (!book_) return false;
    header_ = workbook_add_format(book_);
    format_set_bold(header_);
    money_ = workbook_add_format(book_);
    format_set_num_format(money_, "0.00");
    day_ = workbook_add_format(book_);
    format_set_num_format(day_, "yyyy-mm-dd");
    time_ = workbook_add_format(book_);
    format_set_num_format(time_, "yyyy-mm-dd hh:mm:ss");
    return true;
  }
  // Rows a worksheet holds besides its header.
  static constexpr size_t kMaxRows = LXW_ROW_MAX - 1;

  bool add(const ReadTable& t) {
    lxw_worksheet* sheet = workbook_add_worksheet(book_, sheetName(t.name).c_str());
    if (!sheet) return fail(LXW_ERROR_SHEETNAME_ALREADY_USED);
    worksheet_freeze_panes(sheet, 1, 0);
    lxw_col_t col = 0;
    for (const char* name : {"_serial", "_deleted"})
      if (!ok(worksheet_write_string(sheet, 0, col++, name, header_))) return false;
    for (const std::string& c : t.columns)
      if (!ok(worksheet_write_string(sheet, 0, col++, c.c_str(), header_))) return false;
    lxw_row_t row = 1;
    for (const ReadTable::Row& r : t.rows) {
      if (!ok(worksheet_write_number(sheet, row, 0, r.serial, nullptr))) return false;
      if (!ok(worksheet_write_number(sheet, row, 1, r.deleted ? 1 : 0, nullptr))) return false;
      col = 2;
      for (const Cell& c : r.cells)
        if (!ok(write(sheet, row, col++, c))) return false;
      ++row;
    }
    return true;
  }
  bool finish() {
    const lxw_error rc = workbook_close(book_);
    book_ = nullptr;
    return ok(rc);
  }
  std::string error() const { return error_.empty() ? "cannot create the workbook" : error_; }

 private:
  lxw_error write(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t col, const Cell& c) {
    switch (c.kind) {
      case Cell::kInteger:
        return worksheet_write_number(sheet, row, col, double(c.integer), nullptr);
      case Cell::kMoney:
        return worksheet_write_number(sheet, row, col, rt::yuanOf(c.integer), money_);
      case Cell::kReal:
        // A spreadsheet has no infinity or NaN: those stay text.
        if (!std::isfinite(c.real))
          return worksheet_write_string(sheet, row, col, shortestText(c.real).c_str(), nullptr);
        return worksheet_write_number(sheet, row, col, c.real, nullptr);
      case Cell::kDate:
        // Day numbers count from 1899-12-30 here as in a spreadsheet, which
        // shows nothing before 1900-03-01 (day 61) rightly.
        if (!(c.real >= 61) || c.real >= 2958466) return text(sheet, row, col, c.text);
        return worksheet_write_number(sheet, row, col, c.real, c.real == std::floor(c.real) ? day_ : time_);
      case Cell::kBlob:
        return text(sheet, row, col, cellText(c));
      case Cell::kText:
        break;
    }
    return text(sheet, row, col, c.text);
  }
  // A text, cut at a character's start to 32767 bytes at most (a cell
  // holds 32767 characters).
  static lxw_error text(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t col, const std::string& utf8) {
    if (utf8.empty()) return LXW_NO_ERROR;  // an empty cell
    constexpr size_t kCellBytes = 32767;
    size_t end = std::min(utf8.size(), kCellBytes);
    while (end < utf8.size() && end > 0 && (uint8_t(utf8[end]) & 0xC0) == 0x80) --end;
    return worksheet_write_string(sheet, row, col, utf8.substr(0, end).c_str(), nullptr);
  }
  // A worksheet's name: at most 31 characters, none of []:*?/\ , and not
  // one already used in any letter case.
  std::string sheetName(const std::string& table) {
    std::string name;
    size_t chars = 0;
    for (size_t i = 0; i < table.size() && chars < 28; ++chars) {
      size_t n = 1;
      while (i + n < table.size() && (uint8_t(table[i + n]) & 0xC0) == 0x80) ++n;
      const std::string ch = table.substr(i, n);
      name += ch.find_first_of("[]:*?/\\") == std::string::npos ? ch : "_";
      i += n;
    }
    std::string unique = name;
    for (int k = 2; !used_.insert(lowerAscii(unique)).second; ++k) unique = name + "~" + std::to_string(k);
    return unique;
  }
  static std::string lowerAscii(std::string s) {
    for (char& c : s) c = char(std::tolower(uint8_t(c)));
    return s;
  }
  bool ok(lxw_error rc) {
    if (rc == LXW_NO_ERROR) return true;
    return fail(rc);
  }
  bool fail(lxw_error rc) {
    if (error_.empty()) error_ = lxw_strerror(rc);
    return false;
  }
  lxw_workbook* book_ = nullptr;
  lxw_format* header_ = nullptr;
  lxw_format* money_ = nullptr;
  lxw_format* day_ = nullptr;
  lxw_format* time_ = nullptr;
  std::set<std::string> used_;
  std::string error_;
};

// --- CSV ---------------------------------------------------------------------------

bool writeFileSynced(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fflush(f) == 0 && ok;
  ok = ::fsync(fileno(f)) == 0 && ok;
  return std::fclose(f) == 0 && ok;
}

// One table as CSV: header, then one line per record, CRLF line ends.
std::string csvOf(const ReadTable& t) {
  std::string s = "\xEF\xBB\xBF_serial,_deleted";
  for (const std::string& c : t.columns) {
    s += ',';
    s += csvCell(c);
  }
  s += "\r\n";
  for (const ReadTable::Row& r : t.rows) {
    s += std::to_string(r.serial);
    s += r.deleted ? ",1" : ",0";
    for (const Cell& c : r.cells) {
      s += ',';
      s += csvCell(cellText(c));
    }
    s += "\r\n";
  }
  return s;
}

bool syncPath(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

// Progress on a terminal, once the export has taken more than a second.
class Progress {
 public:
  explicit Progress(size_t total) : total_(total), tty_(::isatty(2) != 0) {}
  void at(size_t done, const std::string& name) {
    if (!tty_) return;
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    if (elapsed < std::chrono::seconds(1)) return;
    shown_ = true;
    say(stderr, "\r\033[K" + std::to_string(done) + "/" + std::to_string(total_) + " " + name);
    std::fflush(stderr);
  }
  ~Progress() {
    if (shown_) say(stderr, "\r\033[K");
  }

 private:
  size_t total_;
  bool tty_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

struct Skipped {
  std::string table, why;
};

}  // namespace

int exportCommand(const std::vector<std::string>& given, const std::string& password) {
  std::vector<std::string> args = given;
  auto flag = [&args](const char* name) {
    auto it = std::find(args.begin(), args.end(), name);
    if (it == args.end()) return false;
    args.erase(it);
    return true;
  };
  const bool csv = flag("--csv");
  const Amounts amounts = flag("--exact") ? Amounts::kExact : Amounts::kToTheFen;
  if (args.size() != 2) usage();
  const std::string& dir = args[0];
  std::string target = args[1];
  while (target.size() > 1 && target.back() == '/') target.pop_back();
  const bool xlsx = !csv && target.size() > 5 && lower(target.substr(target.size() - 5)) == ".xlsx";

  std::vector<std::string> files;
  if (int rc = listTables(dir, &files); rc != db::kOk) {
    say(stderr, "cannot read the folder " + dir + ": " + codeText(rc) + "\n");
    return 1;
  }
  if (files.empty()) {
    say(stderr, "no tables (.kdb) in " + dir + ": nothing exported\n");
    return 1;
  }
  if (csv && ::mkdir(target.c_str(), 0777) != 0 && errno != EEXIST) {
    std::perror(("kdbtool: " + target).c_str());
    return 1;
  }
  // A table another workstation is scanning or packing is waited for.
  db::setLockWaitMs(30000);

  const std::string scratch = csv ? "" : target + ".part";
  SqliteOut sql;
  XlsxOut book;
  if (xlsx ? !book.open(scratch) : !csv && !sql.open(scratch)) {
    say(stderr, "cannot write " + scratch + ": " + (xlsx ? book.error() : sql.error()) + "\n");
    ::unlink(scratch.c_str());
    return 1;
  }

  std::vector<Skipped> skipped;
  std::set<std::string> names;  // SQL names are compared ignoring case
  size_t tables = 0, records = 0;
  {
    Progress progress(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
      const std::string& file = files[i];
      progress.at(i, file);
      ReadTable t;
      t.name = file.substr(0, file.size() - 4);
      if (!names.insert(lower(t.name)).second) {
        skipped.push_back({file, "another table of the folder has the same name in other letter case"});
        continue;
      }
      const std::string path = joinPath(dir, file);
      if (int rc = readTable(path, password, amounts, &t); rc != db::kOk) {
        const bool packStopped = rc == db::kFileSizeWrong && db::sizeFaultOf(path) == db::SizeFault::kPackUnfinished;
        skipped.push_back({file, packStopped ? packUnfinishedText() : codeText(rc)});
        continue;
      }
      if (csv) {
        const std::string out = joinPath(target, t.name + ".csv");
        const std::string part = out + ".part";
        if (!writeFileSynced(part, csvOf(t)) || std::rename(part.c_str(), out.c_str()) != 0) {
          ::unlink(part.c_str());
          say(stderr, "cannot write " + out + "\n");
          return 1;
        }
      } else if (xlsx && t.rows.size() > XlsxOut::kMaxRows) {
        skipped.push_back({file, "more rows than a worksheet holds"});
        continue;
      } else if (xlsx ? !book.add(t) : !sql.add(t)) {
        say(stderr, "cannot write " + scratch + ": " + (xlsx ? book.error() : sql.error()) + "\n");
        ::unlink(scratch.c_str());
        return 1;
      }
      ++tables;
      records += t.rows.size();
    }
  }
  if (!csv) {
    const bool finished = xlsx ? book.finish() : sql.finish();
    if (!finished || !syncPath(scratch) || std::rename(scratch.c_str(), target.c_str()) != 0) {
      say(stderr, "cannot write " + target + "\n");
      ::unlink(scratch.c_str());
      return 1;
    }
  } else {
    syncPath(target);
  }
  say(stdout, "exported " + std::to_string(tables) + " of " + std::to_string(files.size()) + " tables (" +
                  std::to_string(records) + " records) to " + target + "\n");
  if (skipped.empty()) return 0;
  std::string text = "not exported (could not be read):";
  for (const Skipped& s : skipped) text += "\n  " + s.table + " " + s.why;
  say(stderr, text + "\n");
  return 1;
}

}  // namespace kdbtool
