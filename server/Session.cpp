#include "server/Session.h"

#include <poll.h>

#include <algorithm>

#include "model/Clock.h"
#include "server/Log.h"
#include "server/UploadStage.h"
#include "server/Week.h"
#include "sync/WireRecord.h"

namespace kv::server {

namespace {

// Record text is taken in pieces of this size, each paid for before it
// is read, so a lying length costs only what really arrives.
constexpr std::size_t kReadPiece = 64 * 1024;

// The item a received record is decoded over: a record without an Index
// must not fall back to the zero date and hit a real item.
ScheduleItem BlankItem() {
  ScheduleItem it;
  it.Index = DateTime::Invalid();
  it.SyncFlag = SyncClean;
  return it;
}

// Every stored item must come back out in a record that clients accept. A
// record can encode longer than it arrived (an empty date comes back as
// "Invalid DateTime"), and one item too long for the client's reader would
// break every download of its owner.
bool FitsClients(const ScheduleItem& item) {
  return EncodeRecordText(item).size() <= static_cast<std::size_t>(kMaxRecordLength);
}

enum class Got { Record, Broken, NoMemory };

// Stricter framing than the client needs: a length above the server's
// limit or a missing terminator fails the connection. `base` is what the
// connection holds besides this record.
Got ReadClientText(InStream& in, const SessionLimits& limits, BudgetLease& lease, std::size_t base,
                   std::string& text) {
  int32_t n;
  if (!in.ReadInt32(n) || n < 0 || n > limits.max_record_length) return Got::Broken;
  const std::size_t want = static_cast<std::size_t>(n) + 1;
  text.clear();
  while (text.size() < want) {
    const std::size_t piece = std::min(kReadPiece, want - text.size());
    if (text.size() + piece > text.capacity()) {
      const std::size_t grown = std::min(want, std::max(text.capacity() * 2, text.size() + piece));
      if (!lease.Hold(base + grown)) return Got::NoMemory;
      text.reserve(grown);
    }
    if (!in.ReadInto(text, piece)) return Got::Broken;
  }
  if (text.back() != '\0') return Got::Broken;
  text.pop_back();
  return Got::Record;
}

SessionResult Finish(SessionEnd end, int32_t request, int32_t answer = 0) {
  return SessionResult{end, request, answer, false};
}

// How a session ends on a record it could not take.
SessionEnd Unread(Got got) { return got == Got::NoMemory ? SessionEnd::Overloaded : SessionEnd::Malformed; }

bool WriteEndOfList(OutStream& out) {
  ScheduleItem end;
  end.SyncFlag = SyncEndOfList;
  return WriteRecord(out, end);
}

struct Conversation {
  InStream& in;
  OutStream& out;
  ServerStore& store;
  const SessionEnv& env;
  BudgetLease lease;
  SignIn who;
};

SessionResult ItemRequest(Conversation& c, int32_t code) {
  std::string text;
  const Got got = ReadClientText(c.in, c.env.limits, c.lease, 0, text);
  if (got != Got::Record) return Finish(Unread(got), code);
  ScheduleItem item = BlankItem();
  DecodeRecordText(text, item);
  // Authenticate hands out a delegated sign-in only to a permitted actor;
  // the permission is checked again here because it may have been revoked
  // since.
  int32_t answer = 0;
  if (!FitsClients(item)) {
    LogLine("refused an item too long for the clients to read back");
  } else if (c.store.MayWrite(c.who.actor, c.who.owner)) {
    switch (code) {
      case RequestAddItem: answer = c.store.AddItem(c.who.owner, item); break;
      case RequestUpdateItem: answer = c.store.UpdateItem(c.who.owner, item); break;
      default: answer = c.store.DeleteItem(c.who.owner, item); break;
    }
  }
  c.out.WriteInt32(answer);
  if (!c.out.Flush()) return Finish(SessionEnd::WriteFailed, code, answer);
  return Finish(SessionEnd::Done, code, answer);
}

SessionResult Upload(Conversation& c) {
  // Until it is applied the client must not take the close as done.
  auto failed = [](SessionEnd end) {
    SessionResult r = Finish(end, RequestUpload);
    r.reset = true;
    return r;
  };
  DateTime last_update;
  if (!c.in.ReadDate(last_update)) return failed(SessionEnd::Malformed);
  const SessionLimits& limits = c.env.limits;
  UploadStage stage(c.env.stage_dir.empty() ? c.store.Directory() : c.env.stage_dir, limits.upload_memory);
  std::size_t bytes = 0;
  std::string text;
  for (;;) {
    const Got got = ReadClientText(c.in, limits, c.lease, stage.MemoryHeld(), text);
    if (got != Got::Record) return failed(Unread(got));
    ScheduleItem item = BlankItem();
    DecodeRecordText(text, item);
    if (item.SyncFlag == SyncEndOfList) break;
    if (!FitsClients(item)) {
      LogLine("refused an upload holding an item too long for the clients to read back");
      return failed(SessionEnd::Malformed);
    }
    bytes += text.size();
    if (stage.Count() >= limits.max_upload_records || bytes > limits.max_upload_bytes)
      return failed(SessionEnd::Malformed);
    if (!stage.Add(text)) return failed(SessionEnd::WriteFailed);
    if (text.capacity() > kReadPiece) text = std::string();
    if (!c.lease.Hold(stage.MemoryHeld())) return failed(SessionEnd::Overloaded);
  }
  text = std::string();
  // Nothing is applied before the end-of-list record has arrived, and then
  // all of it in one transaction, decoded again one record at a time.
  const int applied = c.store.ApplyUpload(c.who.owner, [&](const ServerStore::ItemSink& sink) {
    return stage.ForEach([&](std::string_view record) {
      ScheduleItem item = BlankItem();
      DecodeRecordText(record, item);
      return sink(item);
    });
  });
  if (applied == ServerStore::kUploadOverLimit) return failed(SessionEnd::Overloaded);
  if (applied < 0) return failed(SessionEnd::WriteFailed);
  return Finish(SessionEnd::Done, RequestUpload);
}

// Sends pages from `next` until the last; `keep` filters and adjusts.
template <typename Next, typename Keep>
SessionResult SendPages(Conversation& c, int32_t code, Next next, Keep keep) {
  PageCursor cursor;
  for (;;) {
    ItemPage page = next(cursor);
    if (!page.ok) return Finish(SessionEnd::Overloaded, code);
    for (ScheduleItem& item : page.items) {
      if (!keep(item)) continue;
      const std::string text = EncodeRecordText(item);
      // Stored before long items were refused: leaving it out keeps the
      // owner's other items coming.
      if (text.size() > static_cast<std::size_t>(kMaxRecordLength)) {
        LogLine("left out a stored item too long for the clients to read");
        continue;
      }
      if (!WriteRecordText(c.out, text)) return Finish(SessionEnd::WriteFailed, code);
    }
    page.items = {};
    c.lease.Hold(0);
    if (page.last) break;
  }
  if (!WriteEndOfList(c.out)) return Finish(SessionEnd::WriteFailed, code);
  return Finish(SessionEnd::Done, code);
}

SessionResult Download(Conversation& c) {
  DateTime last_update;
  if (!c.in.ReadDate(last_update)) return Finish(SessionEnd::Malformed, RequestDownload);
  const DateTime since = last_update.IsValid() ? last_update.AddSeconds(-c.env.limits.download_slack_seconds)
                                               : DateTime::Invalid();
  return SendPages(
      c, RequestDownload,
      [&](PageCursor& cursor) { return c.store.ChangedPage(c.who.owner, since, cursor, &c.lease); },
      [](ScheduleItem&) { return true; });
}

SessionResult UserListRequest(Conversation& c) {
  const auto users = c.store.UserList(c.who.owner);
  c.out.WriteInt32(static_cast<int32_t>(users.size()));
  for (const ListedUser& u : users) {
    c.out.WriteInt32(u.user.id);
    c.out.WriteLine(u.user.name);
    c.out.WriteLine(u.user.display);
    c.out.WriteInt32(u.writable);
  }
  if (!c.out.Flush()) return Finish(SessionEnd::WriteFailed, RequestUserList);
  return Finish(SessionEnd::Done, RequestUserList);
}

SessionResult UserItems(Conversation& c) {
  std::string name;
  DateTime day;
  if (!c.in.ReadLine(name) || !c.in.ReadDate(day)) return Finish(SessionEnd::Malformed, RequestUserItems);
  const auto target = c.store.FindUser(name);
  const DateTime sunday = WeekStart(day);
  if (!target || !sunday.IsValid()) {
    if (!WriteEndOfList(c.out)) return Finish(SessionEnd::WriteFailed, RequestUserItems);
    return Finish(SessionEnd::Done, RequestUserItems);
  }
  return SendPages(
      c, RequestUserItems,
      [&](PageCursor& cursor) { return c.store.WeekCandidatesPage(target->id, sunday, cursor, &c.lease); },
      [&](ScheduleItem& item) {
        if (!OccursInWeek(item, sunday)) return false;
        if (target->id != c.who.owner && item.Private == 1) MaskPrivate(item);
        item.UserID = target->id;
        return true;
      });
}

}  // namespace

bool SessionHooks::Pause(int ms) {
  if (ms > 0) poll(nullptr, 0, ms);
  return true;
}

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

SessionResult RunSession(ByteChannel& channel, ServerStore& store, const SessionEnv& env) {
  InStream in(channel);
  OutStream out(channel);
  Conversation c{in, out, store, env, BudgetLease(env.budget, env.limits.unbudgeted_bytes), {}};
  std::string name, password;
  if (!in.ReadLine(name) || !in.ReadLine(password)) return Finish(SessionEnd::Malformed, 0);
  if (env.hooks) env.hooks->SignInReceived();
  GuardOutcome signed_in;
  if (env.guard) {
    signed_in = env.guard->SignInAs(store, name, password, env.address);
  } else {
    signed_in.who = store.Authenticate(name, password);
  }
  std::fill(password.begin(), password.end(), '\0');
  // Neither yes nor no: the client keeps its changes and tries again.
  if (signed_in.unavailable) {
    SessionResult r = Finish(SessionEnd::WriteFailed, 0);
    r.reset = true;
    return r;
  }
  c.who = signed_in.who;
  if (c.who.code != 0 && signed_in.delay_ms > 0) {
    SessionHooks plain;
    SessionHooks& hooks = env.hooks ? *env.hooks : plain;
    if (!hooks.Pause(signed_in.delay_ms)) return Finish(SessionEnd::Refused, 0);
  }
  out.WriteInt32(c.who.code);
  out.WriteDate(kv::Now());
  if (!out.Flush()) return Finish(SessionEnd::WriteFailed, 0);
  if (c.who.code != 0) return Finish(SessionEnd::Refused, 0);

  int32_t code = 0;
  if (!in.ReadInt32(code)) return Finish(SessionEnd::Malformed, 0);
  const bool item_request = code == RequestAddItem || code == RequestUpdateItem || code == RequestDeleteItem;
  // A delegate signs in under another user's name to change that user's
  // items, and for nothing else: no reading of that user's private texts.
  if (c.who.delegated() && !item_request) return Finish(SessionEnd::Unsupported, code);
  if (item_request) return ItemRequest(c, code);
  switch (code) {
    case RequestUpload: return Upload(c);
    case RequestDownload: return Download(c);
    case RequestUserList: return UserListRequest(c);
    case RequestUserItems: return UserItems(c);
    default: return Finish(SessionEnd::Unsupported, code);
  }
}

SessionResult RunSession(ByteChannel& channel, ServerStore& store, const SessionLimits& limits) {
  SessionEnv env;
  env.limits = limits;
  return RunSession(channel, store, env);
}

}  // namespace kv::server
