// Exported series against the occurrence test, day by day, as another
// program would read them (libical's parser and its own rule iterator);
// export then import gives every exported field back; foreign rules that
// no kind holds are refused with a line, never bent.
#include <gtest/gtest.h>
#include <libical/ical.h>

#include <algorithm>
#include <map>
#include <set>

#include "edit/ItemForm.h"
#include "ical/Ical.h"
#include "model/Recurrence.h"
#include "model/Text.h"
#include "tests/support/RuleGen.h"
#include "tests/support/TestSupport.h"

using namespace kv;

namespace {

constexpr int64_t kDay = 86400;

int64_t DayNo(const icaltimetype& t) { return DaysFromCivil(t.year, t.month, t.day); }

struct Parsed {
  std::string uid;
  std::set<int64_t> days;  // local days of all instances
  int fixes = 0;           // RDATE + EXDATE values
  bool recurring = false;
};

// Reads an exported text the way a foreign program would.
std::map<std::string, Parsed> ReadBack(const std::string& text, const char* zone) {
  std::map<std::string, Parsed> out;
  icalcomponent* root = icalparser_parse_string(text.c_str());
  EXPECT_NE(root, nullptr);
  if (!root) return out;
  icaltimezone* local = std::string(zone) == "floating"
                            ? nullptr
                            : icaltimezone_get_builtin_timezone(zone);
  auto to_local = [&](icaltimetype t) {
    if (!t.is_date && t.zone && local) t = icaltime_convert_to_zone(t, local);
    return t;
  };
  for (icalcomponent* c = icalcomponent_get_first_component(root, ICAL_VEVENT_COMPONENT); c;
       c = icalcomponent_get_next_component(root, ICAL_VEVENT_COMPONENT)) {
    EXPECT_EQ(icalcomponent_get_first_property(c, ICAL_XLICERROR_PROPERTY), nullptr);
    Parsed p;
    p.uid = icalcomponent_get_uid(c);
    const icaltimetype start = icalcomponent_get_dtstart(c);
    if (!start.is_date && local) {
      EXPECT_NE(start.zone, nullptr) << "TZID not resolved";
    }
    p.days.insert(DayNo(to_local(start)));
    if (icalproperty* rp = icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY)) {
      p.recurring = true;
      icalrecur_iterator* ri = icalrecur_iterator_new(icalproperty_get_rrule(rp), start);
      int n = 0;
      for (icaltimetype t = icalrecur_iterator_next(ri); !icaltime_is_null_time(t);
           t = icalrecur_iterator_next(ri)) {
        p.days.insert(DayNo(to_local(t)));
        EXPECT_LT(++n, 100000) << "rule without end";
        if (n >= 100000) break;
      }
      icalrecur_iterator_free(ri);
    }
    for (icalproperty* q = icalcomponent_get_first_property(c, ICAL_RDATE_PROPERTY); q;
         q = icalcomponent_get_next_property(c, ICAL_RDATE_PROPERTY)) {
      p.recurring = true;
      ++p.fixes;
      p.days.insert(DayNo(to_local(icalproperty_get_datetime_with_component(q, c))));
    }
    for (icalproperty* q = icalcomponent_get_first_property(c, ICAL_EXDATE_PROPERTY); q;
         q = icalcomponent_get_next_property(c, ICAL_EXDATE_PROPERTY)) {
      ++p.fixes;
      p.days.erase(DayNo(to_local(icalproperty_get_datetime_with_component(q, c))));
    }
    out[p.uid] = p;
  }
  icalcomponent_free(root);
  return out;
}

std::set<int64_t> OccursDays(const ScheduleItem& it) {
  std::set<int64_t> days;
  for (int64_t d = it.RepStart.DayNumber() - 1; d <= it.RepEnd.DayNumber() + 1; ++d) {
    const DateTime f = DateTime::FromLinearSeconds(d * kDay);
    if (Occurs(it, f, f.AddDays(1))) days.insert(d);
  }
  return days;
}

