// Writing a made-up year through the engine, with the application's own
// table definitions and names: the tables are the ones the windows would
// have left behind.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/charging.h"
#include "app/inpatient_bill.h"
#include "app/outpatient.h"
#include "app/tables.h"
#include "db/engine.h"
#include "db/facade.h"
#include "demo/year.h"
#include "runtime/clock.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"

namespace demo {
namespace {

// The first failure ends the writing; its engine code and text are kept.
class Writer {
 public:
  explicit Writer(const Year& y) : y_(y) {}

  WriteResult run() {
    // Each table is made at the moment its window would have made it (the
    // creation time is in its header), so a scale gives the same bytes
    // whenever it is written.
    at(rt::makeDateTime(y_.year, 1, 1, 8, 0, 0));
    catalogue() && users() && admissions() && outpatient() && postings();
    rt::clearClock();
    WriteResult r;
    r.ok = error_.empty();
    r.error = error_;
    return r;
  }

 private:
  bool fail(const std::string& what) {
    const int code = db::lastError();
    error_ = what;
    if (code != 0) error_ += ": " + std::to_string(code) + " " + rt::gbkToUtf8(db::errorText(code));
    return false;
  }

  // Creates the table (it must not exist) and makes it current.
  bool create(const std::string& name, const app::TableDef& def) {
    if (cmd::FileExists(name + ".kdb")) return fail("table " + name + " exists already");
    if (app::openTable(name, def) != 0) return fail("cannot create table " + name);
    return true;
  }

  static void at(double when) { rt::setClock(when); }

  bool closeCurrent(const std::string& name) {
    cmd::CloseDatabase(name);
    return true;
  }

  bool catalogue() {
    if (!create(app::kDrugCatalogueName, app::kDrugCatalogue)) return false;
    db::AppendBatch batch;
    for (const Item& it : y_.catalogue) {
      // The stock values as the drug window keeps them: the products in
      // double precision, stored as floats.
      const float jh = float(double(it.shl) * double(it.jj));
      const float xh = float(double(it.shl) * double(it.xj));
      if (!cmd::AppendRecord(it.dm, it.mch, it.bm, it.lb, it.bx, it.ph, it.gg, rt::DateTime{it.shch},
                             rt::DateTime{it.yx}, it.chd, it.dw, it.shl, it.jj, jh, it.xj, xh))
        return fail("catalogue record " + it.dm);
    }
    if (batch.finish() != 0) return fail("catalogue records");
    return closeCurrent(app::kDrugCatalogueName);
  }

  bool users() {
    if (!create(app::kUsersName, app::kUsers)) return false;
    for (const User& u : y_.users)
      if (!cmd::AppendRecord(u.name, u.password)) return fail("user record");
    return closeCurrent(app::kUsersName);
  }

  // A charge line as the charge windows append it: name, category, class,
  // unit and price from the catalogue record, the total quantity x price
  // in double precision stored as a float.
  bool chargeLine(const Line& l) {
    const Item& it = y_.catalogue[size_t(l.item)];
    const float dj = it.xj;
    const float hj = float(double(l.shl) * double(dj));
    return cmd::AppendRecord(rt::DateTime{l.shj}, it.mch, it.lb, it.bx, l.shl, it.dw, dj, hj, l.cf,
                             y_.users[size_t(l.cashier)].name);
  }

  bool admissions() {
    if (!create(app::kInpatientsName, app::kInpatients)) return false;
    for (const Admission& a : y_.admissions)
      if (!cmd::AppendRecord(a.xm, a.xb, a.nl, a.zh, rt::DateTime{a.sj}, a.bz, a.zyh, a.ks, a.cwh,
                             y_.doctors[size_t(a.doctor)], a.yfk))
        return fail("admission " + a.zyh);
    closeCurrent(app::kInpatientsName);
    for (const Admission& a : y_.admissions) {
      const std::string table = app::patientChargeTable(a.zyh);
      at(a.sj);
      if (!create(table, app::kChargeLines)) return false;
      db::AppendBatch batch;
      for (const Line& l : a.lines)
        if (!chargeLine(l)) return fail("charge line of " + a.zyh);
      if (batch.finish() != 0) return fail("charge lines of " + a.zyh);
      closeCurrent(table);
    }
    return true;
  }

