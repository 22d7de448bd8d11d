#include "app/module.h"

#include <algorithm>
#include <cmath>
#include <limits>

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

void fillListNewestFirst(const forms::Control& list) {
  const rt::Arg l = list.arg();
  cmd::ListClear(l);
  cmd::MoveFirst();
  const int fields = cmd::FieldCount();
  // Each record is read once and its fields taken from that reading: a
  // stay of thousands of lines lists without a lock and a read per field.
  db::forEachRecord([&] {
    cmd::ListInsertItem(l, 0, cmd::ToText(cmd::ReadField(1).arg()));
    for (int column = 1; column < fields; ++column)
      cmd::ListSetItemText(l, 0, column, cmd::ToText(cmd::ReadField(column + 1).arg()));
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
