#include "runtime/convert.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>
#include <string_view>
#include <vector>

#include "runtime/gbk.h"

namespace rt {
namespace {

// --- number formatting ----------------------------------------------------

// A finite non-zero number rounded to `digits.size()` significant decimal
// digits: value = 0.d1d2d3... * 10^(exp10 + 1), digits[0] != '0'.
struct Decimal {
  bool negative = false;
  std::string digits;
  int exp10 = 0;  // decimal exponent of the first digit
};

// Reads the output of printf's "%.Ne": an optional '-', digits with the
// decimal point somewhere between them, 'e', a signed exponent. Anything
// that is not a digit before the 'e' is skipped, so the locale's decimal
// point (whatever character or bytes it is) does not matter.
Decimal readScientific(const char* s) {
  Decimal d;
  if (*s == '-') {
    d.negative = true;
    ++s;
  }
  for (; *s && *s != 'e' && *s != 'E'; ++s)
    if (*s >= '0' && *s <= '9') d.digits.push_back(*s);
  if (*s) ++s;  // the 'e'
  bool negExp = false;
  if (*s == '+' || *s == '-') negExp = (*s++ == '-');
  int e = 0;
  for (; *s >= '0' && *s <= '9'; ++s) e = e * 10 + (*s - '0');
  d.exp10 = negExp ? -e : e;
  return d;
}

// The "%.Pg" layout of a number already rounded to P = digits.size()
// significant digits: style e when the exponent is below -4 or at least P,
// style f otherwise; trailing zeros and a bare decimal point are dropped.
// The exponent is written with its sign and at least three digits, the way
// every figure on the bills and reports has always looked (1e+015).
std::string layoutG(const Decimal& d) {
  const int precision = static_cast<int>(d.digits.size());
  std::string digits = d.digits;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out;
  if (d.negative) out.push_back('-');
  const int x = d.exp10;
  if (x < -4 || x >= precision) {
    out.push_back(digits[0]);
    if (digits.size() > 1) {
      out.push_back('.');
      out.append(digits, 1, std::string::npos);
    }
    char exp[16];
    std::snprintf(exp, sizeof exp, "e%c%03d", x < 0 ? '-' : '+', x < 0 ? -x : x);
    out += exp;
  } else if (x >= 0) {
    // x + 1 integer digits, padded with zeros when the significant digits
    // end before the point.
    const size_t intDigits = static_cast<size_t>(x) + 1;
    if (digits.size() <= intDigits) {
      out += digits;
      out.append(intDigits - digits.size(), '0');
    } else {
      out.append(digits, 0, intDigits);
      out.push_back('.');
      out.append(digits, intDigits, std::string::npos);
    }
  } else {
    out += "0.";
    out.append(static_cast<size_t>(-x - 1), '0');
    out += digits;
  }
  return out;
}

// Infinities and NaN come out as printf writes them, except that NaN never
// carries a sign: "-nan" would depend on how the NaN was produced.
// Zero of either sign is "0": a bill must never show "-0".
bool nonFiniteOrZeroText(double v, std::string& out) {
  if (std::isnan(v)) {
    out = "nan";
  } else if (std::isinf(v)) {
    out = v < 0 ? "-inf" : "inf";
  } else if (v == 0.0) {
    out = "0";
  } else {
    return false;
  }
  return true;
}

// --- calendar -------------------------------------------------------------

// Days from 1970-01-01 to a proleptic Gregorian date, and back (the
// era-based algorithms; exact for every date we handle).
constexpr int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// Day 0 of the date-time serials, 1899-12-30, counted from 1970-01-01.
constexpr int64_t kSerialEpoch = daysFromCivil(1899, 12, 30);

// --- texts ----------------------------------------------------------------

bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

bool isAsciiSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Reads at most `maxDigits` decimal digits at pos; none read gives 0.
int readDigits(std::string_view s, size_t& pos, int maxDigits) {
  int value = 0;
  for (int n = 0; n < maxDigits && pos < s.size() && isAsciiDigit(s[pos]); ++n, ++pos)
    value = value * 10 + (s[pos] - '0');
  return value;
}

// Skips one separator at pos when one is there: any of the ASCII characters
// in `ascii`, or the two-byte GBK character `word`.
void skipSeparator(std::string_view s, size_t& pos, std::string_view ascii, std::string_view word) {
  if (pos >= s.size()) return;
  if (ascii.find(s[pos]) != std::string_view::npos) {
    ++pos;
  } else if (s.substr(pos, word.size()) == word) {
    pos += word.size();
  }
}

// strtod in the "C" locale, whatever locale the program runs in.
double strtodC(const char* s) {
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(0));
  if (cLocale != locale_t(0)) return strtod_l(s, nullptr, cLocale);
  return std::strtod(s, nullptr);  // only if the C locale could not be made
}

}  // namespace

