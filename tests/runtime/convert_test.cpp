// Numbers to text, text to numbers, full-width folding, amounts in words.

#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "runtime/convert.h"
#include "runtime/gbk.h"

namespace {

// Widens printf's exponent ("e+15", "e-5") to the three digits our texts use.
std::string widenExponent(std::string s) {
  const size_t e = s.find('e');
  if (e == std::string::npos) return s;
  std::string digits = s.substr(e + 2);
  while (digits.size() < 3) digits.insert(digits.begin(), '0');
  return s.substr(0, e + 2) + digits;
}

// Exact decimal value of |v| by big-integer arithmetic on mantissa * 2^e:
// the significant digits (no trailing zeros) and the decimal exponent of
// the first one.
struct Exact {
  std::string digits;
  int exp10 = 0;
};

Exact exactDecimal(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const int biased = int(bits >> 23 & 0xFF);
  uint64_t mant = bits & 0x7FFFFF;
  int e = -149;
  if (biased != 0) {
    mant |= 0x800000;
    e = biased - 150;
  }
  // Little-endian limbs in base 10^9; value = N * 10^-shift.
  std::vector<uint64_t> n{mant % 1000000000, mant / 1000000000};
  auto mul = [&](uint64_t k) {
    uint64_t carry = 0;
    for (auto& limb : n) {
      const uint64_t x = limb * k + carry;
      limb = x % 1000000000;
      carry = x / 1000000000;
    }
    while (carry) {
      n.push_back(carry % 1000000000);
      carry /= 1000000000;
    }
  };
  int shift = 0;
  if (e >= 0) {
    for (; e >= 29; e -= 29) mul(uint64_t(1) << 29);
    mul(uint64_t(1) << e);
  } else {
    shift = -e;
    for (int k = -e; k > 0; k -= 13) mul(static_cast<uint64_t>(std::pow(5.0, std::min(k, 13))));
  }
  while (n.size() > 1 && n.back() == 0) n.pop_back();
  std::string s = std::to_string(n.back());
  for (size_t i = n.size() - 1; i-- > 0;) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%09llu", static_cast<unsigned long long>(n[i]));
    s += buf;
  }
  Exact r;
  r.exp10 = int(s.size()) - 1 - shift;
  while (s.size() > 1 && s.back() == '0') s.pop_back();
  r.digits = s;
  return r;
}

// The text a float must give: the exact value rounded half away from zero
// at 6 digits, then laid out by the C library's own "%.6g".
std::string expectedFloatText(float v) {
  if (v == 0) return "0";
  const Exact x = exactDecimal(v);
  std::string d = x.digits;
  d.resize(7, '0');
  long m = std::stol(d.substr(0, 6)) + (d[6] >= '5' ? 1 : 0);
  char num[64];
  std::snprintf(num, sizeof num, "%lde%d", m, x.exp10 - 5);
  char out[64];
  std::snprintf(out, sizeof out, "%.6g", std::strtod(num, nullptr));
  return (v < 0 ? "-" : "") + widenExponent(out);
}

// "%.13g" by libstdc++'s own formatter, independent of the C library.
std::string expectedDoubleText(double v) {
  if (v == 0) return "0";
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 13);
  return widenExponent(std::string(buf, r.ptr));
}

