#include "ical/Ical.h"

#include <libical/ical.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <unistd.h>

#include "edit/ItemForm.h"
#include "model/Clock.h"
#include "model/Recurrence.h"
#include "model/Text.h"

namespace kv::ical {
namespace {

constexpr int64_t kDay = DateTime::kSecondsPerDay;
// No series is expanded further than this; the model's years 100..9999
// hold fewer days than that.
constexpr std::size_t kMaxInstances = 4'000'000;
// A file's rule is expanded no further than this (a daily rule of five
// centuries); each step costs the reader, and the file is anyone's.
constexpr std::size_t kMaxFileInstances = 200'000;

void QuietLibical() {
  // A malformed file must give a problem line, never end the program.
  static const bool once = [] {
    icalerror_set_errors_are_fatal(0);
    return true;
  }();
  (void)once;
}

// ---- zones ----

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

icaltimezone* ZoneFor(const std::string& name) {
  if (name.empty() || name == "floating") return nullptr;
  if (name == "UTC" || name == "Etc/UTC" || name == "Etc/GMT" || name == "GMT" || name == "UCT" ||
      name == "Etc/UCT" || name == "Universal" || name == "Zulu")
    return icaltimezone_get_utc_timezone();
  return icaltimezone_get_builtin_timezone(name.c_str());
}

struct Zone {
  icaltimezone* zone = nullptr;  // null: floating
  bool utc = false;
  std::string tzid;
};

Zone ResolveZone(const std::string& wanted) {
  QuietLibical();
  Zone z;
  const std::string name = wanted.empty() ? SystemZoneName() : wanted;
  z.zone = ZoneFor(name);
  z.utc = z.zone == icaltimezone_get_utc_timezone();
  if (z.zone && !z.utc) {
    const char* id = icaltimezone_get_tzid(z.zone);
    if (!id) z.zone = nullptr;
    else z.tzid = id;
  }
  return z;
}

// ---- days and times ----

DateTime DayStart(int64_t day) { return DateTime::FromLinearSeconds(day * kDay); }

icaltimetype IcalTime(const DateTime& t, bool is_date, icaltimezone* zone) {
  icaltimetype r = icaltime_null_time();
  int y, mo, d, h, mi, s;
  if (!t.Split(y, mo, d, h, mi, s)) return r;
  r.year = y;
  r.month = mo;
  r.day = d;
  r.is_date = is_date ? 1 : 0;
  if (!is_date) {
    r.hour = h;
    r.minute = mi;
    r.second = s;
    r.zone = zone;
  }
  return r;
}

int64_t DayOf(const icaltimetype& t) { return DaysFromCivil(t.year, t.month, t.day); }

void Digits(std::string& out, int v, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, v);
  out += buf;
}

std::string DateText(const icaltimetype& t) {
  std::string s;
  Digits(s, t.year, 4);
  Digits(s, t.month, 2);
  Digits(s, t.day, 2);
  if (!t.is_date) {
    s += 'T';
    Digits(s, t.hour, 2);
    Digits(s, t.minute, 2);
    Digits(s, t.second, 2);
    if (t.zone == icaltimezone_get_utc_timezone()) s += 'Z';
  }
  return s;
}

// ---- writing ----

class Writer {
 public:
  std::string out;
  // Folds at 75 octets, never inside a UTF-8 sequence.
  void Line(std::string_view line) {
    std::size_t limit = 75;
    while (line.size() > limit) {
      std::size_t cut = limit;
      while (cut > 1 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;
      out.append(line.substr(0, cut));
      out += "\r\n ";
      line.remove_prefix(cut);
      limit = 74;
    }
    out.append(line);
    out += "\r\n";
  }
};

std::string EscapeText(std::string_view s) {
  std::string r;
  r.reserve(s.size() + 8);
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    switch (c) {
      case '\\': r += "\\\\"; break;
      case ';': r += "\\;"; break;
      case ',': r += "\\,"; break;
      case '\n': r += "\\n"; break;
      case '\r':
        if (i + 1 < s.size() && s[i + 1] == '\n') break;
        r += "\\n";
        break;
      default: r += c;
    }
  }
  return r;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Readers drop blanks at either end of a value; the exact text goes beside
// it (hex of its UTF-8) and is taken back only when it shows the same.
void TextLines(Writer& w, const char* name, const std::string& cp932) {
  if (cp932.empty()) return;
  const std::string u = text::ToUtf8Lossy(cp932);
  const bool all_blank = std::all_of(u.begin(), u.end(), IsBlank);
  if (!all_blank) w.Line(std::string(name) + ":" + EscapeText(u));
  if (IsBlank(u.front()) || IsBlank(u.back())) {
    static const char* kHex = "0123456789ABCDEF";
    std::string h;
    for (unsigned char c : u) {
      h += kHex[c >> 4];
      h += kHex[c & 15];
    }
    w.Line(std::string("X-KALVANE-") + name + ":" + h);
  }
}

std::string TimeProp(const char* name, const icaltimetype& t, const Zone& z) {
  std::string s = name;
  if (t.is_date) s += ";VALUE=DATE";
  else if (t.zone && !z.utc && !z.tzid.empty()) s += ";TZID=" + z.tzid;
  return s + ":" + DateText(t);
}

const char* kDayNames[7] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

// n (1..5, 5 = last) and the selector of the n-th rules.
std::string NthPart(int n, int sel) {
  if (n < 1 || n > 5) return {};
  const int pos = n == 5 ? -1 : n;
  std::string s;
  if (sel == 1) {
    s = "BYMONTHDAY=";
    for (int i = 0; i < 7; ++i) {
      if (i) s += ',';
      s += std::to_string(n == 5 ? i - 7 : 7 * (n - 1) + 1 + i);
    }
  } else if (sel == 2) {
    s = "BYDAY=MO,TU,WE,TH,FR;BYSETPOS=" + std::to_string(pos);
  } else if (sel == 3) {
    s = "BYDAY=SU,SA;BYSETPOS=" + std::to_string(pos);
  } else if (sel >= 4 && sel <= 10) {
    s = "BYDAY=" + std::to_string(pos) + kDayNames[sel - 4];
  }
  return s;
}

// The RRULE of the kind, without its end; empty when none is written
// (the days then come from RDATE alone).
std::string RuleOf(const ScheduleItem& it) {
  const int x = it.RepX, y = it.RepY, z = it.RepZ;
  std::string body;
  switch (it.RepType) {
    case 1:
      if (x < 1 || x > SHRT_MAX) return {};
      body = "FREQ=DAILY;INTERVAL=" + std::to_string(x);
      break;
    case 2: {
      if (x < 1 || x > SHRT_MAX || (y & 127) == 0) return {};
      body = "FREQ=WEEKLY;INTERVAL=" + std::to_string(x) + ";BYDAY=";
      bool first = true;
      for (int w = 0; w < 7; ++w)
        if (y & (1 << w)) {
          if (!first) body += ',';
          body += kDayNames[w];
          first = false;
        }
      break;
    }
    case 3:
      if (x < 1 || x > SHRT_MAX || y < 1 || y > 31) return {};
      body = "FREQ=MONTHLY;INTERVAL=" + std::to_string(x) + ";BYMONTHDAY=" + std::to_string(y);
      break;
    case 4: {
      const std::string nth = NthPart(y, z);
      if (x < 1 || x > SHRT_MAX || nth.empty()) return {};
      body = "FREQ=MONTHLY;INTERVAL=" + std::to_string(x) + ";" + nth;
      break;
    }
    case 5: {
      if (x < 1 || x > 12 || y < 1 || y > 31) return {};
      // A day past the month's end rolls into the next month, every year.
      if (x == 2 && y >= 29) body = "FREQ=YEARLY;BYYEARDAY=" + std::to_string(31 + y);
      else if (y > DaysInMonth(2001, x))
        body = "FREQ=YEARLY;BYMONTH=" + std::to_string(x + 1) + ";BYMONTHDAY=" +
               std::to_string(y - DaysInMonth(2001, x));
      else body = "FREQ=YEARLY;BYMONTH=" + std::to_string(x) + ";BYMONTHDAY=" + std::to_string(y);
      break;
    }
    case 6: {
      const std::string nth = NthPart(y, z);
      if (x < 1 || x > 12 || nth.empty()) return {};
      body = "FREQ=YEARLY;BYMONTH=" + std::to_string(x) + ";" + nth;
      break;
    }
    default:
      return {};
  }
  return body + ";WKST=SU";
}

// Days (day numbers) on which Occurs gives the item, over the days it can touch.
std::vector<int64_t> ModelDays(const ScheduleItem& it, int64_t lo, int64_t hi) {
  std::vector<int64_t> days;
  const OccurrenceTest test(it);
  if (!test.MayOccurOnDays(DayStart(lo), DayStart(hi + 1))) return days;
  for (int64_t d = lo; d <= hi; ++d)
    if (test.OnDay(CalendarDay::Of(DayStart(d)))) days.push_back(d);
  return days;
}

// The local days of a rule from dtstart; false when it does not end by `hi`.
bool RuleDays(const icalrecurrencetype& rule, const icaltimetype& dtstart, icaltimezone* local,
              int64_t hi, std::vector<int64_t>& days, std::size_t cap = kMaxInstances) {
  icalrecur_iterator* ri = icalrecur_iterator_new(rule, dtstart);
  if (!ri) return false;
  bool ended = true;
  std::size_t steps = 0;
  for (icaltimetype t = icalrecur_iterator_next(ri); !icaltime_is_null_time(t);
       t = icalrecur_iterator_next(ri)) {
    if (!t.is_date && t.zone && local && t.zone != local) t = icaltime_convert_to_zone(t, local);
    const int64_t d = DayOf(t);
    if (d > hi || ++steps > cap) {
      ended = false;
      break;
    }
    if (days.empty() || days.back() != d) days.push_back(d);
  }
  icalrecur_iterator_free(ri);
  return ended;
}

void SortUnique(std::vector<int64_t>& v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

std::string Hex6(uint32_t colorref) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02X%02X%02X", colorref & 0xFF, (colorref >> 8) & 0xFF,
                (colorref >> 16) & 0xFF);
  return buf;
}

std::string UtcStamp(const DateTime& local, const Zone& z) {
  icaltimetype t = IcalTime(local, false, z.zone);
  if (icaltime_is_null_time(t)) t = IcalTime(DateTime::FromParts(2000, 1, 1), false, z.zone);
  if (z.zone && !z.utc) t = icaltime_convert_to_zone(t, icaltimezone_get_utc_timezone());
  t.zone = icaltimezone_get_utc_timezone();
  return DateText(t);
}

// One VEVENT, or nothing when the item cannot be said exactly.
void WriteItem(Writer& w, const ScheduleItem& it, const Zone& z, const std::string& stamp) {
  if (it.SyncFlag == SyncDeleted || it.RepType < 0 || it.RepType > 6) return;
  if (!it.Start.IsValid() || !it.End.IsValid()) return;
  const bool all_day = it.Type == 1;
  const int ts = it.Start.SecondsOfDay(), te = it.End.SecondsOfDay();
  icaltimetype dtstart, dtend;
  std::string rrule;
  std::vector<int64_t> rdates, exdates;
  if (it.RepType == 0) {
    if (it.End < it.Start) return;
    if (all_day) {
      dtstart = IcalTime(it.Start.DateOnly(), true, nullptr);
      dtend = IcalTime(it.End.DateOnly().AddDays(1), true, nullptr);
    } else {
      dtstart = IcalTime(it.Start, false, z.zone);
      dtend = IcalTime(it.End, false, z.zone);
    }
  } else {
    // Each occurrence lies inside its day.
    if (te < ts || !it.RepStart.IsValid() || !it.RepEnd.IsValid()) return;
    const int64_t lo = it.RepStart.DayNumber() - 1, hi = it.RepEnd.DayNumber() + 1;
    if (hi < lo || hi - lo > int64_t(kMaxInstances)) return;
    // A range as the edit dialog makes it: the rule alone is exact (the
    // differential test holds every kind to that), so only the first day
    // is looked for. Anything else is expanded and put right day by day.
    const bool plain = it.RepStart.SecondsOfDay() == 0 &&
                       it.RepEnd.SecondsOfDay() == 23 * 3600 + 59 * 60 && it.RepX >= 1 &&
                       it.RepX <= 12 && !RuleOf(it).empty();
    std::vector<int64_t> want;
    if (plain) {
      const OccurrenceTest test(it);
      for (int64_t d = lo; d <= hi && want.empty(); ++d)
        if (test.OnDay(CalendarDay::Of(DayStart(d)))) want.push_back(d);
    } else {
      want = ModelDays(it, lo, hi);
    }
    if (want.empty()) return;
    const int64_t first = want.front();
    dtstart = all_day ? IcalTime(DayStart(first), true, nullptr)
                      : IcalTime(DayStart(first).AddSeconds(ts), false, z.zone);
    dtend = all_day ? IcalTime(DayStart(first + 1), true, nullptr)
                    : IcalTime(DayStart(first).AddSeconds(te), false, z.zone);
    if (icaltime_is_null_time(dtstart) || icaltime_is_null_time(dtend)) return;
    std::vector<int64_t> have;
    rrule = RuleOf(it);
    if (!rrule.empty()) {
      // The instant the model's range test stops at, as the rule compares it.
      DateTime until;
      if (it.RepType <= 2) until = it.RepEnd;
      else until = it.RepEnd.DateOnly().AddSeconds(ts);
      icaltimetype u;
      if (all_day) {
        u = IcalTime(DateTime::FromLinearSeconds(until.LinearSeconds() - ts).DateOnly(), true, nullptr);
      } else {
        u = IcalTime(until, false, z.zone);
        if (z.zone && !z.utc && !icaltime_is_null_time(u))
          u = icaltime_convert_to_zone(u, icaltimezone_get_utc_timezone());
      }
      if (icaltime_is_null_time(u)) rrule.clear();
      else rrule += ";UNTIL=" + DateText(u);
    }
    if (plain && rrule.empty()) want = ModelDays(it, lo, hi);
    if (!rrule.empty() && !plain) {
      icalrecurrencetype r = icalrecurrencetype_from_string(rrule.c_str());
      if (r.freq == ICAL_NO_RECURRENCE || !RuleDays(r, dtstart, z.zone, hi, have)) {
        rrule.clear();
        have.clear();
      }
    }
    // DTSTART is always an instance, whatever the rule says.
    have.push_back(first);
    SortUnique(have);
    if (plain && !rrule.empty()) have = want;
    // Where the rule is not exact, single days put it right.
    std::set_difference(want.begin(), want.end(), have.begin(), have.end(),
                        std::back_inserter(rdates));
    std::set_difference(have.begin(), have.end(), want.begin(), want.end(),
                        std::back_inserter(exdates));
  }
  if (icaltime_is_null_time(dtstart) || icaltime_is_null_time(dtend)) return;

  w.Line("BEGIN:VEVENT");
  w.Line("UID:" + UidOf(it));
  w.Line("DTSTAMP:" + stamp);
  if (it.Updated.IsValid() && it.Updated.Year() >= 1970)
    w.Line("LAST-MODIFIED:" + UtcStamp(it.Updated, z));
  w.Line(TimeProp("DTSTART", dtstart, z));
  w.Line(TimeProp("DTEND", dtend, z));
  // An empty value is an error to some readers: leave the line out.
  TextLines(w, "SUMMARY", it.Subject);
  TextLines(w, "LOCATION", it.Place);
  TextLines(w, "DESCRIPTION", it.Desc);
  w.Line(it.Private ? "CLASS:PRIVATE" : "CLASS:PUBLIC");
  w.Line("COLOR:" + NearestCssColor(it.Color & 0xFFFFFF));
  w.Line("X-KALVANE-COLOR:" + Hex6(it.Color));
  if (!rrule.empty()) w.Line("RRULE:" + rrule);
  auto day_value = [&](int64_t d) {
    return all_day ? IcalTime(DayStart(d), true, nullptr)
                   : IcalTime(DayStart(d).AddSeconds(ts), false, z.zone);
  };
  for (int64_t d : rdates) w.Line(TimeProp("RDATE", day_value(d), z));
  for (int64_t d : exdates) w.Line(TimeProp("EXDATE", day_value(d), z));
  if (it.RepType != 0) {
    // The model's own fields, taken back only when they give the same days.
    w.Line("X-KALVANE-REPEAT:" + std::to_string(it.RepType) + ";" + std::to_string(it.RepX) + ";" +
           std::to_string(it.RepY) + ";" + std::to_string(it.RepZ) + ";" +
           std::to_string(it.RepStart.LinearSeconds()) + ";" +
           std::to_string(it.RepEnd.LinearSeconds()));
  }
  if (it.Alarm >= 0) {
    w.Line("BEGIN:VALARM");
    w.Line("ACTION:DISPLAY");
    w.Line("DESCRIPTION:" +
           (it.Subject.empty() ? std::string("予定") : EscapeText(text::ToUtf8Lossy(it.Subject))));
    w.Line("TRIGGER:-PT" + std::to_string(it.Alarm) + "S");
    w.Line("END:VALARM");
  }
  w.Line("END:VEVENT");
}

}  // namespace

