#include <string.h>

#include <gtest/gtest.h>

#include "Db/ZNDBPrimitiveType.h"
#include "Db/ZNDBRowBase.h"
#include "Db/ZNDB_datetime.h"
#include "Db/ZNDB_string.h"
#include "db/DBDateTime.h"

TEST(ValueTypes, DefaultValuesAreNullNotUpdatedWithTheirTypeCode) {
  ZNDB_int i;
  ZNDB_float f;
  ZNDB_int64 b;
  ZNDB_datetime t;
  ZNDB_string s;
  const ZNDBDataTypeBase* all[] = {&i, &f, &b, &t, &s};
  const int codes[] = {1, 2, 4, 5, 6};
  for (int k = 0; k < 5; ++k) {
    EXPECT_TRUE(all[k]->isNull());
    EXPECT_EQ(all[k]->getUpdated(), NOT_UPDATED);
    EXPECT_EQ(all[k]->getDataType(), codes[k]);
  }
  EXPECT_EQ(t.getValue().year, 0);
  EXPECT_EQ(t.getValue().fraction, 0u);
  EXPECT_EQ(ZNDB_int::getFormatString(), &ZNDB_int_format);
}

TEST(ValueTypes, ValueConstructorsAreSetAndUpdated) {
  ZNDB_int i(42);
  EXPECT_FALSE(i.isNull());
  EXPECT_EQ(i.getUpdated(), UPDATED);
  EXPECT_EQ(i.getValue(), 42);
  ZNDB_string s("O'Brien");
  EXPECT_FALSE(s.isNull());
  EXPECT_EQ(s.getValue(), "O'Brien");
  s.setString();
  EXPECT_EQ(s.getStr(), "O'Brien");
}

TEST(ValueTypes, SetDataCopiesOnlyInsideTheValue) {
  ZNDB_int i(1);
  int v = 0x01020304;
  EXPECT_TRUE(i.setData(reinterpret_cast<const char*>(&v), 0, 4, false));
  EXPECT_EQ(i.getValue(), v);
  EXPECT_FALSE(i.isNull());

  ZNDB_int64 b(0);
  int hi = 1;
  EXPECT_TRUE(b.setData(reinterpret_cast<const char*>(&hi), 4, 4, false));
  EXPECT_EQ(b.getValue(), 1LL << 32);

  // Past the end, negative or overlapping the end: refused, value kept.
  char big[64] = {0};
  EXPECT_FALSE(i.setData(big, 0, 64, false));
  EXPECT_FALSE(i.setData(big, 2, 4, false));
  EXPECT_FALSE(i.setData(big, -1, 2, false));
  EXPECT_FALSE(b.setData(big, 8, 1, false));
  EXPECT_EQ(i.getValue(), v);
  EXPECT_EQ(b.getValue(), 1LL << 32);

  ZNDB_string s("abcdef");
  EXPECT_TRUE(s.setData("XY", 2, 2, false));
  EXPECT_EQ(s.getValue(), "abXY");
  EXPECT_FALSE(s.setData("Q", 10, 1, false));
  ZNDB_datetime t;
  ZNTIMESTAMP_STRUCT ts;
  ts.year = 2024;
  EXPECT_TRUE(t.setData(reinterpret_cast<const char*>(&ts), 0, sizeof(ts), false));
  EXPECT_EQ(t.getValue().year, 2024);
  EXPECT_FALSE(t.setData(reinterpret_cast<const char*>(&ts), 4, sizeof(ts), false));
}

TEST(ValueTypes, SetStringRendersWithTheFormatAndCutsAt99) {
  ZNDB_int i(-7);
  i.setString();
  EXPECT_EQ(i.getStr(), "-7");
  ZNDB_int64 b(9000000000LL);
  EXPECT_EQ(b.toString(0), "9000000000");
  ZNDB_float f(1e30f);
  f.setString();
  EXPECT_EQ(f.getStr().substr(0, 8), "10000000");
  ZNDB_float huge(3e38f);
  huge.setString();
  EXPECT_LE(huge.getStr().size(), 99u);
  EXPECT_EQ(huge.getStr().substr(0, 3), "300");
}

TEST(ValueTypes, NullStateActsOnlyOnAChange) {
  ZNDB_string s("abc");
  s.setInternalNull(true);
  EXPECT_TRUE(s.isNull());
  EXPECT_EQ(s.getValue(), "");
  ZNDB_int i(7);
  i.setInternalNull(true);
  EXPECT_EQ(i.getValue(), 7);
  i.setInternalNull(true);
  EXPECT_TRUE(i.isNull());
  i.setInternalNull(false);
  EXPECT_FALSE(i.isNull());
}

TEST(ValueTypes, DateTimeFieldsStartCleared) {
  DB_DATETIME d;
  EXPECT_EQ(d.year, 0);
  EXPECT_EQ(d.second, 0);
  EXPECT_EQ(d.text[0], 0);
  EXPECT_EQ(d.flag, 0);
  d.year = 5;
  strcpy(d.text, "x");
  d.clear();
  EXPECT_EQ(d.year, 0);
  EXPECT_EQ(d.text[0], 0);
}

TEST(ValueTypes, FillForTimeTurnsTimeTokensIntoInt64) {
  EXPECT_EQ(ZNDBRowBase::fillForTime("i|s2049|i|s2049|x|x|"), "i|s2049|i|s2049|b|b|");
  EXPECT_EQ(ZNDBRowBase::fillForTime(""), "");
}
