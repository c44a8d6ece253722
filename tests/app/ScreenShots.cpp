// Drives the real calendar window on a demo store and saves what it shows:
//   kalvane_shots shots OUTDIR          month.png, week.png, day.png
//   kalvane_shots print FILE.pdf MODE   one printed page (month|week|day)
// The store goes where the calendar looks for it (HOME / XDG_DATA_HOME),
// so run it with those pointing at a scratch folder.
#include <QApplication>
#include <QEventLoop>
#include <QPrinter>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "app/CalenderApp.h"
#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include "app/Startup.h"
#include "model/Clock.h"
#include "tests/app/DemoItems.h"

using namespace kv;
using namespace kv::app;

namespace {

bool WaitForFrame(CCalenderView* view) {
  QEventLoop loop;
  QObject::connect(view, &CCalenderView::framePainted, &loop, &QEventLoop::quit);
  QTimer::singleShot(10000, &loop, [&] { loop.exit(1); });
  view->invalidateLayout();
  return loop.exec() == 0;
}

// Presses on the first item drawn in the selected day's cell, so the
// shots show the selection feedback too.
void SelectAnItem(CMainFrame& f) {
  const ViewState& st = f.state();
  CellRect day{};
  for (int i = 0; i < kDayCells; ++i)
    if (st.CellTable[i].date == st.SelectedDate) day = st.CellTable[i].rect;
  for (const ScheduleItem& it : st.VisibleItems) {
    for (const CellRect& r : it.CellRects) {
      if (r.IsEmpty() || !day.Contains(r.left, r.top)) continue;
      QTest::mouseClick(f.view(), Qt::LeftButton, {}, QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2));
      return;
    }
  }
}

int Fail(const char* what) {
  std::fprintf(stderr, "kalvane_shots: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  if (argc < 3) return Fail("usage: kalvane_shots shots OUTDIR | print FILE.pdf MODE");
  const std::string cmd = argv[1], target = argv[2];
  const std::string store = BuildStorePath(DataHome(), LogonName());
  if (::access(store.c_str(), F_OK) != 0 && !test::WriteStore(store, test::DemoItems(Now())))
    return Fail("cannot write the demo store");

  CCalenderApp app;
  if (!app.InitInstance(QCoreApplication::applicationFilePath().toStdString()))
    return Fail("the calendar did not start");
  CMainFrame& f = *app.mainFrame();
  f.resize(1280, 800);
  QTest::qWait(200);
  if (!WaitForFrame(f.view())) return Fail("no frame painted");

  if (cmd == "shots") {
    const struct { Command mode; const char* file; } shots[] = {
        {Command::MonthUnit, "month.png"}, {Command::WeekUnit, "week.png"}, {Command::DayUnit, "day.png"}};
    for (const auto& s : shots) {
      f.runCommand(s.mode);
      if (!WaitForFrame(f.view())) return Fail("no frame painted");
      SelectAnItem(f);
      QTest::qWait(100);
      const QString file = QString::fromStdString(target) + "/" + s.file;
      if (!f.grab().save(file)) return Fail("cannot save a screenshot");
      std::printf("%s\n", file.toLocal8Bit().constData());
    }
    return 0;
  }
  if (cmd == "print" && argc >= 4) {
    const std::string mode = argv[3];
    f.runCommand(mode == "week" ? Command::WeekUnit : mode == "day" ? Command::DayUnit : Command::MonthUnit);
    if (!WaitForFrame(f.view())) return Fail("no frame painted");
    SelectAnItem(f);
    QPrinter& printer = f.view()->printer();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(target));
    if (!f.view()->printTo(printer)) return Fail("printing failed");
    std::printf("%s\n", target.c_str());
    return 0;
  }
  return Fail("unknown command");
}