TEST(IcalExportTest, EverySeriesGivesExactlyTheDaysOfOccurs) {
  for (const char* zone : {"Asia/Tokyo", "America/New_York", "floating"}) {
    test::RuleGen g(20240716);
    int compared = 0, skipped_with_days = 0, plain = 0, plain_fixed = 0;
    int per_type[7] = {};
    for (int batch = 0; batch < 40; ++batch) {
      std::vector<ScheduleItem> items;
      for (int i = 0; i < 100; ++i) {
        ScheduleItem it = g.Item();
        if (it.RepType < 1 || it.RepType > 6) it.RepType = 1 + (i % 6);
        it.Index = DateTime::FromLinearSeconds(int64_t(batch) * 1000 + i);
        it.Type = g.Chance(20) ? 1 : 0;
        items.push_back(it);
      }
      const auto back = ReadBack(ical::Export(items, {zone}), zone);
      for (const ScheduleItem& it : items) {
        const bool valid = it.Start.IsValid() && it.End.IsValid() && it.RepStart.IsValid() &&
                           it.RepEnd.IsValid() && it.SyncFlag != SyncDeleted;
        const std::set<int64_t> want = valid ? OccursDays(it) : std::set<int64_t>{};
        const auto found = back.find(ical::UidOf(it));
        if (found == back.end()) {
          // Left out only when there is nothing exact to say.
          if (!want.empty() && it.End.SecondsOfDay() >= it.Start.SecondsOfDay()) ++skipped_with_days;
          continue;
        }
        ASSERT_TRUE(valid);
        ASSERT_EQ(found->second.days, want)
            << zone << " type " << it.RepType << " x " << it.RepX << " y " << it.RepY << " z "
            << it.RepZ << " range " << it.RepStart.ToString() << " - " << it.RepEnd.ToString()
            << " start " << it.Start.ToString() << " end " << it.End.ToString();
        ++compared;
        ++per_type[it.RepType];
        // A series as the edit dialog makes it needs no single days: the rule
        // itself is exact.
        if (it.RepStart.SecondsOfDay() == 0 && it.RepEnd.SecondsOfDay() == 23 * 3600 + 59 * 60 &&
            it.RepX >= 1 && it.RepX <= 12) {
          ++plain;
          if (found->second.fixes) ++plain_fixed;
        }
      }
    }
    EXPECT_EQ(skipped_with_days, 0) << zone;
    EXPECT_GT(compared, 2000) << zone;
    for (int t = 1; t <= 6; ++t) EXPECT_GT(per_type[t], 150) << zone << " type " << t;
    EXPECT_GT(plain, 1000) << zone;
    EXPECT_EQ(plain_fixed, 0) << zone;
  }
}

// ---- round trip ----

std::string RandomText(test::RuleGen& g, int max_chars) {
  static const char* pieces[] = {"会議", "ｶﾅ", "a", "Z", ";", ",", "\\", "\n", " ", "第一", "①",
                                 "髙", "〓", ":", "\"", "9", "－"};
  std::string u;
  const int n = g.Int(0, max_chars);
  for (int i = 0; i < n; ++i) u += pieces[g.Int(0, 16)];
  return *text::FromUtf8(u);
}

// Items the edit dialog can make.
ScheduleItem DialogItem(test::RuleGen& g, int i) {
  ScheduleItem it;
  it.Index = DateTime::FromParts(2024, 1, 1).AddSeconds(i);
  it.SyncFlag = SyncClean;
  it.Subject = RandomText(g, 12);
  it.Place = RandomText(g, 6);
  it.Desc = RandomText(g, 60);
  it.Execute = "/usr/bin/never-written --flag";
  it.Private = g.Chance(30) ? 1 : 0;
  it.Color = uint32_t(g.Int(0, 0xFFFFFF));
  it.Alarm = g.Chance(40) ? -1 : g.Int(0, 30 * 86400);
  it.Type = g.Chance(25) ? 1 : 0;
  const DateTime day = g.Day(1995, 2035);
  int ts = g.Int(0, 47) * 1800, te = std::min(ts + g.Int(0, 8) * 1800, 86399);
  if (it.Type == 1) {
    ts = 0;
    te = 86399;
  }
  it.RepType = g.Chance(20) ? 0 : g.Int(1, 6);
  it.Start = day.AddSeconds(ts);
  it.End = (it.RepType == 0 ? day.AddDays(g.Int(0, 2)) : day).AddSeconds(te);
  if (it.RepType == 0 && it.End < it.Start) std::swap(it.Start, it.End);
  if (it.RepType != 0) {
    it.RepX = it.RepType >= 5 ? g.Int(1, 12) : g.Int(1, 6);
    if (it.RepType == 2) it.RepY = g.Int(1, 127);
    else if (it.RepType == 3 || it.RepType == 5) it.RepY = g.Int(1, 31);
    else it.RepY = g.Int(1, 5);
    it.RepZ = g.Int(1, 10);
    it.RepStart = g.Day(1995, 2030);
    it.RepEnd = it.RepStart.AddDays(g.Int(0, 3 * 365)).AddSeconds(23 * 3600 + 59 * 60);
  }
  return it;
}

