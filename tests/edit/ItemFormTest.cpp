// The edit dialog's data rules: alarm units, instants, field refusals and
// the integer fields.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <regex>

#include "edit/ItemForm.h"
#include "model/Text.h"
#include "tests/support/TestSupport.h"

namespace kv {
namespace {

using namespace kv::test;

TEST(ItemForm, AlarmLeadShowsInTheLargestExactUnitAndComesBack) {
  struct Shown {
    int32_t seconds;
    int64_t number;
    const char* unit;
  };
  for (const Shown& s : {Shown{5400, 90, "分前"}, Shown{7200, 2, "時間前"}, Shown{86400, 1, "日前"},
                         Shown{172800, 2, "日前"}, Shown{0, 0, "日前"}, Shown{-3600, -1, "時間前"},
                         Shown{90000, 25, "時間前"}}) {
    ScheduleItem it;
    it.Alarm = s.seconds;
    const ItemForm f = FormFromItem(it);
    EXPECT_EQ(f.alarm_on, 1) << s.seconds;
    EXPECT_EQ(f.alarm_number, s.number) << s.seconds;
    EXPECT_EQ(f.alarm_unit, J(s.unit)) << s.seconds;
  }
  ScheduleItem off;
  off.Alarm = -1;
  const ItemForm f = FormFromItem(off);
  EXPECT_EQ(f.alarm_on, 0);
  EXPECT_EQ(f.alarm_number, 5);
  EXPECT_EQ(f.alarm_unit, J("分前"));

  // Every whole-minute lead time survives the dialog unchanged, and no
  // larger unit would have shown it exactly.
  std::mt19937 rng(13);
  std::uniform_int_distribution<int32_t> minutes(-35791394, 35791394);
  for (int i = 0; i < 20000; ++i) {
    const int32_t m = i < 100 ? i * 60 - 3000 : minutes(rng);
    ScheduleItem it;
    it.Alarm = (i % 3 == 0 ? m - m % 1440 : i % 3 == 1 ? m - m % 60 : m) * 60;
    if (it.Alarm == -1) continue;
    const ItemForm form = FormFromItem(it);
    ASSERT_EQ(AlarmSeconds(form.alarm_number, form.alarm_unit), it.Alarm);
    if (form.alarm_unit == J("分前")) {
      ASSERT_NE(it.Alarm % 3600, 0);
    } else if (form.alarm_unit == J("時間前")) {
      ASSERT_NE(it.Alarm % 86400, 0);
    }
  }
}

TEST(ItemForm, AlarmSecondsRefusesUnknownUnitsAndOverflow) {
  EXPECT_EQ(AlarmSeconds(35791394, J("分前")), 2147483640);
  EXPECT_EQ(AlarmSeconds(35791395, J("分前")), std::nullopt);
  EXPECT_EQ(AlarmSeconds(-35791394, J("分前")), -2147483640);
  EXPECT_EQ(AlarmSeconds(-35791395, J("分前")), std::nullopt);
  EXPECT_EQ(AlarmSeconds(596523, J("時間前")), 2147482800);
  EXPECT_EQ(AlarmSeconds(596524, J("時間前")), std::nullopt);
  EXPECT_EQ(AlarmSeconds(24855, J("日前")), 2147472000);
  EXPECT_EQ(AlarmSeconds(24856, J("日前")), std::nullopt);
  EXPECT_EQ(AlarmSeconds(INT64_MAX, J("分前")), std::nullopt);
  EXPECT_EQ(AlarmSeconds(INT64_MIN, J("日前")), std::nullopt);
  EXPECT_EQ(AlarmSeconds(1, J("秒前")), std::nullopt);
  EXPECT_EQ(AlarmSeconds(1, J("分前 ")), std::nullopt) << "compared as exact text";
  EXPECT_EQ(AlarmSeconds(1, ""), std::nullopt);
}

TEST(ItemForm, ANewItemLastsAnHourFromItsSlotOrFromNine) {
  // No slot: 9:00 to 10:00 on the day, whatever time of day came with it.
  ItemForm f = DefaultForm(D(2004, 6, 15, 18, 30, 0));
  FormInstants in = BuildInstants(f);
  EXPECT_EQ(f.day_type, 0);
  EXPECT_EQ(in.start, D(2004, 6, 15, 9, 0, 0));
  EXPECT_EQ(in.end, D(2004, 6, 15, 10, 0, 0));
  // Made all-day, it covers its day; the range starts on the day.
  f.day_type = 1;
  in = BuildInstants(f);
  EXPECT_EQ(in.start, D(2004, 6, 15));
  EXPECT_EQ(in.end, D(2004, 6, 15, 23, 59, 59));
  EXPECT_EQ(f.repeat, (RepeatRule{0, 1, 1, 1, D(2004, 6, 15), D(2004, 6, 15)}));
  // A pressed slot of that day; one of another day does not count.
  in = BuildInstants(DefaultForm(D(2004, 6, 15), D(2004, 6, 15, 14, 30, 0)));
  EXPECT_EQ(in.start, D(2004, 6, 15, 14, 30, 0));
  EXPECT_EQ(in.end, D(2004, 6, 15, 15, 30, 0));
  in = BuildInstants(DefaultForm(D(2004, 6, 15), D(2004, 6, 15)));
  EXPECT_EQ(in.start, D(2004, 6, 15)) << "the midnight slot is a slot";
  EXPECT_EQ(in.end, D(2004, 6, 15, 1, 0, 0));
  in = BuildInstants(DefaultForm(D(2004, 6, 15), D(2004, 6, 16, 14, 30, 0)));
  EXPECT_EQ(in.start, D(2004, 6, 15, 9, 0, 0));
  // The last slot ends on the next day.
  f = DefaultForm(D(2004, 12, 31), D(2004, 12, 31, 23, 30, 0));
  in = BuildInstants(f);
  EXPECT_EQ(in.start, D(2004, 12, 31, 23, 30, 0));
  EXPECT_EQ(in.end, D(2005, 1, 1, 0, 30, 0));
  EXPECT_EQ(f.end_date, D(2005, 1, 1));
  // No day: nothing is made up.
  f = DefaultForm(DateTime::Invalid(), D(2004, 6, 15, 14, 30, 0));
  EXPECT_FALSE(f.start_time.IsValid());
  EXPECT_FALSE(f.end_time.IsValid());
}

TEST(ItemForm, InstantsTakeDateAndTimeFromTheirOwnFields) {
  ItemForm f = DefaultForm(D(2004, 6, 15, 18, 30, 0));
  EXPECT_EQ(f.start_date, D(2004, 6, 15));
  f.start_date = D(2004, 6, 16, 23, 0, 0);
  f.start_time = D(2001, 1, 1, 9, 8, 7);
  f.end_date = D(2004, 6, 17, 1, 2, 3);
  f.end_time = D(1899, 12, 30, 10, 11, 12);
  f.repeat.RepStart = D(2004, 6, 1, 12, 0, 0);
  f.repeat.RepEnd = D(2004, 6, 30, 12, 0, 0);
  FormInstants in = BuildInstants(f);
  EXPECT_EQ(in.start, D(2004, 6, 16, 9, 8, 7));
  EXPECT_EQ(in.end, D(2004, 6, 17, 10, 11, 12));
  EXPECT_EQ(in.range_start, D(2004, 6, 1, 0, 0, 0));
  EXPECT_EQ(in.range_end, D(2004, 6, 30, 23, 59, 0));

  f.day_type = 1;
  in = BuildInstants(f);
  EXPECT_EQ(in.start, D(2004, 6, 16, 0, 0, 0));
  EXPECT_EQ(in.end, D(2004, 6, 17, 23, 59, 59));

  f.start_date = DateTime::Invalid();
  f.repeat.RepEnd = DateTime::Null();
  in = BuildInstants(f);
  EXPECT_FALSE(in.start.IsValid());
  EXPECT_TRUE(in.end.IsValid());
  EXPECT_FALSE(in.range_end.IsValid());
}

TEST(ItemForm, RepetitionOfANonRepeatingItemStartsAtItsStart) {
  ScheduleItem it = MakeRule(0, 9, 9, 9, D(2001, 1, 1), D(2001, 2, 1), D(2004, 6, 3, 9, 0, 0),
                             D(2004, 6, 3, 10, 0, 0));
  EXPECT_EQ(FormFromItem(it).repeat, (RepeatRule{0, 1, 1, 1, it.Start, it.Start}));
  it.RepType = 3;
  EXPECT_EQ(FormFromItem(it).repeat, (RepeatRule{3, 9, 9, 9, D(2001, 1, 1), D(2001, 2, 1)}));
}

TEST(ItemForm, ControlCharactersAreRefusedNamingTheField) {
  for (int c = 0; c < 0x80; ++c) {
    const bool control = c < 0x20 || c == 0x7F;
    const std::string s = "a" + std::string(1, static_cast<char>(c)) + "b";
    for (int field = 0; field < 4; ++field) {
      ItemForm f = DefaultForm(D(2004, 1, 1));
      f.subject = "s";
      std::string* target[] = {&f.subject, &f.place, &f.desc, &f.execute};
      const char* names[] = {"件名", "場所", "内容", "実行ファイル"};
      *target[field] = s;
      const bool allowed = !control || (field == 2 && (c == '\n' || c == '\r' || c == '\t'));
      const auto m = CheckFormFields(f);
      if (allowed) {
        EXPECT_EQ(m, std::nullopt) << c << " in " << names[field];
      } else {
        ASSERT_TRUE(m) << c << " in " << names[field];
        EXPECT_EQ(*m, J(std::string(names[field]) + "に使用できない制御文字が含まれています。"));
      }
    }
  }
}

TEST(ItemForm, DoubleByteCharactersAreNeverTakenForControls) {
  // Every decodable double-byte character, trail bytes like 0x5C included.
  std::string all;
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (!text::IsLeadByte(static_cast<unsigned char>(lead))) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      const std::string ch{static_cast<char>(lead), static_cast<char>(trail)};
      if (text::ToUtf8(ch)) all += ch;
    }
  }
  ASSERT_GT(all.size(), 14000u);
  ItemForm f = DefaultForm(D(2004, 1, 1));
  f.desc = all.substr(0, kMaxDescBytes);
  f.subject = text::CutBytes(all, kMaxLineBytes);
  EXPECT_EQ(CheckFormFields(f), std::nullopt);
}