std::string SystemZoneName() {
  if (const char* tz = std::getenv("TZ"); tz && *tz) {
    std::string s = tz[0] == ':' ? tz + 1 : tz;
    const auto at = s.find("zoneinfo/");
    if (at != std::string::npos) s = s.substr(at + 9);
    if (!s.empty() && s[0] != '/') return s;
  }
  {
    std::ifstream f("/etc/timezone");
    std::string line;
    if (f && std::getline(f, line) && !Trim(line).empty()) return Trim(line);
  }
  char buf[512];
  const ssize_t n = readlink("/etc/localtime", buf, sizeof buf - 1);
  if (n > 0) {
    const std::string s(buf, std::size_t(n));
    const auto at = s.find("zoneinfo/");
    if (at != std::string::npos) return s.substr(at + 9);
  }
  return {};
}

std::string UidOf(const ScheduleItem& item) {
  return std::to_string(item.Index.LinearSeconds()) + "-" + std::to_string(item.UserID) +
         "@kalvane";
}

std::string Export(const std::vector<ScheduleItem>& items) { return Export(items, {}); }

std::string Export(const std::vector<ScheduleItem>& items, const ExportOptions& options) {
  const Zone z = ResolveZone(options.zone);
  Writer w;
  w.out.reserve(items.size() * 400 + 4096);
  w.Line("BEGIN:VCALENDAR");
  w.Line("VERSION:2.0");
  w.Line("PRODID:-//Wexor//Kalvane//JA");
  w.Line("CALSCALE:GREGORIAN");
  if (z.zone && !z.utc) {
    icalcomponent* vtz = icaltimezone_get_component(z.zone);
    if (vtz) {
      char* s = icalcomponent_as_ical_string_r(vtz);
      if (s) {
        std::string_view text(s);
        // libical ends lines with CRLF already.
        w.out.append(text);
        if (!text.empty() && text.back() != '\n') w.out += "\r\n";
        std::free(s);
      }
    }
  }
  const std::string stamp = UtcStamp(Now(), z);
  for (const ScheduleItem& it : items) WriteItem(w, it, z, stamp);
  w.Line("END:VCALENDAR");
  return std::move(w.out);
}

