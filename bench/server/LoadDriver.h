#pragma once
// Many real clients against one in-process server on loopback, each on a
// thread of its own, with a ledger of every write the server accepted so
// that the server's store can be checked afterwards.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "server/Server.h"
#include "server/ServerStore.h"

namespace kv::load {

struct LoadConfig {
  int clients = 50;
  int requests_per_client = 200;
  // Wall-clock limit of the request phase; clients still busy then stop
  // after their current request.
  int timeout_s = 120;
  // Where the databases go; empty: a temporary directory removed at the end.
  std::string dir;
  // The server's database; empty: server.db in dir.
  std::string database;
  // Servers sharing that database, each over a store of its own as a
  // process of its own would be; client n talks to server n % servers.
  int servers = 1;
  // When set, each server is a `serve` process of this program, so that
  // nothing is shared between them but the database.
  std::string program;
  // Every n-th client may also write the next client's items (0: none).
  int delegate_every = 3;
  uint32_t seed = 1;
  bool full_sync = true;  // the server store's durable commits
  // Runs after the load and before the check, with the server's store:
  // lets a test plant a fault the check must find.
  std::function<void(kv::server::ServerStore&)> before_verify;
};

struct LoadResult {
  uint64_t requests = 0;         // requests made (each add, update, list, sync...)
  uint64_t accepted_writes = 0;  // item writes the server answered 1 to
  uint64_t lost_writes = 0;      // items whose stored state is not the last accepted one
  uint64_t stray_items = 0;      // stored items no accepted write accounts for
  uint64_t wrong_reads = 0;      // user lists or downloads that contradicted the ledger
  uint64_t errors = 0;           // requests that failed where success was due
  uint64_t verified_items = 0;   // items the check compared
  // Tombstones whose Updated moved after the deletion (clients upload
  // their tombstones again on every sync); the deletion itself held.
  uint64_t restamped_tombstones = 0;
  // Largest clock offset (client minus server) a sign-in measured, in
  // seconds: the server runs on the same clock, so this is answer delay.
  int64_t max_clock_offset_s = 0;
  uint64_t adds = 0, updates = 0, deletes = 0, delegated = 0, user_lists = 0, syncs = 0;
  double seconds = 0;            // the request phase
  bool timed_out = false;        // the wall-clock limit cut the run short
  bool server_alive = false;     // a fresh request after the load succeeded
  bool setup_ok = false;         // server and users were ready
  std::string setup_error;
  kv::server::ServerStats stats;
};

LoadResult RunLoad(const LoadConfig& config);

}  // namespace kv::load
