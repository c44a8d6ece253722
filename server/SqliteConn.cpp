#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "server/SqlConn.h"

namespace kv::server::sql {

namespace {

void SetError(std::string* error, std::string msg) {
  if (error) *error = std::move(msg);
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

class SqliteQuery final : public Query {
 public:
  SqliteQuery(sqlite3* db, const std::string& sql) : db_(db) {
    ok_ = sqlite3_prepare_v2(db, sql.c_str(), -1, &s_, nullptr) == SQLITE_OK;
  }
  ~SqliteQuery() override { sqlite3_finalize(s_); }
  bool ok() const override { return ok_; }
  void Int(int i, int64_t v) override { sqlite3_bind_int64(s_, i, v); }
  void Blob(int i, const std::string& v) override {
    sqlite3_bind_blob(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void Text(int i, const std::string& v) override {
    sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
  }
  void Null(int i) override { sqlite3_bind_null(s_, i); }
  bool Next() override {
    if (!ok_ || finished_) return false;
    const int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW) return true;
    finished_ = rc == SQLITE_DONE;
    if (!finished_) ok_ = false;
    return false;
  }
  bool Finished() const override { return finished_; }
  int64_t ColInt(int i) override { return sqlite3_column_int64(s_, i); }
  bool ColNull(int i) override { return sqlite3_column_type(s_, i) == SQLITE_NULL; }
  std::string ColBlob(int i) override {
    const void* p = sqlite3_column_blob(s_, i);
    const int n = sqlite3_column_bytes(s_, i);
    return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
  }
  int64_t Changes() override { return sqlite3_changes(db_); }

 private:
  sqlite3* db_;
  sqlite3_stmt* s_ = nullptr;
  bool ok_ = false;
  bool finished_ = false;
};

class SqliteConn final : public Conn {
 public:
  explicit SqliteConn(sqlite3* db) : db_(db) {}
  std::unique_ptr<Query> Prepare(const std::string& sql) override { return std::make_unique<SqliteQuery>(db_, sql); }
  bool Exec(const std::string& sql) override {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  bool Begin() override { return Exec("BEGIN IMMEDIATE"); }
  // BEGIN IMMEDIATE already holds the database's only write lock.
  bool LockOwner(int32_t) override { return true; }
  bool Retryable() const override { return false; }
  std::string Error() const override { return sqlite3_errmsg(db_); }
  std::string IndexHint(const char* index) const override { return std::string(" INDEXED BY ") + index; }

 private:
  sqlite3* db_;
};

// One connection, taken in turn.
class SqliteEngine final : public Engine {
 public:
  SqliteEngine(sqlite3* db, std::string path) : db_(db), conn_(db), path_(std::move(path)) {}
  ~SqliteEngine() override { sqlite3_close(db_); }
  Lease Acquire() override {
    mu_.lock();
    return Lease(&conn_, [this] { mu_.unlock(); });
  }
  std::string Directory() const override {
    const auto slash = path_.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path_.substr(0, slash);
  }
  void SetFullSync(bool full) override {
    std::lock_guard<std::mutex> lock(mu_);
    conn_.Exec(full ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=NORMAL");
  }
  bool Shared() const override { return false; }
  const char* IntType() const override { return "INTEGER"; }
  const char* BlobType() const override { return "BLOB"; }

  bool Install(const std::string& schema, int version, std::string* error) override {
    int found = -1;
    {
      SqliteQuery q(db_, "PRAGMA user_version");
      if (q.Next()) found = static_cast<int>(q.ColInt(0));
    }
    if (found > version) {
      SetError(error, path_ + " was written by a newer server (schema " + std::to_string(found) + ")");
      return false;
    }
    bool ok = conn_.Exec("PRAGMA journal_mode=WAL") && conn_.Exec("PRAGMA foreign_keys=ON") &&
              conn_.Exec("PRAGMA synchronous=FULL") && conn_.Begin();
    if (ok && !(conn_.Exec(schema) && conn_.Exec("PRAGMA user_version=" + std::to_string(version)) &&
                conn_.Exec("COMMIT"))) {
      conn_.Exec("ROLLBACK");
      ok = false;
    }
    if (!ok) SetError(error, path_ + " is not a usable server database: " + sqlite3_errmsg(db_));
    return ok;
  }

 private:
  sqlite3* db_;
  SqliteConn conn_;
  std::string path_;
  mutable std::mutex mu_;
};

}  // namespace

std::unique_ptr<Engine> OpenSqlite(const std::string& path, std::string* error) {
  if (!MakePrivate(path, error)) return nullptr;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    SetError(error, "cannot open " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, 5000);
  return std::make_unique<SqliteEngine>(db, path);
}

}  // namespace kv::server::sql
