// A morning with the calendar, driven like a user drives it: the real
// window on a store with a schedule server behind it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QPrinter>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <filesystem>
#include <future>
#include <thread>

#include "app/CalenderApp.h"
#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include "app/ServerCall.h"
#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"
#include "tests/app/DemoItems.h"
#include "tests/app/FrameTestSupport.h"
#include "tests/server/LoopbackServer.h"
#include "tests/support/ModalScript.h"

namespace kv::app {
namespace {

namespace fs = std::filesystem;
using test::D;
using test::DayCellOf;
using test::J;

QString Q(const std::string& cp932) { return ui::FromCp932(cp932); }

const ViewItem* Find(const ViewState& st, const QString& subject) {
  for (const auto& it : st.VisibleItems)
    if (Q(it.Subject) == subject) return &it;
  return nullptr;
}

bool Inside(const CellRect& inner, const CellRect& outer) {
  return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
         inner.bottom <= outer.bottom;
}

// Dark pixels of the shown frame inside r (logical units).
int InkIn(const QImage& frame, const CellRect& r) {
  const qreal dpr = frame.devicePixelRatio();
  int n = 0;
  for (int y = static_cast<int>(r.top * dpr); y < static_cast<int>(r.bottom * dpr); ++y)
    for (int x = static_cast<int>(r.left * dpr); x < static_cast<int>(r.right * dpr); ++x)
      n += qGray(frame.pixel(x, y)) < 160;
  return n;
}

QToolButton* ToolButton(CMainFrame& f, Command id) {
  auto* bar = f.findChild<QToolBar*>(QStringLiteral("ToolBar"));
  return qobject_cast<QToolButton*>(bar->widgetForAction(f.action(id)));
}

TEST(Story, AMorningWithTheCalendarAndItsServer) {
  test::ScratchHome home(D(2005, 3, 9, 8, 30, 0));
  // The group server knows taro and has one new item for today.
  server::test::LoopbackServer server;
  std::string err;
  int32_t taro = 0;
  ASSERT_TRUE(server.Start({server::test::Person("taro", &taro)}, {}, {}, &err)) << err;
  ScheduleItem from_server;
  from_server.Subject = J("部長と打ち合わせ");
  from_server.Start = D(2005, 3, 9, 15, 0);
  from_server.End = D(2005, 3, 9, 16, 0);
  from_server.Index = D(2005, 3, 8, 18, 0, 0);
  from_server.Updated = D(2005, 3, 8, 18, 0, 0);
  from_server.SyncFlag = SyncClean;
  ASSERT_EQ(server.store.AddItem(taro, from_server), 1);

  // Yesterday's calendar: the demo items, signed up with that server.
  fs::create_directories(home.StoreFolder());
  ASSERT_TRUE(test::WriteStore(home.StorePath(), test::DemoItems(D(2005, 3, 9))));
  {
    ItemStore store;
    ASSERT_EQ(store.OpenStore(home.StorePath()), 1);
    ASSERT_EQ(store.WriteSettings("taro", "127.0.0.1", server.Port(), "pw-taro"), 1);
  }

  {
    CCalenderApp app;
    ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
    CMainFrame& f = *app.mainFrame();
    ViewState& st = f.state();
    f.resize(1100, 700);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    ASSERT_TRUE(test::WaitForFrame(f.view()));
    EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());

    // Signed in and in step: the server's item is in today's cell.
    EXPECT_EQ(f.paneText(1), QStringLiteral("Online"));
    const ViewItem* meeting = Find(st, QStringLiteral("部長と打ち合わせ"));
    ASSERT_NE(meeting, nullptr);
    const int today = DayCellOf(st, D(2005, 3, 9));
    ASSERT_GE(today, 0);
    EXPECT_TRUE(Inside(meeting->CellRects[0], st.CellTable[today].rect));
    EXPECT_GT(InkIn(f.view()->frameImage(), meeting->CellRects[0]), 20);

    // A press selects it at once: inverted line, subject in the message pane.
    const CellRect line = meeting->CellRects[0];
    const int ink_before = InkIn(f.view()->frameImage(), line);
    const int runs_before_click = f.view()->layoutRuns();
    QTest::mouseClick(f.view(), Qt::LeftButton, {}, QPoint(line.left + 3, line.top + 3));
    EXPECT_EQ(f.paneText(0), QStringLiteral("部長と打ち合わせ"));
    EXPECT_EQ(st.InvertedRect, line);
    EXPECT_GT(InkIn(f.view()->frameImage(), line), ink_before * 3);
    // Drawn straight onto the frame, without laying the month out again.
    EXPECT_EQ(f.view()->layoutRuns(), runs_before_click);

    // Next month and back with the keys.
    int runs = f.view()->layoutRuns();
    QTest::keyClick(f.view(), Qt::Key_PageDown);
    EXPECT_EQ(st.AnchorDate, D(2005, 4, 9));
    EXPECT_EQ(st.OwnSelection, -1);
    ASSERT_TRUE(test::LaidOutAgain(f.view(), runs));
    EXPECT_EQ(DayCellOf(st, D(2005, 4, 9)) >= 0, true);
    runs = f.view()->layoutRuns();
    QTest::keyClick(f.view(), Qt::Key_Home);
    EXPECT_EQ(st.SelectedDate, D(2005, 3, 9));
    ASSERT_TRUE(test::LaidOutAgain(f.view(), runs));

    // The week, from the tool bar: the meeting is a box in today's column.
    runs = f.view()->layoutRuns();
    QTest::mouseClick(ToolButton(f, Command::WeekUnit), Qt::LeftButton);
    EXPECT_EQ(st.ViewMode, WeekMode);
    ASSERT_TRUE(test::LaidOutAgain(f.view(), runs));
    meeting = Find(st, QStringLiteral("部長と打ち合わせ"));
    ASSERT_NE(meeting, nullptr);
    ASSERT_FALSE(meeting->CellRects[0].IsEmpty());
    EXPECT_TRUE(Inside(meeting->CellRects[0], st.CellTable[3].rect));  // Wednesday
    EXPECT_EQ(st.CellTable[3].date, D(2005, 3, 9));

    // Earlier hours with the up arrow.
    const int first = st.FirstHour;
    const CellRect up = st.CellTable[kUpArrowCell].rect;
    runs = f.view()->layoutRuns();
    QTest::mouseClick(f.view(), Qt::LeftButton, {}, QPoint(up.left + 8, up.top + 8));
    ASSERT_TRUE(test::LaidOutAgain(f.view(), runs));
    EXPECT_EQ(st.FirstHour, first - 1);

    // A double-click on an empty slot of Friday opens a new item there;
    // cancelled, it leaves nothing behind.
    const CellRect fri = st.CellTable[5].rect;
    QString dialog_title;
    test::ModalScript dialogs;
    dialogs.then<QDialog>([&](QDialog* dlg) {
      dialog_title = dlg->windowTitle();
      dlg->reject();
    });
    const size_t items_before = st.VisibleItems.size();
    QTest::mouseDClick(f.view(), Qt::LeftButton, {}, QPoint(fri.left + 5, fri.bottom - 3));
    EXPECT_EQ(st.SelectedDate, D(2005, 3, 11));
    EXPECT_EQ(dialog_title, QStringLiteral("予定の編集"));
    EXPECT_EQ(st.VisibleItems.size(), items_before);
    EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());

