#include "view/HitTest.h"

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
int ScanItems(std::vector<ScheduleItem>& items, ViewState& state, Surface& s, ViewHost& host,
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

bool InArrow(const ViewState& state, int x, int y) {
  return state.CellTable[kUpArrowCell].rect.Contains(x, y) ||
         state.CellTable[kDownArrowCell].rect.Contains(x, y);
}

}  // namespace

void OnPress(ViewState& state, Surface& s, ViewHost& host, int x, int y) {
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
    host.SetStatusText(0, "");
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

}  // namespace kv
