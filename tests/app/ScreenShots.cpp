// Drives the real calendar window on a demo store and saves what it shows:
//   kalvane_shots shots OUTDIR          month.png, week.png, day.png
//   kalvane_shots print FILE.pdf MODE   one printed page (month|week|day)
//   kalvane_shots tip FILE.png          the week with the first holiday whose header
//                                       has no room for its name pressed (the status
//                                       pane) and its header's tool tip
//   kalvane_shots dialogs OUTDIR        print.png, page-setup.png, colour.png: Qt's
//                                       own dialogs as the calendar shows them
//   kalvane_shots seed-program PROGRAM [MINUTES]
//                                       a store whose item starts PROGRAM this minute
//                                       (or MINUTES later), not yet approved
// --today YYYY/MM/DD before the command fixes the clock at 10:00 that day,
// so the demo store and the pages are built around it; --select YYYY/MM/DD
// then selects another day to show; --size WxH sets the window's size
// (1280x800 otherwise).
// The store goes where the calendar looks for it (HOME / XDG_DATA_HOME),
// so run it with those pointing at a scratch folder.
#include <QApplication>
#include <QColorDialog>
#include <QDialog>
#include <QPointer>
#include <QEventLoop>
#include <QHelpEvent>
#include <QScreen>
#include <QToolTip>
#include <QPrinter>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
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
  for (const ViewItem& it : st.VisibleItems) {
    for (const CellRect& r : it.CellRects) {
      if (r.IsEmpty() || !day.Contains(r.left, r.top)) continue;
      QTest::mouseClick(f.view(), Qt::LeftButton, {}, QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2));
      return;
    }
  }
}

// Saves the next modal dialog to `file` once it is on the screen, then
// closes it.
class GrabNextDialog final : public QObject {
 public:
  explicit GrabNextDialog(QString file) : file_(std::move(file)) { qApp->installEventFilter(this); }
  ~GrabNextDialog() override { qApp->removeEventFilter(this); }
  bool saved() const { return saved_; }

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    auto* d = qobject_cast<QDialog*>(o);
    if (e->type() != QEvent::Show || !d || !d->isWindow() || done_) return false;
    done_ = true;
    QPointer<QDialog> p(d);
    QTimer::singleShot(0, this, [this, p] {
      if (!p) return;
      QTest::qWaitForWindowExposed(p);
      // What the dialog posted for itself (layouts, the printer list) is done
      // before grab() paints it.
      QCoreApplication::sendPostedEvents();
      QCoreApplication::processEvents();
      saved_ = p->grab().save(file_);
      std::printf("%s: %s\n", file_.toLocal8Bit().constData(), p->windowTitle().toUtf8().constData());
      p->reject();
    });
    return false;
  }

 private:
  QString file_;
  bool done_ = false;
  bool saved_ = false;
};

