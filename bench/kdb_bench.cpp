// Times the charge-window queries on a 1,000,000-line charge table (the ten
// charge-line fields), in one run on the same data: the engine, SQLite
// (one table, no index, inserts in one transaction) and a raw read() of the
// table file as the floor.
//
//   kdb_bench [lines]
//
// Ends with its rows of bench/run's table.
#include <fcntl.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "db/engine.h"
#include "db/facade.h"
#include "db/os.h"
#include "db/table.h"
#include "runtime/gbk.h"

namespace {

double seconds(const std::function<void()>& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The best of three runs, for the read-only queries: the machine is shared,
// and the fastest run is the one least disturbed by others.
double bestOf3(const std::function<void()>& f) {
  double best = seconds(f);
  for (int i = 0; i < 2; ++i) best = std::min(best, seconds(f));
  return best;
}

// A row of bench/run's table: both times and their ratio against a goal
// for the ratio (0: no goal set, the figures only).
void tableRow(const char* key, const char* what, double engine, double sqlite, double goalRatio, const char* goal) {
  char measured[128];
  std::snprintf(measured, sizeof measured, "engine %.3f s, SQLite %.3f s (%.2fx)", engine, sqlite, engine / sqlite);
  std::printf("row\t%s\t%s\t%s\t%s\t%s\n", key, what, measured, goal,
              goalRatio <= 0                 ? "-"
              : engine <= goalRatio * sqlite ? "yes"
                                             : "NO");
}

const char* const kCategories[17] = {"西药", "检查", "手术", "中成", "输氧", "治疗", "化验", "其它", "中草",
                                     "放射", "输血", "住院", "冷暖", "接生", "婴儿", "医疗", "监护"};

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "%s failed: %d %s\n", what, db::lastError(),
                 rt::gbkToUtf8(db::errorText(db::lastError())).c_str());
    std::exit(1);
  }
}

void sq(sqlite3* s, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(s, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite: %s\n", err);
    std::exit(1);
  }
}

// The data every run appends: the same lines, in the same order.
struct Workload {
  int n = 0;
  std::vector<std::string> cats;
  std::string xiyao, nothing, name, unit, cls;

  explicit Workload(int lines) : n(lines) {
    for (const char* c : kCategories) cats.push_back(rt::utf8ToGbk(c));
    xiyao = cats[0];
    nothing = rt::utf8ToGbk("无此类");
    name = rt::utf8ToGbk("阿莫西林胶囊");
    unit = rt::utf8ToGbk("盒");
    cls = rt::utf8ToGbk("甲类");
  }
  // Line i's quantity, price and category.
  const std::string& lineOf(int i, int* shl, float* dj) const {
    *shl = i % 100;
    *dj = float(i % 1000) / 10.0f;
    return cats[size_t(i % 17)];
  }
};

// Seconds each query took in one store.
struct Timings {
  double append = 0, sum = 0, find = 0, copy = 0, del = 0, pack = 0;
};

// What the engine's run measured besides the shared queries.
struct EngineRun {
  Timings t;
  int lone = 0;       // appends made each on its own
  double loneS = 0;   // their time
  double raw = 0;     // read() of the whole table file
  int64_t bytes = 0;  // the table file's size
  int left = 0;       // records kept after the pack
  double sum = 0;     // the conditional sum's value
};

void appendLines(const Workload& w, int from, int to) {
  for (int i = from; i < to; ++i) {
    int shl;
    float dj;
    const std::string& lb = w.lineOf(i, &shl, &dj);
    check(
        cmd::AppendRecord(rt::DateTime{40300}, w.name, lb, w.cls, shl, w.unit, dj, float(shl) * dj, "0101234", "admin"),
        "append");
  }
}

