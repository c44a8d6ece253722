#include "edit/ItemSearch.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>
#include <cstdio>
#include <memory>

#include "model/Recurrence.h"
#include "model/Text.h"

namespace kv {

namespace {

constexpr char16_t kBad = u'\uFFFD';
constexpr char16_t kFieldBreak = u'\uFFFF';  // no query can hold it

// Half-width katakana 0xA1-0xDF in their full-width forms.
constexpr char16_t kHalfKana[63] = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7, 0x30A9,
    0x30E3, 0x30E5, 0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8, 0x30AA, 0x30AB,
    0x30AD, 0x30AF, 0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB, 0x30BD, 0x30BF, 0x30C1,
    0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC, 0x30CD, 0x30CE, 0x30CF, 0x30D2, 0x30D5,
    0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1, 0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9,
    0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF, 0x30F3, 0x309B, 0x309C,
};

// The kana with a voiced form one code point on (ガ for カ and so on).
bool TakesVoicedMark(char16_t k) {
  if (k >= 0x30AB && k <= 0x30C2) return (k - 0x30AB) % 2 == 0;  // カ .. チ
  if (k == 0x30C4 || k == 0x30C6 || k == 0x30C8) return true;     // ツ テ ト
  return k >= 0x30CF && k <= 0x30DB && (k - 0x30CF) % 3 == 0;     // ハ .. ホ
}

char16_t Fold(char32_t cp) {
  if (cp >= 0xFF01 && cp <= 0xFF5E) cp -= 0xFEE0;  // full-width ASCII
  if (cp == 0x3000) cp = ' ';
  if (cp >= 'A' && cp <= 'Z') cp += 'a' - 'A';
  return cp > 0xFFFF ? kBad : static_cast<char16_t>(cp);
}

char32_t FirstCodePoint(const std::string& utf8) {
  if (utf8.empty()) return kBad;
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
  const unsigned char c = b(0);
  if (c < 0x80) return c;
  if ((c & 0xE0) == 0xC0 && utf8.size() >= 2) return ((c & 0x1F) << 6) | (b(1) & 0x3F);
  if ((c & 0xF0) == 0xE0 && utf8.size() >= 3)
    return ((c & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
  return kBad;
}

// Every double-byte character folded, worked out once.
const std::array<char16_t, 65536>& DoubleByteTable() {
  static const std::unique_ptr<std::array<char16_t, 65536>> table = [] {
    auto t = std::make_unique<std::array<char16_t, 65536>>();
    t->fill(kBad);
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
      if (!text::IsLeadByte(static_cast<unsigned char>(lead))) continue;
      for (int trail = 0x40; trail <= 0xFC; ++trail) {
        if (trail == 0x7F) continue;
        const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        if (auto u = text::ToUtf8(std::string_view(pair, 2)))
          (*t)[(lead << 8) | trail] = Fold(FirstCodePoint(*u));
      }
    }
    return t;
  }();
  return *table;
}

std::string TimeText(const ScheduleItem& it) {
  if (it.Type != 0 || !it.Start.IsValid()) return {};
  char hm[8];
  std::snprintf(hm, sizeof hm, "%02d:%02d", it.Start.Hour(), it.Start.Minute());
  return hm;
}

}  // namespace

std::u16string FoldForSearch(std::string_view s) {
  const auto& table = DoubleByteTable();
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out += Fold(c);
    } else if (c >= 0xA1 && c <= 0xDF) {
      const char16_t k = kHalfKana[c - 0xA1];
      const auto next = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : 0;
      // The marks join the kana before them, as the full-width forms have them built in.
      if (next == 0xDE && (TakesVoicedMark(k) || k == 0x30A6)) {
        out += k == 0x30A6 ? char16_t{0x30F4} : char16_t(k + 1);
        ++i;
      } else if (next == 0xDF && k >= 0x30CF && k <= 0x30DB && (k - 0x30CF) % 3 == 0) {
        out += char16_t(k + 2);
        ++i;
      } else {
        out += k;
      }
    } else if (text::IsLeadByte(c) && i + 1 < s.size()) {
      out += table[(c << 8) | static_cast<unsigned char>(s[i + 1])];
      ++i;
    } else {
      out += kBad;
    }
  }
  return out;
}

DateTime ListedDate(const ScheduleItem& item, const DateTime& today) {
  const DateTime start_day = item.Start.IsValid() ? item.Start.DateOnly() : item.Start;
  if (item.RepType == 0 || !today.IsValid()) return start_day;
  ScheduleItem probe = item;
  probe.Alarm = 0;
  // Starts after the minute before today's midnight: today's count too.
  const DateTime next = NextAlarmTime(probe, today.DateOnly().AddSeconds(-60));
  if (next.IsValid() && next != NoAlarmMarker() && next >= today.DateOnly()) return next.DateOnly();
  // None left: the last one, looked for back from the end of the range.
  if (item.RepEnd.IsValid() && item.RepStart.IsValid()) {
    const DateTime first = item.RepStart.DateOnly();
    DateTime day = std::min(item.RepEnd.DateOnly(), today.DateOnly());
    for (int n = 0; n < 4000 && day >= first; ++n, day = day.AddDays(-1))
      if (Occurs(item, day, day.AddDays(1))) return day;
  }
  return start_day;
}

bool ItemSearch::Load(ItemStore& store, const DateTime& today) {
  entries_.clear();
  ScheduleItem it;
  for (int ok = store.ReadFirstItem(it); ok; ok = store.ReadNextItem(it)) {
    if (it.SyncFlag == SyncDeleted) continue;
    Entry e;
    e.date = ListedDate(it, today);
    e.index = it.Index;
    e.start = it.Start;
    e.type = it.Type;
    e.folded = FoldForSearch(it.Subject);
    e.folded += kFieldBreak;
    e.folded += FoldForSearch(it.Place);
    e.folded += kFieldBreak;
    e.folded += FoldForSearch(it.Desc);
    e.subject = std::move(it.Subject);
    e.place = std::move(it.Place);
    entries_.push_back(std::move(e));
  }
  return !store.ReadFailed();
}

std::vector<ItemSearch::Hit> ItemSearch::Find(std::string_view query, std::size_t limit,
                                              std::size_t* total) const {
  std::vector<const Entry*> found;
  const std::u16string q = FoldForSearch(query);
  if (!q.empty()) {
    for (const Entry& e : entries_)
      if (e.folded.find(q) != std::u16string::npos) found.push_back(&e);
  }
  if (total) *total = found.size();
  // Invalid dates last; all-day items before the timed ones of their day.
  auto key = [](const Entry* e) {
    return std::make_pair(e->date.IsValid() ? e->date.LinearSeconds() : INT64_MAX,
                          e->type == 0 && e->start.IsValid() ? e->start.SecondsOfDay() : -1);
  };
  auto earlier = [&](const Entry* a, const Entry* b) { return key(a) < key(b); };
  const std::size_t n = std::min(limit, found.size());
  std::partial_sort(found.begin(), found.begin() + static_cast<std::ptrdiff_t>(n), found.end(),
                    earlier);
  std::vector<Hit> hits;
  hits.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    const Entry& e = *found[i];
    ScheduleItem shown;
    shown.Type = e.type;
    shown.Start = e.start;
    hits.push_back(Hit{e.date, e.index, TimeText(shown), e.subject, e.place});
  }
  return hits;
}

}  // namespace kv
