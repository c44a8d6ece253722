#pragma once
// The calendar layouts and the paint that frames them. Each layout draws
// into the area given, records CellTable entries and every item's
// CellRects for hit testing.
#include <string>

#include "view/Surface.h"
#include "view/ViewHost.h"
#include "view/ViewState.h"

namespace kv {

inline constexpr int kUpArrowBitmap = 142;
inline constexpr int kDownArrowBitmap = 143;
inline constexpr int kArrowSize = 16;

// Today: the day number's band in the month view, the column header in
// the week and day views.
inline constexpr Color kTodayTint = Rgb(255, 214, 128);
inline constexpr Color kTodayHeader = Rgb(224, 96, 0);

// "Sun" .. "Sat", 0 = Sunday.
const char* WeekdayName(int dow);

// The label of an item on `day`: "HH:MM text" for timed items, "text" for
// all-day ones, "+ text" on a later day of a one-off item (only the day of
// the month of Start is compared with that of `day`).
std::string ItemLabel(const ItemShape& item, const std::string& shown_text,
                      const DateTime& day);

// "%d年%d月", and with a line break between year and month.
std::string YearMonthText(int y, int m);
std::string YearMonthTwoLines(int y, int m);

void DrawMonthLayout(ViewState& state, Surface& s, const Rect& area, const TextMetrics& m);
// WeekMode (seven columns) and DayMode (one); may correct FirstHour.
void DrawTimeGridLayout(ViewState& state, Surface& s, const Rect& area, const TextMetrics& m);

// The other users' week: the own row, then one row per entry of
// ReferenceUsers (whose row bounds it records). It draws from the state
// alone: the user list and the items are fetched before the repaint is
// asked for (view/OtherUsersFetch.h), never during the paint.
void DrawOtherUsersLayout(ViewState& state, Surface& s, const Rect& area, const TextMetrics& m);

// A replacement for the built-in other users' layout (tests, or a
// different drawing of that mode).
class OtherUsersLayout {
 public:
  virtual ~OtherUsersLayout() = default;
  virtual void Draw(ViewState& state, Surface& s, const Rect& area, const TextMetrics& m) = 0;
};

// One paint: nothing while DrawEnabled is 0; otherwise clears the day
// cells and every item's CellRects (own and other users'), draws the
// layout of ViewMode, marks today, re-inverts the selected item (not when
// printing) and shows the online state in status pane 1. On paper a month
// is as wide as its seven columns and the page gets a black outer frame.
// other_users replaces the built-in layout of OtherUsersMode when given.
void PaintView(ViewState& state, Surface& s, const Rect& area, ViewHost& host,
               OtherUsersLayout* other_users = nullptr);

// The paint of a printed page. The screen's hit-testing state (CellTable,
// every item's CellRects, the users' rows, InvertedRect, FirstHour, the
// slot grid) is put
// back afterwards, so clicks still meet what the screen shows; when the
// page's paint changed the item arrays themselves, the screen is repainted.
void PrintView(ViewState& state, Surface& page, const Rect& area, ViewHost& host,
               OtherUsersLayout* other_users = nullptr);

}  // namespace kv
