#pragma once
// The reference server in-process on loopback, over a store of its own in
// a temporary folder, as the tests of the server, the sync client, the item
// commands, the group side and the window run it.
#include <libpq-fe.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "server/Server.h"
#include "server/ServerStore.h"
#include "tests/support/TestSupport.h"

namespace kv::server::test {

// Waits (at most `within`) until every connection the server took has
// ended; false if some never did. An upload has no answer, and the counts
// of a refusal are made after it was sent.
inline bool Settle(const Server& server, std::chrono::seconds within = std::chrono::seconds(10)) {
  const auto until = std::chrono::steady_clock::now() + within;
  while (std::chrono::steady_clock::now() < until) {
    const ServerStats s = server.Stats();
    if (s.ended >= s.connections) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return false;
}

// The server suites run once on each engine: KALVANE_TEST_PG, the URI of
// a cluster's maintenance database, puts every test's server into a
// database of its own there.
inline bool OnPostgres() {
  const char* e = std::getenv("KALVANE_TEST_PG");
  return e && *e;
}

// A new empty database; dropped when the test program ends.
inline std::string FreshPostgresDatabase() {
  struct Made {
    std::mutex mu;
    std::string admin;
    std::vector<std::string> names;
    ~Made() {
      PGconn* c = PQconnectdb(admin.c_str());
      for (const auto& n : names) PQclear(PQexec(c, ("DROP DATABASE IF EXISTS " + n + " WITH (FORCE)").c_str()));
      PQfinish(c);
    }
  };
  static Made made;
  const char* admin = std::getenv("KALVANE_TEST_PG");
  if (!admin) return {};
  std::lock_guard<std::mutex> lock(made.mu);
  made.admin = admin;
  const std::string name = "kt_" + std::to_string(getpid()) + "_" + std::to_string(made.names.size());
  PGconn* c = PQconnectdb(admin);
  PGresult* r = PQexec(c, ("CREATE DATABASE " + name).c_str());
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
  // The URI then names no database, so opening it fails the test.
  if (!ok) std::fprintf(stderr, "cannot create a test database: %s", PQerrorMessage(c));
  PQclear(r);
  PQfinish(c);
  if (ok) made.names.push_back(name);
  if (!ok) return "postgresql://kalvane@/" + name + "-was-not-made?host=/nonexistent";
  // The admin URI names the maintenance database as "/postgres?".
  std::string uri = admin;
  const auto at = uri.find("/postgres?");
  return at == std::string::npos ? uri : uri.replace(at, 10, "/" + name + "?");
}

// Runs `sql` in a test's PostgreSQL database; false with the reason logged.
inline bool PgExec(const std::string& uri, const std::string& sql) {
  PGconn* c = PQconnectdb(uri.c_str());
  PGresult* r = PQexec(c, sql.c_str());
  const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
  if (!ok) std::fprintf(stderr, "%s: %s", sql.c_str(), PQerrorMessage(c));
  PQclear(r);
  PQfinish(c);
  return ok;
}

// Where a test's server keeps its data: the file `name` in `dir`, or a
// fresh PostgreSQL database.
inline std::string TestDatabase(const kv::test::TempDir& dir, const std::string& name) {
  return OnPostgres() ? FreshPostgresDatabase() : dir.File(name);
}

struct TestUser {
  std::string name;
  std::string display;  // CP932
  std::string password;
  int32_t* id = nullptr;  // receives the ID the store gave the user
};

// One of the tests' people: taro (山田太郎), hanako (佐藤花子) or jiro
// (鈴木次郎), with the password "pw-" and the name.
inline TestUser Person(const std::string& name, int32_t* id) {
  static const std::map<std::string, const char*> kDisplay = {
      {"taro", "山田太郎"}, {"hanako", "佐藤花子"}, {"jiro", "鈴木次郎"}};
  const auto it = kDisplay.find(name);
  return TestUser{name, it == kDisplay.end() ? std::string() : kv::test::J(it->second), "pw-" + name, id};
}

// `writer` may add, change and delete the items of `owner`.
struct TestGrant {
  std::string writer, owner;
};

struct LoopbackServer {
  kv::test::TempDir dir;
  std::string database = TestDatabase(dir, "server.db");
  ServerStore store;
  std::unique_ptr<Server> server;

  // Opens the store (commits without waiting for the disk), adds the users
  // and the grants, and starts on a free port; false, with the reason, at
  // the first step that fails.
  bool Start(const std::vector<TestUser>& users, const std::vector<TestGrant>& grants, ServerConfig cfg,
             std::string* error) {
    if (!store.Open(database, error)) return false;
    store.SetFullSync(false);
    for (const TestUser& u : users)
      if (!store.AddUser(u.name, u.display, u.password, 0, u.id, error)) return false;
    for (const TestGrant& g : grants)
      if (!store.Grant(g.writer, g.owner, error)) return false;
    cfg.port = 0;
    server = std::make_unique<Server>(store, cfg);
    return server->Start(error);
  }

  uint16_t Port() const { return server->Port(); }

  // The user's items the server holds, tombstones left out: Index to Subject.
  std::map<std::string, std::string> Live(int32_t user) {
    std::map<std::string, std::string> m;
    for (const auto& it : store.LiveItems(user)) m[it.Index.ToString()] = it.Subject;
    return m;
  }
};

}  // namespace kv::server::test
