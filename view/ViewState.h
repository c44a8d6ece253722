#pragma once
// The calendar's shared state: one object, held by the main frame and
// handed to the view, the navigation commands and the item operations.
#include <array>
#include <string>
#include <vector>

#include "model/ScheduleItem.h"
#include "store/ItemStore.h"
#include "view/ViewItem.h"

namespace kv {

enum ViewModes : int { MonthMode = 0, WeekMode = 1, DayMode = 2, OtherUsersMode = 3 };

struct DayCell {
  CellRect rect;
  DateTime date;
};

// Where a drawing wrote a day's number (the top line of a month cell) or
// its column header, and whether the day's holiday name had to be cut or
// left out there.
struct DayHeading {
  CellRect rect;
  bool name_cut = false;
};

inline constexpr int kDayCells = 42;
inline constexpr int kUpArrowCell = 42;
inline constexpr int kDownArrowCell = 43;
inline constexpr int kCellTableSize = 44;

struct ViewState {
  int ViewMode = MonthMode;
  DateTime SelectedDate;  // 00:00:00
  DateTime AnchorDate;
  int FirstHour = 9;
  int OwnSelection = -1;
  int ReferenceSelection = -1;
  ViewItemList VisibleItems;
  // Alarms due soon: shapes and rows only; the dispatcher reads the whole
  // item from the store when one rings.
  ViewItemList AlarmCandidates;
  std::vector<UserEntry> ReferenceUsers;
  ViewItemList ReferenceItems;
  // The own row's name in OtherUsersMode: the server's display name of
  // the signed-in user, empty when the server did not list them.
  std::string OwnDisplayName;
  std::array<DayCell, kCellTableSize> CellTable{};
  // The heading of each day cell of the last drawing, by CellTable index.
  std::array<DayHeading, kDayCells> Headings{};
  CellRect InvertedRect{};
  // Where the week or day layout drew its half-hour slots (rows of
  // SlotHeight from SlotTop, the first one being slot FirstSlot of the
  // day); SlotRows 0 when no time grid is shown.
  int SlotTop = 0;
  int SlotHeight = 0;
  int SlotRows = 0;
  int FirstSlot = 0;
  // The start of the half-hour slot last pressed in the week or day view;
  // invalid once a press met no slot or the page moved. A new item added
  // on that day starts there.
  DateTime PressedSlot = DateTime::Invalid();
  int DrawEnabled = 0;
  // Sundays and holidays in red, Saturdays in blue, holiday names. Off,
  // the layouts draw the plain calendar; the frame sets it from the
  // settings (表示 → 祝日を表示, on unless turned off).
  bool ShowHolidays = false;
  int RefreshReferences = 1;
  int Online = 0;
  // The server's user list could not be had for the other users' week:
  // its rows say so instead of looking like a week with nothing planned.
  bool OthersUnreachable = false;

  // Start-up values, with today from the process clock.
  static ViewState Initial();

  // The selected items; nullptr when the index is outside its array.
  ViewItem* SelectedOwnItem();
  const ViewItem* SelectedOwnItem() const;
  const ViewItem* SelectedReferenceItem() const;
};

// No drawing while an operation rebuilds the lists or waits for the
// server; drawing resumes on every way out.
class DrawPause {
 public:
  explicit DrawPause(ViewState& s) : s_(s) { s_.DrawEnabled = 0; }
  ~DrawPause() { s_.DrawEnabled = 1; }
  DrawPause(const DrawPause&) = delete;
  DrawPause& operator=(const DrawPause&) = delete;

 private:
  ViewState& s_;
};

// Sort order of VisibleItems: by Start in MonthMode, longest first in the
// other modes. -1, 0 or 1; invalid dates compare equal.
int CompareItems(const ItemShape& a, const ItemShape& b, int view_mode);

// Sorts by CompareItems without relying on it being a strict weak order
// (an invalid date makes it not one): items whose key cannot be formed keep
// their store order behind the others.
void SortItems(std::vector<ScheduleItem>& items, int view_mode);
void SortItems(std::vector<ViewItem>& items, int view_mode);

// Row-by-row reading of the own item table (ItemStore has this shape).
class ItemRows {
 public:
  virtual ~ItemRows() = default;
  virtual int ReadFirstItem(ScheduleItem& out) = 0;
  virtual int ReadNextItem(ScheduleItem& out) = 0;
};

// Rebuilds VisibleItems (the load window around AnchorDate's month, every
// recurring item) and AlarmCandidates (alarms due before now + 2 hours).
// The own selection follows its item by Index across the reload, since a
// re-sort would otherwise leave the index on another item. Returns 1.
int LoadVisibleItems(ViewState& state, ItemRows& rows);

}  // namespace kv
