#include "model/SeriesCut.h"

#include "model/Recurrence.h"

namespace kv {

namespace {

constexpr int64_t kDay = DateTime::kSecondsPerDay;

bool Repeats(const ScheduleItem& item) {
  return item.RepType >= 1 && item.RepType <= 6 && item.SyncFlag != SyncDeleted &&
         item.RepStart.IsValid() && item.RepEnd.IsValid();
}

DateTime DayStart(int64_t day) { return DateTime::FromLinearSeconds(day * kDay); }

bool On(const OccurrenceTest& t, int64_t day) { return t.OnDay(CalendarDay::Of(DayStart(day))); }

// The first day from `from` up to `last` with an occurrence. No rule
// occurs after the day of RepEnd plus one, so the walk always ends; the
// rules that could make it long are ones no dialog writes.
std::optional<int64_t> NextDay(const OccurrenceTest& t, int64_t from, int64_t last) {
  for (int64_t d = from; d <= last; ++d)
    if (On(t, d)) return d;
  return std::nullopt;
}

// The last day from `from` down to `first` with an occurrence.
std::optional<int64_t> PrevDay(const OccurrenceTest& t, int64_t from, int64_t first) {
  for (int64_t d = from; d >= first; --d)
    if (On(t, d)) return d;
  return std::nullopt;
}

// The item ending on the day before `day`, at 23:59:00 like a range end
// from the dialog; at the day's last second when a start after 23:59:00
// would lose that day's occurrence.
ScheduleItem EndedBefore(const ScheduleItem& item, const OccurrenceTest& was, int64_t day) {
  ScheduleItem r = item;
  r.RepEnd = DayStart(day - 1).AddSeconds(23 * 3600 + 59 * 60);
  if (On(was, day - 1) && !On(OccurrenceTest(r), day - 1)) r.RepEnd = DayStart(day).AddSeconds(-1);
  if (r.RepEnd > item.RepEnd) r.RepEnd = item.RepEnd;
  return r;
}

// The item starting with its occurrence on `next`, every later day as
// before; `day` is the occurrence taken out before it.
ScheduleItem StartingOn(const ScheduleItem& item, int64_t day, int64_t next) {
  ScheduleItem r = item;
  const int64_t ts = item.Start.SecondsOfDay();
  switch (item.RepType) {
    case 1: {
      // Counted in steps of RepX days from RepStart: the new start is the
      // step that falls on `next`, so the steps after it stay where they were.
      const int64_t period = int64_t{item.RepX} * kDay;
      const int64_t base = item.RepStart.LinearSeconds() + ts;
      const int64_t gap = next * kDay - base;
      const int64_t k = gap <= 0 ? 0 : (gap + period - 1) / period;
      r.RepStart = item.RepStart.AddSeconds(k * period);
      break;
    }
    case 2:
      // Counted in weeks from the week of RepStart, and only starts after
      // RepStart count: the week of `next` keeps the count. A start at
      // midnight would not count on its own day, so the range then starts
      // on the day taken out, in the same counted week, at the very instant
      // of its occurrence.
      r.RepStart = DayStart(ts > 0 ? next : day);
      break;
    default:
      // Months are counted from RepStart's month, and `next` is an
      // occurrence, so its month keeps the count.
      r.RepStart = DayStart(next);
      break;
  }
  // The dates of a repeating item give only its times of day; they follow
  // the range to its first occurrence, as the dialog would have them.
  if (item.Start.IsValid()) {
    const int64_t shift = next - item.Start.DayNumber();
    r.Start = item.Start.AddDays(shift);
    if (item.End.IsValid()) {
      r.End = item.End.AddDays(shift);
      if (r.End.Year() < 0) r.End = DayStart(next).AddSeconds(item.End.SecondsOfDay());
    }
  }
  return r;
}

}  // namespace

SeriesCut CutDay(const ScheduleItem& item, const DateTime& day) {
  SeriesCut cut;
  if (!Repeats(item) || !day.IsValid()) return cut;
  const OccurrenceTest t(item);
  const int64_t d = day.DayNumber();
  if (!On(t, d)) return cut;
  const auto prev = PrevDay(t, d - 1, item.RepStart.DayNumber());
  const auto next = NextDay(t, d + 1, item.RepEnd.DayNumber() + 1);
  if (!prev && !next) {
    cut.result = SeriesCut::Result::Removed;
    return cut;
  }
  cut.result = SeriesCut::Result::Changed;
  if (prev) {
    cut.kept = EndedBefore(item, t, d);
    if (next) cut.rest = StartingOn(item, d, *next);
  } else {
    cut.kept = StartingOn(item, d, *next);
  }
  return cut;
}

SeriesCut CutFromDay(const ScheduleItem& item, const DateTime& day) {
  SeriesCut cut;
  if (!Repeats(item) || !day.IsValid()) return cut;
  const OccurrenceTest t(item);
  const int64_t d = day.DayNumber();
  if (!NextDay(t, d, item.RepEnd.DayNumber() + 1)) return cut;
  if (!PrevDay(t, d - 1, item.RepStart.DayNumber())) {
    cut.result = SeriesCut::Result::Removed;
    return cut;
  }
  cut.result = SeriesCut::Result::Changed;
  cut.kept = EndedBefore(item, t, d);
  return cut;
}

}  // namespace kv
