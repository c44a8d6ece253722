#include "server/ServerStore.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <atomic>
#include <climits>

#include "model/Clock.h"
#include "server/Log.h"
#include "server/Password.h"
#include "server/SignInGuard.h"
#include "server/SqlConn.h"

namespace kv::server {

namespace {

using sql::Conn;
using sql::Query;

// 2: Argon2id hashes (which a version 1 server could not check), and the
// indexes of the paged reads.
constexpr int kSchemaVersion = 2;

// @I@ and @B@ stand for the engine's integer and byte-string types.
const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS users (
  id @I@ PRIMARY KEY,
  name @B@ NOT NULL UNIQUE,
  display @B@ NOT NULL,
  password TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS permissions (
  actor @I@ NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  target @I@ NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  PRIMARY KEY (actor, target)
);
CREATE TABLE IF NOT EXISTS items (
  owner @I@ NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  idx @I@ NOT NULL,
  changed @I@ NOT NULL,
  syncflag @I@ NOT NULL,
  updated @I@, subject @B@, place @B@, execute @B@,
  private @I@, color @I@, userid @I@, type @I@,
  start @I@, "end" @I@, alarm @I@, alarmtime @I@, descr @B@,
  attr1 @B@, attr2 @B@, attr3 @B@, attr4 @B@, attr5 @B@,
  reptype @I@, repx @I@, repy @I@, repz @I@,
  repstart @I@, repend @I@,
  PRIMARY KEY (owner, idx)
);
DROP INDEX IF EXISTS items_changed;
CREATE INDEX IF NOT EXISTS items_by_change ON items(owner, changed, idx);
CREATE INDEX IF NOT EXISTS items_single ON items(owner, "end", start) WHERE reptype = 0 AND syncflag <> 4;
CREATE INDEX IF NOT EXISTS items_repeating ON items(owner, idx) WHERE reptype <> 0 AND syncflag <> 4;
)sql";

// Only where several processes sign clients in.
const char* const kSharedSchema = R"sql(
CREATE TABLE IF NOT EXISTS signin_throttle (
  key @B@ PRIMARY KEY,
  failures @I@ NOT NULL,
  last_ms @I@ NOT NULL
);
)sql";

std::string SchemaFor(const sql::Engine& e) {
  std::string s = std::string(kSchema) + (e.Shared() ? kSharedSchema : "");
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"@I@", e.IntType()}, {"@B@", e.BlobType()}})
    for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
  return s;
}

// Bytes of a row's texts, known to SQLite without reading them.
const char* const kRowBytes =
    "coalesce(length(subject), 0) + coalesce(length(place), 0) + coalesce(length(execute), 0) + "
    "coalesce(length(descr), 0) + coalesce(length(attr1), 0) + coalesce(length(attr2), 0) + "
    "coalesce(length(attr3), 0) + coalesce(length(attr4), 0) + coalesce(length(attr5), 0)";
// What a decoded item costs beyond its texts.
constexpr std::size_t kItemOverhead = sizeof(ScheduleItem);
constexpr int kPageRows = 256;
constexpr std::size_t kPageBytes = 1024 * 1024;

const char* const kItemColumns =
    "idx, syncflag, updated, subject, place, execute, private, color, userid, type, start, \"end\", "
    "alarm, alarmtime, descr, attr1, attr2, attr3, attr4, attr5, reptype, repx, repy, repz, "
    "repstart, repend";

ScheduleItem ReadItem(Query& q) {
  ScheduleItem it;
  int c = 0;
  it.Index = q.ColDate(c++);
  it.SyncFlag = static_cast<int32_t>(q.ColInt(c++));
  it.Updated = q.ColDate(c++);
  it.Subject = q.ColBlob(c++);
  it.Place = q.ColBlob(c++);
  it.Execute = q.ColBlob(c++);
  it.Private = static_cast<int32_t>(q.ColInt(c++));
  it.Color = static_cast<uint32_t>(q.ColInt(c++));
  it.UserID = static_cast<int32_t>(q.ColInt(c++));
  it.Type = static_cast<int32_t>(q.ColInt(c++));
  it.Start = q.ColDate(c++);
  it.End = q.ColDate(c++);
  it.Alarm = static_cast<int32_t>(q.ColInt(c++));
  it.AlarmTime = q.ColDate(c++);
  it.Desc = q.ColBlob(c++);
  it.Attr1 = q.ColBlob(c++);
  it.Attr2 = q.ColBlob(c++);
  it.Attr3 = q.ColBlob(c++);
  it.Attr4 = q.ColBlob(c++);
  it.Attr5 = q.ColBlob(c++);
  it.RepType = static_cast<int32_t>(q.ColInt(c++));
  it.RepX = static_cast<int32_t>(q.ColInt(c++));
  it.RepY = static_cast<int32_t>(q.ColInt(c++));
  it.RepZ = static_cast<int32_t>(q.ColInt(c++));
  it.RepStart = q.ColDate(c++);
  it.RepEnd = q.ColDate(c++);
  return it;
}

