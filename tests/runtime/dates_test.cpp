// Date-time serials, their calendar parts, texts and intervals.

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

#include "runtime/convert.h"
#include "runtime/gbk.h"

namespace {

namespace chr = std::chrono;

constexpr chr::sys_days kDayZero = chr::sys_days{chr::year{1899} / 12 / 30};

struct Ymdhms {
  int y = 0, m = 0, d = 0, h = 0, mi = 0, s = 0;
};

::testing::AssertionResult partsAre(const rt::DateParts& p, Ymdhms want) {
  if (p.year == want.y && p.month == want.m && p.day == want.d && p.hour == want.h && p.minute == want.mi &&
      p.second == want.s)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << p.year << "-" << p.month << "-" << p.day << " " << p.hour << ":" << p.minute
                                       << ":" << p.second;
}

TEST(Dates, EveryDayMatchesChrono) {
  const auto first = chr::sys_days{chr::year{100} / 1 / 1};
  const auto last = chr::sys_days{chr::year{9999} / 12 / 31};
  EXPECT_EQ((first - kDayZero).count(), -657434);
  EXPECT_EQ((last - kDayZero).count(), 2958465);
  int failures = 0;
  for (auto day = first; day <= last; day += chr::days{1}) {
    const chr::year_month_day ymd{day};
    const int y = int(ymd.year()), m = int(unsigned(ymd.month())), d = int(unsigned(ymd.day()));
    const double serial = double((day - kDayZero).count());
    const rt::DateParts p = rt::splitDateTime(serial);
    const int dow = int(chr::weekday{day}.c_encoding()) + 1;
    const int doy = int((day - chr::sys_days{ymd.year() / 1 / 1}).count()) + 1;
    const bool ok =
        p.year == y && p.month == m && p.day == d && p.hour == 0 && p.dayOfWeek == dow && p.dayOfYear == doy &&
        rt::makeDateTime(y, m, d, 0, 0, 0) == serial &&
        rt::daysInMonth(y, m) == int(unsigned(chr::year_month_day_last{ymd.year() / ymd.month() / chr::last}.day())) &&
        rt::isLeapYear(y) == ymd.year().is_leap();
    if (!ok && ++failures <= 10) ADD_FAILURE() << "serial " << serial;
  }
  EXPECT_EQ(failures, 0);
}

TEST(Dates, EverySecondOfADayRoundTrips) {
  // 2010-03-05, days before day 0 where the time runs the other way in the
  // serial, and the last whole days inside the range (the times of
  // 100-01-01 and 9999-12-31 themselves are clamped to 00:00).
  const Ymdhms days[] = {{2010, 3, 5}, {1850, 6, 15}, {1899, 12, 29}, {1899, 12, 30}, {100, 1, 2}, {9999, 12, 30}};
  for (const auto& day : days) {
    int failures = 0;
    for (int t = 0; t < 86400; ++t) {
      const int h = t / 3600, mi = t / 60 % 60, s = t % 60;
      const double dt = rt::makeDateTime(day.y, day.m, day.d, h, mi, s);
      if (!partsAre(rt::splitDateTime(dt), {day.y, day.m, day.d, h, mi, s}) && ++failures <= 5)
        ADD_FAILURE() << day.y << "-" << day.m << "-" << day.d << " second " << t;
    }
    EXPECT_EQ(failures, 0);
  }
}

TEST(Dates, SerialsBeforeDayZeroClampingAndCarry) {
  EXPECT_EQ(rt::makeDateTime(1899, 12, 29, 6, 0, 0), -1.25);
  EXPECT_EQ(rt::makeDateTime(1899, 12, 30, 6, 0, 0), 0.25);
  EXPECT_EQ(rt::makeDateTime(1900, 1, 1, 12, 0, 0), 2.5);
  EXPECT_TRUE(partsAre(rt::splitDateTime(-1.25), {1899, 12, 29, 6, 0, 0}));
  EXPECT_TRUE(partsAre(rt::splitDateTime(-0.25), {1899, 12, 30, 6, 0, 0}));
  EXPECT_TRUE(partsAre(rt::splitDateTime(0.25), {1899, 12, 30, 6, 0, 0}));
  EXPECT_TRUE(partsAre(rt::splitDateTime(-2.75), {1899, 12, 28, 18, 0, 0}));

  // Clamped to 100-01-01 .. 9999-12-31; NaN reads as the earliest date.
  EXPECT_TRUE(partsAre(rt::splitDateTime(1e9), {9999, 12, 31, 0, 0, 0}));
  EXPECT_TRUE(partsAre(rt::splitDateTime(rt::kMaxDate + 0.75), {9999, 12, 31, 0, 0, 0}));
  EXPECT_TRUE(partsAre(rt::splitDateTime(-1e9), {100, 1, 1, 0, 0, 0}));
  EXPECT_TRUE(partsAre(rt::splitDateTime(rt::kNoDate - 0.5), {100, 1, 1, 0, 0, 0}));
  EXPECT_TRUE(partsAre(rt::splitDateTime(std::numeric_limits<double>::quiet_NaN()), {100, 1, 1, 0, 0, 0}));
  EXPECT_TRUE(partsAre(rt::splitDateTime(-std::numeric_limits<double>::infinity()), {100, 1, 1, 0, 0, 0}));

  // The nearest second; 23:59:59.5 and later is the next calendar day.
  EXPECT_TRUE(partsAre(rt::splitDateTime(1 + 86399.6 / 86400), {1900, 1, 1, 0, 0, 0}));
  EXPECT_TRUE(partsAre(rt::splitDateTime(1 + 86399.4 / 86400), {1899, 12, 31, 23, 59, 59}));
  EXPECT_TRUE(partsAre(rt::splitDateTime(1 + 50430.4 / 86400), {1899, 12, 31, 14, 0, 30}));
  EXPECT_TRUE(partsAre(rt::splitDateTime(-(5 + 86399.6 / 86400)), {1899, 12, 26, 0, 0, 0}));
  EXPECT_TRUE(partsAre(rt::splitDateTime(-(5 + 86399.4 / 86400)), {1899, 12, 25, 23, 59, 59}));
  const rt::DateParts carried = rt::splitDateTime(rt::makeDateTime(2010, 12, 31, 0, 0, 0) + 0.999999);
  EXPECT_TRUE(partsAre(carried, {2011, 1, 1, 0, 0, 0}));
  EXPECT_EQ(carried.dayOfYear, 1);
  EXPECT_EQ(carried.dayOfWeek, 7);  // 2011-01-01 was a Saturday

  EXPECT_EQ(rt::dateOnly(rt::makeDateTime(2010, 5, 3, 14, 5, 6)), rt::makeDateTime(2010, 5, 3, 0, 0, 0));
  EXPECT_EQ(rt::dateOnly(-1.25), -1.0);
  EXPECT_EQ(rt::dateOnly(-0.25), 0.0);
  EXPECT_EQ(rt::dateOnly(2.0 + 0.999999), 3.0);
  EXPECT_EQ(rt::dateOnly(1e9), rt::kMaxDate);
}

TEST(Dates, DateTimeToText) {
  const struct {
    double dt;
    const char* text;
  } cases[] = {
      {rt::makeDateTime(2010, 3, 5, 0, 0, 0), "2010年3月5日"},
      {rt::makeDateTime(2010, 3, 5, 14, 0, 0), "2010年3月5日14时"},
      {rt::makeDateTime(2010, 3, 5, 14, 0, 30), "2010年3月5日14时0分30秒"},
      {rt::makeDateTime(2010, 3, 5, 8, 0, 5), "2010年3月5日8时0分5秒"},
      {rt::makeDateTime(2010, 3, 5, 14, 5, 0), "2010年3月5日14时5分"},
      {rt::makeDateTime(2010, 3, 5, 0, 1, 0), "2010年3月5日0时1分"},
      {0, "1899年12月30日"},
      {-1.25, "1899年12月29日6时"},
      {rt::kNoDate, "100年1月1日"},
      {rt::kMaxDate + 5, "9999年12月31日"},
  };
  for (const auto& c : cases) EXPECT_EQ(rt::gbkToUtf8(rt::dateTimeToText(c.dt)), c.text);
}

TEST(Dates, TextToDateTime) {
  const struct {
    const char* utf8;
    Ymdhms want;
  } accepted[] = {
      {"2010-5-3", {2010, 5, 3, 0, 0, 0}},
      {"2010/05/03 14:05:06", {2010, 5, 3, 14, 5, 6}},
      {"2010年5月3日14时5分", {2010, 5, 3, 14, 5, 0}},
      {"2010年5月3日14时5分6秒", {2010, 5, 3, 14, 5, 6}},
      {"２０１０－０５－０３　１４．３０", {2010, 5, 3, 14, 30, 0}},
      {"2010.5.3", {2010, 5, 3, 0, 0, 0}},
      {"2010:5:3", {2010, 5, 3, 0, 0, 0}},
      {"2010-5-3-14-5-6", {2010, 5, 3, 14, 5, 6}},
      {"20100503", {2010, 5, 3, 0, 0, 0}},
      {"2000-2-29", {2000, 2, 29, 0, 0, 0}},
      {"2004-2-29", {2004, 2, 29, 0, 0, 0}},
      {"9999-12-31", {9999, 12, 31, 0, 0, 0}},
      {"9999-12-31 23:59:59", {9999, 12, 31, 23, 59, 59}},
      {"100-1-1", {100, 1, 1, 0, 0, 0}},
      {"1899-12-29 06:00", {1899, 12, 29, 6, 0, 0}},
      {"2010-5-3秒xyz", {2010, 5, 3, 0, 0, 0}},
      {"2010-5-3 14:05:06秒", {2010, 5, 3, 14, 5, 6}},
  };
  for (const auto& c : accepted) {
    const double dt = rt::textToDateTime(rt::utf8ToGbk(c.utf8));
    EXPECT_EQ(dt, rt::makeDateTime(c.want.y, c.want.m, c.want.d, c.want.h, c.want.mi, c.want.s)) << c.utf8;
  }
  EXPECT_EQ(rt::textToDateTime("1899-12-29 06:00"), -1.25);

  const char* rejected[] = {
      "10-5-3",    "99-1-1",    "2010-2-30",      "2010年5月3日 14时",   "",
      "1900-2-29", "2100-2-29", "2010-5-3x",      "2010-13-1",           "2010-0-1",
      "2010-5-0",  "2010-4-31", "2010-5-3 24:00", "2010-5-3 12:60",      "2010-5-3 12:0:60",
      "10000-1-1", "abc",       "2010-5-3  14",   "2010-5-3 14:05:06.5", "2010-5-3 1:2:3:4",
      "2010_5_3",
  };
  for (const char* text : rejected) EXPECT_EQ(rt::textToDateTime(rt::utf8ToGbk(text)), rt::kNoDate) << text;
}

TEST(Dates, DatePartOf) {
  const double dt = rt::makeDateTime(2010, 5, 3, 14, 5, 6);  // a Monday, day 123
  const int want[] = {2010, 2, 5, 18, 3, 14, 5, 6, 2, 123};
  for (int part = 1; part <= 10; ++part) EXPECT_EQ(rt::datePartOf(dt, part), want[part - 1]) << part;
  EXPECT_EQ(rt::datePartOf(dt, 0), 2010);
  EXPECT_EQ(rt::datePartOf(dt, -7), 2010);
  EXPECT_EQ(rt::datePartOf(dt, 11), 123);
  EXPECT_EQ(rt::datePartOf(dt, 1000), 123);

  const struct {
    int m, d, quarter, week;
  } edges[] = {
      {1, 1, 1, 1},   {1, 7, 1, 1},  {1, 8, 1, 2},   {3, 31, 1, 13},  {4, 1, 2, 14},
      {6, 30, 2, 26}, {7, 1, 3, 27}, {10, 1, 4, 40}, {12, 31, 4, 53},
  };
  for (const auto& e : edges) {
    const double day = rt::makeDateTime(2008, e.m, e.d, 0, 0, 0);  // a leap year
    EXPECT_EQ(rt::datePartOf(day, 2), e.quarter) << e.m << "-" << e.d;
    EXPECT_EQ(rt::datePartOf(day, 4), e.week) << e.m << "-" << e.d;
  }
  EXPECT_EQ(rt::datePartOf(0, 9), 7);  // 1899-12-30, a Saturday
  EXPECT_EQ(rt::datePartOf(1, 9), 1);  // Sunday
  EXPECT_EQ(rt::datePartOf(-1.25, 9), 6);
  EXPECT_EQ(rt::datePartOf(-1.25, 6), 6);
  EXPECT_EQ(rt::datePartOf(rt::makeDateTime(2008, 12, 31, 0, 0, 0), 10), 366);
}

TEST(Dates, TimeInterval) {
  auto at = [](int y, int m, int d, int h = 0, int mi = 0, int s = 0) { return rt::makeDateTime(y, m, d, h, mi, s); };
  const struct {
    double a, b;
    int unit;
    double want;
  } cases[] = {
      // years, quarters, months count calendar boundaries
      {at(2011, 1, 1), at(2010, 12, 31), 1, 1},
      {at(2010, 12, 31), at(2011, 1, 1), 1, -1},
      {at(2010, 4, 1), at(2010, 3, 31), 2, 1},
      {at(2011, 1, 1), at(2010, 12, 31), 2, 1},
      {at(2010, 3, 31), at(2012, 4, 1), 2, -9},
      {at(2010, 2, 1), at(2010, 1, 31), 3, 1},
      {at(2011, 1, 15), at(2010, 12, 15), 3, 1},
      {at(2010, 1, 31), at(2010, 2, 1), 3, -1},
      // weeks start on Sunday
      {at(2010, 1, 3), at(2010, 1, 2), 4, 1},   // Sat -> Sun
      {at(2010, 1, 10), at(2010, 1, 3), 4, 1},  // Sun -> Sun
      {at(2010, 1, 9), at(2010, 1, 3), 4, 0},   // Sun -> Sat
      {at(2010, 1, 17), at(2010, 1, 2), 4, 3},  // Sat -> Sun two weeks on
      {at(2010, 1, 2), at(2010, 1, 3), 4, -1},  // backwards over a Sunday
      {at(2010, 1, 3), at(2010, 1, 9), 4, 0},
      {at(2010, 1, 3), at(2010, 1, 17), 4, -2},
      {at(2010, 1, 10, 12), at(2010, 1, 3, 18), 4, 0},  // 6.75 days, same weekday
      // days keep their fraction
      {at(2010, 1, 2, 6), at(2010, 1, 1), 5, 1.25},
      {at(2010, 1, 1), at(2010, 1, 2, 6), 5, -1.25},
      // hours, minutes, seconds truncate, with a hair's allowance upwards
      {at(2010, 1, 1, 14), at(2010, 1, 1, 13), 6, 1},
      {at(2010, 1, 1, 14, 59, 59), at(2010, 1, 1, 13), 6, 1},
      // backwards the allowance points the other way: whole units stay whole
      {at(2010, 1, 1, 13), at(2010, 1, 1, 15), 6, -2},
      {at(2010, 1, 1, 13), at(2010, 1, 1, 14), 6, -1},
      {at(2010, 1, 1, 13, 0, 1), at(2010, 1, 1, 15), 6, -1},
      {at(2010, 1, 1, 14), at(2010, 1, 1, 14, 5), 7, -5},
      {at(2010, 1, 1, 23, 59, 59), at(2010, 1, 2, 0, 0, 1), 8, -2},
      {at(2010, 1, 1, 14, 5), at(2010, 1, 1, 14), 7, 5},
      {at(2010, 1, 1, 14, 0, 30), at(2010, 1, 1, 14), 8, 30},
      {at(2010, 1, 2, 0, 0, 1), at(2010, 1, 1, 23, 59, 59), 8, 2},
      // the unit number is clamped
      {at(2011, 6, 1), at(2010, 1, 1), 0, 1},
      {at(2010, 1, 1, 0, 0, 7), at(2010, 1, 1), 9, 7},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rt::timeInterval(c.a, c.b, c.unit), c.want) << c.unit << " " << c.a << " " << c.b;

  for (int unit = 1; unit <= 8; ++unit) EXPECT_EQ(rt::timeInterval(40000.5, 40000.5, unit), 0);
  EXPECT_EQ(rt::timeInterval(std::numeric_limits<double>::quiet_NaN(), 1, 5), 0);
}

}  // namespace
