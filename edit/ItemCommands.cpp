#include "edit/ItemCommands.h"

#include <algorithm>

#include "edit/ItemClipboard.h"
#include "model/Clock.h"
#include "model/Recurrence.h"
#include "model/SeriesCut.h"
#include "view/StoreLoad.h"
#include "view/Texts.h"

namespace kv {

namespace {

// The user ID this client gives every item it creates or edits as its own.
constexpr int32_t kOwnUserId = 0;

#define KV_MSG(name, utf8)                  \
  const std::string& name() {               \
    static const std::string t = Cp932(utf8); \
    return t;                               \
  }
KV_MSG(NothingSelected, "何も選択されていません。")
KV_MSG(EndBeforeStart, "終了時刻が開始時刻よりも前に設定されています。")
KV_MSG(NoSubject, "件名に何も指定されていません。")
KV_MSG(ServerFailed, "サーバーで処理に失敗し、データを更新できませんでした")
KV_MSG(CannotDelete, "このユーザのデータは削除できません")
KV_MSG(BadDate, "日時の指定が正しくありません。")
KV_MSG(NotSaved, "予定をデーターベースに保存できませんでした。")
KV_MSG(NotDeleted, "予定をデーターベースから削除できませんでした。")
KV_MSG(StoreUnreadable, "データーベースを読み取れないため、予定を保存できません。")
KV_MSG(NothingToUndo, "元に戻せる操作はありません。")
KV_MSG(UndoRefused, "この予定はその後ほかで変更されているため、元に戻せません。")
#undef KV_MSG

// The tombstone carries the deletion time, so the purge of old tombstones
// cannot remove it before it has gone up, and the owner's clients see it
// as newer than what they hold.
ScheduleItem Tombstone(const ScheduleItem& item) {
  ScheduleItem rec = item;
  rec.Updated = Now();
  rec.SyncFlag = SyncDeleted;
  return rec;
}

// A version as this client writes it now: stamped, its next alarm found.
ScheduleItem Stamped(const ScheduleItem& item) {
  ScheduleItem rec = item;
  rec.Updated = Now();
  if (rec.Alarm != -1) rec.AlarmTime = NextAlarmTime(rec);
  rec.SyncFlag = SyncClean;
  return rec;
}

SeriesCut Cut(const ScheduleItem& item, DeleteScope scope, const DateTime& day) {
  if (scope == DeleteScope::ThisDay) return CutDay(item, day);
  if (scope == DeleteScope::FromThisDay) return CutFromDay(item, day);
  SeriesCut all;
  all.result = SeriesCut::Result::Removed;
  return all;
}

// Other clients take a version only when it is more than 10 s newer than
// the one they hold, and the server lets a deletion win a tie: an undo must
// be newer than the change it takes back by more than that.
constexpr int64_t kUndoNewerBy = 11;

// Items added for other users cannot be checked against their stores, so
// at least this process never hands out one Index twice.
DateTime NextReferenceIndex() {
  static DateTime last = DateTime::Invalid();
  DateTime now = Now();
  if (last.IsValid() && !(now > last)) now = last.AddSeconds(1);
  last = now;
  return now;
}

}  // namespace

ItemCommands::~ItemCommands() = default;

std::optional<ScheduleItem> ItemCommands::OwnItem() const {
  const ViewItem* it = c_.state.SelectedOwnItem();
  if (!it || it->SyncFlag == SyncDeleted) return std::nullopt;
  return WholeItem(*it, c_.store);
}

std::optional<ScheduleItem> ItemCommands::ReferenceItem() const {
  const ViewItem* it = c_.state.SelectedReferenceItem();
  if (!it) return std::nullopt;
  return WholeItem(*it, c_.store);
}

const UserEntry* ItemCommands::WritableUser(int32_t user_id) const {
  for (const UserEntry& u : c_.state.ReferenceUsers)
    if (u.UserID == user_id && u.Writable == 1) return &u;
  return nullptr;
}

std::string ItemCommands::Check(const ItemForm& form, bool order_checked) const {
  if (auto m = CheckFormFields(form)) return *m;
  const FormInstants in = BuildInstants(form);
  if (!in.start.IsValid() || !in.end.IsValid() || !in.range_start.IsValid() ||
      !in.range_end.IsValid())
    return BadDate();
  if (order_checked && in.start > in.end) return EndBeforeStart();
  if (form.repeat.RepType != 0 && in.range_start > in.range_end) return EndBeforeStart();
  if (form.subject.empty()) return NoSubject();
  return {};
}

bool ItemCommands::Refused(const ItemForm& form, bool order_checked) {
  const std::string m = Check(form, order_checked);
  if (!m.empty()) c_.messages.ShowMessage(m);
  return !m.empty();
}

ScheduleItem ItemCommands::Build(const ItemForm& form) const {
  const FormInstants in = BuildInstants(form);
  ScheduleItem r;
  r.UserID = kOwnUserId;
  r.Subject = form.subject;
  r.Desc = form.desc;
  r.Place = form.place;
  r.Execute = form.execute;
  r.Private = form.private_flag;
  r.Color = form.color;
  r.Type = form.day_type == 1 ? 1 : 0;
  r.Start = in.start;
  r.End = in.end;
  r.RepType = form.repeat.RepType;
  r.RepX = form.repeat.RepX;
  r.RepY = form.repeat.RepY;
  r.RepZ = form.repeat.RepZ;
  r.RepStart = in.range_start;
  r.RepEnd = in.range_end;
  r.Alarm = -1;
  if (form.alarm_on == 1) {
    // Check() has refused a unit or size AlarmSeconds cannot take.
    r.Alarm = AlarmSeconds(form.alarm_number, form.alarm_unit).value_or(-1);
    if (r.Alarm != -1) r.AlarmTime = NextAlarmTime(r);
  }
  r.Updated = Now();
  r.SyncFlag = SyncClean;
  return r;
}

ScheduleItem ItemCommands::Rebuild(const ItemForm& form, const ScheduleItem& old) const {
  ScheduleItem rec = Build(form);
  rec.Index = old.Index;
  rec.Attr1 = old.Attr1;
  rec.Attr2 = old.Attr2;
  rec.Attr3 = old.Attr3;
  rec.Attr4 = old.Attr4;
  rec.Attr5 = old.Attr5;
  return rec;
}

bool ItemCommands::NewIndex(ScheduleItem& rec) {
  rec.Index = c_.store.UniqueIndex(Now());
  if (rec.Index.IsValid()) return true;
  c_.messages.ShowMessage(StoreUnreadable());
  return false;
}

bool ItemCommands::SendAndStore(ScheduleItem& rec, bool added) {
  const int sent = added ? c_.server.AddItem(rec) : c_.server.UpdateItem(rec);
  rec.SyncFlag = sent == 1 ? SyncClean : SyncPending;
  if (added ? c_.store.InsertItem(rec) : c_.store.UpdateItemByIndex(rec)) return true;
  c_.messages.ShowMessage(NotSaved());
  return false;
}

void ItemCommands::Reload() {
  if (c_.reload) c_.reload();
}

void ItemCommands::Record(UndoStep step) {
  if (c_.undo) c_.undo->Record(std::move(step));
}

void ItemCommands::Approve(const ScheduleItem& saved, const std::string& held) {
  // Only a text the user typed or chose here is theirs: one the item
  // already held may have come from the server or a colleague, and keeps
  // whatever answer it had.
  if (c_.approvals && !saved.Execute.empty() && saved.Execute != held)
    c_.approvals->Remember(saved.Index, saved.Execute, true);
}

void ItemCommands::AddOwnItem() { AddOwnItem(c_.state.SelectedDate); }

void ItemCommands::AddOwnItem(const DateTime& day) {
  ItemForm form = DefaultForm(day, c_.state.PressedSlot);
  // A failed check shows its message and opens the dialog again with
  // everything that was entered.
  while (c_.dialogs.EditItem(form)) {
    DrawPause pause(c_.state);
    if (Refused(form, true)) continue;
    ScheduleItem rec = Build(form);
    if (!NewIndex(rec)) continue;
    if (SendAndStore(rec, true)) {
      Approve(rec, {});
      Record({{std::nullopt, rec}});
    }
    Reload();
    return;
  }
}

void ItemCommands::EditOwnItem() {
  const auto selected = OwnItem();
  if (!selected) {
    c_.messages.ShowMessage(NothingSelected());
    return;
  }
  const ScheduleItem old = *selected;
  ItemForm form = FormFromItem(old);
  while (c_.dialogs.EditItem(form)) {
    if (Refused(form, true)) continue;
    // A paint in the other users' mode would ask the server itself while
    // this request is still out.
    DrawPause pause(c_.state);
    ScheduleItem rec = Rebuild(form, old);
    if (SendAndStore(rec, false)) {
      Approve(rec, old.Execute);
      Record({{old, rec}});
    }
    Reload();
    return;
  }
}

void ItemCommands::DeleteSelectedItem() { DeleteSelected(false); }

std::optional<DeleteScope> ItemCommands::AskScope(const ScheduleItem& item) {
  if (item.RepType == 0) return DeleteScope::All;
  const DeleteScope scope = c_.dialogs.AskDeleteScope(item, c_.state.SelectedDate);
  if (scope == DeleteScope::Cancel) return std::nullopt;
  return scope;
}

bool ItemCommands::DeleteSelected(bool cut) {
  ItemClipboard& clipboard = ItemClipboard::Instance();
  // Copies: a repaint while the question is open may reload the lists.
  const DateTime day = c_.state.SelectedDate;
  if (const auto own = OwnItem()) {
    const ScheduleItem item = *own;
    const auto scope = AskScope(item);
    if (!scope) return false;
    if (cut) clipboard.Put(item, kOwnUserId);
    DeleteOwn(item, *scope, day);
  } else if (const auto ref = ReferenceItem()) {
    const ScheduleItem item = *ref;
    const UserEntry* user = WritableUser(item.UserID);
    if (!user) {
      if (cut) clipboard.Put(item, item.UserID);
      c_.messages.ShowMessage(CannotDelete());
      return true;
    }
    const std::string name = user->UserName;
    const auto scope = AskScope(item);
    if (!scope) return false;
    if (cut) clipboard.Put(item, item.UserID);
    DeleteReference(item, name, *scope, day);
  } else {
    c_.messages.ShowMessage(NothingSelected());
    return true;
  }
  // The pane named the item that was pressed; it may be gone now.
  if (c_.status) c_.status->SetStatusText(0, "");
  return true;
}

void ItemCommands::DeleteOwn(const ScheduleItem& item, DeleteScope scope, const DateTime& day) {
  DrawPause pause(c_.state);
  const SeriesCut cut = Cut(item, scope, day);
  if (cut.result == SeriesCut::Result::Unchanged) return;
  if (cut.result == SeriesCut::Result::Removed) {
    const ScheduleItem rec = Tombstone(item);
    c_.server.DeleteItem(rec);  // a failed request goes up with the next synchronisation
    if (c_.store.UpdateItemByIndex(rec))
      Record({{item, rec}});
    else
      c_.messages.ShowMessage(NotDeleted());
    Reload();
    return;
  }
  // The later occurrences go up first: a failure between the two requests
  // leaves a day twice on the server rather than none.
  ScheduleItem kept = Stamped(cut.kept);
  std::optional<ScheduleItem> rest;
  if (cut.rest) {
    rest = Stamped(*cut.rest);
    if (!NewIndex(*rest)) {
      Reload();
      return;
    }
    rest->SyncFlag = c_.server.AddItem(*rest) == 1 ? SyncClean : SyncPending;
  }
  kept.SyncFlag = c_.server.UpdateItem(kept) == 1 ? SyncClean : SyncPending;
  // Both rows or neither.
  const bool stored = c_.store.BeginBatch() && (!rest || c_.store.InsertItem(*rest)) &&
                      c_.store.UpdateItemByIndex(kept) && c_.store.CommitBatch();
  if (stored) {
    UndoStep step{{item, kept}};
    if (rest) step.push_back({std::nullopt, *rest});
    Record(std::move(step));
  } else {
    c_.store.AbortBatch();
    c_.messages.ShowMessage(NotSaved());
  }
  Reload();
}

void ItemCommands::DeleteReference(const ScheduleItem& item, const std::string& user,
                                   DeleteScope scope, const DateTime& day) {
  DrawPause pause(c_.state);
  const SeriesCut cut = Cut(item, scope, day);
  if (cut.result == SeriesCut::Result::Removed) {
    c_.server.DeleteItemFor(user, Tombstone(item));
  } else if (cut.result == SeriesCut::Result::Changed) {
    bool done = true;
    if (cut.rest) {
      ScheduleItem rest = Stamped(*cut.rest);
      rest.Index = NextReferenceIndex();
      done = c_.server.AddItemFor(user, rest) == 1;
    }
    if (done) done = c_.server.UpdateItemFor(user, Stamped(cut.kept)) == 1;
    if (!done) c_.messages.ShowMessage(ServerFailed());
  }
  c_.state.RefreshReferences = 1;
}

void ItemCommands::EditReferenceItem() {
  DrawPause pause(c_.state);
  const auto selected = ReferenceItem();
  if (!selected) {
    c_.messages.ShowMessage(NothingSelected());
    return;
  }
  const ScheduleItem old = *selected;
  if (old.Private == 1) return;
  ItemForm form = FormFromItem(old);
  const UserEntry* user = WritableUser(old.UserID);
  if (!user) {
    c_.dialogs.ViewItem(form);
    return;
  }
  const std::string name = user->UserName;
  while (c_.dialogs.EditItem(form)) {
    if (Refused(form, true)) continue;
    ScheduleItem rec = Rebuild(form, old);
    rec.UserID = old.UserID;
    if (c_.server.UpdateItemFor(name, rec) != 1) c_.messages.ShowMessage(ServerFailed());
    c_.state.RefreshReferences = 1;
    return;
  }
}

void ItemCommands::AddReferenceItem(std::string user_name) {
  ItemForm form = DefaultForm(c_.state.SelectedDate);
  while (c_.dialogs.EditItem(form)) {
    DrawPause pause(c_.state);
    if (Refused(form, true)) continue;
    ScheduleItem rec = Build(form);
    rec.Index = NextReferenceIndex();
    if (c_.server.AddItemFor(user_name, rec) != 1) c_.messages.ShowMessage(ServerFailed());
    c_.state.RefreshReferences = 1;
    return;
  }
}

void ItemCommands::CopySelectedItem() {
  ItemClipboard& clipboard = ItemClipboard::Instance();
  if (const auto own = OwnItem())
    clipboard.Put(*own, kOwnUserId);
  else if (const auto ref = ReferenceItem())
    clipboard.Put(*ref, ref->UserID);
  else
    c_.messages.ShowMessage(NothingSelected());
}

void ItemCommands::PasteItem() {
  const ItemClipboard& clipboard = ItemClipboard::Instance();
  if (clipboard.IsEmpty()) return;
  const ScheduleItem& src = clipboard.Item();
  const DateTime day = c_.state.SelectedDate;
  if (!src.Start.IsValid() || !src.End.IsValid() || !day.IsValid()) {
    c_.messages.ShowMessage(BadDate());
    return;
  }
  DrawPause pause(c_.state);
  // The clipboard holds only what a paste takes over.
  ScheduleItem rec = src;
  rec.UserID = kOwnUserId;
  // Same time of day and length, on the selected day; the recurrence
  // range stays where it was.
  rec.Start = day.DateOnly().AddSeconds(src.Start.SecondsOfDay());
  rec.End = rec.Start.AddSeconds(src.End.LinearSeconds() - src.Start.LinearSeconds());
  if (!NewIndex(rec)) return;
  rec.Updated = Now();
  if (rec.Alarm != -1) rec.AlarmTime = NextAlarmTime(rec);
  rec.SyncFlag = SyncClean;
  // A pasted program may come from another user's item: never approved here.
  if (SendAndStore(rec, true)) Record({{std::nullopt, rec}});
  Reload();
}

void ItemCommands::EditCommand() {
  if (OwnItem())
    EditOwnItem();
  else if (ReferenceItem())
    EditReferenceItem();
  else
    c_.messages.ShowMessage(NothingSelected());
}

void ItemCommands::DeleteCommand() {
  // A cancelled question leaves the selection for another try.
  if (DeleteSelected(false)) c_.state.OwnSelection = -1;
}

void ItemCommands::CutCommand() {
  // Nothing selected is told once, not by both halves.
  if (!OwnItem() && !ReferenceItem()) {
    c_.messages.ShowMessage(NothingSelected());
    return;
  }
  DeleteSelected(true);
}

void ItemCommands::UndoCommand() {
  std::optional<UndoStep> step = c_.undo ? c_.undo->Take() : std::nullopt;
  if (!step) {
    c_.messages.ShowMessage(NothingToUndo());
    return;
  }
  DrawPause pause(c_.state);
  std::vector<ItemStore::ItemKey> keys;
  if (!c_.store.ReadItemKeys(keys)) {
    c_.undo->Record(std::move(*step));
    c_.messages.ShowMessage(StoreUnreadable());
    return;
  }
  // Every item must still be the version this change left: one that a
  // synchronisation brought down since is never overwritten. Such a step
  // can never be undone, so it is dropped.
  DateTime stamp = Now();
  for (const UndoEntry& e : *step) {
    auto row = std::find_if(keys.begin(), keys.end(),
                            [&](const ItemStore::ItemKey& k) { return k.Index == e.after.Index; });
    if (row == keys.end() || row->Updated != e.after.Updated) {
      c_.messages.ShowMessage(UndoRefused());
      return;
    }
    for (const DateTime& was : {e.after.Updated, e.before ? e.before->Updated : e.after.Updated}) {
      const DateTime newer = was.AddSeconds(kUndoNewerBy);
      if (newer > stamp) stamp = newer;
    }
  }
  // Sent and stored like any change: a deleted item comes back as a change
  // of its Index (the server writes it over its tombstone), an added one
  // goes as a deletion.
  std::vector<ScheduleItem> rows;
  for (const UndoEntry& e : *step) {
    ScheduleItem rec = e.before ? *e.before : e.after;
    rec.Updated = stamp;
    if (e.before) {
      if (rec.Alarm != -1) rec.AlarmTime = NextAlarmTime(rec);
      rec.SyncFlag = c_.server.UpdateItem(rec) == 1 ? SyncClean : SyncPending;
    } else {
      rec.SyncFlag = SyncDeleted;
      c_.server.DeleteItem(rec);  // a failed request goes up with the next synchronisation
    }
    rows.push_back(rec);
  }
  bool stored = c_.store.BeginBatch();
  for (const ScheduleItem& rec : rows) stored = stored && c_.store.UpdateItemByIndex(rec);
  stored = stored && c_.store.CommitBatch();
  if (!stored) {
    c_.store.AbortBatch();
    c_.messages.ShowMessage(NotSaved());
  } else {
    for (size_t i = 0; i < rows.size(); ++i)
      if ((*step)[i].before) c_.undo->Rewritten(*(*step)[i].before, rows[i]);
  }
  Reload();
}

void CommandItemOperations::EditOwnItem(int own_index) {
  c_.state.OwnSelection = own_index;
  ItemCommands(c_).EditOwnItem();
}

void CommandItemOperations::AddOwnItem(const DateTime& day) { ItemCommands(c_).AddOwnItem(day); }

void CommandItemOperations::OpenReferenceItem(int reference_index) {
  c_.state.ReferenceSelection = reference_index;
  ItemCommands(c_).EditReferenceItem();
}

void CommandItemOperations::AddItemForUser(const std::string& user_name) {
  // A copy: the name may live in ReferenceUsers, which a repaint replaces
  // while the dialog is open.
  ItemCommands(c_).AddReferenceItem(std::string(user_name));
}

}  // namespace kv
