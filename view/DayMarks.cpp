#include "view/DayMarks.h"

#include <algorithm>

#include "model/Holidays.h"
#include "model/Text.h"
#include "view/Layouts.h"

namespace kv {

std::string ShownHolidayName(const ViewState& state, const DateTime& day) {
  if (!state.ShowHolidays || !day.IsValid()) return {};
  return HolidayName(day);
}

Color DayNumberColor(const ViewState& state, const DateTime& day, int dow) {
  if (!state.ShowHolidays) return kBlack;
  if (dow == 0 || !ShownHolidayName(state, day).empty()) return kHolidayRed;
  return dow == 6 ? kSaturdayBlue : kBlack;
}

HeaderColors HeaderColorsOf(const ViewState& state, const DateTime& day, int dow) {
  if (!state.ShowHolidays) return {kBlue, kWhite};
  if (dow == 0 || !ShownHolidayName(state, day).empty()) return {kHolidayHeaderFill, kHolidayRed};
  if (dow == 6) return {kSaturdayHeaderFill, kSaturdayBlue};
  return {kBlue, kWhite};
}

namespace {

// The longest whole-character start of a CP932 text no wider than `width`.
std::string CutToWidth(const Surface& s, const std::string& cp932, int width) {
  if (s.TextWidth(cp932) <= width) return cp932;
  std::string best;
  for (size_t i = 0; i < cp932.size();) {
    const size_t next = i + (text::IsLeadByte(static_cast<unsigned char>(cp932[i])) ? 2 : 1);
    std::string head = cp932.substr(0, next);
    if (s.TextWidth(head) > width) break;
    best = std::move(head);
    i = next;
  }
  return best;
}

}  // namespace

void DrawDayNumber(ViewState& state, Surface& s, int index, const Rect& cell, const DateTime& day,
                   int dow, const TextMetrics& m) {
  const std::string number = std::to_string(day.Day());
  s.SetTextColor(DayNumberColor(state, day, dow));
  s.DrawText(number, cell, TextAlign::Left);
  // The number's line only: the items' lines start below it.
  const Rect line{cell.left, cell.top, cell.right, std::min(cell.top + m.h, cell.bottom)};
  DayHeading& heading = state.Headings[index];
  heading = DayHeading{line, false};
  const std::string name = ShownHolidayName(state, day);
  if (name.empty()) return;
  const Rect room{cell.left + s.TextWidth(number) + std::max(1, m.w / 2), line.top, cell.right - 2,
                  line.bottom};
  const std::string shown = CutToWidth(s, name, room.right - room.left);
  heading.name_cut = shown.size() < name.size();
  if (shown.empty() || room.bottom <= room.top) return;
  s.DrawText(shown, room, TextAlign::Left);  // still in the number's red
}

std::string HeaderLabel(const ViewState& state, const Surface& s, const DateTime& day, int dow,
                        int width, bool* name_cut) {
  std::string label = std::to_string(day.Day()) + " " + WeekdayName(dow);
  const std::string name = ShownHolidayName(state, day);
  // A little air at both ends, so the centred line never touches the frame.
  const bool fits = !name.empty() && s.TextWidth(label + " " + name) <= width - 4;
  if (fits) label += " " + name;
  if (name_cut) *name_cut = !name.empty() && !fits;
  return label;
}

HiddenHoliday HiddenHolidayAt(const ViewState& state, int x, int y, bool headings_only) {
  if (!state.ShowHolidays) return {};
  for (int i = 0; i < kDayCells; ++i) {
    const DayHeading& h = state.Headings[i];
    if (!h.name_cut || h.rect.IsEmpty()) continue;
    if (!h.rect.Contains(x, y) && (headings_only || !state.CellTable[i].rect.Contains(x, y)))
      continue;
    return {ShownHolidayName(state, state.CellTable[i].date), h.rect};
  }
  return {};
}

}  // namespace kv