TEST(ItemForm, LengthLimitsAndAlarmChecks) {
  ItemForm f = DefaultForm(D(2004, 1, 1));
  f.subject = std::string(kMaxLineBytes, 'x');
  f.desc = std::string(kMaxDescBytes, 'y');
  EXPECT_EQ(CheckFormFields(f), std::nullopt);
  f.place = std::string(kMaxLineBytes + 1, 'z');
  EXPECT_EQ(CheckFormFields(f), J("場所が長すぎます（1024 バイトまで）。"));
  f.place.clear();
  f.desc += "y";
  EXPECT_EQ(CheckFormFields(f), J("内容が長すぎます（65536 バイトまで）。"));
  f.desc.clear();

  // A bad unit or size matters only while the alarm is on.
  f.alarm_unit = J("週前");
  f.alarm_number = INT64_MAX;
  EXPECT_EQ(CheckFormFields(f), std::nullopt);
  f.alarm_on = 1;
  EXPECT_EQ(CheckFormFields(f), J("アラームの単位は「分前」「時間前」「日前」のいずれかを選んでください。"));
  f.alarm_unit = J("時間前");
  EXPECT_EQ(CheckFormFields(f), J("アラームの時間が長すぎます。24855 日以内で指定してください。"));
  f.alarm_number = -596523;
  EXPECT_EQ(CheckFormFields(f), std::nullopt);
}

