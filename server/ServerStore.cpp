#include "server/ServerStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "model/Clock.h"
#include "server/Log.h"
#include "server/Password.h"
#include "server/SignInGuard.h"

namespace kv::server {

namespace {

// 2: Argon2id hashes (which a version 1 server could not check), and the
// indexes of the paged reads.
constexpr int kSchemaVersion = 2;

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
DROP INDEX IF EXISTS items_changed;
CREATE INDEX IF NOT EXISTS items_by_change ON items(owner, changed, idx);
CREATE INDEX IF NOT EXISTS items_single ON items(owner, "end", start) WHERE reptype = 0 AND syncflag <> 4;
CREATE INDEX IF NOT EXISTS items_repeating ON items(owner, idx) WHERE reptype <> 0 AND syncflag <> 4;
)sql";

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

bool Tighten(int fd, const std::string& path, std::string* error) {
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    SetError(error, "cannot read the mode of " + path + ": " + std::strerror(errno));
    return false;
  }
  if ((st.st_mode & 077) != 0 && fchmod(fd, st.st_mode & 0700) != 0) {
    SetError(error, "cannot make " + path + " readable by its owner only: " + std::strerror(errno));
    return false;
  }
  return true;
}

// Makes the database file readable by its owner only before SQLite opens
// it: SQLite gives its -wal and -shm files the mode of the database file.
// Journals left by an earlier run are tightened too.
bool MakePrivate(const std::string& path, std::string* error) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    SetError(error, "cannot open " + path + ": " + std::strerror(errno));
    return false;
  }
  const bool ok = Tighten(fd, path, error);
  close(fd);
  if (!ok) return false;
  for (const char* suffix : {"-wal", "-shm", "-journal"}) {
    const std::string side = path + suffix;
    const int s = open(side.c_str(), O_RDWR | O_CLOEXEC);
    if (s < 0) continue;
    const bool tight = Tighten(s, side, error);
    close(s);
    if (!tight) return false;
  }
  return true;
}

}  // namespace

struct ServerStore::Impl {
  sqlite3* db = nullptr;
  std::string path;
  std::mutex mu;
  std::atomic<int64_t> item_limit{200000};

  int64_t Count(int32_t owner) {
    Stmt q(db, "SELECT COUNT(*) FROM items WHERE owner = ?");
    if (!q.ok()) return -1;
    q.Int(1, owner);
    return q.Step() == SQLITE_ROW ? q.ColInt(0) : -1;
  }

  // True when one more row for the owner stays within the limit.
  bool RoomForOne(int32_t owner) {
    const int64_t n = Count(owner);
    if (n >= 0 && n < item_limit.load()) return true;
    if (n >= 0) LogItemLimit(owner, item_limit.load(), "a new item");
    return false;
  }

  // One immediate change in a transaction of its own; 1 done, 0 refused.
  // An add refuses an Index that names a live item.
  int Change(int32_t owner, const ScheduleItem& item, int32_t flag, bool add) {
    if (!item.Index.IsValid()) return 0;
    const int64_t now = kv::Now().LinearSeconds();
    std::lock_guard<std::mutex> lock(mu);
    return Transaction([&] {
             const int stored = StoredFlag(owner, item.Index, nullptr);
             if (stored == -2 || (add && stored >= 0 && stored != SyncDeleted)) return false;
             if (stored == -1 && !RoomForOne(owner)) return false;
             return Write(owner, item, flag, now);
           })
               ? 1
               : 0;
  }

  // Reads rows of q (kItemColumns, then kRowBytes last) into a page,
  // charging each row to the lease before its texts are read. `key`
  // records where the next page starts.
  template <typename Key>
  ItemPage ReadPage(Stmt& q, int size_col, BudgetLease* lease, Key key) {
    ItemPage page;
    std::size_t held = 0;
    int rows = 0;
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) {
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
    page.ok = rc == SQLITE_DONE;
    page.last = true;
    return page;
  }

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
  if (!MakePrivate(path, error)) return false;
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
  impl_->path = path;
  return true;
}

std::string ServerStore::Directory() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  const auto slash = impl_->path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : impl_->path.substr(0, slash);
}

void ServerStore::SetItemLimit(int64_t limit) { impl_->item_limit = limit; }
int64_t ServerStore::ItemLimit() const { return impl_->item_limit.load(); }

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
  const std::string hash = NewHash(password, error);
  if (hash.empty()) return false;
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
  const std::string hash = NewHash(password, error);
  if (hash.empty()) return false;
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
  ThrottleOptions plain;
  plain.enabled = false;
  SignInGuard guard(plain);
  return guard.SignInAs(*this, name, password, "").who;
}

std::optional<Credentials> ServerStore::CredentialsOf(const std::string& name) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  const auto user = impl_->Find(name);
  if (!user) return std::nullopt;
  const auto own = impl_->PasswordOf(user->id);
  if (!own) return std::nullopt;
  Credentials c{*user, *own, {}};
  Stmt q(impl_->db,
         "SELECT u.id, u.name, u.password FROM permissions p JOIN users u ON u.id = p.actor "
         "WHERE p.target = ? ORDER BY u.id");
  if (q.ok()) {
    q.Int(1, user->id);
    while (q.Step() == SQLITE_ROW)
      c.delegates.push_back(Candidate{static_cast<int32_t>(q.ColInt(0)), q.ColBlob(1), q.ColBlob(2)});
  }
  return c;
}

