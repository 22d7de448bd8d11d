// The year at a glance: the chart window the report window's "图 表" opens
// beside the yearly report's row. Three charts of the centre's income, each
// figure the one the reports draw and clinic-report prints (period_reading.h):
//
//  - 月收入: the income of every month of the year of `日期框2` as stacked
//    bars, one part per column of the business report (inpatient and
//    outpatient together: the monthly report's 合计 row), with the previous
//    year's monthly 合计 as a line over them;
//  - 收入构成: each column's share of the year (the yearly report's 合计
//    row), sorted, with amount and percent, beside the previous year's;
//  - 医师: the internal report's figures per doctor for the month of
//    `日期框3`.
//
// A month without tables is named ("2010年3月无数据") and drawn empty, a
// table that could not be read is named with its cause. Each chart is saved
// as PNG or PDF (a save dialog) and printed through the printer object (the
// print dialog, A4 landscape).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/figures/period_reading.h"

namespace app {

// Object names of the window and its parts, for tests and screenshots.
inline constexpr const char* kChartButtonName = "reportChartButton";
inline constexpr const char* kChartWindowName = "reportChartWindow";
inline constexpr const char* kMonthChartName = "monthChart";
inline constexpr const char* kShareChartName = "shareChart";
inline constexpr const char* kDoctorChartName = "doctorChart";
inline constexpr const char* kChartTabsName = "chartTabs";
inline constexpr const char* kChartNotesName = "chartNotes";
inline constexpr const char* kSavePngName = "savePngButton";
inline constexpr const char* kSavePdfName = "savePdfButton";
inline constexpr const char* kPrintChartName = "printChartButton";

// Everything the three charts show, read once when the window opens.
struct YearFigures {
  int year = 0;        // of 日期框2
  int doctorYear = 0;  // of 日期框3
  int doctorMonth = 0;
  // The monthly business reports of the year and of the year before, the
  // yearly ones of both, the internal report of the doctors' month.
  std::array<report::ReportFigures, 12> months, previousMonths;
  report::ReportFigures wholeYear, previousYear;
  report::ReportFigures doctors;
  // What has no data or could not be read, one line each (GBK).
  std::vector<std::string> notes;

  bool monthRead(int m) const { return months[size_t(m)].which != report::Case::kNeither; }
  bool previousMonthRead(int m) const { return previousMonths[size_t(m)].which != report::Case::kNeither; }
};

// Reads the figures of the year of `year` and the doctors' month of
// `doctorMonth` as the reports read them (monthlyFigures of the twelve
// months of the year and of the year before, yearlyFigures of both years,
// doctorFigures of the month for outpatient and inpatient figures alike).
YearFigures readYearFigures(rt::DateTime year, rt::DateTime doctorMonth);

// Opens the chart window for the year of the report window's `日期框2` and
// the month of its `日期框3` (a window already open is shown again, read
// anew). The report window must be loaded.
void openReportChart();

// The report window's "图 表" button, put beside the yearly report's row
// when the window is built (installed by installShellHandlers).
void addChartButton(uint32_t windowId);

}  // namespace app
