#include "server/ServerStore.h"

#include <sqlite3.h>

#include "model/Clock.h"
#include "server/Password.h"

namespace kv::server {

namespace {

constexpr int kSchemaVersion = 1;

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS users (
  id INTEGER PRIMARY KEY,
  name BLOB NOT NULL UNIQUE,
  display BLOB NOT NULL,
  password TEXT NOT NULL
);
CREATE TABLE IF NOT EXISTS permissions (
  actor INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  target INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  PRIMARY KEY (actor, target)
);
CREATE TABLE IF NOT EXISTS items (
  owner INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
  idx INTEGER NOT NULL,
  changed INTEGER NOT NULL,
  syncflag INTEGER NOT NULL,
  updated INTEGER, subject BLOB, place BLOB, execute BLOB,
  private INTEGER, color INTEGER, userid INTEGER, type INTEGER,
  start INTEGER, "end" INTEGER, alarm INTEGER, alarmtime INTEGER, descr BLOB,
  attr1 BLOB, attr2 BLOB, attr3 BLOB, attr4 BLOB, attr5 BLOB,
  reptype INTEGER, repx INTEGER, repy INTEGER, repz INTEGER,
  repstart INTEGER, repend INTEGER,
  PRIMARY KEY (owner, idx)
);
CREATE INDEX IF NOT EXISTS items_changed ON items(owner, changed);
)sql";

const char* const kItemColumns =
    "idx, syncflag, updated, subject, place, execute, private, color, userid, type, start, \"end\", "
    "alarm, alarmtime, descr, attr1, attr2, attr3, attr4, attr5, reptype, repx, repy, repz, "
    "repstart, repend";

// A statement that finalises itself.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) { ok_ = sqlite3_prepare_v2(db, sql, -1, &s_, nullptr) == SQLITE_OK; }
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  bool ok() const { return ok_; }
  sqlite3_stmt* get() { return s_; }