    // A page on paper, then the day with the item still selected.
    f.view()->printer().setOutputFormat(QPrinter::PdfFormat);
    f.view()->printer().setOutputFileName(QString::fromStdString(home.path() + "/week.pdf"));
    ASSERT_TRUE(f.view()->printTo(f.view()->printer()));
    EXPECT_GT(fs::file_size(home.path() + "/week.pdf"), 1000u);
    f.runCommand(Command::DayUnit);
    EXPECT_EQ(st.ViewMode, DayMode);

    // Done for the morning.
    f.action(Command::Exit)->trigger();
    EXPECT_FALSE(f.isVisible());
  }
  // The store was closed and holds the server's item as in step.
  ItemStore store;
  ASSERT_EQ(store.OpenStore(home.StorePath()), 1);
  ScheduleItem it;
  bool found = false;
  for (int ok = store.ReadFirstItem(it); ok; ok = store.ReadNextItem(it))
    if (it.Index == from_server.Index) found = it.SyncFlag == SyncClean;
  EXPECT_TRUE(found);
  server.server->Stop();
}

// A server that takes the connection and then says nothing until told.
class SilentServer {
 public:
  SilentServer() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(fd_, 8), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      const int c = ::accept(fd_, nullptr, nullptr);
      if (c >= 0) accepted_ = true;
      release_.get_future().wait();
      if (c >= 0) ::close(c);
    });
  }
  ~SilentServer() {
    Release();
    thread_.join();
    ::close(fd_);
  }
  int Port() const { return port_; }
  bool Accepted() const { return accepted_; }
  void Release() {
    if (!released_) release_.set_value();
    released_ = true;
  }
  // Whether a further connection is waiting, without waiting for one.
  bool AnotherWaiting() {
    ::fcntl(fd_, F_SETFL, O_NONBLOCK);
    const int c = ::accept(fd_, nullptr, nullptr);
    if (c >= 0) ::close(c);
    return c >= 0;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> accepted_{false};
  std::promise<void> release_;
  bool released_ = false;
  std::thread thread_;
};