int Fail(const char* what) {
  std::fprintf(stderr, "kalvane_shots: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  DateTime select = DateTime::Invalid();
  int width = 1280, height = 800;
  while (argc >= 3 && std::string(argv[1]) == "--size") {
    if (std::sscanf(argv[2], "%dx%d", &width, &height) != 2 || width < 200 || height < 150)
      return Fail("--size wants WxH, at least 200x150");
    argv += 2;
    argc -= 2;
  }
  while (argc >= 3 && (std::string(argv[1]) == "--today" || std::string(argv[1]) == "--select")) {
    int y = 0, m = 0, d = 0;
    const DateTime day = std::sscanf(argv[2], "%d/%d/%d", &y, &m, &d) == 3
                             ? DateTime::FromParts(y, m, d, 10, 0, 0)
                             : DateTime::Invalid();
    if (!day.IsValid()) return Fail("--today and --select want YYYY/MM/DD");
    if (std::string(argv[1]) == "--today")
      Clock::SetInstance(std::make_shared<FixedClock>(day));
    else
      select = day.DateOnly();
    argv += 2;
    argc -= 2;
  }
  if (argc < 3)
    return Fail("usage: kalvane_shots [--size WxH] [--today YYYY/MM/DD] [--select YYYY/MM/DD] "
                "shots OUTDIR | print FILE.pdf MODE");
  const std::string cmd = argv[1], target = argv[2];
  const std::string store = BuildStorePath(DataHome(), LogonName());
  if (cmd == "seed-program") {
    // A store whose one item starts a program (target) this minute,
    // not yet approved: the calendar's first tick puts the run question.
    ScheduleItem it;
    const DateTime now = Now();
    it.Index = it.Updated = now;
    it.SyncFlag = SyncClean;
    it.Subject = "\x92\xE8\x97\xE1\x89\xEF\x8B\x63";  // 定例会議
    const int ahead = argc > 3 ? std::atoi(argv[3]) : 0;  // minutes
    it.Start = now.DateOnly().AddSeconds(now.Hour() * 3600 + (now.Minute() + ahead) * 60);
    it.End = it.Start.AddSeconds(3600);
    it.RepX = it.RepY = it.RepZ = 1;
    it.RepStart = it.Start.DateOnly();
    it.RepEnd = it.RepStart.AddSeconds(86340);
    it.Execute = target;
    if (std::getenv("KV_SEED_ALARM")) {  // and its alarm rings at the start
      it.Alarm = 0;
      it.AlarmTime = it.Start;
    }
    return test::WriteStore(store, {it}) ? 0 : Fail("cannot write the store");
  }
  if (::access(store.c_str(), F_OK) != 0 && !test::WriteStore(store, test::DemoItems(Now())))
    return Fail("cannot write the demo store");

  CCalenderApp app;
  if (!app.InitInstance(QCoreApplication::applicationFilePath().toStdString()))
    return Fail("the calendar did not start");
  CMainFrame& f = *app.mainFrame();
  f.resize(width, height);
  QTest::qWait(200);
  if (!WaitForFrame(f.view())) return Fail("no frame painted");
  if (select.IsValid() && !f.viewCommands().MoveTo(select)) return Fail("cannot select that day");

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
  if (cmd == "tip") {
    f.runCommand(Command::WeekUnit);
    if (!WaitForFrame(f.view())) return Fail("no frame painted");
    const ViewState& st = f.state();
    for (int i = 0; i < 7; ++i) {
      if (!st.Headings[i].name_cut) continue;
      const CellRect& h = st.Headings[i].rect;
      const CellRect& day = st.CellTable[i].rect;
      QTest::mouseClick(f.view(), Qt::LeftButton, {}, QPoint(day.left + 4, day.bottom - 4));
      const QPoint at(h.left + 4, (h.top + h.bottom) / 2);
      QTest::mouseMove(f.view(), at);
      QApplication::setEffectEnabled(Qt::UI_FadeTooltip, false);
      QApplication::setEffectEnabled(Qt::UI_AnimateTooltip, false);
      QHelpEvent help(QEvent::ToolTip, at, f.view()->mapToGlobal(at));
      QApplication::sendEvent(f.view(), &help);
      if (!QTest::qWaitFor([] { return QToolTip::isVisible(); }, 5000)) return Fail("no tool tip");
      // The tip is on the screen once its own window is exposed (no fade: see above).
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->inherits("QTipLabel") && !QTest::qWaitForWindowExposed(w))
          return Fail("the tool tip was not shown");
      const QRect area = f.frameGeometry().united(QRect(QCursor::pos(), QSize(300, 60)));
      if (!f.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).save(QString::fromStdString(target)))
        return Fail("cannot save the screenshot");
      std::printf("%s: %s\n", target.c_str(), QToolTip::text().toUtf8().constData());
      return 0;
    }
    return Fail("every holiday of the week has room for its name");
  }
  if (cmd == "dialogs") {
    const QString dir = QString::fromStdString(target);
    {
      GrabNextDialog grab(dir + "/print.png");
      f.runCommand(Command::Print);
      if (!grab.saved()) return Fail("no print dialog");
    }
    {
      GrabNextDialog grab(dir + "/page-setup.png");
      f.runCommand(Command::PrintSetup);
      if (!grab.saved()) return Fail("no page set-up dialog");
    }
    {
      GrabNextDialog grab(dir + "/colour.png");
      QColorDialog colours(&f);
      colours.exec();
      if (!grab.saved()) return Fail("no colour dialog");
    }
    std::printf("%s\n", target.c_str());
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
