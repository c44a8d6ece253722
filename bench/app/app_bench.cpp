// The real calendar window, offscreen: how long from process start to the
// first painted frame on stores of 10,000 and 100,000 items, and what one
// repaint of the month and the week costs on a 1280 x 800 window.
//
// The stores are made once and kept in $KV_BENCH_DIR (default
// /tmp/kalvane-app-bench); each start-up runs in a fresh process of
// app_bench_child on a copy of one of them.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/CalenderApp.h"
#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include "app/QtSurface.h"
#include "app/Startup.h"
#include "bench/common/Figures.h"
#include "bench/common/Monotonic.h"
#include "model/Clock.h"
#include "store/ItemStore.h"
#include "store/StoreSeal.h"
#include "tests/app/DemoItems.h"
#include "view/Layouts.h"
#include "view/RecordingSurface.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace kv;
using namespace kv::app;

namespace {

using kv::bench::MonotonicNs;

std::string BenchDir() {
  const char* d = std::getenv("KV_BENCH_DIR");
  return d && *d ? d : "/tmp/kalvane-app-bench";
}

// The kept store of n items (n / 10 repeating), made when missing, and
// closed cleanly once more as a day's calendar would have been.
std::string KeptStore(int n) {
  const std::string path = BenchDir() + "/store-" + std::to_string(n) + ".mdb";
  if (fs::exists(path)) {
    ItemStore s;
    if (!s.OpenStore(path)) {
      std::fprintf(stderr, "cannot open %s\n", path.c_str());
      std::exit(1);
    }
    return path;
  }
  fs::create_directories(BenchDir());
  std::fprintf(stderr, "making %s ...\n", path.c_str());
  const std::string tmp = path + ".part";
  fs::remove(tmp);
  fs::remove(tmp + "-wal");
  if (!test::WriteStore(tmp, test::BenchItems(n, n / 10, Now(), 20050309u))) {
    std::fprintf(stderr, "cannot make %s\n", path.c_str());
    std::exit(1);
  }
  fs::rename(tmp, path);
  return KeptStore(n);
}

// A scratch home whose store is a copy of `store`, with its seal unless
// the start is to be the first since a crash.
std::string ScratchHome(const std::string& store, const std::string& name, bool sealed = true) {
  const std::string home = BenchDir() + "/" + name;
  fs::remove_all(home);
  const std::string folder = home + "/data/Brenlow/Quillon";
  fs::create_directories(folder);
  const std::string copy = folder + "/" + LogonName() + ".mdb";
  fs::copy_file(store, copy);
  const std::string seal = store_detail::SealPath(store);
  if (sealed && fs::exists(seal)) fs::copy_file(seal, store_detail::SealPath(copy));
  return home;
}

void PointAt(const std::string& home) {
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

// Milliseconds from spawning a fresh process to its first painted frame;
// *rss_mb receives the child's resident memory at that frame.
double StartOnce(const std::string& self, const std::string& store, const std::string& name,
                 bool sealed, double* rss_mb = nullptr, bool bare = false) {
  PointAt(ScratchHome(store, name, sealed));
  int out[2];
  if (pipe(out) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  char bare_flag[] = "--bare";
  char* argv[] = {const_cast<char*>(self.c_str()), bare ? bare_flag : nullptr, nullptr};
  pid_t pid = -1;
  const int64_t t0 = MonotonicNs();
  const int rc = posix_spawn(&pid, self.c_str(), &fa, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&fa);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return -1;
  }
  std::string text;
  char buf[256];
  for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  long long t1 = 0;
  double rss = -1;
  const auto at = text.find("first_paint_ns ");
  if (at == std::string::npos ||
      std::sscanf(text.c_str() + at, "first_paint_ns %lld rss_mb %lf", &t1, &rss) != 2)
    return -1;
  if (rss_mb) *rss_mb = rss;
  return static_cast<double>(t1 - t0) / 1e6;
}

double Median(std::vector<double> v) {
  if (v.empty()) return -1;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The median start-up time; *rss_mb the median resident memory at the
// first frame.
double MedianStart(const std::string& self, int n, int runs, bool sealed = true,
                   double* rss_mb = nullptr, bool bare = false) {
  const std::string store = KeptStore(n);
  StartOnce(self, store, "warm", sealed, nullptr, bare);  // file cache and font cache
  std::vector<double> ms, mb;
  for (int i = 0; i < runs; ++i) {
    double rss = -1;
    const double v = StartOnce(self, store, "run", sealed, &rss, bare);
    if (v >= 0) ms.push_back(v);
    if (rss >= 0) mb.push_back(rss);
  }
  if (rss_mb) *rss_mb = Median(mb);
  return Median(ms);
}

CMainFrame* g_frame = nullptr;

TextMetrics QtSurfaceMetrics(QWidget* w) {
  const QFontMetrics fm(CalendarFont(), w);
  return {fm.height(), fm.averageCharWidth()};
}

void BM_Repaint(benchmark::State& state) {
  CMainFrame& f = *g_frame;
  f.runCommand(state.range(0) == MonthMode ? Command::MonthUnit : Command::WeekUnit);
  CCalenderView* v = f.view();
  for (auto _ : state) {
    v->invalidateLayout();
    v->repaint();
  }
  state.counters["items"] = static_cast<double>(f.state().VisibleItems.size());
}
BENCHMARK(BM_Repaint)->Arg(MonthMode)->Arg(WeekMode)->Unit(benchmark::kMillisecond)->MinTime(1.0);

class NoHost final : public ViewHost {
 public:
  void ShowMessage(const std::string&) override {}
  void RequestRepaint(bool) override {}
  void SetStatusText(int, const std::string&) override {}
};

// The same paint on a surface that draws nothing: what the layouts
// themselves cost, so the painter's share can be read off.
void BM_LayoutOnly(benchmark::State& state) {
  CMainFrame& f = *g_frame;
  f.runCommand(state.range(0) == MonthMode ? Command::MonthUnit : Command::WeekUnit);
  const TextMetrics m = QtSurfaceMetrics(f.view());
  RecordingSurface s(m);
  s.SetRecording(false);
  NoHost host;
  const Rect area{0, 0, f.view()->width(), f.view()->height()};
  for (auto _ : state) PaintView(f.state(), s, area, host);
}
BENCHMARK(BM_LayoutOnly)->Arg(MonthMode)->Arg(WeekMode)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
  // The calendar starts in a program of its own, without this harness.
  const std::string self =
      (fs::canonical("/proc/self/exe").parent_path() / "app_bench_child").string();
  const int runs = std::getenv("KV_BENCH_RUNS") ? std::atoi(std::getenv("KV_BENCH_RUNS")) : 7;
  const double start_10k = MedianStart(self, 10000, runs);
  double rss_100k = -1, rss_empty = -1;
  const double start_100k = MedianStart(self, 100000, runs, true, &rss_100k);
  // The same window on an empty store: what the items themselves add.
  MedianStart(self, 0, runs, true, &rss_empty);
  // A plain Qt window of the same size with Japanese text: the floor.
  double rss_bare = -1;
  MedianStart(self, 0, runs, true, &rss_bare, true);
  const double start_100k_unsealed = MedianStart(self, 100000, runs, false);

  // Repaints in this process, on the 100,000-item store.
  PointAt(ScratchHome(KeptStore(100000), "repaint"));
  QApplication qt(argc, argv);
  CCalenderApp app;
  if (!app.InitInstance(QCoreApplication::applicationFilePath().toStdString())) return 1;
  g_frame = app.mainFrame();
  g_frame->resize(1280, 800);
  QCoreApplication::processEvents();

  benchmark::Initialize(&argc, argv);
  kv::bench::CapturingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  g_frame->close();

  kv::bench::Figure("startup_first_paint_ms_10k", start_10k);
  kv::bench::Figure("startup_first_paint_ms_100k", start_100k);
  kv::bench::Figure("startup_rss_mb_100k", rss_100k);
  kv::bench::Figure("startup_rss_mb_empty", rss_empty);
  kv::bench::Figure("startup_rss_mb_bare_qt", rss_bare);
  // The first start after a crash, or on a store closed by an older build:
  // the store's full check runs.
  kv::bench::Figure("startup_first_paint_ms_100k_unsealed", start_100k_unsealed);
  kv::bench::Figure("repaint_month_ms", reporter.Ns("BM_Repaint/0/min_time:1.000") * 1e-6);
  kv::bench::Figure("repaint_week_ms", reporter.Ns("BM_Repaint/1/min_time:1.000") * 1e-6);
  kv::bench::Figure("layout_only_month_ms", reporter.Ns("BM_LayoutOnly/0/min_time:1.000") * 1e-6);
  kv::bench::Figure("layout_only_week_ms", reporter.Ns("BM_LayoutOnly/1/min_time:1.000") * 1e-6);
  return 0;
}
