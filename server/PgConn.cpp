#include <libpq-fe.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "server/SqlConn.h"

namespace kv::server::sql {

namespace {

void SetError(std::string* error, std::string msg) {
  if (error) *error = std::move(msg);
}

std::string Trimmed(const char* s) {
  std::string t = s ? s : "";
  while (!t.empty() && (t.back() == '\n' || t.back() == ' ')) t.pop_back();
  return t;
}

// SQLite's ? and ?N as $N; returns how many parameters there are.
std::string Translate(const std::string& sql, int* params) {
  std::string out;
  out.reserve(sql.size() + 16);
  int high = 0;
  bool quoted = false;
  for (size_t i = 0; i < sql.size(); ++i) {
    const char ch = sql[i];
    if (ch == '\'') quoted = !quoted;
    if (ch != '?' || quoted) {
      out.push_back(ch);
      continue;
    }
    int n = 0;
    while (i + 1 < sql.size() && sql[i + 1] >= '0' && sql[i + 1] <= '9' && n < 10000) n = n * 10 + (sql[++i] - '0');
    if (n == 0) n = high + 1;
    high = std::max(high, n);
    out += '$' + std::to_string(n);
  }
  *params = high;
  return out;
}

// Advisory lock keys: (kLockSpace, owner) for an owner's items, the
// schema's own while it is created.
constexpr int kLockSpace = 0x4b76;
constexpr int kSchemaLock = 0x4b77;

class PgConn;

class PgQuery final : public Query {
 public:
  PgQuery(PgConn& c, const std::string* name, int params)
      : c_(c), name_(name), values_(static_cast<size_t>(params)), null_(static_cast<size_t>(params), 1),
        formats_(static_cast<size_t>(params), 0) {}
  ~PgQuery() override { PQclear(res_); }
  bool ok() const override { return name_ != nullptr && !failed_; }
  void Int(int i, int64_t v) override { Set(i, std::to_string(v), 0); }
  void Blob(int i, const std::string& v) override { Set(i, v, 1); }
  void Text(int i, const std::string& v) override { Set(i, v, 0); }
  void Null(int i) override {
    if (i >= 1 && static_cast<size_t>(i) <= null_.size()) null_[static_cast<size_t>(i) - 1] = 1;
  }
  bool Next() override;
  bool Finished() const override { return ran_ && !failed_ && row_ >= rows_; }
  int64_t ColInt(int i) override {
    const auto* p = reinterpret_cast<const unsigned char*>(PQgetvalue(res_, row_, i));
    const int n = PQgetlength(res_, row_, i);
    if (n == 1) return p[0];  // a boolean
    if (n != 2 && n != 4 && n != 8) return 0;
    uint64_t v = 0;
    for (int k = 0; k < n; ++k) v = (v << 8) | p[k];
    if (n < 8 && (p[0] & 0x80)) v |= ~uint64_t{0} << (8 * n);
    return static_cast<int64_t>(v);
  }
  bool ColNull(int i) override { return PQgetisnull(res_, row_, i) != 0; }
  std::string ColBlob(int i) override {
    return std::string(PQgetvalue(res_, row_, i), static_cast<size_t>(PQgetlength(res_, row_, i)));
  }
  int64_t Changes() override { return res_ ? std::atoll(PQcmdTuples(res_)) : 0; }

 private:
  void Set(int i, const std::string& v, int format) {
    if (i < 1 || static_cast<size_t>(i) > values_.size()) return;
    values_[static_cast<size_t>(i) - 1] = v;
    null_[static_cast<size_t>(i) - 1] = 0;
    formats_[static_cast<size_t>(i) - 1] = format;
  }

  PgConn& c_;
  const std::string* name_;
  std::vector<std::string> values_;
  std::vector<char> null_;
  std::vector<int> formats_;
  PGresult* res_ = nullptr;
  bool ran_ = false;
  bool failed_ = false;
  int row_ = -1;
  int rows_ = 0;
};

class PgConn final : public Conn {
 public:
  explicit PgConn(PGconn* pg) : pg_(pg) {}
  ~PgConn() override { PQfinish(pg_); }