// ================= import =================

namespace {

struct CompFree {
  void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};

struct Event {
  icalcomponent* c;
  std::string name;  // for problem lines
};

bool ToText(const char* utf8, bool replace, std::size_t max, const char* field, std::string& out,
            std::string& why) {
  out.clear();
  if (!utf8 || !*utf8) return true;
  const std::string_view in(utf8);
  if (auto cp = text::FromUtf8(in)) {
    out = std::move(*cp);
  } else if (replace) {
    // Character by character, so only what CP932 lacks is replaced.
    std::size_t i = 0;
    while (i < in.size()) {
      const unsigned char c = static_cast<unsigned char>(in[i]);
      std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
      len = std::min(len, in.size() - i);
      if (auto one = text::FromUtf8(in.substr(i, len))) out += *one;
      else out += "\x81\xAC";  // 〓
      i += len;
    }
  } else {
    why = std::string(field) + "にCP932で表せない文字があります";
    return false;
  }
  if (out.size() > max) {
    why = std::string(field) + "が長すぎます（" + std::to_string(out.size()) + "バイト、上限" +
          std::to_string(max) + "）";
    return false;
  }
  return true;
}

// Wall-clock time in the local zone.
bool ToLocal(icaltimetype t, icaltimezone* local, DateTime& out) {
  if (icaltime_is_null_time(t) || !icaltime_is_valid_time(t)) return false;
  if (!t.is_date && t.zone) {
    icaltimezone* into = local ? local : icaltimezone_get_utc_timezone();
    if (t.zone != into) t = icaltime_convert_to_zone(t, into);
  }
  if (t.year < 100 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > DaysInMonth(t.year, t.month) || t.hour < 0 || t.hour > 23 || t.minute < 0 ||
      t.minute > 59 || t.second < 0 || t.second > 60)
    return false;
  out = DateTime::FromParts(t.year, t.month, t.day, t.is_date ? 0 : t.hour, t.is_date ? 0 : t.minute,
                            t.is_date ? 0 : std::min(t.second, 59));
  return out.IsValid();
}

// The time of a DATE-TIME property, with a TZID that must be known.
bool PropTime(icalcomponent* c, icalproperty* p, icaltimetype& t) {
  t = icalproperty_get_datetime_with_component(p, c);
  if (icaltime_is_null_time(t)) return false;
  if (!t.is_date && !t.zone && icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER))
    return false;
  return true;
}

