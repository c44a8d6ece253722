// Throughput of the server under many concurrent clients, and whether any
// accepted write went missing on the way. KV_LOAD_CLIENTS and
// KV_LOAD_REQUESTS change the size of the run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/common/Figures.h"
#include "bench/server/LoadDriver.h"

namespace {

int FromEnv(const char* name, int fallback) {
  const char* v = std::getenv(name);
  if (!v || !*v) return fallback;
  char* end = nullptr;
  const long n = std::strtol(v, &end, 10);
  return (*end == '\0' && n > 0 && n <= 100000) ? static_cast<int>(n) : fallback;
}

kv::load::LoadResult g_last;
int g_clients = 0;

void BM_ServerLoad(benchmark::State& state) {
  kv::load::LoadConfig cfg;
  cfg.clients = FromEnv("KV_LOAD_CLIENTS", cfg.clients);
  cfg.requests_per_client = FromEnv("KV_LOAD_REQUESTS", cfg.requests_per_client);
  cfg.timeout_s = 120;
  g_clients = cfg.clients;
  for (auto _ : state) {
    g_last = kv::load::RunLoad(cfg);
    if (!g_last.setup_ok) {
      state.SkipWithError(("setup failed: " + g_last.setup_error).c_str());
      return;
    }
  }
  state.counters["clients"] = cfg.clients;
  state.counters["requests"] = static_cast<double>(g_last.requests);
  state.counters["lost_writes"] = static_cast<double>(g_last.lost_writes);
  state.counters["errors"] = static_cast<double>(g_last.errors);
}
BENCHMARK(BM_ServerLoad)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
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
  benchmark::Shutdown();
  return r.setup_ok ? 0 : 1;
}
