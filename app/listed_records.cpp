#include "app/listed_records.h"

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "app/telling.h"
#include "db/each.h"
#include "db/engine.h"
#include "db/errors.h"
#include "runtime/builtins.h"
#include "runtime/convert.h"
#include "runtime/fatal.h"
#include "runtime/gbk.h"

namespace app {

// The texts of the fields of one list fill: ToText, amounts of money to
// the fen. A month of charge lines repeats
// its days, quantities and prices thousands of times: each distinct value
// is converted once per fill and its text reused (ToText depends on the
// value alone). Texts are their own text; values behind a pointer (byte-sets)
// are converted each time.
class ListRows::Texts {
 public:
  explicit Texts(int fields) : seen_(size_t(fields)) {}
  std::string of(int field) {
    // A record being stepped is read straight from the scan buffer (a list
    // of a busy month has 200,000 cells); anything else through ReadField.
    std::string_view stepped;
    if (db::scanText(field - 1, &stepped)) return std::string(stepped);
    rt::Arg held;
    if (db::scanValue(field - 1, &held) && byValue(held.kind)) return ofValue(field, held);
    rt::Result value = cmd::ReadField(field);
    const rt::Arg& a = value.arg();
    if (a.kind == rt::kText) return value.text();
    if (!byValue(a.kind)) return cmd::ToText(a);
    return ofValue(field, a);
  }