// --- numbers to text ------------------------------------------------------

std::string floatToText(float v) {
  std::string out;
  if (nonFiniteOrZeroText(v, out)) return out;
  // "%.150e" writes the exact decimal value of the float (no float needs
  // more than 112 significant digits); the first six digits are then
  // rounded half away from zero by looking at the seventh alone, which is
  // exact because every digit after it is written too.
  char buf[192];
  std::snprintf(buf, sizeof buf, "%.150e", static_cast<double>(v));
  Decimal d = readScientific(buf);
  const bool roundUp = d.digits.size() > 6 && d.digits[6] >= '5';
  d.digits.resize(6, '0');
  if (roundUp) {
    int i = 5;
    while (i >= 0 && d.digits[static_cast<size_t>(i)] == '9') d.digits[static_cast<size_t>(i--)] = '0';
    if (i >= 0) {
      ++d.digits[static_cast<size_t>(i)];
    } else {  // 999999.5 -> 1000000: one more digit before the point
      d.digits = "100000";
      ++d.exp10;
    }
  }
  return layoutG(d);
}

std::string doubleToText(double v) {
  std::string out;
  if (nonFiniteOrZeroText(v, out)) return out;
  // printf's own rounding to 13 significant digits (glibc rounds the exact
  // binary value, ties to even); only the layout is done here.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.12e", v);
  return layoutG(readScientific(buf));
}

std::string moneyToText(double v) {
  std::string out;
  if (nonFiniteOrZeroText(v, out)) return out;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", v);
  Decimal d = readScientific(buf);
  // d.digits[i] stands for 10^(exp10 - i); the fen is 10^-2, so the digits
  // kept are those down to index exp10 + 2 and the one after decides.
  const int keep = d.exp10 + 3;
  if (keep < static_cast<int>(d.digits.size())) {
    const bool roundUp = keep >= 0 && d.digits[static_cast<size_t>(keep)] >= '5';
    d.digits.resize(static_cast<size_t>(std::max(keep, 0)));
    if (roundUp) {
      int i = keep - 1;
      while (i >= 0 && d.digits[static_cast<size_t>(i)] == '9') d.digits[static_cast<size_t>(i--)] = '0';
      if (i >= 0) {
        ++d.digits[static_cast<size_t>(i)];
      } else {  // 9.995 -> 10, 0.005 -> 0.01: one more leading digit
        d.digits.insert(d.digits.begin(), '1');
        ++d.exp10;
      }
    }
  }
  auto digitAt = [&d](int power) {
    const int i = d.exp10 - power;
    return i >= 0 && i < static_cast<int>(d.digits.size()) ? d.digits[static_cast<size_t>(i)] : '0';
  };
  std::string whole, fen;
  for (int power = std::max(d.exp10, 0); power >= 0; --power) whole.push_back(digitAt(power));
  fen.push_back(digitAt(-1));
  fen.push_back(digitAt(-2));
  while (!fen.empty() && fen.back() == '0') fen.pop_back();
  if (whole == "0" && fen.empty()) return "0";  // never "-0"
  if (d.negative) out.push_back('-');
  out += whole;
  if (!fen.empty()) out += "." + fen;
  return out;
}

// --- date-times -----------------------------------------------------------

