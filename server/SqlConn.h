#pragma once
// What ServerStore needs of a database, so that its rules are written
// once for SQLite and PostgreSQL. Statements use SQLite's placeholders
// (? and ?N); an engine that wants others rewrites them.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "model/DateTime.h"

namespace kv::server::sql {

class Query {
 public:
  virtual ~Query() = default;
  virtual bool ok() const = 0;
  virtual void Int(int i, int64_t v) = 0;
  virtual void Blob(int i, const std::string& v) = 0;
  virtual void Text(int i, const std::string& v) = 0;
  virtual void Null(int i) = 0;
  void Date(int i, const DateTime& d) {
    if (d.IsValid())
      Int(i, d.LinearSeconds());
    else
      Null(i);
  }
  // Runs the statement at the first call; true while a row is current.
  virtual bool Next() = 0;
  // Ran to its end without an error.
  virtual bool Finished() const = 0;
  bool Done() {
    while (Next()) {
    }
    return Finished();
  }
  virtual int64_t ColInt(int i) = 0;
  virtual bool ColNull(int i) = 0;
  virtual std::string ColBlob(int i) = 0;
  DateTime ColDate(int i) { return ColNull(i) ? DateTime::Invalid() : DateTime::FromLinearSeconds(ColInt(i)); }
  // Rows the statement changed.
  virtual int64_t Changes() = 0;
};

class Conn {
 public:
  virtual ~Conn() = default;
  virtual std::unique_ptr<Query> Prepare(const std::string& sql) = 0;
  virtual bool Exec(const std::string& sql) = 0;
  // A write transaction; SQLite takes its one write lock at once.
  virtual bool Begin() = 0;
  // Inside a transaction: writers of one owner's items wait for each
  // other, also in other processes.
  virtual bool LockOwner(int32_t owner) = 0;
  // The last failure may pass when the transaction is run again.
  virtual bool Retryable() const = 0;
  virtual std::string Error() const = 0;
  // Names an index for the planner where it would pick a worse one.
  virtual std::string IndexHint(const char* index) const = 0;
};

// A connection held for one call; empty when none could be had.
class Lease {
 public:
  Lease() = default;
  Lease(Conn* c, std::function<void()> release) : c_(c), release_(std::move(release)) {}
  Lease(Lease&& o) noexcept : c_(o.c_), release_(std::move(o.release_)) {
    o.c_ = nullptr;
    o.release_ = nullptr;
  }
  Lease& operator=(Lease&&) = delete;
  ~Lease() {
    if (release_) release_();
  }
  explicit operator bool() const { return c_ != nullptr; }
  Conn& operator*() const { return *c_; }
  Conn* operator->() const { return c_; }

 private:
  Conn* c_ = nullptr;
  std::function<void()> release_;
};

// One database: its connections and what differs between the kinds.
class Engine {
 public:
  virtual ~Engine() = default;
  virtual Lease Acquire() = 0;
  // Where large uploads are staged.
  virtual std::string Directory() const = 0;
  virtual void SetFullSync(bool full) = 0;
  // Several processes may share the database.
  virtual bool Shared() const = 0;
  // Creates what is missing of `schema` and records `version`; refuses a
  // database written by a newer server.
  virtual bool Install(const std::string& schema, int version, std::string* error) = 0;
  // Column types of the schema.
  virtual const char* IntType() const = 0;
  virtual const char* BlobType() const = 0;
};

// Either engine, by what `where` names; nullptr with the reason.
std::unique_ptr<Engine> OpenSqlite(const std::string& path, std::string* error);
std::unique_ptr<Engine> OpenPostgres(const std::string& uri, std::string* error);
bool IsPostgresUri(const std::string& where);

}  // namespace kv::server::sql