// Binds the item's 26 columns starting at parameter `first`, in
// kItemColumns order, with the given SyncFlag.
void BindItem(Query& q, int first, const ScheduleItem& it, int32_t flag) {
  int c = first;
  q.Date(c++, it.Index);
  q.Int(c++, flag);
  q.Date(c++, it.Updated);
  q.Blob(c++, it.Subject);
  q.Blob(c++, it.Place);
  q.Blob(c++, it.Execute);
  q.Int(c++, it.Private);
  q.Int(c++, it.Color);
  q.Int(c++, it.UserID);
  q.Int(c++, it.Type);
  q.Date(c++, it.Start);
  q.Date(c++, it.End);
  q.Int(c++, it.Alarm);
  q.Date(c++, it.AlarmTime);
  q.Blob(c++, it.Desc);
  q.Blob(c++, it.Attr1);
  q.Blob(c++, it.Attr2);
  q.Blob(c++, it.Attr3);
  q.Blob(c++, it.Attr4);
  q.Blob(c++, it.Attr5);
  q.Int(c++, it.RepType);
  q.Int(c++, it.RepX);
  q.Int(c++, it.RepY);
  q.Int(c++, it.RepZ);
  q.Date(c++, it.RepStart);
  q.Date(c++, it.RepEnd);
}

void SetError(std::string* error, std::string msg) {
  if (error) *error = std::move(msg);
}

// The stored form of a new password; empty, with the reason, when there
// is none.
std::string NewHash(const std::string& password, std::string* error) {
  if (password.empty()) {
    SetError(error, "a password must not be empty");
    return {};
  }
  std::string hash = HashPassword(password);
  if (hash.empty()) SetError(error, "the password could not be hashed");
  return hash;
}

void LogItemLimit(int32_t owner, int64_t limit, const char* refused) {
  LogLine("user " + std::to_string(owner) + " has reached the limit of " + std::to_string(limit) + " items; " +
          refused + " was refused");
}


// The upsert of `rows` item rows, each with its columns in kItemColumns
// order after owner and changed.
std::string WriteSql(int rows = 1) {
  std::string set = "changed = excluded.changed";
  std::string cols = kItemColumns;
  for (size_t at = 0; at < cols.size();) {
    size_t end = cols.find(", ", at);
    if (end == std::string::npos) end = cols.size();
    const std::string col = cols.substr(at, end - at);
    if (col != "idx") set += ", " + col + " = excluded." + col;
    at = end + 2;
  }
  std::string row = "(?";
  for (int i = 1; i < 28; ++i) row += ", ?";
  row += ")";
  std::string values = row;
  for (int r = 1; r < rows; ++r) values += ", " + row;
  return std::string("INSERT INTO items (owner, changed, ") + kItemColumns + ") VALUES " + values +
         " ON CONFLICT (owner, idx) DO UPDATE SET " + set;
}

// Runs body inside a write transaction; rolls back when it returns false
// or the commit fails. One that lost a race the database broke off (a
// serialisation failure, a deadlock) runs again.
template <typename F>
bool Transaction(Conn& c, F&& body) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (!c.Begin()) return false;
    if (body() && c.Exec("COMMIT")) return true;
    const bool again = c.Retryable();
    c.Exec("ROLLBACK");
    if (!again) return false;
  }
  return false;
}

int64_t Count(Conn& c, int32_t owner) {
  auto q = c.Prepare("SELECT COUNT(*) FROM items WHERE owner = ?");
  q->Int(1, owner);
  return q->Next() ? q->ColInt(0) : -1;
}

std::optional<User> Find(Conn& c, const std::string& name) {
  auto q = c.Prepare("SELECT id, name, display FROM users WHERE name = ?");
  q->Blob(1, name);
  if (!q->Next()) return std::nullopt;
  return User{static_cast<int32_t>(q->ColInt(0)), q->ColBlob(1), q->ColBlob(2)};
}

bool Permitted(Conn& c, int32_t actor, int32_t target) {
  if (actor == target) return true;
  auto q = c.Prepare("SELECT 1 FROM permissions WHERE actor = ? AND target = ?");
  q->Int(1, actor);
  q->Int(2, target);
  return q->Next();
}

// -1: no such item; -2: the read failed; otherwise its SyncFlag, with
// *updated set.
int StoredFlag(Conn& c, int32_t owner, const DateTime& index, DateTime* updated) {
  auto q = c.Prepare("SELECT syncflag, updated FROM items WHERE owner = ? AND idx = ?");
  q->Int(1, owner);
  q->Date(2, index);
  if (!q->Next()) return q->Finished() ? -1 : -2;
  if (updated) *updated = q->ColDate(1);
  return static_cast<int>(q->ColInt(0));
}

bool Write(Conn& c, int32_t owner, const ScheduleItem& it, int32_t flag, int64_t changed) {
  static const std::string sql = WriteSql();
  auto q = c.Prepare(sql);
  q->Int(1, owner);
  q->Int(2, changed);
  BindItem(*q, 3, it, flag);
  return q->Done();
}