// Oracle: the pattern, then strtoll for the range.
std::optional<int64_t> OracleInt(const std::string& s) {
  static const std::regex pattern("^[ \\t]*[+-]?[0-9]+[ \\t]*$");
  if (!std::regex_match(s, pattern)) return std::nullopt;
  errno = 0;
  const long long v = std::strtoll(s.c_str(), nullptr, 10);
  if (errno == ERANGE) return std::nullopt;
  return v;
}

TEST(ItemForm, DialogIntegersAgreeWithStrtoll) {
  const std::string alphabet = " \t+-0123456789x.";
  std::mt19937 rng(7);
  std::uniform_int_distribution<size_t> len(0, 22), pick(0, alphabet.size() - 1);
  for (int i = 0; i < 50000; ++i) {
    std::string s;
    for (size_t n = len(rng); n > 0; --n) s += alphabet[pick(rng)];
    ASSERT_EQ(ParseDialogInt(s), OracleInt(s)) << "'" << s << "'";
  }
  for (const char* s : {"9223372036854775807", "-9223372036854775808", "9223372036854775808",
                        "-9223372036854775809", "00000000000000000000042", " 5 ", "", "-", "+7"})
    EXPECT_EQ(ParseDialogInt(s), OracleInt(s)) << s;
}

}  // namespace
}  // namespace kv