std::string Trimmed(std::string t) {
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.pop_back();
  std::size_t i = 0;
  while (i < t.size() && (t[i] == ' ' || t[i] == '\t')) ++i;
  return t.substr(i);
}

// Every X- line of ours out, as a foreign program that rewrites the file would.
std::string WithoutOwnLines(const std::string& text) {
  std::string out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\r\n", at);
    end = end == std::string::npos ? text.size() : end + 2;
    while (end < text.size() && text[end] == ' ') {
      const std::size_t e2 = text.find("\r\n", end);
      end = e2 == std::string::npos ? text.size() : e2 + 2;
    }
    if (text.compare(at, 10, "X-KALVANE-") != 0) out.append(text, at, end - at);
    at = end;
  }
  return out;
}

TEST(IcalRoundTripTest, ExportThenImportGivesEveryFieldBack) {
  test::RuleGen g(7529);
  std::vector<ScheduleItem> items;
  for (int i = 0; i < 1500; ++i) items.push_back(DialogItem(g, i));
  for (const char* zone : {"Asia/Tokyo", "Europe/Berlin"}) {
    const std::string text = ical::Export(items, {zone});
    EXPECT_EQ(text.find("never-written"), std::string::npos);
    for (bool foreign : {false, true}) {
      const ical::Imported in =
          ical::Import(foreign ? WithoutOwnLines(text) : text, ical::ImportOptions{false, zone});
      std::map<std::string, const ScheduleItem*> by_uid;
      for (std::size_t k = 0; k < in.items.size(); ++k) by_uid[in.uids[k]] = &in.items[k];
      int recurring = 0, exact_rule = 0;
      for (const ScheduleItem& a : items) {
        const bool has_days = a.RepType == 0 || !OccursDays(a).empty();
        const auto f = by_uid.find(ical::UidOf(a));
        if (!has_days) {
          EXPECT_EQ(f, by_uid.end());
          continue;
        }
        ASSERT_NE(f, by_uid.end()) << zone << " foreign " << foreign << " type " << a.RepType
                                   << " x " << a.RepX << " y " << a.RepY << " z " << a.RepZ << " "
                                   << a.RepStart.ToString() << " - " << a.RepEnd.ToString() << " "
                                   << a.Start.ToString() << " - " << a.End.ToString() << " "
                                   << (in.problems.empty() ? "" : in.problems.front());
        const ScheduleItem& b = *f->second;
        // Without our own lines, blanks at the ends are lost to the reader.
        auto shown = [&](const std::string& t) { return foreign ? Trimmed(t) : t; };
        EXPECT_EQ(b.Subject, shown(a.Subject));
        EXPECT_EQ(b.Place, shown(a.Place));
        EXPECT_EQ(b.Desc, shown(a.Desc));
        EXPECT_TRUE(b.Execute.empty());
        EXPECT_EQ(b.Private, a.Private);
        if (!foreign) {
          EXPECT_EQ(b.Color, a.Color);
        } else {
          EXPECT_EQ(ical::NearestCssColor(b.Color), ical::NearestCssColor(a.Color));
        }
        EXPECT_EQ(b.Alarm, a.Alarm);
        EXPECT_EQ(b.Type, a.Type);
        EXPECT_EQ(b.SyncFlag, SyncPending);
        EXPECT_EQ(b.Index, DateTime());
        if (a.RepType == 0) {
          EXPECT_EQ(b.RepType, 0);
          EXPECT_EQ(b.Start, a.Start);
          EXPECT_EQ(b.End, a.End);
          continue;
        }
        ++recurring;
        EXPECT_EQ(b.Start.SecondsOfDay(), a.Start.SecondsOfDay());
        EXPECT_EQ(b.End.SecondsOfDay(), a.End.SecondsOfDay());
        ASSERT_EQ(OccursDays(b), OccursDays(a))
            << zone << " foreign " << foreign << " type " << a.RepType << " x " << a.RepX << " y "
            << a.RepY << " z " << a.RepZ;
        if (!foreign) {
          EXPECT_EQ(b.RepType, a.RepType);
          EXPECT_EQ(b.RepX, a.RepX);
          EXPECT_EQ(b.RepY, a.RepY);
          EXPECT_EQ(b.RepZ, a.RepZ);
          EXPECT_EQ(b.RepStart, a.RepStart);
          EXPECT_EQ(b.RepEnd, a.RepEnd);
        } else if (b.RepType == a.RepType) {
          ++exact_rule;
        }
      }
      EXPECT_TRUE(in.problems.empty()) << in.problems.front();
      EXPECT_GT(recurring, 800);
      // Without our own lines the RRULE alone still names the kind, nearly always.
      if (foreign) EXPECT_GT(exact_rule, recurring * 9 / 10);
    }
  }
}