  bool Healthy() const { return PQstatus(pg_) == CONNECTION_OK; }
  // Reads what waits on an idle connection without blocking: a database
  // that went away has closed it, which this notices before a request
  // fails on it.
  bool StillThere() { return Healthy() && PQconsumeInput(pg_) == 1 && Healthy(); }
  // Prepared statements die with the old session.
  bool Reset() {
    prepared_.clear();
    PQreset(pg_);
    synced_ = -1;
    return Healthy();
  }
  bool Sync(bool full) {
    if (synced_ == static_cast<int>(full)) return true;
    if (!Exec(full ? "SET synchronous_commit = on" : "SET synchronous_commit = off")) return false;
    synced_ = full;
    return true;
  }

  std::unique_ptr<Query> Prepare(const std::string& sql) override {
    auto it = prepared_.find(sql);
    if (it == prepared_.end()) {
      int params = 0;
      const std::string text = Translate(sql, &params);
      const std::string name = "s" + std::to_string(prepared_.size());
      if (!Check(PQprepare(pg_, name.c_str(), text.c_str(), params, nullptr))) return Failed();
      it = prepared_.emplace(sql, Prepared{name, params}).first;
    }
    return std::make_unique<PgQuery>(*this, &it->second.name, it->second.params);
  }
  bool Exec(const std::string& sql) override { return Check(PQexec(pg_, sql.c_str())); }
  bool Begin() override {
    state_.clear();
    return Exec("BEGIN");
  }
  bool LockOwner(int32_t owner) override {
    auto q = Prepare("SELECT pg_advisory_xact_lock(" + std::to_string(kLockSpace) + ", ?)");
    q->Int(1, owner);
    return q->Done();
  }
  bool Retryable() const override { return state_ == "40001" || state_ == "40P01"; }
  std::string Error() const override { return error_; }
  std::string IndexHint(const char*) const override { return {}; }

  // Takes the result; false (and the reason kept) when it is an error.
  bool Check(PGresult* r) {
    const bool ok = Note(r);
    PQclear(r);
    return ok;
  }
  std::string Why() const { return Trimmed(PQerrorMessage(pg_)); }
  PGresult* Run(const std::string& name, int n, const char* const* values, const int* lengths, const int* formats) {
    return PQexecPrepared(pg_, name.c_str(), n, values, lengths, formats, 1);
  }
  // Keeps a failed result's reason; true when it succeeded.
  bool Note(PGresult* r) {
    const ExecStatusType st = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK) return true;
    const char* s = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    state_ = s ? s : "";
    error_ = Trimmed(r ? PQresultErrorMessage(r) : PQerrorMessage(pg_));
    if (error_.empty()) error_ = Why();
    return false;
  }

 private:
  struct Prepared {
    std::string name;
    int params;
  };
  std::unique_ptr<Query> Failed() { return std::make_unique<PgQuery>(*this, nullptr, 0); }

  PGconn* pg_;
  std::unordered_map<std::string, Prepared> prepared_;
  std::string state_, error_;
  int synced_ = -1;
};

bool PgQuery::Next() {
  if (!name_ || failed_) return false;
  if (!ran_) {
    ran_ = true;
    const size_t n = values_.size();
    std::vector<const char*> ptrs(n);
    std::vector<int> lengths(n);
    for (size_t k = 0; k < n; ++k) {
      ptrs[k] = null_[k] ? nullptr : values_[k].c_str();
      lengths[k] = static_cast<int>(values_[k].size());
    }
    res_ = c_.Run(*name_, static_cast<int>(n), ptrs.data(), lengths.data(), formats_.data());
    if (!c_.Note(res_)) {
      failed_ = true;
      return false;
    }
    rows_ = PQntuples(res_);
  }
  if (row_ < rows_) ++row_;
  return row_ < rows_;
}

PGconn* Connect(const std::string& uri) {
  // Bounds on a database host that stops answering, so a worker is not
  // held for the system's TCP time-outs; the URI's own settings, read
  // last, win over them.
  const char* const keys[] = {"connect_timeout",     "keepalives",       "keepalives_idle",
                              "keepalives_interval", "keepalives_count", "tcp_user_timeout",
                              "fallback_application_name", "dbname", nullptr};
  const char* const values[] = {"5", "1", "30", "10", "3", "60000", "kalvane-server", uri.c_str(), nullptr};
  PGconn* c = PQconnectdbParams(keys, values, 1);
  // "already exists, skipping" at every start says nothing to an operator.
  PQsetNoticeProcessor(c, [](void*, const char*) {}, nullptr);
  return c;
}

// A few connections per process, each used by one thread at a time.
class PgEngine final : public Engine {
 public:
  PgEngine(std::string uri, std::unique_ptr<PgConn> first) : uri_(std::move(uri)) {
    idle_.push_back(std::move(first));
    open_ = 1;
  }
  ~PgEngine() override = default;