class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

TEST(Story, AServerThatDoesNotAnswerNeverFreezesTheWindow) {
  test::ScratchHome home;
  SilentServer silent;
  {
    ItemStore store;
    ASSERT_TRUE(home.NewStore(store, "taro", silent.Port(), "pw"));
  }
  CCalenderApp app;
  PaintCounter counter;
  bool checked = false;
  bool was_running = false, held = false, painted = false;
  QString pane_during;
  // Runs inside the start-up synchronisation, while the server is silent.
  QTimer::singleShot(0, [&] {
    CMainFrame* f = app.mainFrame();
    ASSERT_NE(f, nullptr);
    was_running = ServerCall::Running();
    pane_during = f->paneText(0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return silent.Accepted(); }, 30000));
    f->view()->installEventFilter(&counter);
    const DateTime anchor = f->state().AnchorDate;
    QTest::keyClick(f->view(), Qt::Key_PageDown);
    held = f->state().AnchorDate == anchor;
    f->view()->update();
    painted = QTest::qWaitFor([&] { return counter.paints > 0; }, 30000);
    EXPECT_EQ(f->view()->layoutRuns(), 0);  // drawing is still off
    checked = true;
    silent.Release();
  });
  ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
  CMainFrame& f = *app.mainFrame();
  ASSERT_TRUE(checked);
  EXPECT_TRUE(was_running);
  EXPECT_EQ(pane_during, QStringLiteral("サーバーと同期しています..."));
  EXPECT_TRUE(held);
  EXPECT_TRUE(painted);
  // The broken sign-in counts as a failed connection: no second attempt
  // for the upload, and the calendar opens offline.
  EXPECT_FALSE(silent.AnotherWaiting());
  EXPECT_EQ(f.paneText(1), QStringLiteral("Offline"));
  EXPECT_EQ(f.paneText(0), QString());
  EXPECT_EQ(f.state().DrawEnabled, 1);
  EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());
  // The key pressed meanwhile arrives now.
  EXPECT_TRUE(QTest::qWaitFor([&] { return f.state().AnchorDate == D(2005, 4, 9); }, 30000));
  f.view()->removeEventFilter(&counter);
}

TEST(Story, ARefusedSignInIsToldOnceAndTheCalendarStillOpens) {
  test::ScratchHome home;
  server::test::LoopbackServer server;
  std::string err;
  ASSERT_TRUE(server.Start({{"taro", J("山田太郎"), "right", nullptr}}, {}, {}, &err)) << err;
  {
    ItemStore store;
    ASSERT_TRUE(home.NewStore(store, "taro", server.Port(), "wrong"));
    ScheduleItem it;
    it.Subject = "local";
    it.Index = D(2005, 3, 1);
    it.Start = D(2005, 3, 9, 9);
    it.End = D(2005, 3, 9, 10);
    it.SyncFlag = SyncPending;
    ASSERT_EQ(store.InsertItem(it), 1);
  }
  CCalenderApp app;
  ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
  CMainFrame& f = *app.mainFrame();
  // The worker's message reached the window's thread, once.
  EXPECT_EQ(ui::MessageBox::takeShownTexts(), QStringList{QStringLiteral("パスワードが間違っています。")});
  EXPECT_EQ(f.state().DrawEnabled, 1);
  EXPECT_TRUE(f.minuteTimer().isActive());
  // A refused synchronisation loads nothing; the next navigation does.
  EXPECT_TRUE(f.state().VisibleItems.empty());
  f.runCommand(Command::Today);
  ASSERT_EQ(f.state().VisibleItems.size(), 1u);
  EXPECT_EQ(f.state().VisibleItems[0].SyncFlag, SyncPending);  // nothing went up
  server.server->Stop();
}

}  // namespace
}  // namespace kv::app
