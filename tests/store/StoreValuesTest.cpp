#include "store/StoreValues.h"

#include <gtest/gtest.h>

#include "tests/support/TestSupport.h"

namespace kv::store_detail {
namespace {

using test::D;

TEST(StoredDateText, ReadsTheUsualFormsAndRefusesTheRest) {
  struct Row {
    const char* name;
    const char* text;
    DateTime want;
  } rows[] = {
      {"full date and time", "2004/08/15 10:00:00", D(2004, 8, 15, 10, 0, 0)},
      {"unpadded date", "2004/8/15", D(2004, 8, 15)},
      {"dashes and minutes", "2004-08-15 23:59", D(2004, 8, 15, 23, 59, 0)},
      {"blanks around", "  2000/1/1  ", D(2000, 1, 1)},
      {"leap day", "2004/2/29 00:00:01", D(2004, 2, 29, 0, 0, 1)},
      {"time alone", "10:30:15", DateTime::FromLinearSeconds(10 * 3600 + 30 * 60 + 15)},
      {"no leap day in 1900", "1900/2/29", DateTime::Invalid()},
      {"30 February", "2004/2/30", DateTime::Invalid()},
      {"month 13", "2004/13/1", DateTime::Invalid()},
      {"hour 24", "2004/1/1 24:00:00", DateTime::Invalid()},
      {"mixed separators", "2004/01-01", DateTime::Invalid()},
      {"trailing junk", "2004/1/1x", DateTime::Invalid()},
      {"a number", "38214.5", DateTime::Invalid()},
      {"empty", "", DateTime::Invalid()},
      {"words", "someday", DateTime::Invalid()},
  };
  for (const Row& r : rows) {
    const DateTime got = DateFromText(r.text);
    if (r.want.IsValid()) {
      EXPECT_EQ(got, r.want) << r.name << ": " << got.ToString();
    } else {
      EXPECT_EQ(got.GetStatus(), DateTime::invalid) << r.name << ": " << got.ToString();
    }
  }
}

TEST(StoredIntegerText, RoundsHalfToEvenWithinRange) {
  struct Row {
    const char* name;
    const char* text;
    std::optional<int32_t> want;
  } rows[] = {
      {"plain", "42", 42},
      {"negative with blanks", " -7 ", -7},
      {"half rounds to even down", "2.5", 2},
      {"half rounds to even up", "3.5", 4},
      {"largest", "2147483647", 2147483647},
      {"smallest", "-2147483648", INT32_MIN},
      {"too large", "2147483648", std::nullopt},
      {"hex is not a number here", "0x10", std::nullopt},
      {"infinity", "inf", std::nullopt},
      {"words", "abc", std::nullopt},
      {"empty", "", std::nullopt},
  };
  for (const Row& r : rows) EXPECT_EQ(IntFromText(r.text), r.want) << r.name;
  EXPECT_EQ(IntFromReal(-0.5), 0);
  EXPECT_EQ(IntFromReal(1e300), std::nullopt);
}

}  // namespace
}  // namespace kv::store_detail
