#include "app/module.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "db/each.h"
#include "runtime/convert.h"

namespace app {

forms::Control ModuleWindow::control(const char* utf8Name) const {
  return forms::control(id_, rt::utf8ToGbk(utf8Name));
}

bool selectTable(const std::string& name) {
  cmd::OpenDatabase(name);
  const bool current = cmd::SetCurrentDatabase(name);
  cmd::MoveFirst();
  return current;
}

namespace {

// ToText of the fields of one list fill. A month of charge lines repeats
// its days, quantities and prices thousands of times: each distinct value
// is converted once per fill and its text reused (ToText depends on the
// value alone). Texts are their own text; values behind a pointer (byte-sets)
// are converted each time.
class FieldTexts {
 public:
  explicit FieldTexts(int fields) : seen_(size_t(fields)) {}
  std::string of(int field) {
    rt::Result value = cmd::ReadField(field);
    const rt::Arg& a = value.arg();
    if (a.kind == rt::kText) return value.text();
    if (!byValue(a.kind)) return cmd::ToText(a);
    auto& seen = seen_[size_t(field - 1)];
    const Key key{a.kind, a.lo, a.hi};
    if (auto it = seen.find(key); it != seen.end()) return it->second;
    if (seen.size() >= kKept) seen.clear();
    return seen.emplace(key, cmd::ToText(a)).first->second;
  }

 private:
  // Kinds held in the record itself (not behind a pointer to a block).
  static bool byValue(uint32_t kind) {
    return kind == rt::kInt || kind == rt::kFloat || kind == rt::kDouble || kind == rt::kDateTime ||
           kind == rt::kByte || kind == rt::kShort || kind == rt::kLong || kind == rt::kBool;
  }
  using Key = std::tuple<uint32_t, uint32_t, uint32_t>;
  static constexpr size_t kKept = 4096;
  std::vector<std::map<Key, std::string>> seen_;
};

}  // namespace

void fillListNewestFirst(const forms::Control& list) {
  const rt::Arg l = list.arg();
  cmd::ListClear(l);
  cmd::MoveFirst();
  const int fields = cmd::FieldCount();
  FieldTexts texts(fields);
  // Each record is read once and its fields taken from that reading: a
  // stay of thousands of lines lists without a lock and a read per field.
  db::forEachRecord([&] {
    cmd::ListInsertItem(l, 0, texts.of(1));
    for (int column = 1; column < fields; ++column)
      cmd::ListSetItemText(l, 0, column, texts.of(column + 1));
  });
  // Past the last record, where skipping through them would have left it.
  const int n = cmd::RecordCount();
  if (n > 0) {
    cmd::MoveTo(n);
    cmd::Skip(1);
  }
}

void moveAfterLast() {
  cmd::MoveTo(cmd::RecordCount());
  cmd::Skip(1);
}

int chosenRecord(const forms::Control& list) { return cmd::RecordCount() - list.selectedRow(); }

void showClock(const forms::Control& label) { label.setText(cmd::ToText(cmd::Now())); }

void tell(const char* gbk) { cmd::ShowMessage(gbk); }

bool toldChangedElsewhere() {
  if (db::lastError() != db::kNoRecord) return false;
  tell(GBK("该记录已被其他工作站改动或删除，请重新选择后再操作。"));
  return true;
}

bool confirm(const char* gbk) { return cmd::ShowMessage(gbk, int(rt::mb::kOkCancel)) == rt::kOk; }

double sumField(const char* gbkField) {
  auto value = [gbkField] { return cmd::ReadField(gbkField).release(); };
  rt::Expr v(value);
  return cmd::SumRecords(v.arg());
}

double sumFieldWhere(const char* gbkField, const char* gbkTextField, const std::string& value) {
  auto field = [gbkField] { return cmd::ReadField(gbkField).release(); };
  auto same = [gbkTextField, &value] { return rt::makeBool(db::fieldTextEquals(gbkTextField, value)); };
  rt::Expr v(field);
  rt::Expr c(same);
  return cmd::SumRecords(v.arg(), c.arg());
}

bool findByText(const char* gbkField, const std::string& value) {
  cmd::MoveFirst();
  auto same = [gbkField, &value] { return rt::makeBool(db::fieldTextEquals(gbkField, value)); };
  rt::Expr c(same);
  return cmd::FindRecord(c.arg());
}

double linearDate(rt::DateTime d) {
  const double v = std::clamp(d.days, rt::kNoDate, rt::kMaxDate);
  if (v >= 0) return v;
  return 2 * std::trunc(v) - v;
}

float asStored(double v) {
  constexpr double kMax = std::numeric_limits<float>::max();
  if (v > kMax) return std::numeric_limits<float>::infinity();
  if (v < -kMax) return -std::numeric_limits<float>::infinity();
  return float(v);
}

}  // namespace app
