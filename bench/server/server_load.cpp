// Throughput of the server under many concurrent clients, and whether any
// accepted write went missing on the way. KV_LOAD_CLIENTS and
// KV_LOAD_REQUESTS change the size of the run. Also one user with 100,000
// items: the resident growth while they are uploaded, and the time of one
// week request for them.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "bench/common/Figures.h"
#include "bench/server/LoadDriver.h"
#include "server/Server.h"
#include "server/ServerStore.h"
#include "sync/SyncClient.h"
#include "tests/server/ServerTestSupport.h"

namespace {

constexpr int kBigItems = 100000;

// A server whose user "big" gets 100,000 items by one upload.
struct BigUser {
  std::string dir;
  kv::server::ServerStore store;
  std::unique_ptr<kv::server::Server> server;
  int32_t id = 0;
  double upload_rss_mb = -1;
  bool ok = false;
  // In a file of its own, or in the database `where` names.
  explicit BigUser(const std::string& where = "") {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kv-big-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return;
    dir = tmpl;
    std::string err;
    if (!store.Open(where.empty() ? dir + "/server.db" : where, &err) || !store.AddUser("big", "", "pw-big", 0, &id, &err) ||
        !store.AddUser("viewer", "", "pw-viewer", 0, nullptr, &err))
      return;
    kv::server::ServerConfig cfg;
    cfg.port = 0;
    server = std::make_unique<kv::server::Server>(store, cfg);
    ok = server->Start(&err);
  }
  ~BigUser() {
    server.reset();
    store.Close();
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
  kv::ConnectionState As(const std::string& user) const {
    kv::ConnectionState st;
    st.UserName = user;
    st.ServerName = "127.0.0.1";
    st.ServerPort = server->Port();
    st.Password = "pw-" + user;
    st.Online = 1;
    return st;
  }
};

BigUser& Big() {
  static BigUser big;
  return big;
}

// The same on PostgreSQL, in the cluster KALVANE_TEST_PG names (main
// starts a throwaway one when none is named).
BigUser& BigPg() {
  static BigUser big(kv::server::test::FreshPostgresDatabase());
  return big;
}

template <BigUser& (*Which)()>
void BM_ServerUpload100k(benchmark::State& state) {
  using namespace kv::server::test;
  BigUser& b = Which();
  if (!b.ok) {
    state.SkipWithError("setup of the 100,000-item user failed");
    return;
  }
  const std::string start = SignInLines("big", "pw-big") + Int(kv::RequestUpload) +
                            Date(kv::DateTime::FromParts(2010, 1, 1));
  // A first small one, so that what every upload needs is there already.
  StreamUpload(b.server->Port(), start, 1);
  for (auto _ : state) {
    Ending e = Ending::StillOpen;
    b.upload_rss_mb = ResidentGrowthMiB([&] { e = StreamUpload(b.server->Port(), start, kBigItems); });
    if (e != Ending::Orderly || b.store.ItemCount(b.id) != kBigItems) state.SkipWithError("the upload failed");
  }
}
BENCHMARK(BM_ServerUpload100k<Big>)->Name("BM_ServerUpload100k")->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

template <BigUser& (*Which)()>
void BM_ServerWeek100k(benchmark::State& state) {
  BigUser& b = Which();
  if (!b.ok || b.store.ItemCount(b.id) != kBigItems) {
    state.SkipWithError("no 100,000-item user");
    return;
  }
  kv::ConnectionState st = b.As("viewer");
  const std::vector<kv::UserEntry> refs = {kv::UserEntry{b.id, "big", "", 0, 0, 0}};
  std::vector<kv::ScheduleItem> items;
  std::vector<kv::UserEntry> users;
  kv::SyncClient(st, nullptr).GetUserList(users);  // the slow hash once, outside the timing
  // A week in the middle of the eleven years the items cover.
  const kv::DateTime day = kv::DateTime::FromParts(2015, 9, 16);
  for (auto _ : state) {
    int refresh = 1;
    items.clear();
    kv::SyncClient(st, nullptr).GetUserItems(refs, day, items, refresh);
    if (items.size() != 7 * 24) state.SkipWithError("the week came back wrong");
  }
  state.counters["items"] = static_cast<double>(items.size());
}
BENCHMARK(BM_ServerWeek100k<Big>)->Name("BM_ServerWeek100k")->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServerUpload100k<BigPg>)->Name("BM_ServerPgUpload100k")->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServerWeek100k<BigPg>)->Name("BM_ServerPgWeek100k")->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);

int FromEnv(const char* name, int fallback) {
  const char* v = std::getenv(name);
  if (!v || !*v) return fallback;
  char* end = nullptr;
  const long n = std::strtol(v, &end, 10);
  return (*end == '\0' && n > 0 && n <= 100000) ? static_cast<int>(n) : fallback;
}

kv::load::LoadResult g_last, g_last_pg;
int g_clients = 0;