// Whether an uploaded record replaces the stored row of its Index: the
// newer Updated wins. The client keeps Updated when it deletes, so a
// deletion of the stored version arrives with the same time and must
// still win.
bool UploadWins(const ScheduleItem& r, int stored_flag, const DateTime& stored_updated) {
  const bool newer = r.Updated > stored_updated || !stored_updated.IsValid();
  const bool tie_delete = r.Updated == stored_updated && r.SyncFlag == SyncDeleted && stored_flag != SyncDeleted;
  return newer || tie_delete;
}

// Where every statement crosses the network, an upload looks up and
// writes this many rows per round trip.
constexpr size_t kUploadBatch = 128;

struct Stored {
  int flag = -1;  // -1: no such row
  DateTime updated = DateTime::Invalid();
};

// The stored flag and Updated of each of the owner's `indexes` (valid,
// at most kUploadBatch of them); false when the database failed.
bool StoredBatch(Conn& c, int32_t owner, const std::vector<int64_t>& indexes,
                 std::unordered_map<int64_t, Stored>& out) {
  // A join with the listed values, so each is one look-up in the
  // (owner, idx) key; an IN list of parameters is tested row by row.
  static const std::string sql = [] {
    std::string rows = "(CAST(? AS BIGINT))";
    for (size_t i = 1; i < kUploadBatch; ++i) rows += ", (CAST(? AS BIGINT))";
    return "SELECT items.idx, syncflag, updated FROM (VALUES " + rows +
           ") AS wanted(idx) JOIN items ON items.owner = ? AND items.idx = wanted.idx";
  }();
  if (indexes.empty()) return true;
  auto q = c.Prepare(sql);
  // One statement shape: a short batch repeats its last index (the join
  // then gives its row more than once).
  for (size_t i = 0; i < kUploadBatch; ++i) q->Int(static_cast<int>(i) + 1, indexes[std::min(i, indexes.size() - 1)]);
  q->Int(static_cast<int>(kUploadBatch) + 1, owner);
  for (int64_t idx : indexes) out.emplace(idx, Stored{});
  while (q->Next()) out[q->ColInt(0)] = Stored{static_cast<int>(q->ColInt(1)), q->ColDate(2)};
  return q->Finished();
}

// Writes each item with its flag: whole batches in one statement each,
// the rest row by row. No Index may repeat.
bool WriteBatch(Conn& c, int32_t owner, const std::vector<std::pair<ScheduleItem, int32_t>>& rows,
                int64_t changed) {
  static const std::string sql = WriteSql(static_cast<int>(kUploadBatch));
  size_t at = 0;
  for (; at + kUploadBatch <= rows.size(); at += kUploadBatch) {
    auto q = c.Prepare(sql);
    for (size_t k = 0; k < kUploadBatch; ++k) {
      const int first = static_cast<int>(k) * 28 + 1;
      q->Int(first, owner);
      q->Int(first + 1, changed);
      BindItem(*q, first + 2, rows[at + k].first, rows[at + k].second);
    }
    if (!q->Done()) return false;
  }
  for (; at < rows.size(); ++at)
    if (!Write(c, owner, rows[at].first, rows[at].second, changed)) return false;
  return true;
}

std::vector<ScheduleItem> Select(Conn& c, const std::string& where, int32_t owner, const DateTime* since) {
  std::vector<ScheduleItem> out;
  auto q = c.Prepare(std::string("SELECT ") + kItemColumns + " FROM items WHERE owner = ? " + where + " ORDER BY idx");
  q->Int(1, owner);
  if (since) q->Int(2, since->LinearSeconds());
  while (q->Next()) out.push_back(ReadItem(*q));
  return out;
}

// Reads rows of q (kItemColumns, then kRowBytes at size_col) into a
// page, charging each row to the lease before its texts are read. `key`
// records where the next page starts.
template <typename Key>
ItemPage ReadPage(Query& q, int size_col, BudgetLease* lease, Key key) {
  ItemPage page;
  std::size_t held = 0;
  int rows = 0;
  while (q.Next()) {
    const std::size_t bytes = static_cast<std::size_t>(std::max<int64_t>(0, q.ColInt(size_col))) + kItemOverhead;
    if (lease && !lease->Hold(held + bytes)) {
      LogLine("memory budget exhausted: a read of " + std::to_string(bytes) + " bytes was refused");
      page.ok = false;
      return page;
    }
    held += bytes;
    page.items.push_back(ReadItem(q));
    key(q);
    if (++rows >= kPageRows || held >= kPageBytes) return page;
  }
  page.ok = q.Finished();
  page.last = true;
  return page;
}

std::vector<User> AllUsers(Conn& c) {
  std::vector<User> out;
  auto q = c.Prepare("SELECT id, name, display FROM users ORDER BY id");
  while (q->Next()) out.push_back(User{static_cast<int32_t>(q->ColInt(0)), q->ColBlob(1), q->ColBlob(2)});
  return out;
}

}  // namespace

struct ServerStore::Impl {
  std::unique_ptr<sql::Engine> engine;
  std::atomic<int64_t> item_limit{200000};

  sql::Lease Acquire() { return engine ? engine->Acquire() : sql::Lease(); }

