// The item walk against a bare SELECT, the look-up cost as the table
// grows, and the insert rate.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "store/ItemStore.h"
#include "tests/support/TestSupport.h"

namespace {

using kv::ItemStore;
using kv::ScheduleItem;

kv::test::TempDir& Dir() {
  static kv::test::TempDir d;
  return d;
}

ScheduleItem Row(int n) {
  ScheduleItem it;
  it.Index = kv::DateTime::FromParts(2004, 1, 1).AddSeconds(n);
  it.Updated = it.Index;
  it.SyncFlag = 3;
  it.Subject = "subject " + std::to_string(n);
  it.Place = (n % 3) ? "room " + std::to_string(n % 50) : "";
  it.Desc = std::string(static_cast<size_t>(n % 120), 'd');
  it.Start = it.Index.AddDays(n % 400);
  it.End = it.Start.AddSeconds(3600);
  it.AlarmTime = it.Start;
  it.RepStart = it.Start;
  it.RepEnd = it.End;
  return it;
}

// A store of `rows` rows; filled in one transaction of its own so that
// setting up 100,000 rows does not take a commit per row.
std::string MakeStore(int rows) {
  const std::string path = Dir().File("bench" + std::to_string(rows) + ".mdb");
  {
    ItemStore s;
    if (s.CreateStore(path) != 1) std::abort();
    if (s.InsertItem(Row(1)) != 1) std::abort();
  }
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  for (int i = 2; i <= rows; ++i) {
    const std::string sql = "INSERT INTO MySelf SELECT * FROM MySelf WHERE rowid=1";
    sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
  }
  // Distinct Index values, as real rows have.
  sqlite3_exec(db, "UPDATE MySelf SET \"Index\"=\"Index\"+rowid/86400.0", nullptr, nullptr, nullptr);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  return path;
}

const std::string& Big() {
  static const std::string p = MakeStore(100000);
  return p;
}
const std::string& Small() {
  static const std::string p = MakeStore(1000);
  return p;
}

void BM_StoreWalk(benchmark::State& state) {
  ItemStore s;
  if (s.OpenStore(Big()) != 1) std::abort();
  ScheduleItem it;
  for (auto _ : state) {
    int n = 0;
    for (int r = s.ReadFirstItem(it); r == 1; r = s.ReadNextItem(it)) ++n;
    if (n != 100000) std::abort();
    benchmark::DoNotOptimize(n);
  }
}

void BM_SqliteSelect(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(Big().c_str(), &db);
  sqlite3_exec(db, "PRAGMA cache_size=-16384", nullptr, nullptr, nullptr);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT rowid,UserID,Subject,Place,Execute,Type,Private,Updated,Start,\"End\","
                     "Alarm,AlarmTime,Desc,Color,RepType,RepX,RepY,RepZ,RepStart,RepEnd,\"Index\","
                     "SyncFlag,Attr1,Attr2,Attr3,Attr4,Attr5 FROM MySelf ORDER BY rowid",
                     -1, &st, nullptr);
  for (auto _ : state) {
    int n = 0;
    double sum = 0;
    sqlite3_reset(st);
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int c = 0; c < 27; ++c) {
        switch (sqlite3_column_type(st, c)) {
          case SQLITE_INTEGER: sum += sqlite3_column_int(st, c); break;
          case SQLITE_FLOAT: sum += sqlite3_column_double(st, c); break;
          case SQLITE_BLOB: sum += sqlite3_column_bytes(st, c); break;
          default: break;
        }
      }
      ++n;
    }
    benchmark::DoNotOptimize(sum);
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
}

void Update(benchmark::State& state, const std::string& path, int rows) {
  ItemStore s;
  if (s.OpenStore(path) != 1) std::abort();
  int i = 0;
  for (auto _ : state) {
    const int n = 1 + (i++ * 7919) % rows;
    ScheduleItem it = Row(1);
    it.Index = it.Index.AddSeconds(n);
    it.Subject = "changed";
    if (s.UpdateItemByIndex(it) != 1) std::abort();
  }
}
void BM_UpdateSmall(benchmark::State& state) { Update(state, Small(), 1000); }
void BM_UpdateBig(benchmark::State& state) { Update(state, Big(), 100000); }

void BM_Insert(benchmark::State& state) {
  // Called more than once by the library: each call starts a new file.
  static int calls = 0;
  const std::string path = Dir().File("insert" + std::to_string(++calls) + ".mdb");
  ItemStore s;
  if (s.CreateStore(path) != 1) std::abort();
  int n = 0;
  for (auto _ : state) {
    if (s.InsertItem(Row(++n)) != 1) std::abort();
  }
}

BENCHMARK(BM_StoreWalk)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_SqliteSelect)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_UpdateSmall)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_UpdateBig)->Unit(benchmark::kMicrosecond)->MinTime(1.0);
BENCHMARK(BM_Insert)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

// Keeps the seconds per iteration of every run.
class Keeper : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.iterations > 0) secs[r.benchmark_name()] = r.real_accumulated_time / r.iterations;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> secs;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Keeper keeper;
  benchmark::RunSpecifiedBenchmarks(&keeper);
  auto get = [&](const char* n) {
    for (auto& [k, v] : keeper.secs) {
      if (k.rfind(n, 0) == 0) return v;
    }
    return 0.0;
  };
  const double walk = get("BM_StoreWalk"), select = get("BM_SqliteSelect");
  const double small = get("BM_UpdateSmall"), big = get("BM_UpdateBig");
  const double insert = get("BM_Insert");
  std::printf("store_scan_vs_sqlite: %.3f\n", select > 0 ? walk / select : 0.0);
  std::printf("store_update_growth: %.3f\n", small > 0 ? big / small : 0.0);
  std::printf("store_insert_rows_per_s: %.0f\n", insert > 0 ? 1.0 / insert : 0.0);
  benchmark::Shutdown();
  return 0;
}
