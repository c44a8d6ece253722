#include "edit/IcalTransfer.h"

#include <map>

#include "model/Clock.h"
#include "model/Recurrence.h"

namespace kv::ical {

ImportPreview ReadForImport(std::string_view ics_text, bool replace_unmappable) {
  ImportPreview p;
  ImportOptions opt;
  opt.replace_unmappable = replace_unmappable;
  opt.versions = &p.versions;
  p.taken = Import(ics_text, opt);
  // Every event gives an item or one problem line; a file-wide line (too
  // large, unreadable) names no event.
  p.events = int(p.taken.items.size() + p.taken.problems.size());
  if (p.taken.items.empty() && p.taken.problems.size() == 1 &&
      p.taken.problems.front().rfind("「", 0) != 0)
    p.events = 0;
  return p;
}

ImportOutcome StoreImported(ItemStore& store, const ImportPreview& preview) {
  ImportOutcome out;
  const Imported& in = preview.taken;
  std::vector<ItemStore::ItemKey> keys;
  if (!store.ReadItemKeys(keys)) return out;
  std::map<double, bool> live;  // Index (OLE) -> not deleted
  for (const auto& k : keys) live[k.Index.OleValue()] = k.SyncFlag != SyncDeleted;
  if (!store.BeginBatch()) return out;
  bool ok = true;
  for (std::size_t i = 0; ok && i < in.items.size(); ++i) {
    ScheduleItem rec = in.items[i];
    const std::string& uid = in.uids[i];
    const std::string version = i < preview.versions.size() ? preview.versions[i] : std::string();
    rec.UserID = 0;
    rec.SyncFlag = SyncPending;
    rec.Updated = Now();
    rec.Execute.clear();
    rec.AlarmTime = rec.Alarm != -1 ? NextAlarmTime(rec) : NoAlarmMarker();
    DateTime known;
    std::string known_version;
    const int found = uid.empty() ? 0 : store.FindImportedUid(uid, known, known_version);
    if (found < 0) {
      ok = false;
      break;
    }
    const auto at = found == 1 ? live.find(known.OleValue()) : live.end();
    if (at != live.end() && at->second) {
      if (version <= known_version) {
        ++out.unchanged;
        continue;
      }
      rec.Index = known;
      ok = store.UpdateItemByIndex(rec) == 1;
      ++out.updated;
    } else {
      rec.Index = store.UniqueIndex(Now());
      ok = rec.Index.IsValid() && store.InsertItem(rec) == 1;
      if (ok) live[rec.Index.OleValue()] = true;
      ++out.added;
    }
    if (ok && !uid.empty()) ok = store.RememberImportedUid(uid, rec.Index, version) == 1;
  }
  if (!ok) {
    store.AbortBatch();
    return ImportOutcome{};
  }
  out.stored = store.CommitBatch() == 1;
  if (!out.stored) return ImportOutcome{};
  return out;
}

bool OwnItems(ItemStore& store, bool all, const DateTime& from, const DateTime& to,
              std::vector<ScheduleItem>& out) {
  out.clear();
  ScheduleItem it;
  for (int rc = store.ReadFirstItem(it); rc == 1; rc = store.ReadNextItem(it)) {
    if (it.SyncFlag == SyncDeleted) continue;
    if (all || Occurs(it, from, to)) out.push_back(it);
  }
  return !store.ReadFailed();
}

}  // namespace kv::ical