  // True when one more row for the owner stays within the limit.
  bool RoomForOne(Conn& c, int32_t owner) {
    const int64_t n = Count(c, owner);
    if (n >= 0 && n < item_limit.load()) return true;
    if (n >= 0) LogItemLimit(owner, item_limit.load(), "a new item");
    return false;
  }

  // One immediate change in a transaction of its own; 1 done, 0 refused.
  // An add refuses an Index that names a live item.
  int Change(int32_t owner, const ScheduleItem& item, int32_t flag, bool add) {
    if (!item.Index.IsValid()) return 0;
    const int64_t now = kv::Now().LinearSeconds();
    auto c = Acquire();
    if (!c) return 0;
    return Transaction(*c, [&] {
             if (!c->LockOwner(owner)) return false;
             const int stored = StoredFlag(*c, owner, item.Index, nullptr);
             if (stored == -2 || (add && stored >= 0 && stored != SyncDeleted)) return false;
             if (stored == -1 && !RoomForOne(*c, owner)) return false;
             return Write(*c, owner, item, flag, now);
           })
               ? 1
               : 0;
  }

  // One column of a named user, set by `sql` with the value bound first
  // and the ID second.
  template <typename Bind>
  bool UpdateUser(const std::string& name, const char* sql, Bind bind, const char* failure, std::string* error) {
    auto c = Acquire();
    const auto u = c ? Find(*c, name) : std::nullopt;
    if (!u) {
      SetError(error, c ? "no such user" : failure);
      return false;
    }
    auto q = c->Prepare(sql);
    bind(*q);
    q->Int(2, u->id);
    if (!q->Done()) {
      SetError(error, failure);
      return false;
    }
    return true;
  }

  // A permission named by user names: `sql` binds the actor's ID first.
  bool Permission(const std::string& actor, const std::string& target, const char* sql, const char* failure,
                  std::string* error) {
    auto c = Acquire();
    if (!c) {
      SetError(error, failure);
      return false;
    }
    const auto a = Find(*c, actor);
    const auto t = Find(*c, target);
    if (!a || !t) {
      SetError(error, std::string("no such user: ") + (a ? target : actor));
      return false;
    }
    if (a->id == t->id) return true;  // everyone may write their own items
    auto q = c->Prepare(sql);
    q->Int(1, a->id);
    q->Int(2, t->id);
    if (!q->Done()) {
      SetError(error, failure);
      return false;
    }
    return true;
  }
};

ServerStore::ServerStore() : impl_(std::make_unique<Impl>()) {}
ServerStore::~ServerStore() { Close(); }

bool ServerStore::Open(const std::string& where, std::string* error) {
  impl_->engine.reset();
  auto engine = sql::IsPostgresUri(where) ? sql::OpenPostgres(where, error) : sql::OpenSqlite(where, error);
  if (!engine || !engine->Install(SchemaFor(*engine), kSchemaVersion, error)) return false;
  impl_->engine = std::move(engine);
  return true;
}

std::string ServerStore::Directory() const { return impl_->engine ? impl_->engine->Directory() : "."; }
bool ServerStore::Shared() const { return impl_->engine && impl_->engine->Shared(); }

void ServerStore::SetItemLimit(int64_t limit) { impl_->item_limit = limit; }
int64_t ServerStore::ItemLimit() const { return impl_->item_limit.load(); }

void ServerStore::Close() { impl_->engine.reset(); }

void ServerStore::SetFullSync(bool full) {
  if (impl_->engine) impl_->engine->SetFullSync(full);
}

bool ServerStore::AddUser(const std::string& name, const std::string& display, const std::string& password,
                          int32_t id, int32_t* assigned, std::string* error) {
  if (name.empty() || name == " ") {
    SetError(error, "a user name must not be empty or a single blank");
    return false;
  }
  if (name.find_first_of("\r\n") != std::string::npos || display.find_first_of("\r\n") != std::string::npos) {
    SetError(error, "names must not contain line breaks");
    return false;
  }
  if (id < 0) {
    SetError(error, "user IDs are positive");
    return false;
  }
  const std::string hash = NewHash(password, error);
  if (hash.empty()) return false;
  auto c = impl_->Acquire();
  if (c && Find(*c, name)) {
    SetError(error, "a user with that name exists already");
    return false;
  }
  int32_t got = 0;
  const bool ok = c && Transaction(*c, [&] {
    // The lowest owner lock also stands for "the next free ID".
    if (!c->LockOwner(0)) return false;
    int64_t use = id;
    if (use == 0) {
      auto q = c->Prepare("SELECT COALESCE(MAX(id), 0) + 1 FROM users");
      if (!q->Next()) return false;
      use = q->ColInt(0);
      if (use > INT32_MAX) return false;
    }
    auto q = c->Prepare("INSERT INTO users (id, name, display, password) VALUES (?, ?, ?, ?)");
    q->Int(1, use);
    q->Blob(2, name);
    q->Blob(3, display.empty() ? name : display);
    q->Text(4, hash);
    if (!q->Done()) return false;
    got = static_cast<int32_t>(use);
    return true;
  });
  if (!ok) {
    SetError(error, id ? "user ID " + std::to_string(id) + " is taken" : "the user could not be added");
    return false;
  }
  if (assigned) *assigned = got;
  return true;
}