// ---- foreign files ----

const char* kForeign =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//x//y//EN\r\n"
    "BEGIN:VTIMEZONE\r\nTZID:Custom/Plus9\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\n"
    "TZOFFSETFROM:+0900\r\nTZOFFSETTO:+0900\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"
    // Taken: zone of its own, DURATION, alarm, confidential, CSS colour.
    "BEGIN:VEVENT\r\nUID:good\r\nSUMMARY:定例会\r\nDTSTART;TZID=Custom/Plus9:20240105T100000\r\n"
    "DURATION:PT1H30M\r\nCLASS:CONFIDENTIAL\r\nCOLOR:teal\r\n"
    "RRULE:FREQ=MONTHLY;BYDAY=1FR;COUNT=3\r\nX-KALVANE-EXECUTE:rm -rf /\r\n"
    "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:utc\r\nSUMMARY:UTC\r\nDTSTART:20240105T230000Z\r\nDTEND:20240106T000000Z\r\n"
    "END:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:allday\r\nSUMMARY:休み\r\nDTSTART;VALUE=DATE:20240429\r\n"
    "DTEND;VALUE=DATE:20240502\r\nEND:VEVENT\r\n"
    // Refused, one line each.
    "BEGIN:VEVENT\r\nUID:byhour\r\nSUMMARY:byhour\r\nDTSTART:20240105T100000\r\n"
    "RRULE:FREQ=DAILY;BYHOUR=10,14;COUNT=4\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:two\r\nSUMMARY:two\r\nDTSTART:20240105T100000\r\n"
    "RRULE:FREQ=DAILY;COUNT=4\r\nRRULE:FREQ=WEEKLY;COUNT=4\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:gap\r\nSUMMARY:gap\r\nDTSTART:20240105T100000\r\n"
    "RRULE:FREQ=DAILY;COUNT=5\r\nEXDATE:20240107T100000\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:emoji\r\nSUMMARY:乾杯🍺\r\nDTSTART:20240105T100000\r\nEND:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:nozone\r\nSUMMARY:nozone\r\nDTSTART;TZID=Nowhere/Else:20240105T100000\r\n"
    "END:VEVENT\r\n"
    "BEGIN:VEVENT\r\nUID:forever\r\nSUMMARY:forever\r\nDTSTART:20240105T100000\r\n"
    "RRULE:FREQ=WEEKLY\r\nEND:VEVENT\r\n"
    "END:VCALENDAR\r\n";

