// Occurs against libical on the same day questions, and the cost of old
// rules against new ones.
#include <benchmark/benchmark.h>
#include <libical/ical.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/common/Figures.h"
#include "model/Recurrence.h"

using namespace kv;

namespace {

constexpr int kDays = 14;  // the day questions cycle over two weeks from "today"

DateTime Today() { return DateTime::FromDate(2026, 12, 7); }

ScheduleItem Rule(int type, int mask, DateTime rep_start) {
  ScheduleItem it;
  it.SyncFlag = SyncClean;
  it.RepType = type;
  it.RepX = 1;
  it.RepY = mask;
  it.RepStart = rep_start;
  it.RepEnd = DateTime::FromParts(2040, 12, 31, 23, 59, 0);
  it.Start = DateTime::FromParts(2000, 1, 1, 9, 0, 0);
  it.End = DateTime::FromParts(2000, 1, 1, 10, 0, 0);
  return it;
}

// Daily, and weekly on Monday, Wednesday and Friday.
ScheduleItem Daily(DateTime rs) { return Rule(1, 0, rs); }
ScheduleItem Weekly(DateTime rs) { return Rule(2, 2 | 8 | 32, rs); }

DateTime OneDayBack() { return Today().AddDays(-1); }
DateTime ThirtyYearsBack() { return DateTime::FromDate(1996, 12, 6); }

icaltimetype IcalTime(DateTime d, int h) {
  icaltimetype t = icaltime_null_time();
  t.year = d.Year();
  t.month = d.Month();
  t.day = d.Day();
  t.hour = h;
  t.is_date = 0;
  return t;
}

struct IcalRule {
  icalrecurrencetype rule;
  icaltimetype dtstart;
};

IcalRule IcalFor(const char* rrule, DateTime rep_start) {
  return {icalrecurrencetype_from_string(rrule), IcalTime(rep_start, 9)};
}

// Does an occurrence start on `day`? libical's fastest path: a fresh
// iterator, jump to the day, step until it is reached or passed.
bool IcalOnDay(const IcalRule& r, DateTime day) {
  icalrecur_iterator* it = icalrecur_iterator_new(r.rule, r.dtstart);
  const icaltimetype start = IcalTime(day, 0);
  icalrecur_iterator_set_start(it, start);
  bool hit = false;
  for (;;) {
    icaltimetype t = icalrecur_iterator_next(it);
    if (icaltime_is_null_time(t)) break;
    const int c = icaltime_compare_date_only(t, start);
    if (c == 0) hit = true;
    if (c >= 0) break;
  }
  icalrecur_iterator_free(it);
  return hit;
}

bool OursOnDay(const ScheduleItem& it, DateTime day) { return Occurs(it, day, day.AddDays(1)); }

const char* kDailyRule = "FREQ=DAILY;INTERVAL=1;UNTIL=20401231T235900";
const char* kWeeklyRule = "FREQ=WEEKLY;INTERVAL=1;WKST=SU;BYDAY=MO,WE,FR;UNTIL=20401231T235900";

void CheckSameAnswers() {
  struct Case {
    const char* name;
    ScheduleItem item;
    IcalRule ical;
  } cases[] = {
      {"daily 1 day back", Daily(OneDayBack()), IcalFor(kDailyRule, OneDayBack())},
      {"daily 30 years back", Daily(ThirtyYearsBack()), IcalFor(kDailyRule, ThirtyYearsBack())},
      {"weekly 1 day back", Weekly(OneDayBack()), IcalFor(kWeeklyRule, OneDayBack())},
      {"weekly 30 years back", Weekly(ThirtyYearsBack()), IcalFor(kWeeklyRule, ThirtyYearsBack())},
  };
  for (auto& c : cases) {
    int hits = 0;
    for (int d = 0; d < kDays; ++d) {
      const DateTime day = Today().AddDays(d);
      const bool ours = OursOnDay(c.item, day), theirs = IcalOnDay(c.ical, day);
      if (ours != theirs) {
        std::fprintf(stderr, "%s: answers differ on %s (ours %d, libical %d)\n", c.name,
                     day.ToString().c_str(), ours, theirs);
        std::exit(1);
      }
      hits += ours;
    }
    if (hits == 0) {
      std::fprintf(stderr, "%s: no occurrence on the benchmarked days\n", c.name);
      std::exit(1);
    }
  }
}

void RunOurs(benchmark::State& state, const ScheduleItem& item) {
  std::vector<DateTime> days;
  for (int d = 0; d < kDays; ++d) days.push_back(Today().AddDays(d));
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(OursOnDay(item, days[i]));
    if (++i == days.size()) i = 0;
  }
}