bool ServerStore::RemoveUser(const std::string& name, std::string* error) {
  auto c = impl_->Acquire();
  const auto u = c ? Find(*c, name) : std::nullopt;
  if (!u) {
    SetError(error, c ? "no such user" : "the user could not be removed");
    return false;
  }
  const bool ok = Transaction(*c, [&] {
    if (!c->LockOwner(u->id)) return false;
    auto a = c->Prepare("DELETE FROM items WHERE owner = ?");
    a->Int(1, u->id);
    if (!a->Done()) return false;
    auto b = c->Prepare("DELETE FROM permissions WHERE actor = ? OR target = ?");
    b->Int(1, u->id);
    b->Int(2, u->id);
    if (!b->Done()) return false;
    auto d = c->Prepare("DELETE FROM users WHERE id = ?");
    d->Int(1, u->id);
    return d->Done();
  });
  if (!ok) SetError(error, "the user could not be removed");
  return ok;
}

bool ServerStore::SetPassword(const std::string& name, const std::string& password, std::string* error) {
  const std::string hash = NewHash(password, error);
  if (hash.empty()) return false;
  return impl_->UpdateUser(name, "UPDATE users SET password = ? WHERE id = ?", [&](Query& q) { q.Text(1, hash); },
                           "the password could not be changed", error);
}

bool ServerStore::SetDisplayName(const std::string& name, const std::string& display, std::string* error) {
  if (display.find_first_of("\r\n") != std::string::npos) {
    SetError(error, "names must not contain line breaks");
    return false;
  }
  return impl_->UpdateUser(name, "UPDATE users SET display = ? WHERE id = ?",
                           [&](Query& q) { q.Blob(1, display); }, "the display name could not be changed", error);
}

bool ServerStore::Grant(const std::string& actor, const std::string& target, std::string* error) {
  return impl_->Permission(actor, target, "INSERT INTO permissions (actor, target) VALUES (?, ?) ON CONFLICT DO NOTHING",
                           "the permission could not be stored", error);
}

bool ServerStore::Revoke(const std::string& actor, const std::string& target, std::string* error) {
  return impl_->Permission(actor, target, "DELETE FROM permissions WHERE actor = ? AND target = ?",
                           "the permission could not be removed", error);
}

std::vector<User> ServerStore::Users() {
  auto c = impl_->Acquire();
  return c ? AllUsers(*c) : std::vector<User>{};
}

std::vector<Permission> ServerStore::Permissions() {
  std::vector<Permission> out;
  auto c = impl_->Acquire();
  if (!c) return out;
  auto q = c->Prepare("SELECT actor, target FROM permissions ORDER BY actor, target");
  while (q->Next()) out.push_back(Permission{static_cast<int32_t>(q->ColInt(0)), static_cast<int32_t>(q->ColInt(1))});
  return out;
}

std::optional<User> ServerStore::FindUser(const std::string& name) {
  auto c = impl_->Acquire();
  return c ? Find(*c, name) : std::nullopt;
}

SignIn ServerStore::Authenticate(const std::string& name, const std::string& password) {
  ThrottleOptions plain;
  plain.enabled = false;
  SignInGuard guard(plain);
  return guard.SignInAs(*this, name, password, "").who;
}

std::optional<Credentials> ServerStore::CredentialsOf(const std::string& name, bool* failed) {
  if (failed) *failed = true;
  auto c = impl_->Acquire();
  if (!c) return std::nullopt;
  auto q = c->Prepare("SELECT id, name, display, password FROM users WHERE name = ?");
  q->Blob(1, name);
  if (!q->Next()) {
    if (failed) *failed = !q->Finished();
    return std::nullopt;
  }
  Credentials cr{User{static_cast<int32_t>(q->ColInt(0)), q->ColBlob(1), q->ColBlob(2)}, q->ColBlob(3), {}};
  auto d = c->Prepare(
      "SELECT u.id, u.name, u.password FROM permissions p JOIN users u ON u.id = p.actor "
      "WHERE p.target = ? ORDER BY u.id");
  d->Int(1, cr.user.id);
  while (d->Next()) cr.delegates.push_back(Candidate{static_cast<int32_t>(d->ColInt(0)), d->ColBlob(1), d->ColBlob(2)});
  if (!d->Finished()) return std::nullopt;
  if (failed) *failed = false;
  return cr;
}

bool ServerStore::ReplaceHash(int32_t id, const std::string& old_hash, const std::string& new_hash) {
  auto c = impl_->Acquire();
  if (!c) return false;
  auto q = c->Prepare("UPDATE users SET password = ? WHERE id = ? AND password = ?");
  q->Text(1, new_hash);
  q->Int(2, id);
  q->Text(3, old_hash);
  return q->Done() && q->Changes() == 1;
}

bool ServerStore::MayWrite(int32_t actor, int32_t target) {
  auto c = impl_->Acquire();
  return c && Permitted(*c, actor, target);
}

