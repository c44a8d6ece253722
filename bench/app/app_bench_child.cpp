// The calendar alone, as app_bench starts it for each start-up it times:
// the real window on the store in $HOME, closed at its first frame. It
// links no benchmark code, so its memory is the calendar's. With --bare it
// shows a plain Qt window of the same size instead (menus, a tool bar, a
// status bar and a page of Japanese text): the floor under the calendar.
#include <malloc.h>
#include <time.h>

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QPainter>
#include <QStatusBar>
#include <QToolBar>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/CalenderApp.h"
#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include "app/QtSurface.h"
#include "bench/common/Monotonic.h"

using namespace kv::app;

namespace {

using kv::bench::MonotonicNs;

// Resident memory of this process now, in MB (VmRSS); -1 when unknown.
double ResidentMb() {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  double kb = -1;
  while (std::fgets(line, sizeof line, f))
    if (std::sscanf(line, "VmRSS: %lf kB", &kb) == 1) break;
  std::fclose(f);
  return kb < 0 ? -1 : kb / 1024.0;
}

// Resident memory by mapping at this moment, largest first, to standard
// error (KV_APP_BENCH_SMAPS=1): what the figure above is made of.
void PrintResidentByMapping() {
  FILE* f = std::fopen("/proc/self/smaps", "r");
  if (!f) return;
  std::map<std::string, double> kb;
  std::string name;
  char line[512];
  while (std::fgets(line, sizeof line, f)) {
    double v = 0;
    char path[400] = "";
    if (std::sscanf(line, "Rss: %lf kB", &v) == 1) {
      kb[name] += v;
    } else if (std::isxdigit(static_cast<unsigned char>(line[0])) &&
               std::strchr(line, '-') < std::strchr(line, ' ')) {
      // address perms offset device inode [path]
      name = std::sscanf(line, "%*s %*s %*s %*s %*s %399s", path) == 1 ? path : "[anonymous]";
    }
  }
  std::fclose(f);
  std::vector<std::pair<double, std::string>> top;
  for (const auto& [n, v] : kb) top.emplace_back(v, n);
  std::sort(top.rbegin(), top.rend());
  for (size_t i = 0; i < top.size(); ++i)
    std::fprintf(stderr, "%8.0f kB  %s\n", top[i].first, top[i].second.c_str());
}

void Report() {
  const long long at = static_cast<long long>(MonotonicNs());
  std::printf("first_paint_ns %lld rss_mb %.1f\n", at, ResidentMb());
  if (std::getenv("KV_APP_BENCH_SMAPS")) {
    PrintResidentByMapping();
    const struct mallinfo2 mi = mallinfo2();
    std::fprintf(stderr,
                 "malloc: heap %zu kB in use %zu kB free %zu kB (at the top %zu kB) mapped %zu kB\n",
                 mi.arena / 1024, mi.uordblks / 1024, mi.fordblks / 1024, mi.keepcost / 1024,
                 mi.hblkhd / 1024);
    if (std::getenv("KV_APP_BENCH_MALLOC_INFO")) malloc_info(0, stderr);
  }
  std::fflush(stdout);
}

class Page final : public QWidget {
  bool reported_ = false;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Base));
    p.setFont(CalendarFont());
    for (int i = 0; i < 42 * 6; ++i)
      p.drawText(8 + (i % 7) * 180, 20 + (i / 7) * 18, QString::fromUtf8("%1日 10:00 定例会議").arg(i));
    if (reported_) return;
    reported_ = true;
    QTimer::singleShot(0, qApp, [] {
      Report();
      qApp->quit();
    });
  }
};

int Bare(QApplication& qt) {
  QMainWindow w;
  w.menuBar()->addMenu(QString::fromUtf8("ﾌｧｲﾙ(&F)"))->addAction(QString::fromUtf8("終了"));
  w.addToolBar(QString::fromUtf8("ツール"))->addAction(QString::fromUtf8("今日"));
  w.statusBar()->showMessage(QString::fromUtf8("準備完了"));
  w.setCentralWidget(new Page);
  w.resize(1280, 800);
  w.show();
  QTimer::singleShot(60000, &qt, [&] { qt.exit(3); });
  return qt.exec();
}

}  // namespace

// Starts the calendar and prints the monotonic time of its first frame and
// the resident memory then.
int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  if (argc > 1 && std::strcmp(argv[1], "--bare") == 0) return Bare(qt);
  CCalenderApp app;
  if (!app.InitInstance(QCoreApplication::applicationFilePath().toStdString())) return 2;
  CMainFrame& f = *app.mainFrame();
  f.resize(1280, 800);
  QObject::connect(f.view(), &CCalenderView::framePainted, [&] {
    Report();
    f.close();
    qt.quit();
  });
  QTimer::singleShot(60000, &qt, [&] { qt.exit(3); });
  return qt.exec();
}