  bool outpatient() {
    for (int m = 1; m <= 12; ++m) {
      const std::string table = app::monthlyOutpatientTable(rt::DateTime{monthStart(m)});
      at(monthStart(m) + 8.0 / 24);
      if (!create(table, app::kChargeLines)) return false;
      db::AppendBatch batch;
      for (const Line& l : y_.outpatient[size_t(m - 1)])
        if (!chargeLine(l)) return fail("outpatient line in " + table);
      if (batch.finish() != 0) return fail("outpatient lines in " + table);
      closeCurrent(table);
    }
    return true;
  }

  // The bills' postings, posted by the bill code of the charge windows
  // with the clock at the moment each bill was printed: the inpatient bills
  // of the discharged patients in the order they were printed, then every
  // outpatient prescription on its day. The tables are the windows'
  // ("bz"/"bm" + year, "n" + year + month) and each record is what their
  // print would have left.
  bool postings() {
    const bool done = inpatientBills() && outpatientBills();
    db::closeAllDatabases();
    return done;
  }

  bool inpatientBills() {
    std::vector<const Admission*> billed;
    for (const Admission& a : y_.admissions)
      if (a.billed != 0) billed.push_back(&a);
    std::stable_sort(billed.begin(), billed.end(),
                     [](const Admission* a, const Admission* b) { return a->billed < b->billed; });
    for (const Admission* a : billed) {
      at(a->billed + kBillTime);
      // The figures the window shows for him and prints: the category
      // totals of his whole charge table.
      const std::string table = app::patientChargeTable(a->zyh);
      if (app::openChargeTable(table) != 0) return fail("cannot open charge table " + table);
      app::ChargeFigures figures;
      if (app::readPatientLines(nullptr, &figures) != 0) return fail("cannot read charge table " + table);
      if (!app::postInpatientBill(cmd::DateOnly(cmd::Now()), a->zyh, figures, a->zyh))
        return fail("inpatient bill postings of " + a->zyh);
      closeCurrent(table);
    }
    return true;
  }

  // A prescription's totals are summed over a scratch table holding only
  // its lines, in their order: the sums the window takes over the month's
  // table count only the prescription's lines, so they come out the same,
  // without a scan of the whole month for each of a busy month's
  // prescriptions.
  bool outpatientBills() {
    if (!y_.prescriptions.empty()) {
      at(monthStart(y_.prescriptions.front().month) + kBillTime);
      if (!create(kSums, app::kChargeLines)) return false;
    }
    for (const Prescription& p : y_.prescriptions) {
      at(p.day + kBillTime);
      if (app::openChargeTable(kSums) != 0) return fail("cannot open " + std::string(kSums));
      cmd::ZapDatabase();
      const auto& month = y_.outpatient[size_t(p.month - 1)];
      for (size_t i = p.first; i < p.first + p.count; ++i)
        if (!chargeLine(month[i])) return fail("prescription line of " + p.cf);
      const app::CategoryTotals totals = app::sumCharges(p.cf).categories;
      if (!app::postOutpatientBill(p.cf, totals)) return fail("outpatient bill posting of " + p.cf);
    }
    if (!y_.prescriptions.empty()) {
      cmd::CloseDatabase(kSums);
      std::error_code ec;
      for (const auto& e : std::filesystem::directory_iterator(".", ec))
        if (e.path().stem() == kSums) std::filesystem::remove(e.path(), ec);
    }
    return true;
  }

  // Bills are printed in the afternoon.
  static constexpr double kBillTime = 16.0 / 24;
  static constexpr const char* kSums = "demosum";

  double monthStart(int month) const { return rt::makeDateTime(y_.year, month, 1, 0, 0, 0); }

  const Year& y_;
  std::string error_;
};

}  // namespace

WriteResult writeYear(const Year& y) { return Writer(y).run(); }

}  // namespace demo