int Count(const short* a, int size) {
  int n = 0;
  while (n < size && a[n] != ICAL_RECURRENCE_ARRAY_MAX) ++n;
  return n;
}

// The kinds a rule may be, most likely first; each is verified later.
std::vector<ScheduleItem> Candidates(const icalrecurrencetype& r, const icaltimetype& start) {
  std::vector<ScheduleItem> out;
  const int nsec = Count(r.by_second, ICAL_BY_SECOND_SIZE), nmin = Count(r.by_minute, ICAL_BY_MINUTE_SIZE),
            nhour = Count(r.by_hour, ICAL_BY_HOUR_SIZE), nday = Count(r.by_day, ICAL_BY_DAY_SIZE),
            nmd = Count(r.by_month_day, ICAL_BY_MONTHDAY_SIZE),
            nyd = Count(r.by_year_day, ICAL_BY_YEARDAY_SIZE),
            nwn = Count(r.by_week_no, ICAL_BY_WEEKNO_SIZE), nmon = Count(r.by_month, ICAL_BY_MONTH_SIZE),
            npos = Count(r.by_set_pos, ICAL_BY_SETPOS_SIZE);
  if (nsec || nmin || nhour || nwn || (r.rscale && *r.rscale)) return out;
  const int x = r.interval < 1 ? 1 : r.interval;
  auto make = [&](int type, int rx, int ry, int rz) {
    ScheduleItem it;
    it.RepType = type;
    it.RepX = rx;
    it.RepY = ry;
    it.RepZ = rz;
    out.push_back(it);
  };
  // The n-th forms: n (5 = last) and the selector, from BYDAY/BYSETPOS/BYMONTHDAY.
  auto nth = [&](int& n, int& sel) -> bool {
    if (nyd) return false;
    if (nmd == 7 && !nday && !npos) {
      const int a = r.by_month_day[0];
      for (int i = 1; i < 7; ++i)
        if (r.by_month_day[i] != a + i) return false;
      if (a == -7) n = 5;
      else if (a >= 1 && a <= 22 && (a - 1) % 7 == 0) n = (a - 1) / 7 + 1;
      else return false;
      sel = 1;
      return true;
    }
    if (nmd) return false;
    if (nday == 1 && !npos) {
      const int pos = icalrecurrencetype_day_position(r.by_day[0]);
      const int dow = icalrecurrencetype_day_day_of_week(r.by_day[0]);
      if (dow < 1 || dow > 7 || !(pos == -1 || (pos >= 1 && pos <= 4))) return false;
      n = pos == -1 ? 5 : pos;
      sel = 4 + dow - 1;
      return true;
    }
    if (npos == 1 && (nday == 5 || nday == 2)) {
      const int pos = r.by_set_pos[0];
      if (!(pos == -1 || (pos >= 1 && pos <= 4))) return false;
      int mask = 0;
      for (int i = 0; i < nday; ++i) {
        if (icalrecurrencetype_day_position(r.by_day[i]) != 0) return false;
        mask |= 1 << (icalrecurrencetype_day_day_of_week(r.by_day[i]) - 1);
      }
      if (mask == 0x3E) sel = 2;
      else if (mask == 0x41) sel = 3;
      else return false;
      n = pos == -1 ? 5 : pos;
      return true;
    }
    return false;
  };
  int n = 0, sel = 0;
  switch (r.freq) {
    case ICAL_DAILY_RECURRENCE:
      if (!nday && !nmd && !nyd && !nmon && !npos) make(1, x, 0, 0);
      break;
    case ICAL_WEEKLY_RECURRENCE: {
      if (nmd || nyd || nmon || npos) break;
      int mask = 0;
      for (int i = 0; i < nday; ++i) {
        if (icalrecurrencetype_day_position(r.by_day[i]) != 0) return out;
        mask |= 1 << (icalrecurrencetype_day_day_of_week(r.by_day[i]) - 1);
      }
      if (!nday) mask = 1 << (icaltime_day_of_week(start) - 1);
      make(2, x, mask, 0);
      break;
    }
    case ICAL_MONTHLY_RECURRENCE:
      if (nmon) break;
      if (!nday && !nyd && !npos && nmd <= 1) {
        const int d = nmd ? r.by_month_day[0] : start.day;
        if (d >= 1 && d <= 31) make(3, x, d, 0);
      } else if (nth(n, sel)) {
        make(4, x, n, sel);
      }
      break;
    case ICAL_YEARLY_RECURRENCE:
      if (x != 1) break;
      if (!nday && !npos && !nmd && !nmon && !nyd) make(5, start.month, start.day, 0);
      else if (nyd == 1 && !nday && !npos && !nmd && !nmon && r.by_year_day[0] >= 60 &&
               r.by_year_day[0] <= 62)
        make(5, 2, r.by_year_day[0] - 31, 0);
      else if (nmon == 1 && nmd == 1 && !nday && !npos && !nyd)
        make(5, r.by_month[0], r.by_month_day[0], 0);
      else if (nmon == 1 && nth(n, sel))
        make(6, r.by_month[0], n, sel);
      break;
    default:
      break;
  }
  return out;
}

