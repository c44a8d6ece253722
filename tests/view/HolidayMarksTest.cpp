// Sundays and holidays in red, Saturdays in blue and the holidays' names in
// every layout, the names that did not fit told by the hit testing, and the
// plain calendar with the switch off.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "model/Holidays.h"
#include "model/Text.h"
#include "tests/view/ViewTestSupport.h"
#include "view/DayMarks.h"
#include "view/HitTest.h"
#include "view/Layouts.h"

namespace kv {
namespace {

using test::AllDay;
using test::D;
using test::FakeHost;
using test::J;
using test::Timed;

constexpr TextMetrics kM{16, 8};

// The holidays on the pages below, written out from the calendar.
const std::map<DateTime, const char*>& Holidays2026() {
  static const std::map<DateTime, const char*> m = {
      {D(2026, 4, 29), "昭和の日"}, {D(2026, 5, 3), "憲法記念日"}, {D(2026, 5, 4), "みどりの日"},
      {D(2026, 5, 5), "こどもの日"}, {D(2026, 5, 6), "振替休日"}};
  return m;
}

std::string HolidayOf(const DateTime& day) {
  auto it = Holidays2026().find(day);
  return it == Holidays2026().end() ? std::string() : J(it->second);
}

bool Overlaps(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

bool Inside(const Rect& in, const Rect& out) {
  return in.left >= out.left && in.right <= out.right && in.top >= out.top && in.bottom <= out.bottom;
}

// May 2026: Friday the 1st, six rows from Sunday 26 April; 3 May is a
// Sunday holiday and 6 May its substitute.
ViewState May2026(bool shown) {
  ViewState st;
  st.DrawEnabled = 1;
  st.ViewMode = MonthMode;
  st.AnchorDate = st.SelectedDate = D(2026, 5, 20);
  st.ShowHolidays = shown;
  st.VisibleItems = {Timed("a", D(2026, 5, 3, 9), D(2026, 5, 3, 10)),
                     Timed("b", D(2026, 5, 3, 11), D(2026, 5, 3, 12)),
                     AllDay("c", D(2026, 5, 6), D(2026, 5, 6)),
                     Timed("d", D(2026, 5, 7, 9), D(2026, 5, 7, 10))};
  return st;
}

// The day number's text in a month cell.
std::vector<SurfaceOp> NumberOps(const RecordingSurface& s, const DayCell& c) {
  std::vector<SurfaceOp> out;
  for (const auto& t : s.FindAt(SurfaceOp::Text, c.rect))
    if (t.text == std::to_string(c.date.Day())) out.push_back(t);
  return out;
}

// Name texts: drawn anywhere, by the text they begin with.
std::vector<SurfaceOp> NameOps(const RecordingSurface& s) {
  std::vector<SurfaceOp> out;
  for (const auto& op : s.Find(SurfaceOp::Text))
    for (const auto& [day, utf8] : Holidays2026()) {
      const std::string name = J(utf8);
      if (!op.text.empty() && name.compare(0, op.text.size(), op.text) == 0) out.push_back(op);
    }
  return out;
}

TEST(HolidayMarks, MonthColoursTheNumbersAndWritesTheNameOnTheirLine) {
  const Rect wide{0, 0, 700, 632}, narrow{0, 0, 280, 632};
  for (const Rect& area : {wide, narrow}) {
    SCOPED_TRACE(area.right);
    ViewState st = May2026(true);
    RecordingSurface s(kM);
    DrawMonthLayout(st, s, area, kM);
    int names = 0;
    for (int i = 0; i < 42; ++i) {
      const DayCell& c = st.CellTable[i];
      SCOPED_TRACE(c.date.ToString());
      const int dow = i % 7;
      const std::string name = HolidayOf(c.date);
      const auto number = NumberOps(s, c);
      ASSERT_EQ(number.size(), 1u);
      EXPECT_EQ(number[0].color, dow == 0 || !name.empty() ? kRed : dow == 6 ? kBlue : kBlack);
      std::vector<SurfaceOp> drawn;
      for (const auto& op : NameOps(s))
        if (Inside(op.rect, c.rect)) drawn.push_back(op);
      if (name.empty()) {
        EXPECT_TRUE(drawn.empty());
        continue;
      }
      ASSERT_EQ(drawn.size(), 1u);
      ++names;
      const SurfaceOp& n = drawn[0];
      EXPECT_EQ(n.color, kRed);
      // After the number on its line, never on an item's.
      EXPECT_EQ(n.rect.top, c.rect.top);
      EXPECT_LE(n.rect.bottom, c.rect.top + kM.h);
      EXPECT_GE(n.rect.left, c.rect.left + s.TextWidth(number[0].text));
      EXPECT_LE(s.TextWidth(n.text), n.rect.right - n.rect.left);
      for (const auto& it : st.VisibleItems)
        for (const Rect& r : it.CellRects) {
          if (!r.IsEmpty()) EXPECT_FALSE(Overlaps(n.rect, r)) << it.Subject;
        }
      // Cut on a character, and then told where the pointer or a press is.
      EXPECT_EQ(text::CutBytes(name, n.text.size()), n.text);
      const bool cut = n.text != name;
      EXPECT_EQ(cut, area.right == narrow.right);
      const HiddenHoliday tip = HiddenHolidayAt(st, c.rect.left + 30, c.rect.top + 3, true);
      EXPECT_EQ(tip.name, cut ? name : "");
      EXPECT_EQ(HiddenHolidayAt(st, c.rect.left + 5, c.rect.bottom - 3, true).name, "");
      FakeHost host;
      OnPress(st, s, host, c.rect.left + 5, c.rect.bottom - 3);
      EXPECT_EQ(host.pane[0], cut ? name : "");
    }
    EXPECT_EQ(names, 5);
    EXPECT_EQ(NameOps(s).size(), 5u);
    // The weekday row: Sunday red and Saturday blue on pale fills.
    for (int c = 0; c < 7; ++c) {
      const int cw = area.right / 7;
      const Rect r{cw * c + 1, 16, cw * (c + 1), 32};
      ASSERT_EQ(s.FindAt(SurfaceOp::Fill, r).size(), 1u);
      EXPECT_EQ(s.FindAt(SurfaceOp::Fill, r)[0].color,
                c == 0 ? kHolidayHeaderFill : c == 6 ? kSaturdayHeaderFill : kBlue);
      EXPECT_EQ(s.FindAt(SurfaceOp::Text, r)[0].color, c == 0 ? kRed : c == 6 ? kBlue : kWhite);
    }
  }

  // Today's band is drawn over the number's line: number and name again
  // on top of it, still red.
  {
    test::ScopedClock clock(D(2026, 5, 6, 10));
    ViewState st = May2026(true);
    RecordingSurface s(kM);
    FakeHost host;
    PaintView(st, s, wide, host);
    const auto& ops = s.ops();
    size_t band = ops.size();
    for (size_t k = 0; k < ops.size(); ++k)
      if (ops[k].kind == SurfaceOp::Fill && ops[k].color == kTodayTint) band = k;
    ASSERT_LT(band, ops.size());
    bool number = false, name = false;
    for (size_t k = band + 1; k < ops.size(); ++k) {
      if (ops[k].kind != SurfaceOp::Text) continue;
      number |= ops[k].text == "6" && ops[k].color == kRed;
      name |= ops[k].text == J("振替休日") && ops[k].color == kRed && Overlaps(ops[k].rect, ops[band].rect);
    }
    EXPECT_TRUE(number);
    EXPECT_TRUE(name);
  }

  // Switched off: the plain calendar, no names, every number black.
  ViewState st = May2026(false);
  RecordingSurface s(kM);
  DrawMonthLayout(st, s, wide, kM);
  EXPECT_TRUE(NameOps(s).empty());
  for (int i = 0; i < 42; ++i) {
    const auto number = NumberOps(s, st.CellTable[i]);
    ASSERT_EQ(number.size(), 1u);
    EXPECT_EQ(number[0].color, kBlack) << st.CellTable[i].date.ToString();
  }
  for (const auto& f : s.Find(SurfaceOp::Fill))
    EXPECT_TRUE(f.color != kHolidayHeaderFill && f.color != kSaturdayHeaderFill);
  FakeHost host;
  OnPress(st, s, host, st.CellTable[7].rect.left + 5, st.CellTable[7].rect.bottom - 3);
  EXPECT_EQ(host.pane[0], "");
}

// The header of each day in the week, day and other users' views: the
// name after "d Www" where the header has room, else the hit testing tells it.
TEST(HolidayMarks, HeadersNameTheHolidayWhereTheyHaveRoom) {
  const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  for (int mode : {WeekMode, DayMode, OtherUsersMode}) {
    for (bool shown : {true, false}) {
      // The narrow one has no room for a name.
      for (int width : {1600, mode == DayMode ? 180 : 420}) {
        SCOPED_TRACE(std::to_string(mode) + (shown ? " shown " : " off ") + std::to_string(width));
        ViewState st;
        st.DrawEnabled = 1;
        st.ViewMode = mode;
        st.SelectedDate = st.AnchorDate = D(2026, 5, mode == DayMode ? 4 : 7);
        st.ShowHolidays = shown;
        RecordingSurface s(kM);
        FakeHost host;
        PaintView(st, s, Rect{0, 0, width, 500}, host);
        // A page printed meanwhile, with room for every name, leaves the
        // screen's headings.
        RecordingSurface paper(kM, true);
        PrintView(st, paper, Rect{0, 0, 3000, 900}, host);
        const int columns = mode == DayMode ? 1 : 7;
        for (int i = 0; i < columns; ++i) {
          const DateTime day = mode == DayMode ? D(2026, 5, 4) : D(2026, 5, 3 + i);
          const int dow = mode == DayMode ? 1 : i;
          ASSERT_EQ(st.CellTable[i].date, day);
          const Rect header = st.Headings[i].rect;
          const std::string plain = std::to_string(day.Day()) + " " + kWeekdays[dow];
          const std::string name = shown ? HolidayOf(day) : "";
          const auto fill = s.FindAt(SurfaceOp::Fill, header);
          const auto text = s.FindAt(SurfaceOp::Text, header);
          ASSERT_EQ(fill.size(), 1u) << i;
          ASSERT_EQ(text.size(), 1u) << i;
          const bool red = shown && (dow == 0 || !name.empty()), blue = shown && dow == 6;
          EXPECT_EQ(fill[0].color, red ? kHolidayHeaderFill : blue ? kSaturdayHeaderFill : kBlue) << i;
          EXPECT_EQ(text[0].color, red ? kRed : blue ? kBlue : kWhite) << i;
          EXPECT_EQ(text[0].align, TextAlign::Center);
          const bool room = width == 1600;
          EXPECT_EQ(text[0].text, !name.empty() && room ? plain + " " + name : plain) << i;
          EXPECT_LE(s.TextWidth(text[0].text), header.right - header.left) << i;
          // Only a name that is not shown comes as a tool tip over the
          // header and in the status pane at a press on its day.
          const std::string hidden = room ? "" : name;
          EXPECT_EQ(HiddenHolidayAt(st, header.left + 3, header.top + 3, true).name, hidden) << i;
          FakeHost press;
          const Rect& cell = st.CellTable[i].rect;
          OnPress(st, s, press, cell.left + 3, cell.bottom - 3);
          EXPECT_EQ(press.pane[0], hidden) << i;
          EXPECT_EQ(st.SelectedDate, day);
        }
      }
    }
  }

  // Today's orange header keeps white text, its holiday name included.
  test::ScopedClock clock(D(2026, 5, 5, 10));
  ViewState st;
  st.DrawEnabled = 1;
  st.ViewMode = WeekMode;
  st.SelectedDate = st.AnchorDate = D(2026, 5, 7);
  st.ShowHolidays = true;
  RecordingSurface s(kM);
  FakeHost host;
  PaintView(st, s, Rect{0, 0, 1600, 500}, host);
  const SurfaceOp last = s.FindAt(SurfaceOp::Text, st.Headings[2].rect).back();
  EXPECT_EQ(last.text, "5 Tue " + J("こどもの日"));
  EXPECT_EQ(last.color, kWhite);
}

// Shown or not, every page keeps its rectangles: cells, items, slots and
// rows are the same, and the drawing differs only in colours and names.
TEST(HolidayMarks, NothingMovesWhenTheyAreShown) {
  std::mt19937 rng(20260503);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const DateTime busy[] = {D(2026, 5, 4), D(2019, 4, 30), D(2026, 9, 22), D(2009, 9, 21), D(2026, 1, 1)};
  int names = 0;
  for (int round = 0; round < 400; ++round) {
    const int mode = round % 4;
    const DateTime day = round % 3 ? busy[pick(0, 4)].AddDays(pick(-5, 5))
                                   : D(pick(1950, 2140), pick(1, 12), pick(1, 28));
    ViewState base;
    base.DrawEnabled = 1;
    base.ViewMode = mode;
    base.SelectedDate = base.AnchorDate = day;
    base.FirstHour = pick(0, 23);
    auto items = [&](int n) {
      std::vector<ScheduleItem> v;
      for (int k = 0; k < n; ++k) {
        const DateTime start = day.AddDays(pick(-20, 20)).AddSeconds(1800 * pick(0, 47));
        ScheduleItem it = pick(0, 4) ? Timed("i" + std::to_string(k), start, start.AddSeconds(1800 * pick(1, 8)))
                                     : AllDay("a" + std::to_string(k), start.DateOnly(), start.DateOnly().AddDays(pick(0, 2)));
        it.UserID = pick(1, 2);
        v.push_back(it);
      }
      return v;
    };
    base.VisibleItems = items(pick(0, 60));
    SortItems(base.VisibleItems, mode);
    if (mode == OtherUsersMode) {
      UserEntry a, b;
      a.UserID = 1, b.UserID = 2;
      base.ReferenceUsers = {a, b};
      base.ReferenceItems = items(pick(0, 30));
    }
    const TextMetrics m{pick(8, 24), pick(4, 12)};
    const Rect area{0, 0, pick(150, 1600), pick(120, 1200)};
    const bool printing = pick(0, 4) == 0;

    ViewState off = base, on = base;
    on.ShowHolidays = true;
    RecordingSurface so(m, printing), sn(m, printing);
    FakeHost host;
    PaintView(off, so, area, host);
    PaintView(on, sn, area, host);
    const std::string where = "round " + std::to_string(round) + " " + day.ToString();

    for (int c = 0; c < kCellTableSize; ++c) {
      ASSERT_EQ(on.CellTable[c].rect, off.CellTable[c].rect) << where;
      ASSERT_EQ(on.CellTable[c].date.LinearSeconds(), off.CellTable[c].date.LinearSeconds()) << where;
    }
    for (int c = 0; c < kDayCells; ++c) ASSERT_EQ(on.Headings[c].rect, off.Headings[c].rect) << where;
    ASSERT_EQ(on.FirstHour, off.FirstHour) << where;
    ASSERT_EQ(on.SlotTop, off.SlotTop) << where;
    ASSERT_EQ(on.SlotRows, off.SlotRows) << where;
    ASSERT_EQ(on.InvertedRect, off.InvertedRect) << where;
    for (size_t j = 0; j < on.VisibleItems.size(); ++j)
      ASSERT_EQ(on.VisibleItems[j].CellRects, off.VisibleItems[j].CellRects) << where;
    for (size_t j = 0; j < on.ReferenceItems.size(); ++j)
      ASSERT_EQ(on.ReferenceItems[j].CellRects, off.ReferenceItems[j].CellRects) << where;
    for (size_t u = 0; u < on.ReferenceUsers.size(); ++u)
      ASSERT_EQ(on.ReferenceUsers[u].RowTop, off.ReferenceUsers[u].RowTop) << where;

    // The same calls in the same places; the only extra ones are red
    // names (or their starts) of the days shown, and a header's text only
    // gains its name.
    std::vector<std::string> shown_names;
    for (int c = 0; c < kDayCells; ++c)
      if (!on.CellTable[c].rect.IsEmpty())
        if (std::string n = HolidayName(on.CellTable[c].date); !n.empty()) shown_names.push_back(n);
    std::vector<SurfaceOp> a, b;
    for (const auto& op : sn.ops())
      if (op.kind != SurfaceOp::TextColor) a.push_back(op);
    for (const auto& op : so.ops())
      if (op.kind != SurfaceOp::TextColor) b.push_back(op);
    size_t j = 0;
    for (const SurfaceOp& op : a) {
      const bool same = j < b.size() && op.kind == b[j].kind && op.rect == b[j].rect &&
                        op.id == b[j].id && op.align == b[j].align &&
                        (op.text == b[j].text || op.text.rfind(b[j].text + " ", 0) == 0);
      if (same) {
        ++j;
        continue;
      }
      ASSERT_EQ(op.kind, SurfaceOp::Text) << where;
      ASSERT_EQ(op.color, kRed) << where;
      bool known = false;
      for (const auto& n : shown_names) known |= !op.text.empty() && n.compare(0, op.text.size(), op.text) == 0;
      ASSERT_TRUE(known) << where << " " << text::ToUtf8Lossy(op.text);
      ++names;
    }
    ASSERT_EQ(j, b.size()) << where;
  }
  // The pages did hold holidays.
  EXPECT_GT(names, 100);
}

}  // namespace
}  // namespace kv