DateParts splitDateTime(double dt) {
  // NaN is treated like the earliest date, the "no date" value.
  if (!(dt >= kNoDate)) dt = kNoDate;
  if (dt > kMaxDate) dt = kMaxDate;

  const double whole = std::trunc(dt);
  const double frac = std::fabs(dt - whole);  // exact
  // The nearest second: fractions of a day such as 14:00:30 are not exact
  // in binary and may lie just below the second they were made from.
  int64_t secs = std::llround(frac * 86400.0);
  int64_t day = static_cast<int64_t>(whole);
  if (secs >= 86400) {  // 23:59:59.5 and later is the next calendar day
    secs -= 86400;
    ++day;
  }

  DateParts p;
  civilFromDays(day + kSerialEpoch, p.year, p.month, p.day);
  p.hour = static_cast<int>(secs / 3600);
  p.minute = static_cast<int>(secs / 60 % 60);
  p.second = static_cast<int>(secs % 60);
  // Day 0 was a Saturday (7).
  p.dayOfWeek = static_cast<int>(((day + 6) % 7 + 7) % 7) + 1;
  p.dayOfYear = static_cast<int>(day + kSerialEpoch - daysFromCivil(p.year, 1, 1)) + 1;
  return p;
}

double makeDateTime(int year, int month, int day, int hour, int minute, int second) {
  const double serialDay = static_cast<double>(daysFromCivil(year, month, day) - kSerialEpoch);
  const double t = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  return serialDay >= 0 ? serialDay + t : serialDay - t;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  if (month == 2 && isLeapYear(year)) return 29;
  return kDays[month - 1];
}

std::string dateTimeToText(double dt) {
  const DateParts p = splitDateTime(dt);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%d%s%d%s%d%s", p.year, GBK("年"), p.month, GBK("月"), p.day, GBK("日"));
  std::string out = buf;
  if (p.second != 0) {
    std::snprintf(buf, sizeof buf, "%d%s%d%s%d%s", p.hour, GBK("时"), p.minute, GBK("分"), p.second, GBK("秒"));
    out += buf;
  } else if (p.minute != 0) {
    std::snprintf(buf, sizeof buf, "%d%s%d%s", p.hour, GBK("时"), p.minute, GBK("分"));
    out += buf;
  } else if (p.hour != 0) {
    std::snprintf(buf, sizeof buf, "%d%s", p.hour, GBK("时"));
    out += buf;
  }
  return out;
}

double textToDateTime(const std::string& gbk) {
  const std::string text = toHalfWidth(gbk);
  const std::string_view s = text;
  size_t pos = 0;

  // Each part is read as far as digits go; its separator is skipped only
  // when it is there.
  const int year = readDigits(s, pos, 4);
  skipSeparator(s, pos, "-./:", GBK("年"));
  const int month = readDigits(s, pos, 2);
  skipSeparator(s, pos, "-./:", GBK("月"));
  const int day = readDigits(s, pos, 2);
  skipSeparator(s, pos, " -./:", GBK("日"));
  const int hour = readDigits(s, pos, 2);
  skipSeparator(s, pos, "-./:", GBK("时"));
  const int minute = readDigits(s, pos, 2);
  skipSeparator(s, pos, "-./:", GBK("分"));
  const int second = readDigits(s, pos, 2);

  // The text ends here, or goes on with 秒 and whatever follows it.
  const std::string_view secondWord = GBK("秒");
  if (pos < s.size() && s.substr(pos, secondWord.size()) != secondWord) return kNoDate;

  // The parts must be a real date and time as they stand.
  if (year < 100 || year > 9999 || month < 1 || month > 12) return kNoDate;
  if (day < 1 || day > daysInMonth(year, month)) return kNoDate;
  if (hour > 23 || minute > 59 || second > 59) return kNoDate;
  return makeDateTime(year, month, day, hour, minute, second);
}

int datePartOf(double dt, int part) {
  const DateParts p = splitDateTime(dt);
  switch (part <= 1 ? 1 : part >= 10 ? 10 : part) {
    case 1:
      return p.year;
    case 2:
      return (p.month - 1) / 3 + 1;
    case 3:
      return p.month;
    case 4:
      return (p.dayOfYear - 1) / 7 + 1;
    case 5:
      return p.day;
    case 6:
      return p.hour;
    case 7:
      return p.minute;
    case 8:
      return p.second;
    case 9:
      return p.dayOfWeek;
    default:
      return p.dayOfYear;
  }
}