  void Int(int i, int64_t v) { sqlite3_bind_int64(s_, i, v); }
  void Blob(int i, const std::string& v) {
    sqlite3_bind_blob(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void Text(int i, const std::string& v) {
    sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void Date(int i, const DateTime& d) {
    if (d.IsValid())
      sqlite3_bind_int64(s_, i, d.LinearSeconds());
    else
      sqlite3_bind_null(s_, i);
  }
  int Step() { return sqlite3_step(s_); }
  bool Done() { return Step() == SQLITE_DONE; }

  int64_t ColInt(int i) { return sqlite3_column_int64(s_, i); }
  std::string ColBlob(int i) {
    const void* p = sqlite3_column_blob(s_, i);
    const int n = sqlite3_column_bytes(s_, i);
    return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
  }
  DateTime ColDate(int i) {
    if (sqlite3_column_type(s_, i) == SQLITE_NULL) return DateTime::Invalid();
    return DateTime::FromLinearSeconds(sqlite3_column_int64(s_, i));
  }

 private:
  sqlite3_stmt* s_ = nullptr;
  bool ok_ = false;
};

ScheduleItem ReadItem(Stmt& q) {
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
void BindItem(Stmt& q, int first, const ScheduleItem& it, int32_t flag) {
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

}  // namespace

struct ServerStore::Impl {
  sqlite3* db = nullptr;
  std::mutex mu;

  bool Exec(const char* sql) { return db && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

  // Runs body inside BEGIN IMMEDIATE ... COMMIT; rolls back when it
  // returns false or a commit fails.
  template <typename F>
  bool Transaction(F&& body) {
    if (!Exec("BEGIN IMMEDIATE")) return false;
    if (!body() || !Exec("COMMIT")) {
      Exec("ROLLBACK");
      return false;
    }
    return true;
  }

  std::optional<User> Find(const std::string& name) {
    Stmt q(db, "SELECT id, name, display FROM users WHERE name = ?");
    if (!q.ok()) return std::nullopt;
    q.Blob(1, name);
    if (q.Step() != SQLITE_ROW) return std::nullopt;
    return User{static_cast<int32_t>(q.ColInt(0)), q.ColBlob(1), q.ColBlob(2)};
  }

  // One column of a named user, set by `sql` with the value bound first
  // and the ID second. Caller holds the lock.
  template <typename Bind>
  bool UpdateUser(const std::string& name, const char* sql, Bind bind, const char* failure,
                  std::string* error) {
    const auto u = Find(name);
    if (!u) {
      SetError(error, "no such user");
      return false;
    }
    Stmt q(db, sql);
    bind(q);
    q.Int(2, u->id);
    if (!q.ok() || !q.Done()) {
      SetError(error, failure);
      return false;
    }
    return true;
  }

  std::optional<std::string> PasswordOf(int32_t id) {
    Stmt q(db, "SELECT password FROM users WHERE id = ?");
    if (!q.ok()) return std::nullopt;
    q.Int(1, id);
    if (q.Step() != SQLITE_ROW) return std::nullopt;
    return q.ColBlob(0);
  }

  bool Permitted(int32_t actor, int32_t target) {
    if (actor == target) return true;
    Stmt q(db, "SELECT 1 FROM permissions WHERE actor = ? AND target = ?");
    if (!q.ok()) return false;
    q.Int(1, actor);
    q.Int(2, target);
    return q.Step() == SQLITE_ROW;
  }

  // -1: no such item; otherwise its SyncFlag, with *updated set.
  int StoredFlag(int32_t owner, const DateTime& index, DateTime* updated) {
    Stmt q(db, "SELECT syncflag, updated FROM items WHERE owner = ? AND idx = ?");
    if (!q.ok()) return -2;
    q.Int(1, owner);
    q.Date(2, index);
    const int rc = q.Step();
    if (rc == SQLITE_DONE) return -1;
    if (rc != SQLITE_ROW) return -2;
    if (updated) *updated = q.ColDate(1);
    return static_cast<int>(q.ColInt(0));
  }

  bool Write(int32_t owner, const ScheduleItem& it, int32_t flag, int64_t changed) {
    static const std::string sql = std::string("INSERT OR REPLACE INTO items (owner, changed, ") +
                                   kItemColumns +
                                   ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                   "?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
    Stmt q(db, sql.c_str());
    if (!q.ok()) return false;
    q.Int(1, owner);
    q.Int(2, changed);
    BindItem(q, 3, it, flag);
    return q.Done();
  }

  std::vector<ScheduleItem> Select(const std::string& where, int32_t owner, const DateTime* since) {
    std::vector<ScheduleItem> out;
    const std::string sql = std::string("SELECT ") + kItemColumns + " FROM items WHERE owner = ? " + where +
                            " ORDER BY idx";
    Stmt q(db, sql.c_str());
    if (!q.ok()) return out;
    q.Int(1, owner);
    if (since) q.Int(2, since->LinearSeconds());
    while (q.Step() == SQLITE_ROW) out.push_back(ReadItem(q));
    return out;
  }
};

ServerStore::ServerStore() : impl_(std::make_unique<Impl>()) {}
ServerStore::~ServerStore() { Close(); }

bool ServerStore::Open(const std::string& path, std::string* error) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->db) {
    sqlite3_close(impl_->db);
    impl_->db = nullptr;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    SetError(error, "cannot open " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
    sqlite3_close(db);
    return false;
  }
  impl_->db = db;
  sqlite3_busy_timeout(db, 5000);
  int version = -1;
  {
    Stmt q(db, "PRAGMA user_version");
    if (q.ok() && q.Step() == SQLITE_ROW) version = static_cast<int>(q.ColInt(0));
  }
  if (version > kSchemaVersion) {
    SetError(error, path + " was written by a newer server (schema " + std::to_string(version) + ")");
    sqlite3_close(db);
    impl_->db = nullptr;
    return false;
  }
  const bool ok = impl_->Exec("PRAGMA journal_mode=WAL") && impl_->Exec("PRAGMA foreign_keys=ON") &&
                  impl_->Exec("PRAGMA synchronous=FULL") &&
                  impl_->Transaction([&] {
                    return impl_->Exec(kSchema) &&
                           impl_->Exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
                  });
  if (!ok) {
    SetError(error, path + " is not a usable server database: " + sqlite3_errmsg(db));
    sqlite3_close(db);
    impl_->db = nullptr;
    return false;
  }
  return true;
}

void ServerStore::Close() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->db) sqlite3_close(impl_->db);
  impl_->db = nullptr;
}

void ServerStore::SetFullSync(bool full) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->Exec(full ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
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
  const std::string hash = HashPassword(password);
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (impl_->Find(name)) {
    SetError(error, "a user with that name exists already");
    return false;
  }
  int32_t got = 0;
  const bool ok = impl_->Transaction([&] {
    int64_t use = id;
    if (use == 0) {
      Stmt q(impl_->db, "SELECT COALESCE(MAX(id), 0) + 1 FROM users");
      if (!q.ok() || q.Step() != SQLITE_ROW) return false;
      use = q.ColInt(0);
      if (use > INT32_MAX) return false;
    }
    Stmt q(impl_->db, "INSERT INTO users (id, name, display, password) VALUES (?, ?, ?, ?)");
    if (!q.ok()) return false;
    q.Int(1, use);
    q.Blob(2, name);
    q.Blob(3, display.empty() ? name : display);
    q.Text(4, hash);
    if (!q.Done()) return false;
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
  std::lock_guard<std::mutex> lock(impl_->mu);
  const auto u = impl_->Find(name);
  if (!u) {
    SetError(error, "no such user");
    return false;
  }
  const bool ok = impl_->Transaction([&] {
    Stmt a(impl_->db, "DELETE FROM items WHERE owner = ?");
    Stmt b(impl_->db, "DELETE FROM permissions WHERE actor = ? OR target = ?");
    Stmt c(impl_->db, "DELETE FROM users WHERE id = ?");
    if (!a.ok() || !b.ok() || !c.ok()) return false;
    a.Int(1, u->id);
    b.Int(1, u->id);
    b.Int(2, u->id);
    c.Int(1, u->id);
    return a.Done() && b.Done() && c.Done();
  });
  if (!ok) SetError(error, "the user could not be removed");
  return ok;
}

bool ServerStore::SetPassword(const std::string& name, const std::string& password, std::string* error) {
  const std::string hash = HashPassword(password);
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->UpdateUser(name, "UPDATE users SET password = ? WHERE id = ?",
                           [&](Stmt& q) { q.Text(1, hash); }, "the password could not be changed", error);
}

bool ServerStore::SetDisplayName(const std::string& name, const std::string& display, std::string* error) {
  if (display.find_first_of("\r\n") != std::string::npos) {
    SetError(error, "names must not contain line breaks");
    return false;
  }
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->UpdateUser(name, "UPDATE users SET display = ? WHERE id = ?",
                           [&](Stmt& q) { q.Blob(1, display); }, "the display name could not be changed", error);
}

bool ServerStore::Grant(const std::string& actor, const std::string& target, std::string* error) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  const auto a = impl_->Find(actor);
  const auto t = impl_->Find(target);
  if (!a || !t) {
    SetError(error, std::string("no such user: ") + (a ? target : actor));
    return false;
  }
  if (a->id == t->id) return true;  // everyone may write their own items
  Stmt q(impl_->db, "INSERT OR IGNORE INTO permissions (actor, target) VALUES (?, ?)");
  q.Int(1, a->id);
  q.Int(2, t->id);
  if (!q.ok() || !q.Done()) {
    SetError(error, "the permission could not be stored");
    return false;
  }
  return true;
}

bool ServerStore::Revoke(const std::string& actor, const std::string& target, std::string* error) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  const auto a = impl_->Find(actor);
  const auto t = impl_->Find(target);
  if (!a || !t) {
    SetError(error, std::string("no such user: ") + (a ? target : actor));
    return false;
  }
  Stmt q(impl_->db, "DELETE FROM permissions WHERE actor = ? AND target = ?");
  q.Int(1, a->id);
  q.Int(2, t->id);
  if (!q.ok() || !q.Done()) {
    SetError(error, "the permission could not be removed");
    return false;
  }
  return true;
}

std::vector<User> ServerStore::Users() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  std::vector<User> out;
  Stmt q(impl_->db, "SELECT id, name, display FROM users ORDER BY id");
  if (!q.ok()) return out;
  while (q.Step() == SQLITE_ROW) out.push_back(User{static_cast<int32_t>(q.ColInt(0)), q.ColBlob(1), q.ColBlob(2)});
  return out;
}

std::vector<Permission> ServerStore::Permissions() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  std::vector<Permission> out;
  Stmt q(impl_->db, "SELECT actor, target FROM permissions ORDER BY actor, target");
  if (!q.ok()) return out;
  while (q.Step() == SQLITE_ROW)
    out.push_back(Permission{static_cast<int32_t>(q.ColInt(0)), static_cast<int32_t>(q.ColInt(1))});
  return out;
}