bool ServerStore::ReplaceHash(int32_t id, const std::string& old_hash, const std::string& new_hash) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  Stmt q(impl_->db, "UPDATE users SET password = ? WHERE id = ? AND password = ?");
  if (!q.ok()) return false;
  q.Text(1, new_hash);
  q.Int(2, id);
  q.Text(3, old_hash);
  return q.Done() && sqlite3_changes(impl_->db) == 1;
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
  std::lock_guard<std::mutex> lock(impl_->mu);
  int applied = 0;
  bool over_limit = false;
  const bool ok = impl_->Transaction([&] {
    int64_t rows = impl_->Count(owner);
    if (rows < 0) return false;
    const int64_t limit = impl_->item_limit.load();
    return source([&](const ScheduleItem& r) {
      if (!r.Index.IsValid()) return true;
      const bool deletion = r.SyncFlag == SyncDeleted;
      DateTime stored_updated = DateTime::Invalid();
      const int flag = impl_->StoredFlag(owner, r.Index, &stored_updated);
      if (flag == -2) return false;
      if (flag >= 0) {
        // The client keeps Updated when it deletes, so a deletion of the
        // stored version arrives with the same time and must still win.
        const bool newer = r.Updated > stored_updated || !stored_updated.IsValid();
        const bool tie_delete = r.Updated == stored_updated && deletion && flag != SyncDeleted;
        if (!newer && !tie_delete) return true;
      } else if (++rows > limit) {
        over_limit = true;
        return false;
      }
      if (!impl_->Write(owner, r, deletion ? SyncDeleted : SyncClean, now)) return false;
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
  std::lock_guard<std::mutex> lock(impl_->mu);
  if (!since.IsValid()) return impl_->Select("", owner, nullptr);
  return impl_->Select("AND changed >= ?", owner, &since);
}

std::vector<ScheduleItem> ServerStore::LiveItems(int32_t owner) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->Select("AND syncflag <> 4", owner, nullptr);
}

ItemPage ServerStore::ChangedPage(int32_t owner, const DateTime& since, PageCursor& cursor, BudgetLease* lease) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  static const std::string sql = std::string("SELECT ") + kItemColumns + ", changed, " + kRowBytes +
                                 " FROM items WHERE owner = ?1 AND changed >= ?2 AND (changed > ?2 OR idx > ?3)"
                                 " ORDER BY changed, idx LIMIT ?4";
  if (cursor.phase == 0 && since.IsValid()) cursor.changed = since.LinearSeconds();
  cursor.phase = 1;
  Stmt q(impl_->db, sql.c_str());
  if (!q.ok()) return ItemPage{{}, false, true};
  q.Int(1, owner);
  q.Int(2, cursor.changed);
  q.Int(3, cursor.idx);
  q.Int(4, kPageRows);
  return impl_->ReadPage(q, 27, lease, [&](Stmt& row) {
    cursor.changed = row.ColInt(26);
    cursor.idx = row.ColInt(0);
  });
}

ItemPage ServerStore::WeekCandidatesPage(int32_t owner, const DateTime& sunday, PageCursor& cursor,
                                         BudgetLease* lease) {
  if (!sunday.IsValid()) return ItemPage{{}, true, true};
  std::lock_guard<std::mutex> lock(impl_->mu);
  // A single item meets the week only if it ends at or after its first
  // instant and starts before its end; the partial indexes hold only live
  // items, so neither read walks the owner's whole table.
  static const std::string singles = std::string("SELECT ") + kItemColumns + ", " + kRowBytes +
                                     " FROM items INDEXED BY items_single WHERE owner = ?1 AND reptype = 0"
                                     " AND syncflag <> 4 AND \"end\" >= ?2 AND start < ?3 AND idx > ?4"
                                     " ORDER BY idx LIMIT ?5";
  static const std::string repeating = std::string("SELECT ") + kItemColumns + ", " + kRowBytes +
                                       " FROM items INDEXED BY items_repeating WHERE owner = ?1 AND reptype <> 0"
                                       " AND syncflag <> 4 AND idx > ?2 ORDER BY idx LIMIT ?3";
  const auto note = [&](Stmt& row) { cursor.idx = row.ColInt(0); };
  if (cursor.phase == 0) {
    Stmt q(impl_->db, singles.c_str());
    if (!q.ok()) return ItemPage{{}, false, true};
    q.Int(1, owner);
    q.Int(2, sunday.LinearSeconds());
    q.Int(3, sunday.AddDays(7).LinearSeconds());
    q.Int(4, cursor.idx);
    q.Int(5, kPageRows);
    ItemPage page = impl_->ReadPage(q, 26, lease, note);
    if (!page.ok || !page.last) return page;
    cursor.phase = 1;
    cursor.idx = INT64_MIN;
    page.last = false;
    if (!page.items.empty()) return page;
  }
  Stmt q(impl_->db, repeating.c_str());
  if (!q.ok()) return ItemPage{{}, false, true};
  q.Int(1, owner);
  q.Int(2, cursor.idx);
  q.Int(3, kPageRows);
  return impl_->ReadPage(q, 26, lease, note);
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
  return impl_->Count(owner);
}

}  // namespace kv::server
