#pragma once
// Sundays and holidays in red, Saturdays in blue, and the holidays' names,
// for the day numbers and headers of every layout. Nothing of it while
// ViewState::ShowHolidays is off: the layouts then draw as they always did.
#include <string>

#include "view/Surface.h"
#include "view/ViewState.h"

namespace kv {

inline constexpr Color kHolidayRed = kRed;
inline constexpr Color kSaturdayBlue = kBlue;
// Header backgrounds that red and blue text can be read on.
inline constexpr Color kHolidayHeaderFill = Rgb(255, 226, 226);
inline constexpr Color kSaturdayHeaderFill = Rgb(222, 232, 255);

// The name of the holiday on `day` (CP932) while holidays are shown, else "".
std::string ShownHolidayName(const ViewState& state, const DateTime& day);

// The colour of the day number of `day`, whose weekday is dow (0 = Sunday).
Color DayNumberColor(const ViewState& state, const DateTime& day, int dow);

struct HeaderColors {
  Color fill;
  Color text;
};
// A column header: white on blue, or dark on a pale fill for Saturdays,
// Sundays and holidays. An invalid day stands for its weekday alone (the
// month's weekday row).
HeaderColors HeaderColorsOf(const ViewState& state, const DateTime& day, int dow);

// The day number at the top left of a month cell (CellTable index `index`)
// in its colour, and the holiday's name after it on the same line, cut
// at a character where the cell ends; recorded as the cell's heading.
void DrawDayNumber(ViewState& state, Surface& s, int index, const Rect& cell, const DateTime& day,
                   int dow, const TextMetrics& m);

// "d Www" of a column header `width` wide, with the holiday's name after
// it when the whole line fits. name_cut tells whether a name was left out.
std::string HeaderLabel(const ViewState& state, const Surface& s, const DateTime& day, int dow,
                        int width, bool* name_cut = nullptr);

// The day whose cell or heading holds (x, y) in the last drawing, when its
// holiday name did not show in full: the name (CP932) and the heading.
// `headings_only`: only over the heading itself (the tool tip).
struct HiddenHoliday {
  std::string name;
  Rect heading{};
};
HiddenHoliday HiddenHolidayAt(const ViewState& state, int x, int y, bool headings_only);

}  // namespace kv
