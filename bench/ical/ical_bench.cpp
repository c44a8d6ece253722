// ics_export_100k_ms: 100,000 items to text; ics_import_10k_ms: a file of
// 10,000 events back to items. A tenth of the items repeat, over a year or two.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "bench/common/Figures.h"
#include "ical/Ical.h"
#include "model/Clock.h"

using namespace kv;

namespace {

std::vector<ScheduleItem> Items(int n) {
  std::mt19937 rng(42);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<ScheduleItem> v;
  v.reserve(n);
  for (int i = 0; i < n; ++i) {
    ScheduleItem it;
    it.Index = DateTime::FromParts(2004, 1, 1).AddSeconds(i);
    it.SyncFlag = SyncClean;
    it.Subject = "\x89\xEF\x8B\x63 " + std::to_string(i);  // 会議 n
    it.Place = "\x91\xE6\x88\xEA";
    if (i % 3 == 0) it.Desc = std::string(120, 'x');
    it.Color = uint32_t(pick(0, 0xFFFFFF));
    it.Alarm = i % 4 == 0 ? 600 : -1;
    const DateTime day = DateTime::FromParts(pick(2000, 2030), pick(1, 12), pick(1, 28));
    const int ts = pick(0, 40) * 1800;
    it.Start = day.AddSeconds(ts);
    it.End = day.AddSeconds(std::min(ts + 3600, 86399));
    if (i % 10 == 0) {
      it.RepType = 1 + (i / 10) % 6;
      it.RepX = it.RepType >= 5 ? pick(1, 12) : pick(1, 3);
      it.RepY = it.RepType == 2 ? pick(1, 127) : (it.RepType == 3 || it.RepType == 5) ? pick(1, 31) : pick(1, 5);
      it.RepZ = pick(1, 10);
      it.RepStart = day;
      it.RepEnd = day.AddDays(pick(30, 730)).AddSeconds(23 * 3600 + 59 * 60);
    }
    v.push_back(it);
  }
  return v;
}

void BM_Export(benchmark::State& state) {
  const auto items = Items(100000);
  for (auto _ : state) benchmark::DoNotOptimize(ical::Export(items, {"Asia/Tokyo"}));
}
BENCHMARK(BM_Export)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Import(benchmark::State& state) {
  const std::string text = ical::Export(Items(10000), {"Asia/Tokyo"});
  std::size_t taken = 0;
  for (auto _ : state) {
    const auto r = ical::Import(text, ical::ImportOptions{false, "Asia/Tokyo"});
    taken = r.items.size();
    benchmark::DoNotOptimize(taken);
  }
  state.counters["taken"] = double(taken);
}
BENCHMARK(BM_Import)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  Clock::SetInstance(std::make_shared<FixedClock>(DateTime::FromParts(2005, 3, 9, 12, 0, 0)));
  kv::bench::CapturingReporter reporter;
  kv::bench::RunAll(&argc, argv, reporter);
  kv::bench::Figure("ics_export_100k_ms", reporter.Ns("BM_Export/iterations:3") * 1e-6);
  kv::bench::Figure("ics_import_10k_ms", reporter.Ns("BM_Import/iterations:3") * 1e-6);
  kv::bench::Figure("ics_import_10k_taken", reporter.Counter("BM_Import/iterations:3", "taken"));
  return 0;
}
