#include "server/Session.h"

#include <vector>

#include "model/Clock.h"
#include "server/Week.h"
#include "sync/WireRecord.h"

namespace kv::server {

namespace {

// The item a received record is decoded over: a record without an Index
// must not fall back to the zero date and hit a real item.
ScheduleItem BlankItem() {
  ScheduleItem it;
  it.Index = DateTime::Invalid();
  it.SyncFlag = SyncClean;
  return it;
}

// Stricter framing than the client needs: a length above the server's
// limit or a missing terminator fails the connection.
bool ReadClientRecord(InStream& in, const SessionLimits& limits, ScheduleItem& item,
                      std::size_t* text_bytes) {
  int32_t n;
  if (!in.ReadInt32(n) || n < 0 || n > limits.max_record_length) return false;
  std::string text;
  if (!in.ReadInto(text, static_cast<std::size_t>(n) + 1)) return false;
  if (text.back() != '\0') return false;
  text.pop_back();
  DecodeRecordText(text, item);
  if (text_bytes) *text_bytes = text.size();
  return true;
}

bool WriteEndOfList(OutStream& out) {
  ScheduleItem end;
  end.SyncFlag = SyncEndOfList;
  return WriteRecord(out, end);
}

SessionResult Finish(SessionEnd end, int32_t request, int32_t answer = 0) {
  return SessionResult{end, request, answer};
}

SessionResult ItemRequest(InStream& in, OutStream& out, ServerStore& store, const SignIn& who,
                          int32_t code, const SessionLimits& limits) {
  ScheduleItem item = BlankItem();
  if (!ReadClientRecord(in, limits, item, nullptr)) return Finish(SessionEnd::Malformed, code);
  // Authenticate hands out a delegated sign-in only to a permitted actor;
  // the permission is checked again here because it may have been revoked
  // since.
  int32_t answer = 0;
  if (store.MayWrite(who.actor, who.owner)) {
    switch (code) {
      case RequestAddItem: answer = store.AddItem(who.owner, item); break;
      case RequestUpdateItem: answer = store.UpdateItem(who.owner, item); break;
      default: answer = store.DeleteItem(who.owner, item); break;
    }
  }
  out.WriteInt32(answer);
  if (!out.Flush()) return Finish(SessionEnd::WriteFailed, code, answer);
  return Finish(SessionEnd::Done, code, answer);
}

SessionResult Upload(InStream& in, ServerStore& store, const SignIn& who, const SessionLimits& limits) {
  DateTime last_update;
  if (!in.ReadDate(last_update)) return Finish(SessionEnd::Malformed, RequestUpload);
  std::vector<ScheduleItem> items;
  std::size_t bytes = 0;
  for (;;) {
    ScheduleItem item = BlankItem();
    std::size_t n = 0;
    if (!ReadClientRecord(in, limits, item, &n)) return Finish(SessionEnd::Malformed, RequestUpload);
    if (item.SyncFlag == SyncEndOfList) break;
    bytes += n;
    if (items.size() >= limits.max_upload_records || bytes > limits.max_upload_bytes)
      return Finish(SessionEnd::Malformed, RequestUpload);
    items.push_back(std::move(item));
  }
  // Nothing is applied before the end-of-list record has arrived, and then
  // all of it in one transaction.
  if (store.ApplyUpload(who.owner, items) < 0) return Finish(SessionEnd::WriteFailed, RequestUpload);
  return Finish(SessionEnd::Done, RequestUpload);
}

SessionResult Download(InStream& in, OutStream& out, ServerStore& store, const SignIn& who,
                       const SessionLimits& limits) {
  DateTime last_update;
  if (!in.ReadDate(last_update)) return Finish(SessionEnd::Malformed, RequestDownload);
  const DateTime since =
      last_update.IsValid() ? last_update.AddSeconds(-limits.download_slack_seconds) : DateTime::Invalid();
  for (const ScheduleItem& item : store.ChangedSince(who.owner, since))
    if (!WriteRecord(out, item)) return Finish(SessionEnd::WriteFailed, RequestDownload);
  if (!WriteEndOfList(out)) return Finish(SessionEnd::WriteFailed, RequestDownload);
  return Finish(SessionEnd::Done, RequestDownload);
}

SessionResult UserListRequest(OutStream& out, ServerStore& store, const SignIn& who) {
  const auto users = store.UserList(who.owner);
  out.WriteInt32(static_cast<int32_t>(users.size()));
  for (const ListedUser& u : users) {
    out.WriteInt32(u.user.id);
    out.WriteLine(u.user.name);
    out.WriteLine(u.user.display);
    out.WriteInt32(u.writable);
  }
  if (!out.Flush()) return Finish(SessionEnd::WriteFailed, RequestUserList);
  return Finish(SessionEnd::Done, RequestUserList);
}

SessionResult UserItems(InStream& in, OutStream& out, ServerStore& store, const SignIn& who) {
  std::string name;
  DateTime day;
  if (!in.ReadLine(name) || !in.ReadDate(day)) return Finish(SessionEnd::Malformed, RequestUserItems);
  const auto target = store.FindUser(name);
  const DateTime sunday = WeekStart(day);
  if (target && sunday.IsValid()) {
    for (ScheduleItem item : store.LiveItems(target->id)) {
      if (!OccursInWeek(item, sunday)) continue;
      if (target->id != who.owner && item.Private == 1) MaskPrivate(item);
      item.UserID = target->id;
      if (!WriteRecord(out, item)) return Finish(SessionEnd::WriteFailed, RequestUserItems);
    }
  }
  if (!WriteEndOfList(out)) return Finish(SessionEnd::WriteFailed, RequestUserItems);
  return Finish(SessionEnd::Done, RequestUserItems);
}

}  // namespace

void MaskPrivate(ScheduleItem& item) {
  item.Subject.clear();
  item.Place.clear();
  item.Desc.clear();
  item.Execute.clear();
  item.Attr1.clear();
  item.Attr2.clear();
  item.Attr3.clear();
  item.Attr4.clear();
  item.Attr5.clear();
}

SessionResult RunSession(ByteChannel& channel, ServerStore& store, const SessionLimits& limits) {
  InStream in(channel);
  OutStream out(channel);
  std::string name, password;
  if (!in.ReadLine(name) || !in.ReadLine(password)) return Finish(SessionEnd::Malformed, 0);
  const SignIn who = store.Authenticate(name, password);
  out.WriteInt32(who.code);
  out.WriteDate(kv::Now());
  if (!out.Flush()) return Finish(SessionEnd::WriteFailed, 0);
  if (who.code != 0) return Finish(SessionEnd::Refused, 0);

  int32_t code = 0;
  if (!in.ReadInt32(code)) return Finish(SessionEnd::Malformed, 0);
  const bool item_request = code == RequestAddItem || code == RequestUpdateItem || code == RequestDeleteItem;
  // A delegate signs in under another user's name to change that user's
  // items, and for nothing else: no reading of that user's private texts.
  if (who.delegated() && !item_request) return Finish(SessionEnd::Unsupported, code);
  if (item_request) return ItemRequest(in, out, store, who, code, limits);
  switch (code) {
    case RequestUpload: return Upload(in, store, who, limits);
    case RequestDownload: return Download(in, out, store, who, limits);
    case RequestUserList: return UserListRequest(out, store, who);
    case RequestUserItems: return UserItems(in, out, store, who);
    default: return Finish(SessionEnd::Unsupported, code);
  }
}

}  // namespace kv::server
