// Typed texts read back by field kind: what fits is converted, what does
// not is refused with a reason instead of being stored as 0 or cut.
#include <gtest/gtest.h>

#include "db/dialog/field_text.h"
#include "runtime/gbk.h"

namespace {

using db::Field;
using db::dialog::parseFieldText;
using db::dialog::TypedValue;

Field field(int32_t kind, int32_t size = 0) {
  Field f;
  f.name = "f";
  f.kind = kind;
  f.size = size;
  return f;
}

std::string refused(int32_t kind, const char* utf8, int32_t size = 0) {
  TypedValue v;
  return rt::gbkToUtf8(parseFieldText(field(kind, size), rt::utf8ToGbk(utf8), &v));
}

TEST(FieldText, NumbersAreReadExactlyOrRefused) {
  TypedValue v;
  EXPECT_EQ(parseFieldText(field(db::kFInt), " -12 ", &v), "");
  EXPECT_EQ(v.value.kind, rt::kInt);
  EXPECT_EQ(rt::lowInt(v.value), -12);
  EXPECT_EQ(parseFieldText(field(db::kFInt), rt::utf8ToGbk("１２３"), &v), "");  // full-width digits
  EXPECT_EQ(rt::lowInt(v.value), 123);
  EXPECT_EQ(parseFieldText(field(db::kFInt), "12.9", &v), "");  // cut toward zero, as stored
  EXPECT_EQ(rt::lowInt(v.value), 12);
  EXPECT_EQ(parseFieldText(field(db::kFLong), "9007199254740993", &v), "");
  EXPECT_EQ(rt::longValue(v.value), 9007199254740993LL);
  EXPECT_EQ(parseFieldText(field(db::kFDouble), "1.5e3", &v), "");
  EXPECT_EQ(rt::doubleValue(v.value), 1500.0);
  EXPECT_EQ(parseFieldText(field(db::kFShort), "", &v), "");  // blank is zero
  EXPECT_EQ(v.value.kind, rt::kShort);
  EXPECT_EQ(rt::lowInt(v.value), 0);

  EXPECT_EQ(refused(db::kFInt, "abc"), "不是有效的数值");
  EXPECT_EQ(refused(db::kFInt, "12abc"), "不是有效的数值");
  EXPECT_EQ(refused(db::kFFloat, "1e"), "不是有效的数值");
  EXPECT_EQ(refused(db::kFByte, "256"), "超出字段的取值范围（0 - 255）");
  EXPECT_EQ(refused(db::kFByte, "-1"), "超出字段的取值范围（0 - 255）");
  EXPECT_EQ(refused(db::kFShort, "32768"), "超出字段的取值范围（-32768 - 32767）");
  EXPECT_EQ(refused(db::kFInt, "2147483648"), "超出字段的取值范围（-2147483648 - 2147483647）");
  EXPECT_NE(refused(db::kFLong, "99999999999999999999"), "");
  EXPECT_EQ(refused(db::kFFloat, "1e39"), "数值超出字段的取值范围");
  EXPECT_EQ(refused(db::kFDouble, "1e400"), "数值超出字段的取值范围");
}

TEST(FieldText, TextsDatesAndBools) {
  TypedValue v;
  EXPECT_EQ(parseFieldText(field(db::kFText, 4), rt::utf8ToGbk("张三"), &v), "");  // 4 bytes
  EXPECT_EQ(v.arg().kind, rt::kText);
  EXPECT_EQ(rt::gbkToUtf8(rt::textValue(v.arg())), "张三");
  EXPECT_EQ(refused(db::kFText, "张三丰", 4), "内容超过字段长度 4 字节");

  EXPECT_EQ(parseFieldText(field(db::kFDateTime), rt::utf8ToGbk("1900年1月1日"), &v), "");
  EXPECT_EQ(rt::doubleValue(v.value), 2.0);
  EXPECT_EQ(refused(db::kFDateTime, "明天"), "不是有效的日期时间");

  EXPECT_EQ(parseFieldText(field(db::kFBool), rt::utf8ToGbk("真"), &v), "");
  EXPECT_EQ(v.value.lo, 1u);
  EXPECT_EQ(refused(db::kFBool, "maybe"), "不是有效的逻辑值（真 或 假）");
  EXPECT_NE(refused(db::kFMemo, "x"), "");
}

TEST(FieldText, ShownTextReadsBackToTheSameValue) {
  Field f = field(db::kFLong);
  EXPECT_EQ(db::dialog::fieldText(f, rt::makeLong(-9007199254740993LL)), "-9007199254740993");
  Field d = field(db::kFDateTime);
  const double when = 45351.5;  // 2024-02-29 12:00
  std::string shown = db::dialog::fieldText(d, rt::makeDateTime(when));
  TypedValue v;
  ASSERT_EQ(parseFieldText(d, shown, &v), "");
  EXPECT_EQ(rt::doubleValue(v.value), when);
  Field b = field(db::kFBool);
  ASSERT_EQ(parseFieldText(b, db::dialog::fieldText(b, rt::makeBool(true)), &v), "");
  EXPECT_EQ(v.value.lo, 1u);
}

}  // namespace
