#include "app/shown_record.h"

#include <cstring>

#include "db/errors.h"
#include "db/facade.h"
#include "runtime/fatal.h"

namespace app {

std::string shownText(const rt::Arg& value, Shown how) {
  switch (how) {
    case Shown::kText:
      return cellText(value);
    case Shown::kMoney:
      return cmd::MoneyText(value);
    case Shown::kDate:
    case Shown::kNumber:
      break;
  }
  return cmd::ToText(value);
}

void ShownRecord::show(const ReadRecord& r) {
  std::vector<std::string> texts;
  texts.reserve(boxes_.size());
  for (const BoxField& b : boxes_) texts.push_back(shownText(r.value(b.field), b.how));
  // Written in the boxes' order; a box's content-changed handler may write
  // another box, so what each box finally holds is read back.
  for (size_t i = 0; i < boxes_.size(); ++i) win_.setText(boxes_[i].box, texts[i]);
  for (size_t i = 0; i < boxes_.size(); ++i) texts[i] = win_.text(boxes_[i].box);
  texts_ = std::move(texts);
  serial_ = r.serial();
  position_ = r.position();
  shown_ = true;
}

int ShownRecord::showCurrent() {
  ReadRecord r;
  if (const int rc = r.read(); rc != 0) {
    clear();
    return rc;
  }
  show(r);
  return 0;
}

int ShownRecord::findAndShow(const char* field, const std::string& value, bool* searchFailed) {
  *searchFailed = false;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int found = searchText(field, value);
    if (found == 0) return 0;
    if (found < 0) {
      *searchFailed = true;
      forget();
      return found;
    }
    ReadRecord r;
    const int rc = r.read();
    if (rc == 0 && r.text(field) == value) {
      show(r);
      return 1;
    }
    if (rc != 0 && rc != db::kNoRecord) {
      forget();
      return rc;
    }
  }
  return 0;  // gone each time it was found: no longer there
}

void ShownRecord::clear() {
  for (const BoxField& b : boxes_) win_.setText(b.box, "");
  forget();
}

size_t ShownRecord::find(const char* field) const {
  for (size_t i = 0; i < boxes_.size(); ++i)
    if (std::strcmp(boxes_[i].field, field) == 0) return i;
  rt::fatalError(GBK("指定字段不存在"));
}

std::string ShownRecord::labels(const std::vector<size_t>& which) const {
  std::string out;
  for (size_t i : which) {
    if (!out.empty()) out += GBK("、");
    out += GBK("“") + rt::utf8ToGbk(boxes_[i].label) + GBK("”");
  }
  return out;
}

bool ShownRecord::changed(size_t i) const { return shown_ && win_.text(boxes_[i].box) != texts_[i]; }

bool ShownRecord::anyChanged() const {
  for (size_t i = 0; i < boxes_.size(); ++i)
    if (changed(i)) return true;
  return false;
}

bool ShownRecord::unchangedSince(size_t i, const ReadRecord& now) const {
  // Compared as the box showed it: a float stored again from the same text
  // shows the same.
  return shownText(now.value(boxes_[i].field), boxes_[i].how) == texts_[i];
}

rt::Arg ShownRecord::typed(size_t i, std::deque<std::string>* keep) const {
  const std::string text = win_.text(boxes_[i].box);
  switch (boxes_[i].how) {
    case Shown::kText:
      keep->push_back(text);
      return rt::val(keep->back());
    case Shown::kDate:
      return rt::val(cmd::ToDateTime(text));
    case Shown::kNumber:
    case Shown::kMoney:
      break;
  }
  return rt::val(cmd::ToNumber(text));
}

bool replaceCurrentFields(const std::vector<std::pair<std::string, rt::Arg>>& pairs) {
  std::vector<rt::Arg> argv;
  argv.reserve(1 + 2 * pairs.size());
  argv.push_back(rt::Arg{});  // no condition: the current record
  for (const auto& [field, value] : pairs) {
    argv.push_back(rt::val(field));
    argv.push_back(value);
  }
  return rt::Result(rt::call(rt::Cmd::ReplaceFields, int(argv.size()), argv.data())).boolean();
}

}  // namespace app