std::optional<User> ServerStore::FindUser(const std::string& name) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->Find(name);
}

SignIn ServerStore::Authenticate(const std::string& name, const std::string& password) {
  std::optional<User> user;
  std::optional<std::string> own;
  std::vector<std::pair<int32_t, std::string>> delegates;
  {
    std::lock_guard<std::mutex> lock(impl_->mu);
    user = impl_->Find(name);
    if (!user) return SignIn{-1, 0, 0};
    own = impl_->PasswordOf(user->id);
    Stmt q(impl_->db,
           "SELECT u.id, u.password FROM permissions p JOIN users u ON u.id = p.actor "
           "WHERE p.target = ? ORDER BY u.id");
    if (q.ok()) {
      q.Int(1, user->id);
      while (q.Step() == SQLITE_ROW) delegates.emplace_back(static_cast<int32_t>(q.ColInt(0)), q.ColBlob(1));
    }
  }
  // The hashing runs outside the lock: it is the slow part of a sign-in.
  if (own && CheckPassword(password, *own)) return SignIn{0, user->id, user->id};
  for (const auto& [id, hash] : delegates)
    if (CheckPassword(password, hash)) return SignIn{0, user->id, id};
  return SignIn{-2, 0, 0};
}

bool ServerStore::MayWrite(int32_t actor, int32_t target) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->Permitted(actor, target);
}

