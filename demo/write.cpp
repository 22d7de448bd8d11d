// Writing a made-up year through the engine, with the application's own
// table definitions and names: the tables are the ones the windows would
// have left behind.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/charges/charging.h"
#include "app/charges/inpatient_bill.h"
#include "app/charges/outpatient.h"
#include "app/charges/stock_journal.h"
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
    // whenever it is written. The clock is given back as it was found
    // (a test's frozen day stays frozen).
    const double clock = rt::frozenClock();
    at(rt::makeDateTime(y_.year, 1, 1, 8, 0, 0));
    catalogue() && users() && admissions() && outpatient() && stockJournal() && postings();
    rt::setClock(clock);
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
    if (!app::useTable(name, {.def = &def, .createWhenMissing = true}).ok()) return fail("cannot create table " + name);
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

  // The months up to the year's last day; later months have no table yet.
  bool outpatient() {
    for (int m = 1; m <= y_.months(); ++m) {
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

  // The stock journal the year's work leaves: every catalogue record added
  // with the stock it started the year with (its stock at the end of the
  // year and all that was charged from it), then every charge in the order
  // of its day, each lowering the record the charge windows' stock step
  // lowers (the first with the charge's name, category and sale price). So
  // the journal implies exactly the catalogue's stock.
  bool stockJournal() {
    struct Movement {
      double day;
      int target;
      int32_t quantity;
      const std::string* reference;
      bool inpatient;
      int cashier;
      std::string table;  // the line's charge table
      int32_t serial;     // and its serial there: its place in the table, from 1
    };
    const auto& items = y_.catalogue;
    std::vector<int> target(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
      target[i] = int(i);
      for (size_t j = 0; j < i; ++j)
        if (items[j].mch == items[i].mch && items[j].lb == items[i].lb && items[j].xj == items[i].xj) {
          target[i] = int(j);
          break;
        }
    }
    std::vector<Movement> moves;
    for (const Admission& a : y_.admissions)
      for (size_t k = 0; k < a.lines.size(); ++k) {
        const Line& l = a.lines[k];
        moves.push_back({l.shj, target[size_t(l.item)], l.shl, &a.zyh, true, l.cashier, app::patientChargeTable(a.zyh),
                         int32_t(k + 1)});
      }
    for (int m = 1; m <= y_.months(); ++m) {
      const auto& month = y_.outpatient[size_t(m - 1)];
      const std::string table = app::monthlyOutpatientTable(rt::DateTime{monthStart(m)});
      for (size_t k = 0; k < month.size(); ++k) {
        const Line& l = month[k];
        moves.push_back({l.shj, target[size_t(l.item)], l.shl, &l.cf, false, l.cashier, table, int32_t(k + 1)});
      }
    }
    std::stable_sort(moves.begin(), moves.end(), [](const Movement& a, const Movement& b) { return a.day < b.day; });
    std::vector<int64_t> stock(items.size());
    for (size_t i = 0; i < items.size(); ++i) stock[i] = items[i].shl;
    for (const Movement& m : moves) stock[size_t(m.target)] += m.quantity;

    app::journal::setWorkstation("clinic-demo");
    at(rt::makeDateTime(y_.year, 1, 1, 8, 0, 0));
    if (app::journal::prepare() != 0) return fail("cannot create the stock journal");
    auto append = [&](const Item& it, int32_t change, int64_t after, const std::string& reason,
                      const std::string& reference, int cashier, const app::journal::Operation& by) {
      app::journal::Entry e;
      e.dm = it.dm;
      e.mch = it.mch;
      e.ph = it.ph;
      e.change = change;
      e.after = int32_t(after);
      e.why = {reason, reference, y_.users[size_t(cashier)].name};
      e.by = by;
      return app::journal::appendToCurrent(e) == 0;
    };
    db::AppendBatch batch;
    for (size_t i = 0; i < items.size(); ++i)
      if (stock[i] != 0 && !append(items[i], int32_t(stock[i]), stock[i], app::journal::catalogueAdd(), "", 0, {}))
        return fail("stock journal entry of " + items[i].dm);
    for (const Movement& m : moves) {
      at(m.day + kChargeTime);
      int64_t& s = stock[size_t(m.target)];
      s -= m.quantity;
      if (!append(items[size_t(m.target)], -m.quantity, s,
                  m.inpatient ? app::journal::inpatientCharge() : app::journal::outpatientCharge(), *m.reference,
                  m.cashier, {opOf(size_t(&m - moves.data())), m.table, m.serial}))
        return fail("stock journal entry of a charge");
    }
    if (batch.finish() != 0) return fail("stock journal entries");
    return closeCurrent(app::kStockJournalName);
  }

  // The operation id of the demo year's n-th charge: the same on every
  // machine.
  static std::string opOf(size_t n) {
    char id[17];
    std::snprintf(id, sizeof id, "demo%012zx", n);
    return id;
  }

  // Charges are made in the morning.
  static constexpr double kChargeTime = 9.0 / 24;

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
      if (!app::useTable(table, app::chargeTable()).ok()) return fail("cannot open charge table " + table);
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
      if (!app::useTable(kSums, app::chargeTable()).ok()) return fail("cannot open " + std::string(kSums));
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