 private:
  std::string ofValue(int field, const rt::Arg& a) {
    auto& seen = seen_[size_t(field - 1)];
    const Key key{a.kind, a.lo, a.hi};
    if (auto it = seen.find(key); it != seen.end()) return it->second;
    if (seen.size() >= kKept) seen.clear();
    return seen.emplace(key, cellText(a)).first->second;
  }
  // Kinds held in the record itself (not behind a pointer to a block).
  static bool byValue(uint32_t kind) {
    return kind == rt::kInt || kind == rt::kFloat || kind == rt::kDouble || kind == rt::kDateTime ||
           kind == rt::kByte || kind == rt::kShort || kind == rt::kLong || kind == rt::kBool;
  }
  using Key = std::tuple<uint32_t, uint32_t, uint32_t>;
  static constexpr size_t kKept = 4096;
  std::vector<std::map<Key, std::string>> seen_;
};

ListRows::ListRows(int fields) : fields_(fields), texts_(new Texts(fields)) {}

ListRows::~ListRows() = default;

void ListRows::addCurrent() {
  std::vector<std::string> row;
  row.reserve(size_t(fields_));
  for (int field = 1; field <= fields_; ++field) row.push_back(texts_->of(field));
  rows_.push_back(std::move(row));
  serials_.push_back(db::scanSerial());
}

void ListRows::show(const forms::Control& list) const {
  const rt::Arg l = list.arg();
  cmd::ListClear(l);
  for (size_t i = 0; i < rows_.size(); ++i) {
    const auto& row = rows_[i];
    if (row.empty()) continue;
    cmd::ListInsertItem(l, 0, row[0], serials_[i]);
    for (size_t column = 1; column < row.size(); ++column) cmd::ListSetItemText(l, 0, int(column), row[column]);
  }
}

std::string cellText(const rt::Arg& value) {
  if (value.kind == rt::kText) {
    const char* text = rt::textValue(value);
    return text ? std::string(text) : std::string();
  }
  // Every single-precision field of this program's tables is an amount of
  // money (prices, line totals, bill and posting amounts): to the fen.
  return value.kind == rt::kFloat ? cmd::MoneyText(value) : cmd::ToText(value);
}

bool chosenListedRecord(const forms::Control& list, ListedRecord* out) {
  const int rows = forms::listRowCount(list.window(), list.id());
  if (rows <= 0) return false;
  const int row = std::clamp(list.selectedRow(), 0, rows - 1);
  forms::ListItemInfo item = forms::listItem(list.window(), list.id(), row);
  out->serial = item.data;
  out->position = rows - 1 - row;
  out->texts = std::move(item.texts);
  return true;
}

int ReadRecord::read() { return db::readCurrentRecord(&v_); }

const rt::Arg& ReadRecord::value(const char* gbkField) const {
  const int i = db::scanField(gbkField);
  // As ReadField of a field the table does not have.
  if (i < 0 || size_t(i) >= v_.values.size()) rt::fatalError(GBK("指定字段不存在"));
  return v_.values[size_t(i)].arg();
}

std::string ReadRecord::text(const char* gbkField) const {
  const rt::Arg& v = value(gbkField);
  if (v.kind != rt::kText) rt::raiseRuntimeError(5);
  return cellText(v);
}

double ReadRecord::number(const char* gbkField) const {
  double d = 0;
  if (!rt::numericValue(value(gbkField), &d)) rt::raiseRuntimeError(5);
  return d;
}

std::vector<std::string> ReadRecord::cellTexts() const {
  std::vector<std::string> texts;
  texts.reserve(v_.values.size());
  for (const rt::Result& v : v_.values) texts.push_back(cellText(v.arg()));
  return texts;
}

int readListedRecord(const ListedRecord& row, ReadRecord* out) {
  if (const int rc = db::moveToRecord(row.serial, row.position); rc != 0) return rc;
  if (const int rc = out->read(); rc != 0) return rc;
  // Changed in place since it was listed (a correction, another
  // workstation's edit): not the record the operator saw.
  if (out->cellTexts() != row.texts) {
    db::setLastError(db::kNoRecord);
    return db::kNoRecord;
  }
  return 0;
}

int refreshList(const forms::Control& list, const char* gbkTable, const std::function<void()>& each, int* listed) {
  cmd::MoveFirst();
  ListRows rows(cmd::FieldCount());
  const int rc = db::forEachRecord(
      [&] {
        rows.addCurrent();
        each();
      },
      true);
  if (rc != db::kOk) {
    tellFailure(std::string(gbkTable) + GBK(" 无法读取"), rc, GBK("列表和合计未更新。"));
    return rc;
  }
  rows.show(list);
  moveAfterLast();
  *listed = int(rows.size());
  return 0;
}

void moveAfterLast() {
  // No record is current whether or not the count could be read.
  static_cast<void>(db::movePastLast());
}

rt::Result FieldReader::value(const char* gbkField) {
  const bool stepping = db::steppingRecord();
  if (!stepping && whole_ == Whole::kNotRead) whole_ = record_.read() == 0 ? Whole::kRead : Whole::kFailed;
  if (!stepping && whole_ == Whole::kRead) {
    const rt::Arg& a = record_.value(gbkField);
    // The Result owns what it holds: a text is copied; a byte-set is read
    // as ever.
    if (a.kind == rt::kText) {
      const char* text = rt::textValue(a);
      return rt::Result(rt::makeTextResult(text ? text : ""));
    }
    if (a.kind != rt::kBytes && !rt::isArray(a.kind)) return rt::Result(a);
  }
  rt::Result r = cmd::ReadField(gbkField);
  if (failure_ == 0 && db::lastError() != db::kOk) failure_ = db::lastError();
  return r;
}

std::string FieldReader::text(const char* gbkField) {
  rt::Result r = value(gbkField);
  if (r.kind() != rt::kText) rt::raiseRuntimeError(5);
  return r.text();
}

std::string FieldReader::shown(const char* gbkField) { return cmd::ToText(value(gbkField).arg()); }

double FieldReader::number(const char* gbkField) {
  rt::Result r = value(gbkField);
  double v = 0;
  if (!rt::numericValue(r.arg(), &v)) rt::raiseRuntimeError(5);
  return v;
}

int searchText(const char* gbkField, const std::string& value) {
  cmd::MoveFirst();
  auto same = [gbkField, &value] { return rt::makeBool(db::fieldTextEquals(gbkField, value)); };
  rt::Expr c(same);
  if (cmd::FindRecord(c.arg())) return 1;
  const int code = db::lastError();
  return code == db::kOk ? 0 : code;
}

}  // namespace app
