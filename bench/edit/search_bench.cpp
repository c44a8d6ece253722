// One search over a store of 100,000 items (a tenth of them repeating),
// the loading that precedes a session of searches, and the holiday names
// of every day of a year.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <random>

#include "bench/common/Figures.h"
#include "edit/ItemSearch.h"
#include "model/Clock.h"
#include "model/Holidays.h"
#include "model/Text.h"

using namespace kv;

namespace {

const DateTime kToday = DateTime::FromDate(2005, 3, 9);

std::string Cp(const char* utf8) { return text::FromUtf8(utf8).value_or(""); }

struct SearchStore {
  std::string dir, path;
  ItemStore store;
  ItemSearch search;
  bool ok = false;
  SearchStore() {
    dir = (std::filesystem::temp_directory_path() / ("kv_search_bench_" + std::to_string(::getpid())))
              .string();
    std::filesystem::create_directories(dir);
    path = dir + "/items.mdb";
    if (store.CreateStore(path) != 1 || !store.BeginBatch()) return;
    std::mt19937 rng(7);
    const char* words[] = {"打ち合わせ", "会議", "出張", "来客", "資料作成", "面談", "研修",
                           "ﾚﾋﾞｭｰ", "Review", "締切", "歯医者", "昼食", "報告", "電話"};
    const char* places[] = {"", "第一会議室", "本社", "大阪", "ｵﾝﾗｲﾝ", "Room A"};
    const DateTime base = DateTime::FromDate(2005, 3, 1);
    for (int i = 0; i < 100000; ++i) {
      ScheduleItem it;
      it.SyncFlag = SyncClean;
      it.Index = base.AddSeconds(i);
      it.Subject = Cp(words[rng() % 14]) + " " + std::to_string(i);
      it.Place = Cp(places[rng() % 6]);
      if (i % 3 == 0) it.Desc = Cp("議題と持ち物を確認する。") + std::to_string(i);
      if (i % 10 == 0) {
        it.RepType = 1 + (i / 10) % 6;
        it.RepX = 1 + static_cast<int>(rng() % 3);
        it.RepY = it.RepType == 2 ? 1 + static_cast<int>(rng() % 127) : 1 + static_cast<int>(rng() % 28);
        if (it.RepType == 4 || it.RepType == 6) it.RepY = 1 + static_cast<int>(rng() % 5);
        it.RepZ = 1 + static_cast<int>(rng() % 10);
        it.RepStart = base.AddDays(-static_cast<int64_t>(rng() % (10 * 365)));
        it.RepEnd = DateTime::FromParts(2005 + static_cast<int>(rng() % 3), 12, 31, 23, 59, 0);
        it.Start = it.RepStart.AddSeconds(3600 * (8 + rng() % 10));
      } else {
        it.RepX = it.RepY = it.RepZ = 1;
        it.Start = base.AddSeconds(static_cast<int64_t>(rng() % (400 * 86400)) - 200 * 86400);
        it.RepStart = it.Start.DateOnly();
        it.RepEnd = it.RepStart.AddSeconds(86340);
      }
      it.End = it.Start.AddSeconds(3600);
      if (store.InsertItem(it) != 1) return;
    }
    ok = store.CommitBatch() == 1;
  }
  ~SearchStore() {
    store.CloseStore();
    std::filesystem::remove_all(dir);
  }
};

SearchStore& Shared() {
  static SearchStore s;
  return s;
}

void BM_SearchLoad(benchmark::State& state) {
  SearchStore& s = Shared();
  if (!s.ok) return state.SkipWithError("no store");
  for (auto _ : state) s.search.Load(s.store, kToday);
}
BENCHMARK(BM_SearchLoad)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Search(benchmark::State& state) {
  SearchStore& s = Shared();
  if (!s.ok) return state.SkipWithError("no store");
  if (s.search.Size() == 0) s.search.Load(s.store, kToday);
  const std::string word = Cp("会議");
  std::size_t total = 0;
  for (auto _ : state) benchmark::DoNotOptimize(s.search.Find(word, 500, &total));
  state.counters["hits"] = static_cast<double>(total);
}
BENCHMARK(BM_Search)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(9);

void BM_HolidayYear(benchmark::State& state) {
  for (auto _ : state) {
    for (DateTime d = DateTime::FromDate(2026, 1, 1); d.Year() == 2026; d = d.AddDays(1))
      benchmark::DoNotOptimize(HolidayName(d));
  }
}
BENCHMARK(BM_HolidayYear)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  Clock::SetInstance(std::make_shared<FixedClock>(DateTime::FromParts(2005, 3, 9, 12, 0, 0)));
  kv::bench::CapturingReporter reporter;
  kv::bench::RunAll(&argc, argv, reporter);
  const double ms = 1e-6;
  kv::bench::Figure("search_100k_ms", reporter.Ns("BM_Search/iterations:5/repeats:9_median") * ms);
  kv::bench::Figure("search_100k_hits", reporter.Counter("BM_Search/iterations:5/repeats:9_median", "hits"));
  kv::bench::Figure("search_load_100k_ms", reporter.Ns("BM_SearchLoad/iterations:3") * ms);
  kv::bench::Figure("holiday_year_us", reporter.Ns("BM_HolidayYear") * 1e-3);
  return 0;
}