double dateOnly(double dt) {
  const DateParts p = splitDateTime(dt);
  return makeDateTime(p.year, p.month, p.day, 0, 0, 0);
}

double timeInterval(double a, double b, int unit) {
  if (a == b) return 0;
  // A NaN on either side has no interval; 0 is the neutral answer.
  if (std::isnan(a) || std::isnan(b)) return 0;
  unit = unit <= 1 ? 1 : unit >= 8 ? 8 : unit;

  const double d = a - b;
  // Added before truncating hours, minutes and seconds, so that a time
  // difference lying a hair short of a whole unit still counts it. The
  // allowance points away from zero: added to a negative difference it
  // would take a whole unit off (13:00 - 15:00 would be -1 hour).
  const double nudge = d < 0 ? -0.000005787037037037037 : 0.000005787037037037037;
  switch (unit) {
    case 5:
      return d;
    case 6:
      return std::trunc(d * 24 + nudge);
    case 7:
      return std::trunc(d * 1440 + nudge);
    case 8:
      return std::trunc(d * 86400 + nudge);
    default:
      break;
  }

  const DateParts pa = splitDateTime(a);
  const DateParts pb = splitDateTime(b);
  switch (unit) {
    case 1:
      return pa.year - pb.year;
    case 2:
      return (pa.month - 1) / 3 - (pb.month - 1) / 3 + 4 * (pa.year - pb.year);
    case 3:
      return 12 * (pa.year - pb.year) + pa.month - pb.month;
    default:
      break;
  }

  // Weeks: whole days over 7, plus one for each Sunday-to-Saturday week
  // boundary crossed that the whole weeks do not account for. The day count
  // is held within any real span of dates before it becomes an integer.
  const double days = std::fmin(std::fmax(std::trunc(d), -1e15), 1e15);
  int64_t w = static_cast<int64_t>(days) / 7;
  if (a > b && pa.dayOfWeek < pb.dayOfWeek) ++w;
  if (a < b && pb.dayOfWeek < pa.dayOfWeek) --w;
  return static_cast<double>(w);
}

// --- texts ----------------------------------------------------------------

std::string toHalfWidth(const std::string& gbk) {
  std::string out;
  out.reserve(gbk.size());
  const size_t n = gbk.size();
  for (size_t i = 0; i < n;) {
    const unsigned char lead = static_cast<unsigned char>(gbk[i]);
    if (!isGbkLead(lead) || i + 1 >= n) {  // ASCII, or a lone lead byte at the end
      out.push_back(gbk[i++]);
      continue;
    }
    const unsigned char trail = static_cast<unsigned char>(gbk[i + 1]);
    char ascii = 0;
    if (lead == 0xA3) {
      if ((trail >= 0xB0 && trail <= 0xB9) || (trail >= 0xC1 && trail <= 0xDA) || (trail >= 0xE1 && trail <= 0xFA) ||
          trail == 0xAB || trail == 0xAD || trail == 0xAE)
        ascii = static_cast<char>(trail - 0x80);  // A3xx mirrors ASCII at xx - 0x80
    } else if (lead == 0xA1 && trail == 0xA1) {
      ascii = ' ';
    }
    if (ascii) {
      out.push_back(ascii);
    } else {
      out.push_back(gbk[i]);
      out.push_back(gbk[i + 1]);
    }
    i += 2;
  }
  return out;
}