TEST(NumberText, Examples) {
  const struct {
    float v;
    const char* text;
  } floats[] = {
      {0.1f, "0.1"},
      {1234567.0f, "1.23457e+006"},
      {12.5f, "12.5"},
      {3.0f, "3"},
      {-0.0f, "0"},
      {0.0f, "0"},
      {1e-5f, "1e-005"},
      {0.0001f, "0.0001"},
      {100000.0f, "100000"},
      {1e6f, "1e+006"},
      {999999.5f, "1e+006"},
      {-2.75f, "-2.75"},
      {1234565.0f, "1.23457e+006"},  // tie: away from zero, not to even
      {123456.5f, "123457"},
      {1234.625f, "1234.63"},
      {-1234.625f, "-1234.63"},
      {3.4028235e38f, "3.40282e+038"},
      {std::numeric_limits<float>::denorm_min(), "1.4013e-045"},
      {std::numeric_limits<float>::infinity(), "inf"},
      {-std::numeric_limits<float>::infinity(), "-inf"},
      {std::numeric_limits<float>::quiet_NaN(), "nan"},
      {-std::numeric_limits<float>::quiet_NaN(), "nan"},
  };
  for (const auto& c : floats) EXPECT_EQ(rt::floatToText(c.v), c.text) << c.text;

  const struct {
    double v;
    const char* text;
  } doubles[] = {
      {0.1, "0.1"},
      {1e15, "1e+015"},
      {1.5e-100, "1.5e-100"},
      {12.5, "12.5"},
      {3.0, "3"},
      {-0.0, "0"},
      {1.0 / 3, "0.3333333333333"},
      {1234567890123.0, "1234567890123"},
      {12345678901234.0, "1.234567890123e+013"},
      {12345678901235.0, "1.234567890124e+013"},  // printf's tie to even
      {12345678901225.0, "1.234567890122e+013"},
      {0.00012345, "0.00012345"},
      {0.000012345, "1.2345e-005"},
      {-1e300, "-1e+300"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {std::numeric_limits<double>::quiet_NaN(), "nan"},
  };
  for (const auto& c : doubles) EXPECT_EQ(rt::doubleToText(c.v), c.text) << c.text;
}

TEST(NumberText, FloatsMatchExactDecimalExpansion) {
  std::mt19937 rng(20100305);
  int failures = 0;
  auto check = [&](float v) {
    const std::string got = rt::floatToText(v), want = expectedFloatText(v);
    if (got != want && ++failures <= 10) ADD_FAILURE() << got << " != " << want;
  };
  // Any bit pattern: denormals, huge magnitudes, both signs.
  for (int i = 0; i < 100000; ++i) {
    const uint32_t bits = rng();
    float v;
    std::memcpy(&v, &bits, sizeof v);
    if (std::isfinite(v)) check(v);
  }
  // Everyday magnitudes with many digits.
  std::uniform_real_distribution<float> everyday(-100000.0f, 100000.0f);
  for (int i = 0; i < 50000; ++i) check(everyday(rng));

  // Exact ties: floats whose exact value has seven significant digits, the
  // last a 5. With d = t * 5^k in [10^6, 10^7) and t odd, t * 2^-k is
  // d * 10^-k exactly; k = 0 are the integers ending in 5.
  int ties = 0;
  for (int k = 0; k <= 9; ++k) {
    const long p5 = std::lround(std::pow(5.0, k));
    const long lo = (1000000 + p5 - 1) / p5, hi = (10000000 - 1) / p5;
    for (int j = 0; j < 300; ++j) {
      long t = lo + long(rng() % uint32_t(hi - lo + 1));
      if (t % 2 == 0) ++t;
      if (t > hi || (k == 0 && t % 5 != 0)) continue;
      const float v = std::ldexp(float(t), -k);
      const Exact x = exactDecimal(v);
      ASSERT_EQ(x.digits.size(), 7u) << t << " " << k;
      ASSERT_EQ(x.digits.back(), '5');
      check(v);
      check(-v);
      ++ties;
    }
  }
  EXPECT_GT(ties, 1000);
  EXPECT_EQ(failures, 0);
}

TEST(NumberText, DoublesMatchIndependentFormatter) {
  std::mt19937_64 rng(19991231);
  int failures = 0;
  auto check = [&](double v) {
    const std::string got = rt::doubleToText(v), want = expectedDoubleText(v);
    if (got != want && ++failures <= 10) ADD_FAILURE() << got << " != " << want;
  };
  for (int i = 0; i < 100000; ++i) {
    const uint64_t bits = rng();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (std::isfinite(v)) check(v);
  }
  // Money amounts and integers around the 13-digit boundary, where ties
  // at the 14th digit are exact.
  for (int i = 0; i < 50000; ++i) {
    check(double(int64_t(rng() % 100000000000)) / 100);
    check(double(int64_t(rng() % 90000000000000) + 10000000000000));
  }
  EXPECT_EQ(failures, 0);
}

TEST(NumberText, IndependentOfTheDecimalPointOfTheLocale) {
  const char* names[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"};
  const char* found = nullptr;
  for (const char* name : names)
    if (std::setlocale(LC_NUMERIC, name)) {
      found = name;
      break;
    }
  if (!found) GTEST_SKIP() << "no locale with a decimal comma installed";
  EXPECT_EQ(rt::floatToText(12.5f), "12.5");
  EXPECT_EQ(rt::doubleToText(0.1), "0.1");
  EXPECT_EQ(rt::moneyToText(1234.565), "1234.57");
  EXPECT_EQ(rt::textToNumber("3.25"), 3.25);
  std::setlocale(LC_NUMERIC, "C");
}

// Amounts of money: to the fen, half away from zero, never an exponent.
TEST(MoneyText, AwkwardValues) {
  const float threeTimesSix = 0.06f * 3;  // a float sum that is not 0.18
  float sum = 0;
  for (int i = 0; i < 3; ++i) sum += 0.06f;
  const struct {
    double v;
    const char* text;
  } cases[] = {
      {threeTimesSix, "0.18"},
      {sum, "0.18"},
      {double(88.8f), "88.8"},
      {double(1609200.0f), "1609200"},
      {double(123456.78f), "123456.78"},  // 123456.78125 as a float
      {1234567.875, "1234567.88"},
      {261713.09375, "261713.09"},
      {171808.9996588, "171809"},
      {68.77999846637, "68.78"},
      {212080.8388672, "212080.84"},
      {12.5, "12.5"},
      {3.0, "3"},
      {0.0, "0"},
      {-0.0, "0"},
      {-0.004, "0"},  // rounds to nothing: no "-0"
      {-12.5, "-12.5"},
      {-0.18, "-0.18"},
      {-double(123456.78f), "-123456.78"},
      // Half a fen goes away from zero, also where the double lies just
      // below the decimal it was typed as.
      {2.675, "2.68"},
      {1.005, "1.01"},
      {-2.675, "-2.68"},
      {0.005, "0.01"},
      {-0.005, "-0.01"},
      {0.125, "0.13"},
      {0.00499, "0"},
      {9.995, "10"},
      {999999.995, "1000000"},
      {-99.995, "-100"},
      {1e13, "10000000000000"},
      {9999999999999.99, "9999999999999.99"},
      {1e-7, "0"},
      {0.01, "0.01"},
      {std::numeric_limits<double>::infinity(), "inf"},
      {std::numeric_limits<double>::quiet_NaN(), "nan"},
  };
  for (const auto& c : cases) EXPECT_EQ(rt::moneyToText(c.v), c.text) << c.text;
}

// Every whole number of fen up to ten thousand million yuan, as the double
// a computation gives for it, comes back as exactly its decimal.
TEST(MoneyText, WholeFenRoundTrip) {
  std::mt19937_64 rng(25);
  int failures = 0;
  for (int i = 0; i < 200000 && failures < 10; ++i) {
    const int64_t fen = int64_t(rng() % 1000000000000) * (i % 2 ? -1 : 1);
    const double v = double(fen) / 100.0;
    const int64_t a = fen < 0 ? -fen : fen;
    std::string expected = (fen < 0 ? "-" : "") + std::to_string(a / 100);
    const int64_t cents = a % 100;
    if (cents != 0) {
      expected += '.';
      expected += char('0' + cents / 10);
      if (cents % 10) expected += char('0' + cents % 10);
    }
    if (rt::moneyToText(v) != expected) {
      ADD_FAILURE() << fen << ": " << rt::moneyToText(v) << " != " << expected;
      ++failures;
    }
  }
}

TEST(HalfWidth, FoldsOnlyTheListedCharacters) {
  EXPECT_EQ(rt::toHalfWidth(rt::utf8ToGbk("０１２３４５６７８９")), "0123456789");
  EXPECT_EQ(rt::toHalfWidth(rt::utf8ToGbk("ＡＺａｚＭｍ＋－．　")), "AZazMm+-. ");
  EXPECT_EQ(rt::gbkToUtf8(rt::toHalfWidth(rt::utf8ToGbk("药品Ａ１号"))), "药品A1号");
  // Other full-width punctuation stays as it is.
  for (const char* kept : {"／", "，", "＠", "｛", "（", "：", "～"})
    EXPECT_EQ(rt::gbkToUtf8(rt::toHalfWidth(rt::utf8ToGbk(kept))), kept);
  EXPECT_EQ(rt::toHalfWidth("abc 1.5"), "abc 1.5");
  EXPECT_EQ(rt::toHalfWidth(""), "");
  // B0A3 and B0A1 are two characters; the A3B0 across them is not a '0'.
  EXPECT_EQ(rt::toHalfWidth("\xB0\xA3\xB0\xA1"), "\xB0\xA3\xB0\xA1");
  // A trail byte in the ASCII range belongs to its lead.
  EXPECT_EQ(rt::toHalfWidth("\x81\x40\xA3\xB1"),
            "\x81\x40"
            "1");
  EXPECT_EQ(rt::toHalfWidth("\xA3\xB0\xA3"), "0\xA3");  // lone lead byte kept
}

TEST(TextToNumber, ReadsTheLeadingDecimalNumber) {
  const struct {
    const char* utf8;
    double value;
  } cases[] = {
      {"１２３．５", 123.5},
      {"12abc", 12},
      {"abc", 0},
      {"  -3.5e2x", -350},
      {"0x10", 0},
      {"inf", 0},
      {"nan", 0},
      {"-inf", 0},
      {".5", 0.5},
      {"5.", 5},
      {"-.5", -0.5},
      {"+7", 7},
      {"1e", 1},
      {"1e+", 1},
      {"2E3", 2000},
      {"1e-2", 0.01},
      {"-", 0},
      {".", 0},
      {"", 0},
      {"12.5.3", 12.5},
      {"1,5", 1},
      {"１ｅ３", 1000},
      {"－２", -2},
      {"　８", 8},
      {"\t\n 4", 4},
      {"- 4", 0},
      {"0.1", 0.1},
      {"1e-400", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(rt::textToNumber(rt::utf8ToGbk(c.utf8)), c.value) << c.utf8;
  EXPECT_EQ(rt::textToNumber("1e400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(rt::textToNumber("-1e400"), -std::numeric_limits<double>::infinity());
}

TEST(ChineseNumerals, MoneyCapitalsAndPlainNumerals) {
  const struct {
    double amount;
    const char* words;
  } money[] = {
      {1000.5, "壹仟元零伍角整"},
      {101, "壹佰零壹元整"},
      {10, "壹拾元整"},
      {0.5, "伍角整"},
      {12.34, "壹拾贰元叁角肆分"},
      {20000, "贰万元整"},
      {-3, "负叁元整"},
      {0, "零"},
      {0.001, "零"},
      {-0.001, "零"},
      {0.005, "壹分"},
      {1.005, "壹元零壹分"},
      {0.3, "叁角整"},
      {100000.01, "壹拾万元零壹分"},
      {10000000, "壹仟万元整"},
      {12345678.9, "壹仟贰佰叁拾肆万伍仟陆佰柒拾捌元玖角整"},
      {100000000, "壹亿元整"},
      {101000000, "壹亿零壹佰万元整"},
      {1000100000, "壹拾亿零壹拾万元整"},
      {1e12, "壹万亿元整"},
      {1.1e12, "壹万壹仟亿元整"},
      {9999999999999.99, "玖万玖仟玖佰玖拾玖亿玖仟玖佰玖拾玖万玖仟玖佰玖拾玖元玖角玖分"},
      {1e13, "溢出"},
      {-1e13, "溢出"},
      {std::numeric_limits<double>::infinity(), "溢出"},
      {std::numeric_limits<double>::quiet_NaN(), "零"},
  };
  for (const auto& c : money) EXPECT_EQ(rt::gbkToUtf8(rt::chineseNumerals(c.amount, false)), c.words) << c.amount;

  const struct {
    double amount;
    const char* words;
  } plain[] = {
      {12.34, "一十二元三角四分"}, {10, "一十元整"}, {20000, "二万元整"},     {1000.5, "一千元零五角整"},
      {-101, "负一百零一元整"},    {0, "零"},        {100000000, "一亿元整"},
  };
  for (const auto& c : plain) EXPECT_EQ(rt::gbkToUtf8(rt::chineseNumerals(c.amount, true)), c.words) << c.amount;
}

TEST(LeftText, CutsBytes) {
  const std::string medicine = rt::utf8ToGbk("药品");
  EXPECT_EQ(rt::leftText(medicine, 3), medicine.substr(0, 3));
  EXPECT_EQ(rt::leftText(medicine, 2), rt::utf8ToGbk("药"));
  EXPECT_EQ(rt::leftText(medicine, 4), medicine);
  EXPECT_EQ(rt::leftText(medicine, 100), medicine);
  EXPECT_EQ(rt::leftText(medicine, 0), "");
  EXPECT_EQ(rt::leftText(medicine, -1), "");
  EXPECT_EQ(rt::leftText("", 5), "");
}

}  // namespace