EngineRun runEngine(const Workload& w) {
  EngineRun e;
  for (const char* month : {"m20105", "m20106"})
    check(cmd::CreateDatabase(month, {{"shj", 8, 20},
                                      {"mch", 10, 30},
                                      {"lb", 10, 6},
                                      {"bx", 10, 6},
                                      {"shl", 3, 20},
                                      {"dw", 10, 6},
                                      {"dj", 5, 20},
                                      {"hj", 5, 20},
                                      {"cf", 10, 10},
                                      {"shf", 10, 10}}),
          "create");
  check(cmd::OpenDatabase("m20106"), "open");
  check(cmd::OpenDatabase("m20105"), "open");
  // Appends one by one in one step, as SQLite's inserts run in one
  // transaction: an append batch, finished and synced like a commit.
  e.t.append = seconds([&] {
    db::AppendBatch batch;
    appendLines(w, 0, w.n);
    check(batch.finish() == 0, "batch");
    check(db::os::syncWritten() == 0, "sync");
  });
  // The same appends each on its own (as charges make them), a tenth as
  // many, into a table of their own.
  e.lone = std::max(1, w.n / 10);
  check(cmd::SetCurrentDatabase("m20106"), "current");
  e.loneS = seconds([&] { appendLines(w, 0, e.lone); });
  check(db::os::syncWritten() == 0, "sync");
  cmd::CloseDatabase("m20106");
  check(cmd::SetCurrentDatabase("m20105"), "current");
  // The floor: read() of the whole table file, as the scans read it.
  e.bytes = int64_t(std::filesystem::file_size("m20105.kdb"));
  e.raw = seconds([&] {
    int fd = ::open("m20105.kdb", O_RDONLY);
    std::vector<char> buf(163840);
    while (::read(fd, buf.data(), buf.size()) > 0) {}
    ::close(fd);
  });
  auto hj = [] { return cmd::ReadField("hj").release(); };
  auto isWest = [&] { return rt::makeBool(db::fieldTextEquals("lb", w.xiyao)); };
  auto isNothing = [&] { return rt::makeBool(db::fieldTextEquals("lb", w.nothing)); };
  auto tenth = [] { return rt::makeBool(cmd::ReadField("shl").integer() % 10 == 0); };
  rt::Expr hjE(hj);
  rt::Expr westE(isWest);
  rt::Expr nothingE(isNothing);
  rt::Expr tenthE(tenth);
  e.t.sum = bestOf3([&] { e.sum = cmd::SumRecords(hjE.arg(), westE.arg()); });
  check(db::lastError() == 0, "sum");
  bool found = true;
  e.t.find = bestOf3([&] {
    cmd::MoveFirst();
    found = cmd::FindRecord(nothingE.arg());
  });
  check(!found && db::lastError() == 0, "find");
  e.t.copy = seconds([&] { check(cmd::CopyRecords("lshk", westE.arg()), "copy"); });
  e.t.del = seconds([&] { check(cmd::DeleteRecords(tenthE.arg()), "delete"); });
  e.t.pack = seconds([&] { check(cmd::PackDatabase(), "pack"); });
  e.left = cmd::RecordCount();
  db::closeAllDatabases();
  return e;
}

