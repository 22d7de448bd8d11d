// Conversions between numbers, dates and texts. Every window, bill and
// report shows figures through these, and the pre-printed forms show the
// text unchanged, so each result here is exact to the byte.
//
// Texts in and out are GBK. Date-times are doubles counting days from
// 1899-12-30 00:00:00: the whole part is the day, the fraction the time of
// day; before 1899-12-30 the whole part is still the day and the fraction,
// taken positive, the time of day (-1.25 is 1899-12-29 06:00).
//
// Nothing here fails: unusable input gives the neutral result (0, "",
// or kNoDate for dates).
#pragma once

#include <cstdint>
#include <string>

namespace rt {

// 100-01-01 and 9999-12-31: date-times are clamped to this range before
// they are taken apart; kNoDate is also the result of a failed parse.
constexpr double kNoDate = -657434.0;
constexpr double kMaxDate = 2958465.0;

// --- numbers to text ------------------------------------------------------

// Rounded to 6 significant digits half away from zero, then "%.6g".
std::string floatToText(float v);
// "%.13g".
std::string doubleToText(double v);
// In both, the exponent carries a sign and at least three digits:
// 1e+015, 1.23457e+006, 1e-005.

// An amount of money as the windows, bills and reports show it: the value
// rounded half away from zero to the fen (two decimals) and written in
// plain decimal, without trailing zeros and never with an exponent:
// 12.5, 3, 0.18, 1609200, -0.01. The value is first taken to 15
// significant digits, the decimal a double stands for, so that 2.675
// typed as a double is 2.68 and a float's 0.17999999225 is 0.18.
// Infinities and NaN are written as doubleToText writes them.
std::string moneyToText(double v);

// --- date-times -----------------------------------------------------------

struct DateParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0;
  int dayOfWeek = 7;    // 1 = Sunday ... 7 = Saturday
  int dayOfYear = 364;  // 1..366
};

// Takes a date-time apart after clamping; the time of day is rounded to
// the nearest second (23:59:59.6 carries into the next day).
DateParts splitDateTime(double dt);

// The date-time of a calendar date and time. The caller has validated the
// parts (year 100..9999, a real day, hour 0..23, minute/second 0..59).
double makeDateTime(int year, int month, int day, int hour, int minute, int second);

bool isLeapYear(int year);
int daysInMonth(int year, int month);

// "%d年%d月%d日" and the time as far as it is not zero:
// "%d时%d分%d秒", "%d时%d分" or "%d时".
std::string dateTimeToText(double dt);

// Reads a date-time text (full-width characters folded first); kNoDate when
// the text does not form a valid date and time.
double textToDateTime(const std::string& gbk);

// Part of a date: 1 year, 2 quarter, 3 month, 4 week of year, 5 day,
// 6 hour, 7 minute, 8 second, 9 day of week (1 = Sunday), 10 day of year.
// A part above 10 counts as 10, one of 0 or less as 1.
int datePartOf(double dt, int part);

// The same calendar day at 00:00:00.
double dateOnly(double dt);

// a - b in the unit: 1 year, 2 quarter, 3 month, 4 week, 5 day (with its
// fraction), 6 hour, 7 minute, 8 second; a unit above 8 counts as 8, one
// of 0 or less as 1.
double timeInterval(double a, double b, int unit);

// --- texts ----------------------------------------------------------------

// Full-width digits, letters, "+", "-", "." and the full-width space
// replaced by their half-width forms; every other character kept.
std::string toHalfWidth(const std::string& gbk);

// Decimal number at the start of the text (after full-width folding and
// leading white space); 0 when there is none.
double textToNumber(const std::string& gbk);

// An amount of money in words: money capitals, or with `plain` the
// ordinary numerals. "溢出" above 9999999999999.99, "零" for zero.
std::string chineseNumerals(double amount, bool plain);

// The first n bytes (a two-byte character may be cut); "" for n <= 0.
std::string leftText(const std::string& gbk, int64_t n);

}  // namespace rt