std::vector<ListedUser> ServerStore::UserList(int32_t viewer) {
  std::vector<ListedUser> out;
  auto c = impl_->Acquire();
  if (!c) return out;
  auto q = c->Prepare(
      "SELECT u.id, u.name, u.display, "
      "(u.id = ?1 OR EXISTS (SELECT 1 FROM permissions p WHERE p.actor = ?1 AND p.target = u.id)) "
      "FROM users u ORDER BY u.id");
  q->Int(1, viewer);
  while (q->Next())
    out.push_back(ListedUser{User{static_cast<int32_t>(q->ColInt(0)), q->ColBlob(1), q->ColBlob(2)},
                             static_cast<int32_t>(q->ColInt(3))});
  return out;
}

int ServerStore::AddItem(int32_t owner, const ScheduleItem& item) {
  return impl_->Change(owner, item, SyncClean, true);
}

int ServerStore::UpdateItem(int32_t owner, const ScheduleItem& item) {
  return impl_->Change(owner, item, SyncClean, false);
}

int ServerStore::DeleteItem(int32_t owner, const ScheduleItem& item) {
  return impl_->Change(owner, item, SyncDeleted, false);
}

int ServerStore::ApplyUpload(int32_t owner, const ItemSource& source) {
  const int64_t now = kv::Now().LinearSeconds();
  auto c = impl_->Acquire();
  if (!c) return kUploadFailed;
  int applied = 0;
  bool over_limit = false;
  const bool batched = impl_->engine->Shared();
  const bool ok = Transaction(*c, [&] {
    applied = 0;
    over_limit = false;
    if (!c->LockOwner(owner)) return false;
    int64_t rows = Count(*c, owner);
    if (rows < 0) return false;
    const int64_t limit = impl_->item_limit.load();
    if (batched) {
      // The same rule as below, decided a batch at a time: one look-up and
      // one write per batch instead of two round trips per record.
      std::vector<ScheduleItem> batch;
      const auto flush = [&] {
        std::vector<int64_t> wanted;
        std::unordered_set<int64_t> listed;
        for (const ScheduleItem& r : batch)
          if (listed.insert(r.Index.LinearSeconds()).second) wanted.push_back(r.Index.LinearSeconds());
        std::unordered_map<int64_t, Stored> known;
        if (!StoredBatch(*c, owner, wanted, known)) return false;
        std::vector<std::pair<ScheduleItem, int32_t>> writes;
        std::unordered_map<int64_t, size_t> slot;
        for (const ScheduleItem& r : batch) {
          const bool deletion = r.SyncFlag == SyncDeleted;
          const int64_t idx = r.Index.LinearSeconds();
          Stored& st = known[idx];
          if (st.flag >= 0) {
            if (!UploadWins(r, st.flag, st.updated)) continue;
          } else if (++rows > limit) {
            over_limit = true;
            return false;
          }
          const int32_t flag = deletion ? SyncDeleted : SyncClean;
          st = Stored{flag, r.Updated};
          if (auto it = slot.find(idx); it != slot.end())
            writes[it->second] = {r, flag};
          else {
            slot.emplace(idx, writes.size());
            writes.emplace_back(r, flag);
          }
          ++applied;
        }
        batch.clear();
        return WriteBatch(*c, owner, writes, now);
      };
      const bool read = source([&](const ScheduleItem& r) {
        if (!r.Index.IsValid()) return true;
        batch.push_back(r);
        return batch.size() < kUploadBatch || flush();
      });
      return read && flush();
    }
    return source([&](const ScheduleItem& r) {
      if (!r.Index.IsValid()) return true;
      const bool deletion = r.SyncFlag == SyncDeleted;
      DateTime stored_updated = DateTime::Invalid();
      const int flag = StoredFlag(*c, owner, r.Index, &stored_updated);
      if (flag == -2) return false;
      if (flag >= 0) {
        if (!UploadWins(r, flag, stored_updated)) return true;
      } else if (++rows > limit) {
        over_limit = true;
        return false;
      }
      if (!Write(*c, owner, r, deletion ? SyncDeleted : SyncClean, now)) return false;
      ++applied;
      return true;
    });
  });
  if (over_limit) {
    LogItemLimit(owner, impl_->item_limit.load(), "an upload");
    return kUploadOverLimit;
  }
  return ok ? applied : kUploadFailed;
}

int ServerStore::ApplyUpload(int32_t owner, const std::vector<ScheduleItem>& items) {
  return ApplyUpload(owner, [&](const ItemSink& sink) {
    for (const ScheduleItem& it : items)
      if (!sink(it)) return false;
    return true;
  });
}

std::vector<ScheduleItem> ServerStore::ChangedSince(int32_t owner, const DateTime& since) {
  auto c = impl_->Acquire();
  if (!c) return {};
  if (!since.IsValid()) return Select(*c, "", owner, nullptr);
  return Select(*c, "AND changed >= ?", owner, &since);
}

std::vector<ScheduleItem> ServerStore::LiveItems(int32_t owner) {
  auto c = impl_->Acquire();
  return c ? Select(*c, "AND syncflag <> 4", owner, nullptr) : std::vector<ScheduleItem>{};
}

