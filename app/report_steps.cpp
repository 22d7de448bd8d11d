#include "app/report_steps.h"

#include <cmath>
#include <limits>

#include "app/stored.h"
#include "db/each.h"
#include "db/engine.h"
#include "db/errors.h"
#include "db/facade.h"
#include "runtime/builtins.h"
#include "runtime/fatal.h"

namespace app::report {
// --- figures -----------------------------------------------------------------------

Figure Figure::single(double sum) {
  Figure f;
  f.kind_ = kSingle;
  f.single_ = asStored(sum);
  return f;
}

Figure Figure::whole(double sum) {
  Figure f;
  f.kind_ = kWhole;
  constexpr double kLow = std::numeric_limits<int32_t>::min();
  constexpr double kHigh = std::numeric_limits<int32_t>::max();
  const double cut = std::trunc(sum);
  f.whole_ = std::isnan(cut) ? 0 : cut <= kLow ? int32_t(kLow) : cut >= kHigh ? int32_t(kHigh) : int32_t(cut);
  return f;
}

Figure Figure::combined(std::initializer_list<Figure> parts) {
  return sumOf(std::span<const Figure>(parts.begin(), parts.size()));
}

Figure Figure::sumOf(std::span<const Figure> parts) {
  Figure f;
  f.kind_ = kCombined;
  for (const Figure& p : parts) f.combined_ += p.value();
  return f;
}

double Figure::value() const {
  switch (kind_) {
    case kSingle: return single_;
    case kWhole: return whole_;
    case kCombined: break;
  }
  return combined_;
}

rt::Arg Figure::arg() const {
  switch (kind_) {
    case kSingle: return rt::makeFloat(single_);
    case kWhole: return rt::makeInt(whole_);
    case kCombined: break;
  }
  return rt::makeDouble(combined_);
}

std::string Figure::text() const { return cmd::MoneyText(value()); }

// --- period tables ------------------------------------------------------------------

double Sums::next(Wanted w) {
  if (!read_) {
    wanted_.push_back(std::move(w));
    return 0;
  }
  // Taken in the order named; a reading step that asks for more than it
  // named gets 0, as a failed sum does.
  return taken_ < wanted_.size() ? wanted_[taken_++].sum : 0;
}

double Sums::of(const char* gbkField) { return next({gbkField, "", "", nullptr, 0}); }

double Sums::where(const char* gbkField, const char* gbkTextField, const std::string& value) {
  return next({gbkField, gbkTextField, value, nullptr, 0});
}

double Sums::when(const char* gbkField, const std::function<bool()>& keep) {
  return next({gbkField, "", "", keep, 0});
}

void Sums::readAll() {
  read_ = true;
  taken_ = 0;
  // The same record's field is asked for by several sums: each field is
  // read once per record.
  std::vector<std::string> fields;
  std::vector<size_t> fieldOf;
  for (const Wanted& w : wanted_) {
    size_t i = 0;
    while (i < fields.size() && fields[i] != w.field) ++i;
    if (i == fields.size()) fields.push_back(w.field);
    fieldOf.push_back(i);
  }
  std::vector<double> values(fields.size());
  const int rc = db::forEachRecord(
      [&] {
        for (size_t i = 0; i < fields.size(); ++i) {
          rt::Result v = cmd::ReadField(fields[i].c_str());
          // A value that is not a number stops the program, as it stops
          // SumRecords.
          if (!rt::numericValue(v.arg(), &values[i])) rt::raiseRuntimeError(11);
        }
        for (size_t k = 0; k < wanted_.size(); ++k) {
          Wanted& w = wanted_[k];
          if (!w.textField.empty() && !db::fieldTextEquals(w.textField.c_str(), w.value)) continue;
          if (w.keep && !w.keep()) continue;
          w.sum += values[fieldOf[k]];
        }
      },
      true);
  if (rc != db::kOk) {
    failure_ = rc;
    for (Wanted& w : wanted_) w.sum = 0;
  }
}


int openPeriodTable(const std::string& name) {
  cmd::OpenDatabase(name);
  int code = db::lastError();
  if (code == db::kAlreadyOpen) code = 0;
  if (code == 0 && !cmd::SetCurrentDatabase(name)) code = db::lastError();
  return code;
}

bool readPeriodTable(const std::string& name, const std::function<void(Sums&)>& read,
                     std::vector<Unreadable>* unreadable) {
  if (!cmd::FileExists(name + ".kdb")) {
    // Not there: the report draws the case without it. A folder that could
    // not be read is named like a table that could not be.
    if (db::lastError() != db::kOk) unreadable->push_back({name, db::lastError()});
    return false;
  }
  // Read only: a report never changes a file. A read-only open repairs
  // nothing, so a table that would need repair (cut mid-record, a pack
  // not finished) is refused here and counted as missing, named below. A
  // table this program has open already (a charge window's month, a table
  // being corrected) is read through that handle and left open; one the
  // report opened is closed again, so that a later posting or correction
  // opens it for writing.
  cmd::OpenDatabase(name, "", true);
  int code = db::lastError();
  const bool openedHere = code == db::kOk;
  if (code == db::kAlreadyOpen) code = 0;
  if (code == 0 && !cmd::SetCurrentDatabase(name)) code = db::lastError();
  if (code != 0) {
    if (openedHere) cmd::CloseDatabase(name);
    unreadable->push_back({name, code});
    return false;
  }
  // The figures named, one pass over the table, the figures taken.
  Sums sums;
  read(sums);
  cmd::MoveFirst();
  sums.readAll();
  read(sums);
  if (openedHere) cmd::CloseDatabase(name);
  if (sums.failure() != 0) {
    unreadable->push_back({name, sums.failure()});
    return false;
  }
  return true;
}

// --- the four cases -------------------------------------------------------------------

Case chooseCase(bool firstRead, bool secondRead) {
  if (firstRead && secondRead) return Case::kBoth;
  if (!firstRead && !secondRead) return Case::kNeither;
  if (firstRead) return Case::kFirstOnly;
  return Case::kSecondOnly;
}

}  // namespace app::report
