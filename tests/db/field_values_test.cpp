// Field values written into and read from a record image with no table
// and no auxiliary file behind it: the numeric conversions between kinds,
// and chain fields failing cleanly when there is no auxiliary file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "db/errors.h"
#include "db/field_values.h"
#include "db/format.h"

namespace {

// One record image holding a field of every kind, laid out as a table
// would lay it out.
struct Image {
  std::vector<db::Field> fields;
  std::vector<uint8_t> rec;
  Image() {
    for (int32_t k = db::kFByte; k <= db::kFMemo; ++k) {
      db::Field f;
      f.kind = k;
      f.size = k == db::kFText ? 6 : 0;
      fields.push_back(f);
    }
    rec.assign(size_t(db::layoutFields(&fields)), 0);
  }
  const db::Field& field(int32_t kind) const { return fields[size_t(kind - db::kFByte)]; }
  int write(int32_t kind, const rt::Arg& v) { return db::writeFieldValue(field(kind), v, nullptr, rec.data()); }
  rt::Arg read(int32_t kind) {
    rt::Arg out;
    EXPECT_EQ(db::readFieldValue(field(kind), rec.data(), nullptr, &out), db::kOk);
    return out;
  }
};

TEST(FieldValuesTest, NumbersAreConvertedToTheFieldsKind) {
  Image im;
  ASSERT_EQ(im.write(db::kFInt, rt::makeDouble(-12.9)), db::kOk);
  EXPECT_EQ(rt::lowInt(im.read(db::kFInt)), -12);  // cut toward zero
  ASSERT_EQ(im.write(db::kFShort, rt::makeInt(70000)), db::kOk);
  EXPECT_EQ(int16_t(im.read(db::kFShort).lo), int16_t(70000));  // low 16 bits kept
  ASSERT_EQ(im.write(db::kFByte, rt::makeInt(-1)), db::kOk);
  EXPECT_EQ(uint8_t(im.read(db::kFByte).lo), 255);
  ASSERT_EQ(im.write(db::kFDouble, rt::makeLong(int64_t(1) << 53)), db::kOk);
  EXPECT_EQ(rt::doubleValue(im.read(db::kFDouble)), 9007199254740992.0);
  ASSERT_EQ(im.write(db::kFFloat, rt::makeDouble(0.1)), db::kOk);
  EXPECT_EQ(rt::floatValue(im.read(db::kFFloat)), 0.1f);
  // Doubles beyond 64 bits saturate and NaN gives 0: no undefined cast.
  ASSERT_EQ(im.write(db::kFLong, rt::makeDouble(1e300)), db::kOk);
  EXPECT_EQ(rt::longValue(im.read(db::kFLong)), std::numeric_limits<int64_t>::max());
  ASSERT_EQ(im.write(db::kFLong, rt::makeDouble(std::nan(""))), db::kOk);
  EXPECT_EQ(rt::longValue(im.read(db::kFLong)), 0);
}

TEST(FieldValuesTest, ValuesOfAnotherKindAreRefused) {
  Image im;
  EXPECT_EQ(db::checkFieldValue(im.field(db::kFInt), rt::makeTextRef("1")), db::kValueKindMismatch);
  EXPECT_EQ(db::checkFieldValue(im.field(db::kFText), rt::makeInt(1)), db::kValueKindMismatch);
  EXPECT_EQ(db::checkFieldValue(im.field(db::kFBool), rt::makeInt(1)), db::kValueKindMismatch);
  EXPECT_EQ(db::checkFieldValue(im.field(db::kFDouble), rt::makeByte(1)), db::kOk);
  EXPECT_EQ(db::checkFieldValue(im.field(db::kFDateTime), rt::makeDateTime(1.5)), db::kOk);
}

TEST(FieldValuesTest, TextIsComparedWithinTheField) {
  Image im;
  ASSERT_EQ(im.write(db::kFText, rt::makeTextRef("abcdefgh")), db::kOk);  // cut to 6 bytes
  EXPECT_TRUE(db::fieldHoldsText(im.field(db::kFText), im.rec.data(), "abcdef"));
  EXPECT_FALSE(db::fieldHoldsText(im.field(db::kFText), im.rec.data(), "abcdefgh"));
  EXPECT_FALSE(db::fieldHoldsText(im.field(db::kFInt), im.rec.data(), ""));  // not a text field
}

TEST(FieldValuesTest, ChainFieldsWithoutAnAuxiliaryFileFail) {
  Image im;
  rt::Arg out;
  EXPECT_EQ(im.write(db::kFMemo, rt::makeTextRef("x")), db::kAuxAccess);
  EXPECT_EQ(db::readFieldValue(im.field(db::kFBytes), im.rec.data(), nullptr, &out), db::kAuxAccess);
  EXPECT_EQ(out.kind, rt::kBytes);
  EXPECT_EQ(out.lo, 0u);
  // An empty chain needs no file to be copied; a non-empty one does.
  std::vector<uint8_t> dst(im.rec.size(), 0xFF);
  const db::Field& memo = im.field(db::kFMemo);
  EXPECT_EQ(db::copyChainValue(memo, im.rec.data(), nullptr, nullptr, memo, dst.data()), db::kOk);
  EXPECT_EQ(db::getI32(dst.data() + memo.offset), 0);
  db::putI32(im.rec.data() + memo.offset, 3);
  EXPECT_EQ(db::copyChainValue(memo, im.rec.data(), nullptr, nullptr, memo, dst.data()), db::kAuxAccess);
}

}  // namespace
