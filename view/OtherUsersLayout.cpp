#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/Recurrence.h"
#include "view/DayMarks.h"
#include "view/Layouts.h"
#include "view/Texts.h"

namespace kv {

namespace {

const std::string& PrivateText() {
  static const std::string t = Cp932("非公開※");
  return t;
}

const std::string& UserNameHeader() {
  static const std::string t = Cp932("ユーザ名");
  return t;
}

const std::string& UnreachableText() {
  static const std::string t =
      Cp932("サーバーに接続できないため、ほかのユーザの予定を表示できません。");
  return t;
}

}  // namespace

void DrawOtherUsersLayout(ViewState& state, Surface& s, const Rect& area, const TextMetrics& tm) {
  const int L = area.left, T = area.top, R = area.right, B = area.bottom;
  const int h = tm.h;
  const DateTime S = state.SelectedDate;
  if (!S.IsValid()) return;  // no week to build around
  const int Y = S.Year(), M = S.Month(), Dd = S.Day();
  const int dow = DayOfWeekOf(Y, M, Dd);

  const int nw = 10 * tm.w;
  const int cw = std::max(0, (R - L - nw) / 7);
  // Unreachable: the own row, and one row of notice where the others were.
  const bool notice = state.OthersUnreachable && state.ReferenceUsers.empty();
  const int users = static_cast<int>(state.ReferenceUsers.size()) + 1 + (notice ? 1 : 0);
  const int rh = std::max(0, (B - T - 2 * h) / users);

  if (state.AnchorDate.IsValid()) {
    const Rect title{L, T + 1, R, T + h};
    s.SetTextColor(kBlue);
    s.Frame3D(title, kWhite, kBlack);
    s.DrawText(YearMonthText(state.AnchorDate.Year(), state.AnchorDate.Month()), title,
               TextAlign::Left);
  }
  s.SetTextColor(kWhite);

  const Rect name_header{L, T + h, L + nw, T + 2 * h};
  s.FillRect(name_header, kBlue);
  s.DrawText(UserNameHeader(), name_header, TextAlign::Center);

  DateTime days[8];
  for (int i = 0; i <= 7; ++i) days[i] = OffsetDayToDate(Y, M, Dd, i - dow);
  for (int i = 0; i < 7; ++i) {
    const Rect r{L + nw + cw * i + 1, T + h, L + nw + cw * (i + 1), T + 2 * h};
    const HeaderColors colors = HeaderColorsOf(state, days[i], i);
    bool name_cut = false;
    s.FillRect(r, colors.fill);
    s.SetTextColor(colors.text);
    s.DrawText(HeaderLabel(state, s, days[i], i, r.right - r.left, &name_cut), r,
               TextAlign::Center);
    state.Headings[i] = DayHeading{r, name_cut};
    state.CellTable[i] =
        DayCell{Rect{r.left, T + 2 * h, r.right, T + 2 * h + rh * (users - (notice ? 1 : 0))},
                days[i]};
  }

  // The items of each reference row, in array order, found once instead of
  // scanning every item for every row.
  std::unordered_map<int32_t, std::vector<int>> by_user;
  for (size_t j = 0; j < state.ReferenceItems.size(); ++j)
    by_user[state.ReferenceItems[j].UserID].push_back(static_cast<int>(j));
  std::vector<int> own(state.VisibleItems.size());
  for (size_t j = 0; j < own.size(); ++j) own[j] = static_cast<int>(j);
  static const std::vector<int> kNone;

  if (notice) {
    const Rect row{L, T + 2 * h + rh, R, T + 2 * h + 2 * rh};
    s.Frame3D(row, kWhite, kBlack);
    s.SetTextColor(kBlack);
    const int mid = (row.top + row.bottom) / 2;
    s.DrawText(UnreachableText(), Rect{row.left + 4, mid - h / 2, row.right - 4, mid + h - h / 2},
               TextAlign::Center);
  }

  for (int u = 0; u < users - (notice ? 1 : 0); ++u) {
    const int top = T + 2 * h + rh * u;
    const int bottom = T + 2 * h + rh * (u + 1);
    const Rect name_cell{L, top, L + nw, bottom};
    s.Frame3D(name_cell, kWhite, kBlack);
    s.SetTextColor(kBlue);
    const std::vector<int>* indices = &own;
    std::vector<ViewItem>* items = &state.VisibleItems;
    if (u == 0) {
      s.DrawText(state.OwnDisplayName, name_cell, TextAlign::Left);
    } else {
      UserEntry& ref = state.ReferenceUsers[u - 1];
      ref.RowTop = top;
      ref.RowBottom = bottom;
      s.DrawText(ref.DisplayName, name_cell, TextAlign::Left);
      auto found = by_user.find(ref.UserID);
      indices = found == by_user.end() ? &kNone : &found->second;
      items = &state.ReferenceItems;
    }

    for (int i = 0; i < 7; ++i) {
      const Rect cell{L + nw + cw * i, top, L + nw + cw * (i + 1), bottom};
      s.Frame3D(cell, kWhite, kBlack);
      int k = 0;
      for (int j : *indices) {
        ViewItem& it = (*items)[j];
        if (!Occurs(it, days[i], days[i + 1])) continue;
        const Rect text{cell.left + 2, top + h * k, cell.right - 2, top + h * (k + 1)};
        if (text.bottom > bottom - 6) {
          // Kept inside the row, so a row shorter than the bar stays clean.
          const Rect bar{cell.left + 1, std::max(top, bottom - 6), cell.right - 1, bottom - 1};
          if (bar.bottom > bar.top && bar.right > bar.left) s.FillRect(bar, kYellow);
          break;
        }
        const bool masked = u > 0 && it.Private == 1;
        s.SetTextColor(it.Color);
        s.DrawText(ItemLabel(it, masked ? PrivateText() : it.Subject, days[i]), text,
                   TextAlign::Left);
        it.AddCellRect(text);
        ++k;
      }
    }
  }

  s.Frame3D(state.CellTable[dow].rect, kRed, kRed);
}

}  // namespace kv
