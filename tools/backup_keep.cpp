#include "tools/backup_keep.h"

#include <cstdio>
#include <map>

#include "runtime/convert.h"

namespace kdbtool {

namespace {

bool digits(const std::string& s, size_t from, size_t n, int* out) {
  if (from + n > s.size()) return false;
  int v = 0;
  for (size_t i = from; i < from + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  *out = v;
  return true;
}

// "YYYY-MM-DD" at `from` of s.
bool dateAt(const std::string& s, size_t from, Date* d) {
  if (s.size() < from + 10 || s[from + 4] != '-' || s[from + 7] != '-') return false;
  if (!digits(s, from, 4, &d->year) || !digits(s, from + 5, 2, &d->month) || !digits(s, from + 8, 2, &d->day))
    return false;
  return d->year >= 1900 && d->month >= 1 && d->month <= 12 && d->day >= 1 &&
         d->day <= rt::daysInMonth(d->year, d->month);
}

int monthIndex(const Date& d) { return d.year * 12 + d.month - 1; }

}  // namespace

bool parseDate(const std::string& text, Date* out) {
  Date d;
  if (text.size() != 10 || !dateAt(text, 0, &d)) return false;
  *out = d;
  return true;
}

// The runtime's day serials (days since 1899-12-30): only differences
// between days and the way back are used here.
long daysFromCivil(const Date& d) { return long(rt::makeDateTime(d.year, d.month, d.day, 0, 0, 0)); }

Date civilFromDays(long days) {
  const rt::DateParts p = rt::splitDateTime(double(days));
  return {p.year, p.month, p.day};
}

std::string dateText(const Date& d) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year % 10000, d.month % 100, d.day % 100);
  return buf;
}

BackupName parseBackupName(const std::string& name) {
  BackupName b;
  const std::string prefix = "unfinished-";
  const bool unfinished = name.compare(0, prefix.size(), prefix) == 0;
  const size_t at = unfinished ? prefix.size() : 0;
  // "YYYY-MM-DD_HHMMSS", then nothing or "-K".
  int hh, mm, ss, k = 1;
  if (!dateAt(name, at, &b.date) || name.size() < at + 17 || name[at + 10] != '_' || !digits(name, at + 11, 2, &hh) ||
      !digits(name, at + 13, 2, &mm) || !digits(name, at + 15, 2, &ss) || hh > 23 || mm > 59 || ss > 60)
    return BackupName{};
  const size_t rest = at + 17;
  if (rest != name.size()) {
    const size_t n = name.size() - rest - 1;
    if (name[rest] != '-' || n < 1 || n > 2 || !digits(name, rest + 1, n, &k) || k < 2) return BackupName{};
  }
  b.kind = unfinished ? BackupName::kUnfinished : BackupName::kComplete;
  b.when = ((daysFromCivil(b.date) * 100000LL + hh * 3600 + mm * 60 + ss) * 100) + k;
  return b;
}

std::vector<std::string> backupsToRemove(const std::vector<std::string>& names, const Date& today, int keepDays,
                                         int keepMonths, const std::string& justMade) {
  const long day0 = daysFromCivil(today);
  const int month0 = monthIndex(today);
  // The newest complete backup of each month that keeps one.
  std::map<int, long long> newestOfMonth;
  for (const std::string& n : names) {
    BackupName b = parseBackupName(n);
    if (b.kind != BackupName::kComplete) continue;
    const int m = monthIndex(b.date);
    if (m > month0 || month0 - m >= keepMonths) continue;
    auto [it, added] = newestOfMonth.emplace(m, b.when);
    if (!added && b.when > it->second) it->second = b.when;
  }
  std::vector<std::string> remove;
  for (const std::string& n : names) {
    BackupName b = parseBackupName(n);
    if (b.kind == BackupName::kOther || n == justMade) continue;
    const long age = day0 - daysFromCivil(b.date);  // 0 today; negative: after today
    if (age < keepDays || age < 0) continue;
    if (b.kind == BackupName::kUnfinished) {
      if (age >= 2) remove.push_back(n);
      continue;
    }
    auto it = newestOfMonth.find(monthIndex(b.date));
    if (it != newestOfMonth.end() && it->second == b.when) continue;
    remove.push_back(n);
  }
  return remove;
}

}  // namespace kdbtool