TEST(IcalImportTest, TakesWhatItCanHoldAndNamesTheRest) {
  const ical::Imported in = ical::Import(kForeign, ical::ImportOptions{false, "Asia/Tokyo"});
  ASSERT_EQ(in.uids, (std::vector<std::string>{"good", "utc", "allday"}));
  const ScheduleItem& a = in.items[0];
  EXPECT_EQ(a.Subject, *text::FromUtf8("定例会"));
  EXPECT_EQ(a.RepType, 4);
  EXPECT_EQ(a.RepY, 1);
  EXPECT_EQ(a.RepZ, 4 + 5);
  EXPECT_EQ(a.Start, test::D(2024, 1, 5, 10, 0));
  EXPECT_EQ(a.End, test::D(2024, 1, 5, 11, 30));
  EXPECT_EQ(OccursDays(a), (std::set<int64_t>{test::D(2024, 1, 5).DayNumber(),
                                               test::D(2024, 2, 2).DayNumber(),
                                               test::D(2024, 3, 1).DayNumber()}));
  EXPECT_EQ(a.Alarm, 15 * 60);
  EXPECT_EQ(a.Private, 1);
  EXPECT_EQ(a.Color, 0x808000u);  // teal as 0x00BBGGRR
  EXPECT_TRUE(a.Execute.empty());
  EXPECT_EQ(in.items[1].Start, test::D(2024, 1, 6, 8, 0));
  EXPECT_EQ(in.items[1].End, test::D(2024, 1, 6, 9, 0));
  EXPECT_EQ(in.items[2].Type, 1);
  EXPECT_EQ(in.items[2].Start, test::D(2024, 4, 29));
  EXPECT_EQ(in.items[2].End, test::D(2024, 5, 1, 23, 59, 59));
  ASSERT_EQ(in.problems.size(), 6u);
  for (const char* name : {"byhour", "two", "gap", "乾杯", "nozone", "forever"})
    EXPECT_TRUE(std::any_of(in.problems.begin(), in.problems.end(),
                            [&](const std::string& p) { return p.find(name) != std::string::npos; }))
        << name;

  // With replacement the emoji becomes 〓 and the event is taken.
  const ical::Imported r = ical::Import(kForeign, ical::ImportOptions{true, "Asia/Tokyo"});
  ASSERT_EQ(r.items.size(), 4u);
  EXPECT_EQ(r.items[3].Subject, *text::FromUtf8("乾杯〓"));
}

TEST(IcalImportTest, RefusesOversizeAndUnreadableInput) {
  const std::string big = "BEGIN:VEVENT\r\nUID:x\r\nDTSTART:20240105T100000\r\nSUMMARY:" +
                          std::string(kMaxLineBytes + 1, 'a') + "\r\nEND:VEVENT\r\n";
  const std::string cal = "BEGIN:VCALENDAR\r\n" + big + "END:VCALENDAR\r\n";
  ical::Imported a = ical::Import(cal);
  EXPECT_TRUE(a.items.empty());
  EXPECT_EQ(a.problems.size(), 1u);
  ical::Imported b = ical::Import("this is not a calendar");
  EXPECT_TRUE(b.items.empty());
  EXPECT_FALSE(b.problems.empty());
  std::string huge(ical::kMaxFileBytes + 1, ' ');
  ical::Imported d = ical::Import(huge);
  EXPECT_TRUE(d.items.empty());
  ASSERT_EQ(d.problems.size(), 1u);
}

TEST(IcalColorTest, NearestNameIsAFixedPointAndNearerThanTheOthers) {
  uint32_t teal = 0, white = 0, red = 0;
  ASSERT_TRUE(ical::CssColor("Teal", teal));
  ASSERT_TRUE(ical::CssColor("white", white));
  ASSERT_TRUE(ical::CssColor("RED", red));
  EXPECT_EQ(teal, 0x808000u);
  EXPECT_EQ(white, 0xFFFFFFu);
  EXPECT_EQ(red, 0x0000FFu);
  uint32_t none = 0;
  EXPECT_FALSE(ical::CssColor("rebeccapurplish", none));
  auto dist = [](uint32_t a, uint32_t b) {
    long d = 0;
    for (int s = 0; s < 24; s += 8) {
      const long x = long((a >> s) & 0xFF) - long((b >> s) & 0xFF);
      d += x * x;
    }
    return d;
  };
  test::RuleGen g(86);
  for (int i = 0; i < 3000; ++i) {
    const uint32_t c = uint32_t(g.Int(0, 0xFFFFFF));
    uint32_t named = 0;
    ASSERT_TRUE(ical::CssColor(ical::NearestCssColor(c), named));
    uint32_t again = 0;
    ASSERT_TRUE(ical::CssColor(ical::NearestCssColor(named), again));
    EXPECT_EQ(again, named);
    for (uint32_t other : {teal, white, red}) EXPECT_LE(dist(c, named), dist(c, other));
  }
}

}  // namespace
