#include "app/figures/period_reading.h"

#include <cmath>
#include <limits>
#include <string_view>

#include "app/figures/kept_figures.h"
#include "app/figures/stored_amounts.h"
#include "app/table_use.h"
#include "db/each.h"
#include "db/engine.h"
#include "db/errors.h"
#include "db/facade.h"
#include "runtime/builtins.h"
#include "runtime/fatal.h"

namespace app::report {
// --- figures -----------------------------------------------------------------------

Figure Figure::single(double sum) { return ofFen(fenOf(sum)); }

Figure Figure::ofFen(int64_t fen) {
  Figure f;
  f.kind_ = kMoney;
  f.fen_ = fen;
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
  int64_t fen = 0;
  for (const Figure& p : parts) fen += p.fen();
  return ofFen(fen);
}

int64_t Figure::fen() const { return kind_ == kWhole ? int64_t(whole_) * 100 : fen_; }

double Figure::value() const { return kind_ == kWhole ? double(whole_) : yuanOf(fen_); }

rt::Arg Figure::arg() const { return kind_ == kWhole ? rt::makeInt(whole_) : rt::makeDouble(yuanOf(fen_)); }

std::string Figure::text() const { return cmd::MoneyText(value()); }

// --- period tables ------------------------------------------------------------------

double Sums::next(Wanted w) {
  if (!read_) {
    wanted_.push_back(std::move(w));
    return 0;
  }
  // Taken in the order named; a reading step that asks for more than it
  // named gets 0, as a failed sum does.
  return taken_ < wanted_.size() ? yuanOf(wanted_[taken_++].fen) : 0;
}

double Sums::of(const char* gbkField) { return next({gbkField, "", "", false, nullptr, "", 0}); }

double Sums::where(const char* gbkField, const char* gbkTextField, const std::string& value) {
  return next({gbkField, gbkTextField, value, false, nullptr, "", 0});
}

double Sums::whereStarts(const char* gbkField, const char* gbkTextField, const std::string& prefix) {
  return next({gbkField, gbkTextField, prefix, true, nullptr, "", 0});
}

double Sums::when(const char* gbkField, const std::string& condition, const std::function<bool()>& keep) {
  return next({gbkField, "", "", false, keep, condition, 0});
}

std::string Sums::signature() const {
  // Each part with its length before it: no text of a name or value can
  // make two different lists read alike.
  std::string out;
  auto part = [&out](const std::string& s) { out += std::to_string(s.size()) + ":" + s; };
  for (const Wanted& w : wanted_) {
    part(w.field);
    part(w.textField);
    part(w.value);
    part(w.prefix ? "^" : "=");
    part(w.condition);
    out += ';';
  }
  return out;
}

std::vector<int64_t> Sums::fens() const {
  std::vector<int64_t> out;
  for (const Wanted& w : wanted_) out.push_back(w.fen);
  return out;
}

void Sums::takeKept(const std::vector<int64_t>& fens) {
  read_ = true;
  taken_ = 0;
  for (size_t i = 0; i < wanted_.size(); ++i) wanted_[i].fen = i < fens.size() ? fens[i] : 0;
}

void Sums::readAll() {
  read_ = true;
  taken_ = 0;
  // The same record's field is asked for by several sums: each field is
  // read once per record, and so is each text the sums compare, straight
  // from the record being stepped (the fields looked up once per table);
  // a field that cannot be read so is read with ReadField, which fails as
  // it always does.
  struct Column {
    std::string name;
    int index = -1;
    bool textNeeded = false;  // some sum needs it as text (whereStarts)
  };
  std::vector<Column> numbers, texts;
  std::vector<size_t> numberOf, textOf;
  auto columnOf = [](std::vector<Column>& columns, const std::string& name) {
    size_t i = 0;
    while (i < columns.size() && columns[i].name != name) ++i;
    if (i == columns.size()) columns.push_back({name, db::scanField(name.c_str())});
    return i;
  };
  constexpr size_t kNone = size_t(-1);
  for (const Wanted& w : wanted_) {
    numberOf.push_back(columnOf(numbers, w.field));
    textOf.push_back(w.textField.empty() ? kNone : columnOf(texts, w.textField));
    if (w.prefix) texts[textOf.back()].textNeeded = true;
  }
  std::vector<double> values(numbers.size());
  std::vector<std::string_view> textValues(texts.size());
  std::vector<std::string> copies(texts.size());  // texts read with ReadField
  std::vector<char> isText(texts.size());
  const int rc = db::forEachRecord(
      [&] {
        for (size_t i = 0; i < numbers.size(); ++i) {
          if (db::scanNumber(numbers[i].index, &values[i])) continue;
          rt::Result v = cmd::ReadField(numbers[i].name.c_str());
          // A value that is not a number stops the program, as it stops
          // SumRecords.
          if (!rt::numericValue(v.arg(), &values[i])) rt::raiseRuntimeError(11);
        }
        for (size_t i = 0; i < texts.size(); ++i) {
          isText[i] = db::scanText(texts[i].index, &textValues[i]);
          if (isText[i]) continue;
          rt::Result v = cmd::ReadField(texts[i].name.c_str());
          isText[i] = v.kind() == rt::kText;
          // A field that is not text equals nothing; where a sum reads it
          // as ReadText does, it stops the program.
          if (!isText[i] && texts[i].textNeeded) rt::raiseRuntimeError(5);
          copies[i] = v.text();
          textValues[i] = copies[i];
        }
        for (size_t k = 0; k < wanted_.size(); ++k) {
          Wanted& w = wanted_[k];
          if (textOf[k] != kNone) {
            const size_t t = textOf[k];
            if (!isText[t]) continue;
            const std::string_view text = textValues[t];
            const bool match =
                w.prefix ? text.substr(0, w.value.size()) == w.value && text.size() >= w.value.size() : text == w.value;
            if (!match) continue;
          }
          if (w.keep && !w.keep()) continue;
          w.fen += fenOf(values[numberOf[k]]);
        }
      },
      true);
  if (rc != db::kOk) {
    failure_ = rc;
    for (Wanted& w : wanted_) w.fen = 0;
  }
}

namespace {

// The figures of `name` as kept for the state `look` found, taken by the
// reading step; false when none are kept for these sums.
bool takeKept(const std::string& name, const kept::Look& look, const std::function<void(Sums&)>& read) {
  if (look.outcome != kept::Look::kThere) return false;
  Sums sums;
  read(sums);
  const std::string signature = sums.signature();
  std::vector<int64_t> fens;
  if (!kept::find(name, look.state, signature, &fens) || fens.size() != sums.fens().size()) return false;
  sums.takeKept(fens);
  read(sums);
  return true;
}

}  // namespace

bool readPeriodTable(const std::string& name, const std::function<void(Sums&)>& read,
                     std::vector<Unreadable>* unreadable) {
  // Where figures are kept, the table's state first: a table that is not
  // there is not, one whose figures are kept for its state now is not read.
  const kept::Look look = kept::look(name);
  if (look.outcome == kept::Look::kMissing) return false;
  if (takeKept(name, look, read)) return true;
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
  // report opened is closed again (by the round of readings, if one is
  // open), so that a later posting or correction opens it for writing.
  const TableUse use = useTable(name, {.readOnly = true, .moveFirst = false});
  const bool openedHere = use.openedHere;
  auto done = [&] {
    if (!kept::keptOpenInRound(name, openedHere) && openedHere) cmd::CloseDatabase(name);
  };
  if (!use.ok()) {
    if (openedHere) cmd::CloseDatabase(name);
    unreadable->push_back({name, use.code});
    return false;
  }
  // The figures named, one pass over the table, the figures taken.
  Sums sums;
  read(sums);
  cmd::MoveFirst();
  sums.readAll();
  read(sums);
  done();
  if (sums.failure() != 0) {
    unreadable->push_back({name, sums.failure()});
    return false;
  }
  // Kept with the state looked at before the table was read: a change
  // made meanwhile gave the table another state, so these figures are
  // never taken for a state they are older than.
  if (look.outcome == kept::Look::kThere) kept::keep(name, look.state, sums.signature(), sums.fens());
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