std::string_view TrimBlanks(std::string_view v) {
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
  return v;
}

// The value with the blanks at its ends that the parser dropped, when our
// own line holds them and shows the same text otherwise.
std::string ExactText(icalcomponent* c, std::string_view name, const char* parsed) {
  const std::string shown = parsed ? parsed : "";
  const std::string want = "X-KALVANE-" + std::string(name);
  for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_X_PROPERTY); p;
       p = icalcomponent_get_next_property(c, ICAL_X_PROPERTY)) {
    const char* xn = icalproperty_get_x_name(p);
    const char* v = icalproperty_get_x(p);
    if (!xn || !v || want != xn) continue;
    const std::string_view hex(v);
    if (hex.size() % 2 || hex.size() > 2 * (kMaxDescBytes * 2 + 16)) continue;
    std::string raw;
    raw.reserve(hex.size() / 2);
    bool ok = true;
    for (std::size_t i = 0; ok && i < hex.size(); i += 2) {
      auto nib = [&](char ch) {
        if (ch >= '0' && ch <= '9') return ch - '0';
        if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
        if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
        ok = false;
        return 0;
      };
      raw += char(nib(hex[i]) << 4 | nib(hex[i + 1]));
    }
    if (ok && TrimBlanks(raw) == TrimBlanks(shown)) return raw;
  }
  return shown;
}