ItemPage ServerStore::ChangedPage(int32_t owner, const DateTime& since, PageCursor& cursor, BudgetLease* lease) {
  static const std::string sql = std::string("SELECT ") + kItemColumns + ", changed, " + kRowBytes +
                                 " FROM items WHERE owner = ?1 AND changed >= ?2 AND (changed > ?2 OR idx > ?3)"
                                 " ORDER BY changed, idx LIMIT ?4";
  if (cursor.phase == 0 && since.IsValid()) cursor.changed = since.LinearSeconds();
  cursor.phase = 1;
  auto c = impl_->Acquire();
  if (!c) return ItemPage{{}, false, true};
  auto q = c->Prepare(sql);
  q->Int(1, owner);
  q->Int(2, cursor.changed);
  q->Int(3, cursor.idx);
  q->Int(4, kPageRows);
  return ReadPage(*q, 27, lease, [&](Query& row) {
    cursor.changed = row.ColInt(26);
    cursor.idx = row.ColInt(0);
  });
}

ItemPage ServerStore::WeekCandidatesPage(int32_t owner, const DateTime& sunday, PageCursor& cursor,
                                         BudgetLease* lease) {
  if (!sunday.IsValid()) return ItemPage{{}, true, true};
  auto c = impl_->Acquire();
  if (!c) return ItemPage{{}, false, true};
  // A single item meets the week only if it ends at or after its first
  // instant and starts before its end; the partial indexes hold only live
  // items, so neither read walks the owner's whole table.
  const std::string singles = std::string("SELECT ") + kItemColumns + ", " + kRowBytes + " FROM items" +
                              c->IndexHint("items_single") +
                              " WHERE owner = ?1 AND reptype = 0"
                              " AND syncflag <> 4 AND \"end\" >= ?2 AND start < ?3 AND idx > ?4"
                              " ORDER BY idx LIMIT ?5";
  const std::string repeating = std::string("SELECT ") + kItemColumns + ", " + kRowBytes + " FROM items" +
                                c->IndexHint("items_repeating") +
                                " WHERE owner = ?1 AND reptype <> 0"
                                " AND syncflag <> 4 AND idx > ?2 ORDER BY idx LIMIT ?3";
  const auto note = [&](Query& row) { cursor.idx = row.ColInt(0); };
  if (cursor.phase == 0) {
    auto q = c->Prepare(singles);
    q->Int(1, owner);
    q->Int(2, sunday.LinearSeconds());
    q->Int(3, sunday.AddDays(7).LinearSeconds());
    q->Int(4, cursor.idx);
    q->Int(5, kPageRows);
    ItemPage page = ReadPage(*q, 26, lease, note);
    if (!page.ok || !page.last) return page;
    cursor.phase = 1;
    cursor.idx = INT64_MIN;
    page.last = false;
    if (!page.items.empty()) return page;
  }
  auto q = c->Prepare(repeating);
  q->Int(1, owner);
  q->Int(2, cursor.idx);
  q->Int(3, kPageRows);
  return ReadPage(*q, 26, lease, note);
}

std::optional<ScheduleItem> ServerStore::FindItem(int32_t owner, const DateTime& index) {
  auto c = impl_->Acquire();
  if (!c) return std::nullopt;
  auto q = c->Prepare(std::string("SELECT ") + kItemColumns + " FROM items WHERE owner = ? AND idx = ?");
  q->Int(1, owner);
  q->Date(2, index);
  if (!q->Next()) return std::nullopt;
  return ReadItem(*q);
}

int64_t ServerStore::ItemCount(int32_t owner) {
  auto c = impl_->Acquire();
  return c ? Count(*c, owner) : -1;
}

bool ServerStore::CopyTo(ServerStore& target, std::string* error) {
  auto from = impl_->Acquire();
  auto to = target.impl_->Acquire();
  if (!from || !to) {
    SetError(error, "a database cannot be reached");
    return false;
  }
  {
    auto q = to->Prepare("SELECT (SELECT COUNT(*) FROM users) + (SELECT COUNT(*) FROM items)");
    if (!q->Next() || q->ColInt(0) != 0) {
      SetError(error, "the target database is not empty");
      return false;
    }
  }
  std::string step = "users";
  const bool ok = Transaction(*to, [&] {
    auto users = from->Prepare("SELECT id, name, display, password FROM users ORDER BY id");
    while (users->Next()) {
      auto q = to->Prepare("INSERT INTO users (id, name, display, password) VALUES (?, ?, ?, ?)");
      q->Int(1, users->ColInt(0));
      q->Blob(2, users->ColBlob(1));
      q->Blob(3, users->ColBlob(2));
      q->Text(4, users->ColBlob(3));
      if (!q->Done()) return false;
    }
    if (!users->Finished()) return false;
    step = "permissions";
    auto perms = from->Prepare("SELECT actor, target FROM permissions");
    while (perms->Next()) {
      auto q = to->Prepare("INSERT INTO permissions (actor, target) VALUES (?, ?)");
      q->Int(1, perms->ColInt(0));
      q->Int(2, perms->ColInt(1));
      if (!q->Done()) return false;
    }
    if (!perms->Finished()) return false;
    step = "items";
    // A page at a time, so that neither side holds a whole table.
    const std::string page = std::string("SELECT ") + kItemColumns +
                             ", owner, changed FROM items WHERE (owner, idx) > (?, ?) ORDER BY owner, idx LIMIT 1000";
    int64_t owner = INT64_MIN, idx = INT64_MIN;
    for (bool more = true; more;) {
      auto q = from->Prepare(page);
      q->Int(1, owner);
      q->Int(2, idx);
      int rows = 0;
      while (q->Next()) {
        ++rows;
        const ScheduleItem it = ReadItem(*q);
        owner = q->ColInt(26);
        idx = q->ColInt(0);
        if (!Write(*to, static_cast<int32_t>(owner), it, it.SyncFlag, q->ColInt(27))) return false;
      }
      if (!q->Finished()) return false;
      more = rows == 1000;
    }
    return true;
  });
  if (!ok) SetError(error, "copying the " + step + " failed: " + to->Error());
  return ok;
}