std::vector<ListedUser> ServerStore::UserList(int32_t viewer) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  std::vector<ListedUser> out;
  Stmt q(impl_->db,
         "SELECT u.id, u.name, u.display, "
         "(u.id = ?1 OR EXISTS (SELECT 1 FROM permissions p WHERE p.actor = ?1 AND p.target = u.id)) "
         "FROM users u ORDER BY u.id");
  if (!q.ok()) return out;
  q.Int(1, viewer);
  while (q.Step() == SQLITE_ROW)
    out.push_back(ListedUser{User{static_cast<int32_t>(q.ColInt(0)), q.ColBlob(1), q.ColBlob(2)},
                             static_cast<int32_t>(q.ColInt(3))});
  return out;
}

int ServerStore::AddItem(int32_t owner, const ScheduleItem& item) {
  if (!item.Index.IsValid()) return 0;
  const int64_t now = kv::Now().LinearSeconds();
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->Transaction([&] {
    const int flag = impl_->StoredFlag(owner, item.Index, nullptr);
    if (flag == -2 || (flag >= 0 && flag != SyncDeleted)) return false;
    return impl_->Write(owner, item, SyncClean, now);
  }) ? 1 : 0;
}

int ServerStore::UpdateItem(int32_t owner, const ScheduleItem& item) {
  if (!item.Index.IsValid()) return 0;
  const int64_t now = kv::Now().LinearSeconds();
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->Transaction([&] { return impl_->Write(owner, item, SyncClean, now); }) ? 1 : 0;
}

int ServerStore::DeleteItem(int32_t owner, const ScheduleItem& item) {
  if (!item.Index.IsValid()) return 0;
  const int64_t now = kv::Now().LinearSeconds();
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->Transaction([&] { return impl_->Write(owner, item, SyncDeleted, now); }) ? 1 : 0;
}

int ServerStore::ApplyUpload(int32_t owner, const std::vector<ScheduleItem>& items) {
  const int64_t now = kv::Now().LinearSeconds();
  std::lock_guard<std::mutex> lock(impl_->mu);
  int applied = 0;
  const bool ok = impl_->Transaction([&] {
    for (const ScheduleItem& r : items) {
      if (!r.Index.IsValid()) continue;
      const bool deletion = r.SyncFlag == SyncDeleted;
      DateTime stored_updated = DateTime::Invalid();
      const int flag = impl_->StoredFlag(owner, r.Index, &stored_updated);
      if (flag == -2) return false;
      if (flag >= 0) {
        // The client keeps Updated when it deletes, so a deletion of the
        // stored version arrives with the same time and must still win.
        const bool newer = r.Updated > stored_updated || !stored_updated.IsValid();
        const bool tie_delete = r.Updated == stored_updated && deletion && flag != SyncDeleted;
        if (!newer && !tie_delete) continue;
      }
      if (!impl_->Write(owner, r, deletion ? SyncDeleted : SyncClean, now)) return false;
      ++applied;
    }
    return true;
  });
  return ok ? applied : -1;
}

std::vector<ScheduleItem> ServerStore::ChangedSince(int32_t owner, const DateTime& since) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (!since.IsValid()) return impl_->Select("", owner, nullptr);
  return impl_->Select("AND changed >= ?", owner, &since);
}

std::vector<ScheduleItem> ServerStore::LiveItems(int32_t owner) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->Select("AND syncflag <> 4", owner, nullptr);
}

std::optional<ScheduleItem> ServerStore::FindItem(int32_t owner, const DateTime& index) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  std::vector<ScheduleItem> out;
  const std::string sql = std::string("SELECT ") + kItemColumns + " FROM items WHERE owner = ? AND idx = ?";
  Stmt q(impl_->db, sql.c_str());
  if (!q.ok()) return std::nullopt;
  q.Int(1, owner);
  q.Date(2, index);
  if (q.Step() != SQLITE_ROW) return std::nullopt;
  return ReadItem(q);
}

int64_t ServerStore::ItemCount(int32_t owner) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  Stmt q(impl_->db, "SELECT COUNT(*) FROM items WHERE owner = ?");
  if (!q.ok()) return -1;
  q.Int(1, owner);
  return q.Step() == SQLITE_ROW ? q.ColInt(0) : -1;
}

}  // namespace kv::server
