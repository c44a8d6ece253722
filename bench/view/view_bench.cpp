// Paint cost of the month and week layouts and the load over many rows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <cstdio>
#include <random>
#include <vector>

#include "bench/common/Figures.h"
#include "model/Clock.h"
#include "view/Layouts.h"
#include "view/RecordingSurface.h"
#include "view/ViewState.h"
#ifdef KV_HAVE_STORE
#include <unistd.h>

#include <filesystem>

#include "store/StoreSeal.h"
#include "view/StoreLoad.h"
#endif

using namespace kv;

namespace {

class Rows final : public ItemRows {
 public:
  std::vector<ScheduleItem> rows;
  size_t pos = 0;
  int ReadFirstItem(ScheduleItem& o) override { pos = 0; return ReadNextItem(o); }
  int ReadNextItem(ScheduleItem& o) override {
    if (pos >= rows.size()) return 0;
    o = rows[pos++];
    return 1;
  }
};

std::vector<ScheduleItem> MakeItems(int n, int repeating, std::mt19937& rng) {
  std::vector<ScheduleItem> v;
  const DateTime base = DateTime::FromDate(2005, 3, 1);
  for (int i = 0; i < n; ++i) {
    ScheduleItem it;
    it.SyncFlag = SyncClean;
    it.Subject = "item " + std::to_string(i);
    it.Index = base.AddSeconds(i);
    if (i < repeating) {
      it.RepType = 1 + i % 6;
      it.RepX = it.RepType >= 5 ? 1 + static_cast<int>(rng() % 12) : 1 + static_cast<int>(rng() % 3);
      it.RepY = it.RepType == 2 ? 1 + static_cast<int>(rng() % 127) : 1 + static_cast<int>(rng() % 28);
      if (it.RepType == 4 || it.RepType == 6) it.RepY = 1 + static_cast<int>(rng() % 5);
      it.RepZ = 1 + static_cast<int>(rng() % 10);
      it.RepStart = base.AddDays(-static_cast<int64_t>(rng() % (30 * 365)));
      it.RepEnd = DateTime::FromParts(2030, 12, 31, 23, 59, 0);
      it.Start = it.RepStart.AddSeconds(3600 * (8 + rng() % 10));
    } else {
      it.Start = base.AddSeconds(static_cast<int64_t>(rng() % (400 * 86400)) - 200 * 86400);
    }
    it.End = it.Start.AddSeconds(1800 * (1 + rng() % 6));
    it.Type = rng() % 10 == 0 ? 1 : 0;
    v.push_back(it);
  }
  return v;
}

ViewState PaintState(int mode, std::vector<ScheduleItem> items) {
  ViewState st;
  st.DrawEnabled = 1;
  st.ViewMode = mode;
  st.SelectedDate = st.AnchorDate = DateTime::FromDate(2005, 3, 9);
  SortItems(items, mode);
  st.VisibleItems = std::move(items);
  return st;
}

const std::vector<ScheduleItem>& Items(int n) {
  static std::vector<ScheduleItem> big, small;
  if (big.empty()) {
    std::mt19937 rng(42);
    big = MakeItems(10000, 1000, rng);
    small = MakeItems(1000, 100, rng);
  }
  return n == 10000 ? big : small;
}

void BM_Paint(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  ViewState st = PaintState(mode, Items(static_cast<int>(state.range(1))));
  RecordingSurface s({16, 8});
  const Rect area{0, 0, 1200, 900};
  const TextMetrics m{16, 8};
  for (auto _ : state) {
    s.Clear();
    if (mode == MonthMode) DrawMonthLayout(st, s, area, m); else DrawTimeGridLayout(st, s, area, m);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_Paint)->Args({MonthMode, 10000})->Args({WeekMode, 10000})->Args({WeekMode, 1000})
    ->Unit(benchmark::kMicrosecond);

// A long-kept calendar: the same items, but every rule ended years ago.
// Repeating items are always loaded, so each day cell meets all of them
// and no cell fills up early.
void BM_PaintEndedRules(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  std::vector<ScheduleItem> items = Items(10000);
  for (auto& it : items)
    if (it.RepType != 0) it.RepEnd = DateTime::FromParts(1999, 12, 31, 23, 59, 0);
  ViewState st = PaintState(mode, std::move(items));
  RecordingSurface s({16, 8});
  const Rect area{0, 0, 1200, 900};
  for (auto _ : state) {
    s.Clear();
    if (mode == MonthMode) DrawMonthLayout(st, s, area, {16, 8}); else DrawTimeGridLayout(st, s, area, {16, 8});
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_PaintEndedRules)->Arg(MonthMode)->Arg(WeekMode)->Unit(benchmark::kMicrosecond);

Rows& LoadRows() {
  static Rows rows;
  if (rows.rows.empty()) {
    std::mt19937 rng(7);
    rows.rows = MakeItems(100000, 10000, rng);
  }
  return rows;
}

void BM_LoadMemory(benchmark::State& state) {
  ViewState st;
  st.AnchorDate = DateTime::FromDate(2005, 3, 9);
  for (auto _ : state) LoadVisibleItems(st, LoadRows());
}
BENCHMARK(BM_LoadMemory)->Unit(benchmark::kMicrosecond)->Iterations(5);

#ifdef KV_HAVE_STORE
// The same rows in a real store file, made once for the store benchmarks.
class BenchStore {
 public:
  BenchStore() {
    char dir[] = "/tmp/kv-view-bench-XXXXXX";
    if (!mkdtemp(dir)) return;
    dir_ = dir;
    path_ = dir_ + "/bench.mdb";
    if (!store_.CreateStore(path_)) return;
    store_.BeginBatch();
    for (const auto& it : LoadRows().rows) store_.InsertItem(it);
    ok_ = store_.CommitBatch() == 1;
  }
  ~BenchStore() {
    store_.CloseStore();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  bool ok() const { return ok_; }
  ItemStore& store() { return store_; }
  const std::string& path() const { return path_; }

 private:
  std::string dir_, path_;
  ItemStore store_;
  bool ok_ = false;
};

BenchStore& SharedStore() {
  static BenchStore s;
  return s;
}

void BM_LoadStore(benchmark::State& state) {
  BenchStore& b = SharedStore();
  if (!b.ok()) {
    state.SkipWithError("no store");
    return;
  }
  ViewState st;
  st.AnchorDate = DateTime::FromDate(2005, 3, 9);
  for (auto _ : state) LoadVisibleItems(st, b.store());
  state.counters["visible"] = static_cast<double>(st.VisibleItems.size());
}
BENCHMARK(BM_LoadStore)->Unit(benchmark::kMicrosecond)->Iterations(5);

void BM_LoadStoreWalk(benchmark::State& state) {
  BenchStore& b = SharedStore();
  if (!b.ok()) {
    state.SkipWithError("no store");
    return;
  }
  // Every row through the row-by-row walk, as the load read the store before.
  StoreItemRows rows(b.store());
  ViewState st;
  st.AnchorDate = DateTime::FromDate(2005, 3, 9);
  for (auto _ : state) LoadVisibleItems(st, rows);
}
BENCHMARK(BM_LoadStoreWalk)->Unit(benchmark::kMicrosecond)->Iterations(5);

// Opening the store as the program does at start-up (checks included):
// after a clean closing, and after a crash (no seal, every page checked).
void OpenStoreRuns(benchmark::State& state, bool sealed) {
  BenchStore& b = SharedStore();
  if (!b.ok()) {
    state.SkipWithError("no store");
    return;
  }
  b.store().CloseStore();
  for (auto _ : state) {
    if (!sealed) {
      state.PauseTiming();
      std::filesystem::remove(store_detail::SealPath(b.path()));
      state.ResumeTiming();
    }
    ItemStore s;
    if (!s.OpenStore(b.path())) state.SkipWithError("cannot open");
    // The closing seals the file again: not part of the start-up.
    state.PauseTiming();
    s.CloseStore();
    state.ResumeTiming();
  }
  b.store().OpenStore(b.path());
}
void BM_OpenStore(benchmark::State& state) { OpenStoreRuns(state, true); }
BENCHMARK(BM_OpenStore)->Unit(benchmark::kMicrosecond)->Iterations(5);
void BM_OpenStoreUnsealed(benchmark::State& state) { OpenStoreRuns(state, false); }
BENCHMARK(BM_OpenStoreUnsealed)->Unit(benchmark::kMicrosecond)->Iterations(5);
#endif

}  // namespace

int main(int argc, char** argv) {
  Clock::SetInstance(std::make_shared<FixedClock>(DateTime::FromParts(2005, 3, 9, 12, 0, 0)));
  kv::bench::CapturingReporter reporter;
  kv::bench::RunAll(&argc, argv, reporter);
  const double us = 1e-3;
  const double week = reporter.Ns("BM_Paint/1/10000"), week_small = reporter.Ns("BM_Paint/1/1000");
  kv::bench::Figure("month_paint_us", reporter.Ns("BM_Paint/0/10000") * us);
  kv::bench::Figure("week_paint_us", week * us);
  kv::bench::Figure("week_paint_1000_us", week_small * us);
  kv::bench::Figure("paint_growth", week_small > 0 ? week / week_small : 0);
  kv::bench::Figure("month_paint_ended_rules_us", reporter.Ns("BM_PaintEndedRules/0") * us);
  kv::bench::Figure("week_paint_ended_rules_us", reporter.Ns("BM_PaintEndedRules/1") * us);
  kv::bench::Figure("load_memory_rows_100000_us", reporter.Ns("BM_LoadMemory/iterations:5") * us);
#ifdef KV_HAVE_STORE
  kv::bench::Figure("load_store_rows_100000_us", reporter.Ns("BM_LoadStore/iterations:5") * us);
  kv::bench::Figure("load_store_walk_rows_100000_us", reporter.Ns("BM_LoadStoreWalk/iterations:5") * us);
  kv::bench::Figure("open_store_rows_100000_us", reporter.Ns("BM_OpenStore/iterations:5") * us);
  kv::bench::Figure("open_store_unsealed_rows_100000_us",
                    reporter.Ns("BM_OpenStoreUnsealed/iterations:5") * us);
#endif
  return 0;
}