struct Reader {
  ImportOptions opt;
  icaltimezone* local = nullptr;
  Imported result;

  void Problem(const std::string& name, const std::string& why) {
    result.problems.push_back(name + ": " + why);
  }

  void Event(icalcomponent* c);
};

std::string NameOf(icalcomponent* c) {
  std::string name;
  if (const char* s = icalcomponent_get_summary(c)) name = s;
  if (name.size() > 80) {
    std::size_t cut = 80;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name = name.substr(0, cut) + "…";
  }
  // The line is shown as plain text; no control characters.
  for (char& ch : name)
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F) ch = ' ';
  if (name.empty()) name = "（件名なし）";
  if (icalproperty* p = icalcomponent_get_first_property(c, ICAL_DTSTART_PROPERTY)) {
    const icaltimetype t = icalproperty_get_dtstart(p);
    if (!icaltime_is_null_time(t)) name += " (" + DateText(t) + ")";
  }
  return "「" + name + "」";
}

void Reader::Event(icalcomponent* c) {
  const std::string name = NameOf(c);
  if (icalproperty* e = icalcomponent_get_first_property(c, ICAL_XLICERROR_PROPERTY)) {
    const char* msg = icalproperty_get_xlicerror(e);
    std::string m = msg ? msg : "";
    if (m.size() > 200) m.resize(200);
    for (char& ch : m)
      if (static_cast<unsigned char>(ch) < 0x20) ch = ' ';
    Problem(name, "読めない行があります（" + m + "）");
    return;
  }
  if (icalcomponent_get_first_property(c, ICAL_RECURRENCEID_PROPERTY)) {
    Problem(name, "繰り返しの一回だけを変える予定は取り込めません");
    return;
  }
  ScheduleItem it;
  it.SyncFlag = SyncPending;
  it.Index = DateTime();
  std::string why;
  const std::string s_sum = ExactText(c, "SUMMARY", icalcomponent_get_summary(c));
  const std::string s_loc = ExactText(c, "LOCATION", icalcomponent_get_location(c));
  const std::string s_desc = ExactText(c, "DESCRIPTION", icalcomponent_get_description(c));
  const char* summary = s_sum.c_str();
  const char* location = s_loc.c_str();
  const char* desc = s_desc.c_str();
  if (!ToText(summary, opt.replace_unmappable, kMaxLineBytes, "件名", it.Subject, why) ||
      !ToText(location, opt.replace_unmappable, kMaxLineBytes, "場所", it.Place, why) ||
      !ToText(desc, opt.replace_unmappable, kMaxDescBytes, "内容", it.Desc, why)) {
    Problem(name, why);
    return;
  }

  icalproperty* ps = icalcomponent_get_first_property(c, ICAL_DTSTART_PROPERTY);
  icaltimetype ts_raw;
  if (!ps || !PropTime(c, ps, ts_raw)) {
    Problem(name, "開始日時がないか、時間帯が分かりません");
    return;
  }
  const bool all_day = ts_raw.is_date;
  DateTime start, end;
  if (!ToLocal(ts_raw, local, start)) {
    Problem(name, "開始日時が範囲外です");
    return;
  }
  icalproperty* pe = icalcomponent_get_first_property(c, ICAL_DTEND_PROPERTY);
  icalproperty* pd = icalcomponent_get_first_property(c, ICAL_DURATION_PROPERTY);
  if (pe) {
    icaltimetype te_raw;
    if (!PropTime(c, pe, te_raw) || bool(te_raw.is_date) != all_day || !ToLocal(te_raw, local, end)) {
      Problem(name, "終了日時が読めません");
      return;
    }
  } else if (pd) {
    const icaldurationtype d = icalproperty_get_duration(pd);
    if (icaldurationtype_is_bad_duration(d) || d.is_neg) {
      Problem(name, "期間が読めません");
      return;
    }
    const int64_t secs = icaldurationtype_as_int(d);
    if (all_day && secs % kDay != 0) {
      Problem(name, "終日の予定の期間が日単位ではありません");
      return;
    }
    end = start.AddSeconds(secs);
  } else {
    end = all_day ? start.AddDays(1) : start;
  }
  if (all_day) {
    if (end <= start) {
      Problem(name, "終了日が開始日より前です");
      return;
    }
    it.Type = 1;
    it.Start = start;
    it.End = end.AddSeconds(-1);  // 23:59:59 of the last day
  } else {
    if (end < start) {
      Problem(name, "終了日時が開始日時より前です");
      return;
    }
    it.Start = start;
    it.End = end;
  }
  if (!it.End.IsValid() || it.End.Year() < 0) {
    Problem(name, "終了日時が範囲外です");
    return;
  }

  // Private.
  if (icalproperty* p = icalcomponent_get_first_property(c, ICAL_CLASS_PROPERTY)) {
    const icalproperty_class k = icalproperty_get_class(p);
    it.Private = (k == ICAL_CLASS_PRIVATE || k == ICAL_CLASS_CONFIDENTIAL) ? 1 : 0;
  }
  // Colour: the exact value when written by us, else the CSS3 name.
  bool have_color = false;
  for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_X_PROPERTY); p;
       p = icalcomponent_get_next_property(c, ICAL_X_PROPERTY)) {
    const char* xn = icalproperty_get_x_name(p);
    const char* v = icalproperty_get_x(p);
    if (xn && v && std::string_view(xn) == "X-KALVANE-COLOR" && std::strlen(v) == 7 && v[0] == '#') {
      char* endp = nullptr;
      const unsigned long rgb = std::strtoul(v + 1, &endp, 16);
      if (endp == v + 7) {
        it.Color = uint32_t(((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16));
        have_color = true;
      }
    }
  }
  if (!have_color) {
    if (icalproperty* p = icalcomponent_get_first_property(c, ICAL_COLOR_PROPERTY)) {
      const char* v = icalproperty_get_color(p);
      if (!v || !CssColor(v, it.Color)) {
        Problem(name, "色の名前が分かりません");
        return;
      }
    }
  }
  // Alarm: one lead time before the start.
  it.Alarm = -1;
  for (icalcomponent* a = icalcomponent_get_first_component(c, ICAL_VALARM_COMPONENT); a;
       a = icalcomponent_get_next_component(c, ICAL_VALARM_COMPONENT)) {
    icalproperty* tp = icalcomponent_get_first_property(a, ICAL_TRIGGER_PROPERTY);
    if (!tp) continue;
    const icaltriggertype tr = icalproperty_get_trigger(tp);
    icalparameter* rel = icalproperty_get_first_parameter(tp, ICAL_RELATED_PARAMETER);
    const bool to_end = rel && icalparameter_get_related(rel) == ICAL_RELATED_END;
    const int64_t secs = icaldurationtype_as_int(tr.duration);
    if (!icaltime_is_null_time(tr.time) || to_end || icaldurationtype_is_bad_duration(tr.duration) ||
        secs > 0 || -secs > INT32_MAX) {
      Problem(name, "開始前の時間で表せないアラームがあります");
      return;
    }
    if (it.Alarm >= 0 && it.Alarm != int32_t(-secs)) {
      Problem(name, "アラームが二つ以上あります");
      return;
    }
    it.Alarm = int32_t(-secs);
  }

  // Recurrence.
  const int nrule = icalcomponent_count_properties(c, ICAL_RRULE_PROPERTY);
  const int nrdate = icalcomponent_count_properties(c, ICAL_RDATE_PROPERTY);
  const int nexdate = icalcomponent_count_properties(c, ICAL_EXDATE_PROPERTY);
  if (icalcomponent_count_properties(c, ICAL_EXRULE_PROPERTY) > 0 || nrule > 1) {
    Problem(name, "繰り返しの規則が二つ以上あります");
    return;
  }
  if (nrule == 0 && (nrdate || nexdate)) {
    Problem(name, "規則のない繰り返し日付（RDATE/EXDATE）は取り込めません");
    return;
  }
  if (nrule == 1) {
    const int ts = it.Start.SecondsOfDay();
    const int te = it.End.SecondsOfDay();
    if (all_day ? it.End.DayNumber() != it.Start.DayNumber()
                : (it.End.DayNumber() != it.Start.DayNumber() || te < ts)) {
      Problem(name, "日をまたぐ繰り返しは取り込めません");
      return;
    }
    const icalrecurrencetype r =
        icalproperty_get_rrule(icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY));
    if (r.freq == ICAL_NO_RECURRENCE || (r.count == 0 && icaltime_is_null_time(r.until))) {
      Problem(name, "終わりのない繰り返しは取り込めません");
      return;
    }
    // The file's days: the rule, its RDATEs, less its EXDATEs.
    std::vector<int64_t> days;
    const int64_t far = DaysFromCivil(9999, 12, 31);
    if (!RuleDays(r, ts_raw, local, far, days, kMaxFileInstances)) {
      Problem(name, "繰り返しが長すぎます");
      return;
    }
    days.push_back(start.DayNumber());
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_RDATE_PROPERTY)) {
      const icaldatetimeperiodtype v = icalproperty_get_rdate(p);
      icaltimetype t = icaltime_is_null_time(v.time) ? v.period.start : v.time;
      DateTime d;
      if (!t.zone && !t.is_date && icalproperty_get_first_parameter(p, ICAL_TZID_PARAMETER))
        t = icalproperty_get_datetime_with_component(p, c);
      if (!ToLocal(t, local, d) || (!t.is_date && d.SecondsOfDay() != ts)) {
        Problem(name, "繰り返しの日付（RDATE）が規則と合いません");
        return;
      }
      days.push_back(d.DayNumber());
    }
    SortUnique(days);
    std::vector<int64_t> gone;
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_EXDATE_PROPERTY)) {
      icaltimetype t;
      DateTime d;
      if (!PropTime(c, p, t) || !ToLocal(t, local, d)) {
        Problem(name, "除外日（EXDATE）が読めません");
        return;
      }
      gone.push_back(d.DayNumber());
    }
    SortUnique(gone);
    std::vector<int64_t> kept;
    std::set_difference(days.begin(), days.end(), gone.begin(), gone.end(), std::back_inserter(kept));
    if (kept.empty()) {
      Problem(name, "繰り返しの日がありません");
      return;
    }
    const int64_t first = kept.front(), last = kept.back();
    std::vector<ScheduleItem> cands;
    // Our own fields first: exact when they give the same days.
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_X_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_X_PROPERTY)) {
      const char* xn = icalproperty_get_x_name(p);
      const char* v = icalproperty_get_x(p);
      if (!xn || !v || std::string_view(xn) != "X-KALVANE-REPEAT") continue;
      long long f[6];
      if (std::sscanf(v, "%lld;%lld;%lld;%lld;%lld;%lld", &f[0], &f[1], &f[2], &f[3], &f[4], &f[5]) != 6)
        continue;
      bool fits = f[0] >= 1 && f[0] <= 6;
      for (int i = 1; i < 4; ++i) fits = fits && f[i] >= INT32_MIN && f[i] <= INT32_MAX;
      const int64_t lim = (far + 2) * kDay;
      // Bounded so that checking its days stays cheap.
      fits = fits && f[4] >= 0 && f[5] >= f[4] && f[5] <= lim && f[4] / kDay >= first - 4000 &&
             f[5] / kDay <= last + 4000;
      if (!fits) continue;
      ScheduleItem k;
      k.RepType = int(f[0]);
      k.RepX = int(f[1]);
      k.RepY = int(f[2]);
      k.RepZ = int(f[3]);
      k.RepStart = DateTime::FromLinearSeconds(f[4]);
      k.RepEnd = DateTime::FromLinearSeconds(f[5]);
      cands.push_back(k);
    }
    icaltimetype local_start = ts_raw;
    if (!local_start.is_date && local_start.zone && local)
      local_start = icaltime_convert_to_zone(local_start, local);
    for (ScheduleItem k : Candidates(r, local_start)) {
      k.RepStart = DayStart(first);
      k.RepEnd = std::max(DayStart(last).AddSeconds(23 * 3600 + 59 * 60), DayStart(last).AddSeconds(ts));
      cands.push_back(k);
      if (k.RepType == 2 && k.RepX >= 1 && k.RepX <= SHRT_MAX) {
        // The weekly rule starts after RepStart itself: an occurrence at
        // 00:00 of the first day needs the range to start the day before,
        // in the same week, or else on the Saturday of a week in step.
        const int64_t sunday = first - (DayStart(first).DayOfWeek() - 1);
        k.RepStart = DayStart(first == sunday ? sunday - 7 * int64_t{k.RepX} + 6 : first - 1);
        cands.push_back(k);
      }
    }
    bool taken = false;
    for (const ScheduleItem& k : cands) {
      ScheduleItem t = it;
      t.RepType = k.RepType;
      t.RepX = k.RepX;
      t.RepY = k.RepY;
      t.RepZ = k.RepZ;
      t.RepStart = k.RepStart;
      t.RepEnd = k.RepEnd;
      t.Start = DayStart(first).AddSeconds(ts);
      t.End = DayStart(first).AddSeconds(all_day ? 86399 : te);
      const int64_t lo = std::min(first, t.RepStart.DayNumber()) - 1;
      const int64_t hi = std::max(last, t.RepEnd.DayNumber()) + 1;
      if (ModelDays(t, lo, hi) == kept) {
        it = t;
        taken = true;
        break;
      }
    }
    if (!taken) {
      Problem(name, "この繰り返しは六つの繰り返しのどれでも同じ日になりません");
      return;
    }
  }
  const char* uid = icalcomponent_get_uid(c);
  std::string u = uid ? uid : "";
  if (u.size() > 1024) u.resize(1024);
  if (opt.versions) {
    int seq = 0;
    if (icalproperty* p = icalcomponent_get_first_property(c, ICAL_SEQUENCE_PROPERTY))
      seq = std::max(0, icalproperty_get_sequence(p));
    std::string v = std::to_string(seq);
    v = std::string(10 - std::min<std::size_t>(10, v.size()), '0') + v + "/";
    if (icalproperty* p = icalcomponent_get_first_property(c, ICAL_LASTMODIFIED_PROPERTY)) {
      icaltimetype t = icalproperty_get_lastmodified(p);
      if (!icaltime_is_null_time(t)) {
        if (t.zone && t.zone != icaltimezone_get_utc_timezone())
          t = icaltime_convert_to_zone(t, icaltimezone_get_utc_timezone());
        t.zone = icaltimezone_get_utc_timezone();
        v += DateText(t);
      }
    }
    opt.versions->push_back(std::move(v));
  }
  result.items.push_back(std::move(it));
  result.uids.push_back(std::move(u));
}