double textToNumber(const std::string& gbk) {
  const std::string text = toHalfWidth(gbk);
  const size_t n = text.size();
  size_t pos = 0;
  while (pos < n && isAsciiSpace(text[pos])) ++pos;

  // Only a plain decimal number is taken: sign, digits with an optional
  // point, an optional exponent that has digits. No hex, inf or nan.
  const size_t start = pos;
  if (pos < n && (text[pos] == '+' || text[pos] == '-')) ++pos;
  size_t mantissaDigits = 0;
  while (pos < n && isAsciiDigit(text[pos])) ++pos, ++mantissaDigits;
  if (pos < n && text[pos] == '.') {
    ++pos;
    while (pos < n && isAsciiDigit(text[pos])) ++pos, ++mantissaDigits;
  }
  if (mantissaDigits == 0) return 0;
  if (pos < n && (text[pos] == 'e' || text[pos] == 'E')) {
    size_t e = pos + 1;
    if (e < n && (text[e] == '+' || text[e] == '-')) ++e;
    if (e < n && isAsciiDigit(text[e])) {
      while (e < n && isAsciiDigit(text[e])) ++e;
      pos = e;
    }
  }
  // strtod's value, correctly rounded; a number too large for a double
  // gives an infinity and one too small 0 or a denormal, as strtod does.
  return strtodC(text.substr(start, pos - start).c_str());
}

std::string chineseNumerals(double amount, bool plain) {
  static const char* const kMoneyDigits = "零壹贰叁肆伍陆柒捌玖";
  static const char* const kMoneyUnits = "拾佰仟万拾佰仟亿拾佰仟万";
  static const char* const kPlainDigits = "零一二三四五六七八九";
  static const char* const kPlainUnits = "十百千万十百千亿十百千万";
  // The tables as GBK, one two-byte character per entry.
  static const std::string moneyDigits = utf8ToGbk(kMoneyDigits);
  static const std::string moneyUnits = utf8ToGbk(kMoneyUnits);
  static const std::string plainDigits = utf8ToGbk(kPlainDigits);
  static const std::string plainUnits = utf8ToGbk(kPlainUnits);
  const std::string& digitTable = plain ? plainDigits : moneyDigits;
  const std::string& unitTable = plain ? plainUnits : moneyUnits;
  auto digitChar = [&](int d) { return std::string_view(digitTable).substr(size_t(d) * 2, 2); };
  auto unitChar = [&](int i) { return std::string_view(unitTable).substr(size_t(i) * 2, 2); };

  // NaN is no amount; it reads as zero.
  if (std::isnan(amount)) amount = 0;
  const bool negative = amount < 0;
  if (negative) amount = -amount;

  const double fen = std::floor(amount * 100 + 0.000000000001 + 0.5);
  if (fen > 999999999999999.0) return GBK("溢出");  // also infinity
  uint64_t f = static_cast<uint64_t>(fen);
  if (f == 0) return std::string(digitChar(0));

  // Pieces are collected right to left and joined in reverse at the end.
  std::vector<std::string_view> pieces;
  if (f % 10 == 0) pieces.push_back(GBK("整"));

  enum { kNothingWritten, kDigitWritten, kZeroWritten } state = kNothingWritten;
  bool yuanWritten = false;
  bool groupWritten = false;
  for (int i = 0; f > 0; ++i, f /= 10) {
    if (i == 6 || i == 10) groupWritten = false;
    const int digit = static_cast<int>(f % 10);
    if (digit == 0) {
      if (state == kDigitWritten) {
        pieces.push_back(digitChar(0));
        state = kZeroWritten;
      }
      continue;
    }
    state = kDigitWritten;
    if (i == 0) {
      pieces.push_back(GBK("分"));
    } else if (i == 1) {
      pieces.push_back(GBK("角"));
    } else {
      if (!yuanWritten) {
        pieces.push_back(GBK("元"));
        yuanWritten = true;
      }
      if (!groupWritten && i >= 6) {
        // The first digit written in the 万 or 亿 group carries the group's
        // word unless its own position word is that word already.
        if (i >= 7 && i <= 9)
          pieces.push_back(unitChar(3));  // 万
        else if (i >= 11)
          pieces.push_back(unitChar(7));  // 亿
        groupWritten = true;
      }
      if (i >= 3) pieces.push_back(unitChar(i - 3));
    }
    pieces.push_back(digitChar(digit));
  }
  if (negative) pieces.push_back(GBK("负"));

  std::string out;
  for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) out += *it;
  return out;
}

std::string leftText(const std::string& gbk, int64_t n) {
  if (n <= 0) return std::string();
  if (static_cast<uint64_t>(n) >= gbk.size()) return gbk;
  return gbk.substr(0, static_cast<size_t>(n));
}

}  // namespace rt
