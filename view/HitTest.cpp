#include "view/HitTest.h"

#include <algorithm>
#include <vector>

#include "model/Holidays.h"
#include "view/DayMarks.h"
#include "view/Texts.h"

namespace kv {

const std::string& CannotAddForUserText() {
  static const std::string t = Cp932("このユーザには予定を追加できません");
  return t;
}

namespace {

// Moves the inversion to `r`, keeping InvertedRect equal to what is shown.
void InvertOnto(ViewState& state, Surface& s, const Rect& r) {
  if (!state.InvertedRect.IsEmpty()) s.InvertRect(state.InvertedRect);
  s.InvertRect(r);
  state.InvertedRect = r;
}

// Returns the index of the item hit last, or -1.
int ScanItems(std::vector<ViewItem>& items, ViewState& state, Surface& s, ViewHost& host,
              int x, int y) {
  int hit = -1;
  for (size_t i = 0; i < items.size(); ++i) {
    for (const Rect& r : items[i].CellRects) {
      if (!r.Contains(x, y)) continue;
      hit = static_cast<int>(i);
      host.SetStatusText(0, items[i].Subject);
      InvertOnto(state, s, r);
    }
  }
  return hit;
}

// The start of the half-hour slot under (x, y) in the week or day view.
DateTime SlotAt(const ViewState& state, int x, int y) {
  if (state.ViewMode != WeekMode && state.ViewMode != DayMode) return DateTime::Invalid();
  if (state.SlotRows <= 0 || state.SlotHeight <= 0 || y < state.SlotTop) return DateTime::Invalid();
  const int row = (y - state.SlotTop) / state.SlotHeight;
  const int slot = state.FirstSlot + row;
  if (row >= state.SlotRows || slot < 0 || slot >= 48) return DateTime::Invalid();
  const int columns = state.ViewMode == WeekMode ? 7 : 1;
  for (int i = 0; i < columns; ++i) {
    const DayCell& c = state.CellTable[i];
    if (c.rect.Contains(x, y) && c.date.IsValid()) return c.date.DateOnly().AddSeconds(slot * 1800);
  }
  return DateTime::Invalid();
}

bool InArrow(const ViewState& state, int x, int y) {
  return state.CellTable[kUpArrowCell].rect.Contains(x, y) ||
         state.CellTable[kDownArrowCell].rect.Contains(x, y);
}

}  // namespace

void OnPress(ViewState& state, Surface& s, ViewHost& host, int x, int y) {
  state.PressedSlot = InArrow(state, x, y) ? DateTime::Invalid() : SlotAt(state, x, y);
  if (state.ViewMode != DayMode) {
    for (int i = 0; i < kDayCells; ++i) {
      if (!state.CellTable[i].rect.Contains(x, y)) continue;
      for (int j = 0; j < kDayCells; ++j) {
        if (state.CellTable[j].date != state.SelectedDate) continue;
        s.Frame3D(state.CellTable[j].rect, kWhite, kWhite);
        s.Frame3D(state.CellTable[j].rect, kWhite, kBlack);
      }
      s.Frame3D(state.CellTable[i].rect, kRed, kRed);
      state.SelectedDate = state.CellTable[i].date;
    }
  }

  if (state.ViewMode == WeekMode || state.ViewMode == DayMode) {
    if (state.CellTable[kUpArrowCell].rect.Contains(x, y)) {
      if (state.FirstHour != 0) --state.FirstHour;
      host.RequestRepaint(true);
      return;
    }
    if (state.CellTable[kDownArrowCell].rect.Contains(x, y)) {
      ++state.FirstHour;
      host.RequestRepaint(true);
      return;
    }
  }

  state.OwnSelection = ScanItems(state.VisibleItems, state, s, host, x, y);
  state.ReferenceSelection = -1;
  if (state.ViewMode == OtherUsersMode)
    state.ReferenceSelection = ScanItems(state.ReferenceItems, state, s, host, x, y);

  if (state.OwnSelection == -1 && state.ReferenceSelection == -1) {
    if (!state.InvertedRect.IsEmpty()) s.InvertRect(state.InvertedRect);
    state.InvertedRect = Rect{};
    // A holiday whose name the day's heading had no room for is named here.
    host.SetStatusText(0, HiddenHolidayAt(state, x, y, false).name);
  }
}

void OnDoubleClick(ViewState& state, Surface& s, ViewHost& host, ItemOperations& ops, int x,
                   int y) {
  OnPress(state, s, host, x, y);
  switch (state.ViewMode) {
    case MonthMode:
      if (state.OwnSelection >= 0)
        ops.EditOwnItem(state.OwnSelection);
      else
        ops.AddOwnItem(state.SelectedDate);
      break;
    case OtherUsersMode: {
      if (state.OwnSelection >= 0) {
        ops.EditOwnItem(state.OwnSelection);
        break;
      }
      if (state.ReferenceSelection >= 0) {
        ops.OpenReferenceItem(state.ReferenceSelection);
        break;
      }
      const UserEntry* row = nullptr;
      for (const UserEntry& u : state.ReferenceUsers) {
        if (u.RowTop < y && y < u.RowBottom) {
          row = &u;
          break;
        }
      }
      if (!row)
        ops.AddOwnItem(state.SelectedDate);
      else if (row->Writable == 1)
        ops.AddItemForUser(std::string(row->UserName));  // a copy outlives the list
      else
        host.ShowMessage(CannotAddForUserText());
      break;
    }
    case WeekMode:
    case DayMode:
      if (InArrow(state, x, y)) return;
      if (state.OwnSelection >= 0)
        ops.EditOwnItem(state.OwnSelection);
      else
        ops.AddOwnItem(state.SelectedDate);
      break;
    default:
      break;
  }
  host.RequestRepaint(true);
}

namespace {

// The selected day's cell of the last drawing, or nullptr.
const DayCell* SelectedCell(const ViewState& state) {
  if (state.ViewMode == DayMode) return &state.CellTable[0];
  for (int i = 0; i < kDayCells; ++i)
    if (!state.CellTable[i].rect.IsEmpty() && state.CellTable[i].date == state.SelectedDate)
      return &state.CellTable[i];
  return nullptr;
}

struct Drawn {
  int item;
  Rect rect;
};

// The own items drawn in `cell`, top to bottom, then left to right.
std::vector<Drawn> ItemsIn(const ViewState& state, const Rect& cell) {
  std::vector<Drawn> out;
  for (size_t i = 0; i < state.VisibleItems.size(); ++i)
    for (const Rect& r : state.VisibleItems[i].CellRects)
      if (!r.IsEmpty() && cell.Contains(r.left, r.top)) out.push_back({static_cast<int>(i), r});
  std::stable_sort(out.begin(), out.end(), [](const Drawn& a, const Drawn& b) {
    return a.rect.top != b.rect.top ? a.rect.top < b.rect.top : a.rect.left < b.rect.left;
  });
  return out;
}

bool StepThroughDay(ViewState& state, Surface& s, ViewHost& host, bool forward) {
  const DayCell* cell = SelectedCell(state);
  if (!cell || cell->rect.IsEmpty()) return true;
  const std::vector<Drawn> drawn = ItemsIn(state, cell->rect);
  if (drawn.empty()) return true;
  const int n = static_cast<int>(drawn.size());
  // Where the selection stands now: its inverted line, else any of its lines.
  int at = -1;
  for (int k = 0; k < n && at < 0; ++k)
    if (drawn[k].item == state.OwnSelection && drawn[k].rect == state.InvertedRect) at = k;
  for (int k = 0; k < n && at < 0; ++k)
    if (drawn[k].item == state.OwnSelection) at = k;
  const int next = at < 0 ? (forward ? 0 : n - 1) : (at + (forward ? 1 : n - 1)) % n;
  const Drawn& d = drawn[next];
  state.OwnSelection = d.item;
  state.ReferenceSelection = -1;
  host.SetStatusText(0, state.VisibleItems[d.item].Subject);
  InvertOnto(state, s, d.rect);
  return true;
}

}  // namespace

namespace {

// A day reached by the keys says its holiday in the message pane, as a
// press does where the header has no room for it.
void SayHoliday(const ViewState& state, ViewHost& host) {
  host.SetStatusText(0, state.ShowHolidays ? HolidayName(state.SelectedDate) : std::string());
}

}  // namespace

bool OnKey(ViewState& state, Surface& s, ViewHost& host, ItemOperations& ops, ViewCommands& nav,
           ViewKey key) {
  const int mode = state.ViewMode;
  const bool grid = mode == WeekMode || mode == DayMode;
  if (mode != MonthMode && !grid) return false;
  switch (key) {
    case ViewKey::Left:
    case ViewKey::Right:
      nav.MoveDays(key == ViewKey::Left ? -1 : 1);
      SayHoliday(state, host);
      return true;
    case ViewKey::Up:
    case ViewKey::Down:
      if (mode == MonthMode) {
        nav.MoveDays(key == ViewKey::Up ? -7 : 7);
        SayHoliday(state, host);
      } else {
        // As the arrows at the grid's edge; the layout keeps the last
        // hour on the page.
        if (key == ViewKey::Up && state.FirstHour > 0) --state.FirstHour;
        if (key == ViewKey::Down && state.FirstHour < 23) ++state.FirstHour;
        host.RequestRepaint(true);
      }
      return true;
    case ViewKey::Enter:
      if (state.OwnSelection >= 0)
        ops.EditOwnItem(state.OwnSelection);
      else
        ops.AddOwnItem(state.SelectedDate);
      host.RequestRepaint(true);
      return true;
    case ViewKey::Tab:
    case ViewKey::BackTab:
      return StepThroughDay(state, s, host, key == ViewKey::Tab);
  }
  return false;
}

}  // namespace kv