void Collect(icalcomponent* c, Reader& r, int depth) {
  if (!c || depth > 3) return;
  if (icalcomponent_isa(c) == ICAL_VEVENT_COMPONENT) {
    r.Event(c);
    return;
  }
  for (icalcomponent* k = icalcomponent_get_first_component(c, ICAL_ANY_COMPONENT); k;
       k = icalcomponent_get_next_component(c, ICAL_ANY_COMPONENT)) {
    const icalcomponent_kind kind = icalcomponent_isa(k);
    if (kind == ICAL_VEVENT_COMPONENT || kind == ICAL_VCALENDAR_COMPONENT) Collect(k, r, depth + 1);
  }
}

}  // namespace

Imported Import(std::string_view ics_text) { return Import(ics_text, {}); }

Imported Import(std::string_view ics_text, const ImportOptions& options) {
  QuietLibical();
  Reader r;
  r.opt = options;
  if (r.opt.versions) r.opt.versions->clear();
  if (ics_text.size() > kMaxFileBytes) {
    r.result.problems.push_back("ファイルが大きすぎます（64 MiB まで）");
    return std::move(r.result);
  }
  const Zone z = ResolveZone(options.zone);
  r.local = z.zone;
  // libical reads up to a NUL.
  const std::string text(ics_text.substr(0, ics_text.find('\0')));
  std::unique_ptr<icalcomponent, CompFree> root(icalparser_parse_string(text.c_str()));
  if (!root) {
    r.result.problems.push_back("iCalendar のファイルとして読めません");
    return std::move(r.result);
  }
  Collect(root.get(), r, 0);
  return std::move(r.result);
}

}  // namespace kv::ical