// The same lines and queries in SQLite; *sum and *found (-1: no hit) as
// the queries answered.
Timings runSqlite(const Workload& w, double* sum, double* found) {
  Timings t;
  sqlite3* s = nullptr;
  sqlite3_open("bench.sqlite", &s);
  sq(s,
     "CREATE TABLE t(shj REAL, mch TEXT, lb TEXT, bx TEXT, shl INTEGER, dw TEXT, dj REAL, hj REAL, cf TEXT, shf TEXT)");
  t.append = seconds([&] {
    sq(s, "BEGIN");
    sqlite3_stmt* st;
    sqlite3_prepare_v2(s, "INSERT INTO t VALUES(?,?,?,?,?,?,?,?,?,?)", -1, &st, nullptr);
    for (int i = 0; i < w.n; ++i) {
      int shl;
      float dj;
      const std::string& lb = w.lineOf(i, &shl, &dj);
      sqlite3_bind_double(st, 1, 40300);
      sqlite3_bind_text(st, 2, w.name.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(st, 3, lb.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(st, 4, w.cls.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_int(st, 5, shl);
      sqlite3_bind_text(st, 6, w.unit.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_double(st, 7, dj);
      sqlite3_bind_double(st, 8, double(float(shl) * dj));
      sqlite3_bind_text(st, 9, "0101234", -1, SQLITE_STATIC);
      sqlite3_bind_text(st, 10, "admin", -1, SQLITE_STATIC);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sq(s, "COMMIT");
  });
  auto scalar = [&](const std::string& sql, const std::string& arg) {
    sqlite3_stmt* st;
    sqlite3_prepare_v2(s, sql.c_str(), -1, &st, nullptr);
    sqlite3_bind_text(st, 1, arg.c_str(), -1, SQLITE_TRANSIENT);
    double v = -1;
    if (sqlite3_step(st) == SQLITE_ROW) v = sqlite3_column_double(st, 0);
    sqlite3_finalize(st);
    return v;
  };
  t.sum = bestOf3([&] { *sum = scalar("SELECT SUM(hj) FROM t WHERE lb=?", w.xiyao); });
  t.find = bestOf3([&] { *found = scalar("SELECT rowid FROM t WHERE lb=? LIMIT 1", w.nothing); });
  t.copy = seconds([&] {
    sqlite3_stmt* st;
    sq(s, "CREATE TABLE lshk AS SELECT * FROM t WHERE 0");
    sqlite3_prepare_v2(s, "INSERT INTO lshk SELECT * FROM t WHERE lb=?", -1, &st, nullptr);
    sqlite3_bind_text(st, 1, w.xiyao.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(st);
    sqlite3_finalize(st);
  });
  t.del = seconds([&] { sq(s, "DELETE FROM t WHERE shl % 10 = 0"); });
  t.pack = seconds([&] { sq(s, "VACUUM"); });
  sqlite3_close(s);
  return t;
}

// The side-by-side table for a reader of the output.
void printComparison(const Workload& w, const EngineRun& e, const Timings& q, double ssum, double sfound) {
  std::printf("lines %d, table file %lld bytes, kept after pack %d\n", w.n, (long long)e.bytes, e.left);
  std::printf("sum check: engine %.2f, sqlite %.2f; sqlite find hit %s\n", e.sum, ssum, sfound >= 0 ? "yes" : "no");
  std::printf("%-26s %10s %10s %10s %10s\n", "operation", "engine s", "sqlite s", "eng/sql", "eng/raw");
  auto row = [&](const char* what, double es, double qs, bool scan) {
    std::printf("%-26s %10.4f %10.4f %10.2f", what, es, qs, es / qs);
    if (scan) std::printf(" %10.2f", es / e.raw);
    std::printf("\n");
  };
  row("append (one by one)", e.t.append, q.append, false);
  row("sum hj where lb=西药", e.t.sum, q.sum, true);
  row("find, no match", e.t.find, q.find, true);
  row("copy where lb=西药", e.t.copy, q.copy, true);
  row("delete 10% (condition)", e.t.del, q.del, true);
  row("pack / vacuum", e.t.pack, q.pack, true);
  std::printf("%-26s %10.4f\n", "raw read() of the file", e.raw);
}

// What a charge handler leaves for the disk: a line appended to the
// month's table (here the 1M-line one), the drug's stock lowered in a
// 5,000-item catalogue, and both synced as the handler returns. Prints the
// times and their row of bench/run's table.
void timeDurableCharge(const Workload& w) {
  check(cmd::CreateDatabase("ypjbxx", {{"dm", 10, 10}, {"shl", 3, 0}}), "create catalogue");
  check(cmd::OpenDatabase("ypjbxx"), "open catalogue");
  for (int i = 0; i < 5000; ++i) check(cmd::AppendRecord(std::to_string(i).insert(0, 1, 'D'), 1000000), "catalogue");
  check(db::os::syncWritten() == 0, "sync");
  // The month's table: open again unless the runs above left it open.
  if (!cmd::SetCurrentDatabase("m20105")) check(cmd::OpenDatabase("m20105"), "open month");
  std::vector<double> chargeMs, syncMs;
  for (int k = 0; k < 40; ++k) {
    auto t0 = std::chrono::steady_clock::now();
    check(cmd::SetCurrentDatabase("m20105"), "current");
    check(cmd::AppendRecord(rt::DateTime{40300}, w.name, w.xiyao, w.cls, 1, w.unit, 2.5f, 2.5f, "0101234", "admin"),
          "charge line");
    check(cmd::SetCurrentDatabase("ypjbxx"), "current");
    check(cmd::MoveTo(4000 + k), "move");
    check(cmd::ModifyRecord(rt::omitted, cmd::ReadField("shl").integer() - 1), "stock");
    auto t1 = std::chrono::steady_clock::now();
    check(db::os::syncWritten() == 0, "sync");
    auto t2 = std::chrono::steady_clock::now();
    chargeMs.push_back(std::chrono::duration<double, std::milli>(t2 - t0).count());
    syncMs.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
  }
  std::sort(chargeMs.begin(), chargeMs.end());
  std::sort(syncMs.begin(), syncMs.end());
  const double median = chargeMs[chargeMs.size() / 2], syncMedian = syncMs[syncMs.size() / 2];
  std::printf("%-26s median %.2f ms, of it the sync %.2f ms, slowest %.2f ms\n", "durable charge", median, syncMedian,
              chargeMs.back());
  char measured[160];
  std::snprintf(measured, sizeof measured, "median %.2f ms, of it the sync %.2f ms (slowest %.2f ms)", median,
                syncMedian, chargeMs.back());
  std::printf("row\t%s\t%s\t%s\t%s\t%s\n", "engine.charge", "one charge made durable (line and stock synced)", measured,
              "part of a charge's 150 ms", median <= 150 ? "yes" : "NO");
}

// bench/run's rows for the engine against SQLite.
void printTableRows(const Workload& w, const EngineRun& e, const Timings& q) {
  tableRow("engine.append", "append 1M charge lines one by one (one step)", e.t.append, q.append, 2,
           "engine <= 2x SQLite");
  char measured[128];
  std::snprintf(measured, sizeof measured, "%.2f us an append (in a step: %.2f us)", e.loneS / e.lone * 1e6,
                e.t.append / w.n * 1e6);
  std::printf("row\tengine.append1\tone append on its own (a charge's line)\t%s\tnone set\t-\n", measured);
  tableRow("engine.sum", "conditional sum over 1M lines", e.t.sum, q.sum, 0.5, "engine <= 1/2 SQLite");
  tableRow("engine.find", "find with no match over 1M lines", e.t.find, q.find, 1, "engine <= SQLite");
  tableRow("engine.copy", "copy the matching lines", e.t.copy, q.copy, 0, "none set");
  tableRow("engine.pack", "pack after deleting 10%", e.t.pack, q.pack, 0, "none set");
}

}  // namespace

int main(int argc, char** argv) {
  const Workload w(argc > 1 ? std::atoi(argv[1]) : 1000000);
  char tmpl[] = "/tmp/kdb_bench.XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  std::filesystem::current_path(tmpl);
  db::registerDatabaseCommands();

  const EngineRun e = runEngine(w);
  double ssum = 0, sfound = 0;
  const Timings q = runSqlite(w, &ssum, &sfound);
  printComparison(w, e, q, ssum, sfound);
  timeDurableCharge(w);
  printTableRows(w, e, q);

  std::filesystem::current_path("/");
  std::filesystem::remove_all(tmpl);
  return 0;
}
