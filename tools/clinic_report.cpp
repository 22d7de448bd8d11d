// clinic-report: the figures of the report window's three reports from a
// terminal, as an aligned table or as CSV, for the accountant's
// spreadsheet.
//
//   clinic-report monthly YYYY-MM DIR [--csv]   monthly business report
//   clinic-report yearly YYYY[-MM] DIR [--csv]  yearly business report
//   clinic-report doctor YYYY-MM DIR [--csv]    internal report per doctor
//
// The figures come from the report window's own steps (app/figures/period_reading.h)
// on the period tables of the centre folder DIR, read only; money is shown
// to the fen as on the panel. A row the report leaves empty (its table is
// missing) has empty cells. A period table that exists but cannot be read
// is named on standard error and counted as missing, as the window does,
// and the exit status is then 1. The terminal speaks UTF-8.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/figures/period_reading.h"
#include "db/engine.h"
#include "db/errors.h"
#include "db/facade.h"
#include "kdbtool_common.h"
#include "runtime/convert.h"
#include "runtime/gbk.h"

namespace {

using app::report::Report;

[[noreturn]] void usage() {
  std::fputs(
      "usage: clinic-report monthly|yearly|doctor YYYY-MM DIR [--csv]\n"
      "  monthly  康复中心业务月报表 (the month's outpatient charges and inpatient bills)\n"
      "  yearly   康复中心业务年报表 (the year's bills; the month may be left out)\n"
      "  doctor   康复中心业务月报表(内部) (per doctor)\n",
      stderr);
  std::exit(2);
}

// "2010-05" (or "2010" where the month may be left out) as the 1st of that
// month; false when it is not a date of the years the tables can name.
bool parsePeriod(const std::string& s, bool monthOptional, int* year, int* month) {
  auto digits = [](const std::string& t) {
    return !t.empty() && t.find_first_not_of("0123456789") == std::string::npos;
  };
  const std::string y = s.substr(0, s.find('-'));
  const bool hasMonth = s.find('-') != std::string::npos;
  const std::string m = hasMonth ? s.substr(s.find('-') + 1) : "";
  if (y.size() != 4 || !digits(y)) return false;
  if (hasMonth ? (!digits(m) || m.size() > 2) : !monthOptional) return false;
  *year = std::atoi(y.c_str());
  *month = hasMonth ? std::atoi(m.c_str()) : 1;
  return *year >= 100 && *month >= 1 && *month <= 12;
}

// Columns a text takes on a terminal: two for a Chinese character.
size_t columns(const std::string& utf8) {
  size_t n = 0;
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    const size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    n += len >= 3 ? 2 : 1;
    i += len;
  }
  return n;
}

void out(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

// The rows in the report's order, every label present; a row the case
// leaves empty has empty cells. Row 0 holds the column labels.
std::vector<std::vector<std::string>> tableOf(const app::report::ReportFigures& figures,
                                              const app::report::Labels& labels) {
  std::vector<std::vector<std::string>> table;
  table.push_back({"项目"});
  for (const char* c : labels.columns) table.back().push_back(c);
  for (size_t place = 0; place < labels.rows.size(); ++place) {
    std::vector<std::string> row = {labels.rows[place]};
    row.resize(labels.columns.size() + 1);
    for (const app::report::FilledRow& r : figures.rows)
      if (r.place == int(place))
        for (size_t k = 0; k < r.figures.size() && k < labels.columns.size(); ++k)
          row[k + 1] = rt::gbkToUtf8(r.figures[k].text());
    table.push_back(row);
  }
  return table;
}

// CSV with a byte-order mark, so spreadsheet programs read the Chinese.
void printCsv(const std::vector<std::vector<std::string>>& table) {
  out("\xEF\xBB\xBF");
  for (const auto& row : table) {
    std::string line;
    for (size_t k = 0; k < row.size(); ++k) line += (k ? "," : "") + kdbtool::csvCell(row[k]);
    out(line + "\r\n");
  }
}

// A text table under its title: labels to the left, figures to the right.
void printText(const std::vector<std::vector<std::string>>& table, const std::string& title) {
  out(title + "\n");
  std::vector<size_t> width(table[0].size());
  for (const auto& row : table)
    for (size_t k = 0; k < row.size(); ++k) width[k] = std::max(width[k], columns(row[k]));
  for (const auto& row : table) {
    std::string line;
    for (size_t k = 0; k < row.size(); ++k) {
      const std::string pad(width[k] - columns(row[k]), ' ');
      line += k == 0 ? row[k] + pad : "  " + pad + row[k];
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out(line + "\n");
  }
}

// On standard error: each period table missing or unread. 0 when every
// table present was read, 1 otherwise.
int tellUnread(const app::report::ReportFigures& figures) {
  for (const std::string& t : {figures.first, figures.second}) {
    bool unread = false;
    for (const app::report::Unreadable& u : figures.unreadable) unread |= u.table == t;
    if (!unread && !cmd::FileExists(t + ".kdb"))
      std::fputs(("clinic-report: " + t + ".kdb 不存在，其行为空\n").c_str(), stderr);
  }
  for (const app::report::Unreadable& u : figures.unreadable)
    std::fputs(("clinic-report: 数据表 " + u.table + ".kdb 无法读取：" + std::to_string(u.code) + " " +
                rt::gbkToUtf8(db::errorText(u.code)) + "，按该表不存在处理\n")
                   .c_str(),
               stderr);
  return figures.unreadable.empty() ? 0 : 1;
}

}  // namespace

// Steps: the arguments; the period tables' folder; the figures, as the
// report window computes them; the table printed; what could not be read.
int main(int argc, char** argv) {
  std::vector<std::string> a(argv + 1, argv + argc);
  bool csv = false;
  for (auto it = a.begin(); it != a.end();) {
    if (*it == "--csv") {
      csv = true;
      it = a.erase(it);
    } else {
      ++it;
    }
  }
  if (a.size() != 3) usage();
  Report report;
  if (a[0] == "monthly")
    report = Report::kMonthly;
  else if (a[0] == "yearly")
    report = Report::kYearly;
  else if (a[0] == "doctor")
    report = Report::kDoctor;
  else
    usage();
  int year = 0, month = 0;
  if (!parsePeriod(a[1], report == Report::kYearly, &year, &month)) {
    std::fputs(("clinic-report: not a month (YYYY-MM): " + a[1] + "\n").c_str(), stderr);
    return 2;
  }
  // The period tables are named relative to the centre folder.
  if (chdir(a[2].c_str()) != 0) {
    std::perror(("clinic-report: " + a[2]).c_str());
    return 1;
  }
  db::registerDatabaseCommands();

  const rt::DateTime when{rt::makeDateTime(year, month, 1, 0, 0, 0)};
  app::report::ReportFigures figures;
  switch (report) {
    case Report::kMonthly:
      figures = app::report::monthlyFigures(when);
      break;
    case Report::kYearly:
      figures = app::report::yearlyFigures(when);
      break;
    case Report::kDoctor:
      figures = app::report::doctorFigures(when, when);
      break;
  }
  const app::report::Labels& labels = app::report::labelsOf(report);
  const auto table = tableOf(figures, labels);
  if (csv) {
    printCsv(table);
  } else {
    std::string period = std::to_string(year) + "年";
    if (report != Report::kYearly) period += std::to_string(month) + "月";
    printText(table, std::string(labels.title) + "  " + period + "  单位：元");
  }
  std::fflush(stdout);
  return tellUnread(figures);
}