// pg: two server processes share one PostgreSQL database; else one
// server in this process on its SQLite file.
template <bool pg>
void BM_ServerLoad(benchmark::State& state) {
  kv::load::LoadConfig cfg;
  if (pg) {
    cfg.database = kv::server::test::FreshPostgresDatabase();
    cfg.servers = 2;
    cfg.program = KALVANE_SERVER_BIN;
  }
  kv::load::LoadResult& last = pg ? g_last_pg : g_last;
  cfg.clients = FromEnv("KV_LOAD_CLIENTS", cfg.clients);
  cfg.requests_per_client = FromEnv("KV_LOAD_REQUESTS", cfg.requests_per_client);
  cfg.timeout_s = 120;
  g_clients = cfg.clients;
  for (auto _ : state) {
    last = kv::load::RunLoad(cfg);
    if (!last.setup_ok) {
      state.SkipWithError(("setup failed: " + last.setup_error).c_str());
      return;
    }
  }
  state.counters["clients"] = cfg.clients;
  state.counters["requests"] = static_cast<double>(last.requests);
  state.counters["lost_writes"] = static_cast<double>(last.lost_writes);
  state.counters["errors"] = static_cast<double>(last.errors);
}
BENCHMARK(BM_ServerLoad<false>)->Name("BM_ServerLoad")->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ServerLoad<true>)->Name("BM_ServerPgLoad")->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

double PerSecond(const kv::load::LoadResult& r) { return r.seconds > 0 ? static_cast<double>(r.requests) / r.seconds : 0.0; }

// A throwaway cluster for the PostgreSQL runs unless one is named.
struct Cluster {
  std::string dir;
  Cluster() {
    if (std::getenv("KALVANE_TEST_PG")) return;
    dir = (std::filesystem::temp_directory_path() / ("kvpg-bench-" + std::to_string(getpid()))).string();
    FILE* f = popen((std::string(KALVANE_PG_CLUSTER) + " start " + dir).c_str(), "r");
    char line[512] = {0};
    if (f && fgets(line, sizeof line, f)) {
      std::string uri = line;
      uri.erase(uri.find_last_not_of("\n") + 1);
      setenv("KALVANE_TEST_PG", uri.c_str(), 1);
    }
    if (f) pclose(f);
  }
  ~Cluster() {
    if (!dir.empty()) std::system((std::string(KALVANE_PG_CLUSTER) + " stop " + dir).c_str());
  }
};

}  // namespace

int main(int argc, char** argv) {
  Cluster cluster;
  benchmark::Initialize(&argc, argv);
  kv::bench::CapturingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const kv::load::LoadResult& r = g_last;
  using kv::bench::Figure;
  // The console reporter's last colour reset would otherwise open the
  // first figure line.
  std::printf("\n");
  Figure("server_clients", g_clients);
  Figure("server_requests", static_cast<double>(r.requests));
  Figure("server_requests_per_s", r.seconds > 0 ? static_cast<double>(r.requests) / r.seconds : 0.0);
  Figure("server_seconds", r.seconds);
  Figure("server_accepted_writes", static_cast<double>(r.accepted_writes));
  Figure("server_verified_items", static_cast<double>(r.verified_items));
  Figure("server_lost_writes", static_cast<double>(r.lost_writes));
  Figure("server_stray_items", static_cast<double>(r.stray_items));
  Figure("server_wrong_reads", static_cast<double>(r.wrong_reads));
  Figure("server_errors", static_cast<double>(r.errors));
  Figure("server_restamped_tombstones", static_cast<double>(r.restamped_tombstones));
  Figure("server_max_clock_offset_s", static_cast<double>(r.max_clock_offset_s));
  Figure("server_syncs", static_cast<double>(r.syncs));
  Figure("server_delegated", static_cast<double>(r.delegated));
  Figure("server_connections", static_cast<double>(r.stats.connections));
  Figure("server_connections_per_s", r.seconds > 0 ? static_cast<double>(r.stats.connections) / r.seconds : 0.0);
  Figure("server_malformed", static_cast<double>(r.stats.malformed));
  Figure("server_timed_out_connections", static_cast<double>(r.stats.timed_out));
  Figure("server_run_timed_out", r.timed_out ? 1.0 : 0.0);
  Figure("server_alive", r.server_alive ? 1.0 : 0.0);
  Figure("server_week_100k_ms", reporter.Ns("BM_ServerWeek100k/iterations:20/real_time") / 1e6);
  Figure("server_upload_100k_rss_mb", Big().upload_rss_mb);
  Figure("server_pg_requests_per_s", PerSecond(g_last_pg));
  Figure("server_pg_lost_writes", static_cast<double>(g_last_pg.lost_writes));
  Figure("server_pg_errors", static_cast<double>(g_last_pg.errors));
  Figure("server_pg_vs_sqlite", PerSecond(g_last) > 0 ? PerSecond(g_last_pg) / PerSecond(g_last) : 0.0);
  Figure("server_pg_week_100k_ms", reporter.Ns("BM_ServerPgWeek100k/iterations:20/real_time") / 1e6);
  Figure("server_upload_100k_s", reporter.Ns("BM_ServerUpload100k/iterations:1/real_time") / 1e9);
  Figure("server_pg_upload_100k_s", reporter.Ns("BM_ServerPgUpload100k/iterations:1/real_time") / 1e9);
  benchmark::Shutdown();
  return r.setup_ok ? 0 : 1;
}