void RunIcal(benchmark::State& state, const IcalRule& rule) {
  std::vector<DateTime> days;
  for (int d = 0; d < kDays; ++d) days.push_back(Today().AddDays(d));
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(IcalOnDay(rule, days[i]));
    if (++i == days.size()) i = 0;
  }
}

void BM_OccursDaily1DayBack(benchmark::State& s) { RunOurs(s, Daily(OneDayBack())); }
void BM_OccursDaily30YearsBack(benchmark::State& s) { RunOurs(s, Daily(ThirtyYearsBack())); }
void BM_OccursWeekly1DayBack(benchmark::State& s) { RunOurs(s, Weekly(OneDayBack())); }
void BM_OccursWeekly30YearsBack(benchmark::State& s) { RunOurs(s, Weekly(ThirtyYearsBack())); }
void BM_LibicalDaily30YearsBack(benchmark::State& s) {
  RunIcal(s, IcalFor(kDailyRule, ThirtyYearsBack()));
}
void BM_LibicalWeekly30YearsBack(benchmark::State& s) {
  RunIcal(s, IcalFor(kWeeklyRule, ThirtyYearsBack()));
}
// The literal walk, for scale.
void BM_ReferenceDaily30YearsBack(benchmark::State& s) {
  const ScheduleItem it = Daily(ThirtyYearsBack());
  const DateTime day = Today();
  for (auto _ : s) benchmark::DoNotOptimize(reference::Occurs(it, day, day.AddDays(1)));
}
void BM_NextAlarmYearly(benchmark::State& s) {
  ScheduleItem it = Rule(5, 0, ThirtyYearsBack());
  it.RepX = 3;
  it.RepY = 15;
  it.Alarm = 600;
  const DateTime now = Today().AddSeconds(12 * 3600);
  for (auto _ : s) benchmark::DoNotOptimize(NextAlarmTime(it, now));
}

BENCHMARK(BM_OccursDaily1DayBack);
BENCHMARK(BM_OccursDaily30YearsBack);
BENCHMARK(BM_OccursWeekly1DayBack);
BENCHMARK(BM_OccursWeekly30YearsBack);
BENCHMARK(BM_LibicalDaily30YearsBack);
BENCHMARK(BM_LibicalWeekly30YearsBack);
BENCHMARK(BM_ReferenceDaily30YearsBack);
BENCHMARK(BM_NextAlarmYearly);

}  // namespace

int main(int argc, char** argv) {
  CheckSameAnswers();
  benchmark::Initialize(&argc, argv);
  kv::bench::CapturingReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  const double d1 = rep.Ns("BM_OccursDaily1DayBack"), d30 = rep.Ns("BM_OccursDaily30YearsBack");
  const double w1 = rep.Ns("BM_OccursWeekly1DayBack"), w30 = rep.Ns("BM_OccursWeekly30YearsBack");
  const double ld = rep.Ns("BM_LibicalDaily30YearsBack"), lw = rep.Ns("BM_LibicalWeekly30YearsBack");
  kv::bench::Figure("occurs_daily_ns", d30);
  kv::bench::Figure("occurs_weekly_ns", w30);
  kv::bench::Figure("occurs_flatness", d1 > 0 ? d30 / d1 : 0);
  kv::bench::Figure("occurs_weekly_flatness", w1 > 0 ? w30 / w1 : 0);
  kv::bench::Figure("occurs_vs_libical", d30 > 0 ? ld / d30 : 0);
  kv::bench::Figure("occurs_weekly_vs_libical", w30 > 0 ? lw / w30 : 0);
  kv::bench::Figure("occurs_vs_walk", d30 > 0 ? rep.Ns("BM_ReferenceDaily30YearsBack") / d30 : 0);
  kv::bench::Figure("next_alarm_yearly_us", rep.Ns("BM_NextAlarmYearly") / 1000.0);
  benchmark::Shutdown();
  return 0;
}
