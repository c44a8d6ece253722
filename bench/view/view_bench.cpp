// Paint cost of the month and week layouts and the load over many rows.
#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdio>
#include <random>
#include <vector>

#include "model/Clock.h"
#include "view/Layouts.h"
#include "view/RecordingSurface.h"
#include "view/ViewState.h"
#ifdef KV_HAVE_STORE
#include <unistd.h>

#include <filesystem>

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

template <typename F>
double MedianUs(F f, int runs) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    auto a = std::chrono::steady_clock::now();
    f();
    t.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - a).count());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

double PaintUs(int mode, std::vector<ScheduleItem> items) {
  ViewState st;
  st.DrawEnabled = 1;
  st.ViewMode = mode;
  st.SelectedDate = st.AnchorDate = DateTime::FromDate(2005, 3, 9);
  SortItems(items, mode);
  st.VisibleItems = std::move(items);
  RecordingSurface s({16, 8});
  const Rect area{0, 0, 1200, 900};
  const TextMetrics m{16, 8};
  return MedianUs([&] {
    s.Clear();
    if (mode == MonthMode) DrawMonthLayout(st, s, area, m); else DrawTimeGridLayout(st, s, area, m);
  }, 7);
}

}  // namespace

int main() {
  std::mt19937 rng(42);
  auto big = MakeItems(10000, 1000, rng);
  auto small = MakeItems(1000, 100, rng);
  const double month = PaintUs(MonthMode, big);
  const double week = PaintUs(WeekMode, big);
  const double week_small = PaintUs(WeekMode, small);

  Clock::SetInstance(std::make_shared<FixedClock>(DateTime::FromParts(2005, 3, 9, 12, 0, 0)));
  Rows rows;
  rows.rows = MakeItems(100000, 10000, rng);
  ViewState st;
  st.AnchorDate = DateTime::FromDate(2005, 3, 9);
  const double load = MedianUs([&] { LoadVisibleItems(st, rows); }, 3);

  std::printf("month_paint_us: %.0f\n", month);
  std::printf("week_paint_us: %.0f\n", week);
  std::printf("week_paint_1000_us: %.0f\n", week_small);
  std::printf("paint_growth: %.2f\n", week / week_small);
  std::printf("load_memory_rows_100000_us: %.0f\n", load);
#ifdef KV_HAVE_STORE
  {
    // The same rows in a real store file.
    char dir[] = "/tmp/kv-view-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string path = std::string(dir) + "/bench.mdb";
    ItemStore store;
    if (!store.CreateStore(path)) return 1;
    for (const auto& it : rows.rows) store.InsertItem(it);
    ViewState sst;
    sst.AnchorDate = DateTime::FromDate(2005, 3, 9);
    const double store_load = MedianUs([&] { LoadVisibleItems(sst, store); }, 3);
    std::printf("load_store_rows_100000_us: %.0f\n", store_load);
    store.CloseStore();
    std::filesystem::remove_all(dir);
  }
#else
  std::printf("load_store_rows_100000_us: not measured\n");
#endif
  return 0;
}