std::vector<ServerStore::ThrottleEntry> ServerStore::ThrottleRead(const std::vector<std::string>& keys) {
  std::vector<ThrottleEntry> out(keys.size());
  auto c = impl_->Acquire();
  if (!c) return out;
  // A sign-in reads four keys or more: one round trip for up to eight,
  // in one statement shape (a short batch repeats its last key).
  constexpr size_t kBatch = 8;
  for (size_t at = 0; at < keys.size(); at += kBatch) {
    const size_t end = std::min(at + kBatch, keys.size());
    auto q = c->Prepare("SELECT key, failures, last_ms FROM signin_throttle WHERE key IN (?, ?, ?, ?, ?, ?, ?, ?)");
    for (size_t k = 0; k < kBatch; ++k) q->Blob(static_cast<int>(k) + 1, keys[std::min(at + k, end - 1)]);
    while (q->Next()) {
      const std::string key = q->ColBlob(0);
      for (size_t i = at; i < end; ++i)
        if (keys[i] == key) out[i] = ThrottleEntry{static_cast<int>(q->ColInt(1)), q->ColInt(2)};
    }
  }
  return out;
}

int ServerStore::ThrottleFail(const std::vector<std::string>& keys, int64_t now_ms, int64_t forget_ms) {
  auto c = impl_->Acquire();
  if (!c) return -1;
  int first = -1;
  for (size_t i = 0; i < keys.size(); ++i) {
    auto q = c->Prepare(
        "INSERT INTO signin_throttle (key, failures, last_ms) VALUES (?1, 1, ?2) ON CONFLICT (key) DO UPDATE SET "
        "failures = CASE WHEN ?2 - signin_throttle.last_ms > ?3 THEN 1 ELSE signin_throttle.failures + 1 END, "
        "last_ms = ?2 RETURNING failures");
    q->Blob(1, keys[i]);
    q->Int(2, now_ms);
    q->Int(3, forget_ms);
    if (q->Next() && i == 0) first = static_cast<int>(std::min<int64_t>(q->ColInt(0), INT32_MAX));
    q->Done();
  }
  return first;
}

void ServerStore::ThrottleSet(const std::string& key, int failures, int64_t now_ms) {
  auto c = impl_->Acquire();
  if (!c) return;
  auto q = c->Prepare(
      "INSERT INTO signin_throttle (key, failures, last_ms) VALUES (?1, ?2, ?3) "
      "ON CONFLICT (key) DO UPDATE SET failures = ?2, last_ms = ?3");
  q->Blob(1, key);
  q->Int(2, failures);
  q->Int(3, now_ms);
  q->Done();
}

void ServerStore::ThrottlePrune(int64_t forget_before, const std::string& keep_prefix, int64_t keep_before,
                                int64_t max_rows, int free_failures) {
  auto c = impl_->Acquire();
  if (!c) return;
  {
    auto q = c->Prepare(
        "DELETE FROM signin_throttle WHERE (substr(key, 1, 1) = ?1 AND last_ms < ?2) OR "
        "(substr(key, 1, 1) <> ?1 AND last_ms < ?3)");
    q->Blob(1, keep_prefix.substr(0, 1));
    q->Int(2, keep_before);
    q->Int(3, forget_before);
    q->Done();
  }
  int64_t rows = -1;
  {
    auto q = c->Prepare("SELECT count(*) FROM signin_throttle");
    if (q->Next()) rows = q->ColInt(0);
    q->Done();
  }
  if (rows <= max_rows) return;
  auto q = c->Prepare(
      "DELETE FROM signin_throttle WHERE key IN (SELECT key FROM signin_throttle WHERE "
      "substr(key, 1, 1) <> ?1 AND failures <= ?2 ORDER BY last_ms LIMIT ?3)");
  q->Blob(1, keep_prefix.substr(0, 1));
  q->Int(2, free_failures);
  q->Int(3, rows - max_rows);
  q->Done();
}

}  // namespace kv::server