  Lease Acquire() override {
    std::unique_ptr<PgConn> c;
    {
      std::unique_lock<std::mutex> lock(mu_);
      cv_.wait(lock, [&] { return !idle_.empty() || open_ < kMaxConnections; });
      if (!idle_.empty()) {
        c = std::move(idle_.back());
        idle_.pop_back();
      } else {
        ++open_;
      }
    }
    if (!c) c = std::make_unique<PgConn>(Connect(uri_));
    // A connection lost with a restart of the database is made again here,
    // so serving goes on once it is back.
    const bool usable = (c->StillThere() || c->Reset()) && c->Sync(full_sync_.load());
    PgConn* raw = c.release();
    auto give_back = [this, raw] {
      std::lock_guard<std::mutex> lock(mu_);
      idle_.emplace_back(raw);
      cv_.notify_one();
    };
    if (!usable) {
      give_back();
      return Lease();
    }
    return Lease(raw, give_back);
  }
  std::string Directory() const override {
    // systemd's StateDirectory= when run as a service.
    for (const char* var : {"STATE_DIRECTORY", "TMPDIR"}) {
      const char* v = std::getenv(var);
      if (v && *v) {
        const std::string s = v;
        return s.substr(0, s.find(':'));
      }
    }
    return "/tmp";
  }
  void SetFullSync(bool full) override { full_sync_ = full; }
  bool Shared() const override { return true; }
  const char* IntType() const override { return "BIGINT"; }
  const char* BlobType() const override { return "BYTEA"; }

  bool Install(const std::string& schema, int version, std::string* error) override {
    Lease c = Acquire();
    if (!c) {
      SetError(error, "the database at " + uri_ + " cannot be reached");
      return false;
    }
    // Two servers starting at once create the tables one after the other.
    int found = -1;
    bool ok = c->Begin() && c->Exec("SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLock) + ", 0)") &&
              c->Exec("CREATE TABLE IF NOT EXISTS kalvane_schema (version BIGINT NOT NULL)");
    if (ok) {
      auto q = c->Prepare("SELECT coalesce(max(version), -1) FROM kalvane_schema");
      ok = q->Next();
      if (ok) found = static_cast<int>(q->ColInt(0));
    }
    if (ok && found > version) {
      c->Exec("ROLLBACK");
      SetError(error, uri_ + " was written by a newer server (schema " + std::to_string(found) + ")");
      return false;
    }
    ok = ok && c->Exec(schema) && c->Exec("DELETE FROM kalvane_schema") &&
         c->Exec("INSERT INTO kalvane_schema VALUES (" + std::to_string(version) + ")") && c->Exec("COMMIT");
    if (!ok) {
      SetError(error, uri_ + " is not a usable server database: " + c->Error());
      c->Exec("ROLLBACK");
    }
    return ok;
  }

 private:
  static constexpr int kMaxConnections = 16;
  std::string uri_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<std::unique_ptr<PgConn>> idle_;
  int open_ = 0;
  std::atomic<bool> full_sync_{true};
};

}  // namespace

bool IsPostgresUri(const std::string& where) {
  return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0;
}

std::unique_ptr<Engine> OpenPostgres(const std::string& uri, std::string* error) {
  char* parse_error = nullptr;
  PQconninfoOption* opts = PQconninfoParse(uri.c_str(), &parse_error);
  if (!opts) {
    SetError(error, "not a usable database URI: " + Trimmed(parse_error ? parse_error : "out of memory"));
    PQfreemem(parse_error);
    return nullptr;
  }
  bool has_password = false;
  for (const PQconninfoOption* o = opts; o->keyword; ++o)
    has_password = has_password || (std::strcmp(o->keyword, "password") == 0 && o->val && *o->val);
  PQconninfoFree(opts);
  if (has_password) {
    SetError(error,
             "the database URI must not carry a password (others could read it in the process list): "
             "put it in the file PGPASSFILE names (~/.pgpass) or in a pg_service.conf entry");
    return nullptr;
  }
  auto first = std::make_unique<PgConn>(Connect(uri));
  if (!first->Healthy()) {
    SetError(error, "cannot connect to the database " + uri + ": " + first->Why());
    return nullptr;
  }
  return std::make_unique<PgEngine>(uri, std::move(first));
}

}  // namespace kv::server::sql
