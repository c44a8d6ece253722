// One day of a monthly meeting deleted in the real window, against the
// reference server, and brought back with Ctrl+Z.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <algorithm>
#include <QMessageBox>
#include <QTest>

#include "app/CalenderApp.h"
#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"
#include "tests/app/FrameTestSupport.h"
#include "tests/server/LoopbackServer.h"
#include "tests/support/ModalScript.h"

namespace kv::app {
namespace {

using test::D;
using test::DayCellOf;
using test::J;

// Message boxes show for real while it lives.
struct RealBoxes {
  RealBoxes() { ui::MessageBox::setTestMode(false); }
  ~RealBoxes() { ui::MessageBox::setTestMode(true); }
};

bool Inside(const CellRect& inner, const CellRect& outer) {
  return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
         inner.bottom <= outer.bottom;
}

// The lines of `subject` drawn in the cell of `day`.
std::vector<CellRect> LinesOn(const ViewState& st, const std::string& subject, const DateTime& day) {
  std::vector<CellRect> out;
  const int cell = DayCellOf(st, day);
  if (cell < 0) return out;
  for (const ViewItem& it : st.VisibleItems)
    if (it.Subject == subject)
      for (const CellRect& r : it.CellRects)
        if (!r.IsEmpty() && Inside(r, st.CellTable[cell].rect)) out.push_back(r);
  return out;
}

// The server's live items of `owner` with `subject`.
std::vector<ScheduleItem> OnServer(server::test::LoopbackServer& server, int32_t owner,
                                   const std::string& subject) {
  std::vector<ScheduleItem> out;
  for (const ScheduleItem& it : server.store.LiveItems(owner))
    if (it.Subject == subject) out.push_back(it);
  return out;
}

TEST(Story, OneDayOfAMonthlyMeetingDeletedAndBroughtBack) {
  test::ScratchHome home(D(2005, 3, 9, 8, 30, 0));
  server::test::LoopbackServer server;
  std::string err;
  int32_t taro = 0;
  ASSERT_TRUE(server.Start({server::test::Person("taro", &taro)}, {}, {}, &err)) << err;
  // On the 1st of every month this year, 10:00 to 11:00.
  const std::string subject = J("定例会議");
  ScheduleItem meeting;
  meeting.Subject = subject;
  meeting.RepType = 3;
  meeting.RepX = 1;
  meeting.RepY = 1;
  meeting.RepZ = 1;
  meeting.RepStart = D(2005, 1, 1);
  meeting.RepEnd = D(2005, 12, 31, 23, 59, 0);
  meeting.Start = D(2005, 1, 1, 10, 0, 0);
  meeting.End = D(2005, 1, 1, 11, 0, 0);
  meeting.Index = D(2004, 12, 20, 9, 0, 0);
  meeting.Updated = meeting.Index;
  meeting.SyncFlag = SyncClean;
  ASSERT_EQ(server.store.AddItem(taro, meeting), 1);
  {
    ItemStore store;
    ASSERT_TRUE(home.NewStore(store, "taro", server.Port(), "pw-taro"));
  }

  // Every box shows for real; one that nobody expects fails the story.
  RealBoxes real;
  test::ModalScript boxes;
  CCalenderApp app;
  ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
  CMainFrame& f = *app.mainFrame();
  const ViewState& st = f.state();
  f.resize(1100, 700);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  ASSERT_TRUE(test::WaitForFrame(f.view()));

  // March shows the 1st of March and, at its foot, the 1st of April.
  const DateTime march = D(2005, 3, 1), april = D(2005, 4, 1);
  ASSERT_EQ(LinesOn(st, subject, march).size(), 1u);
  ASSERT_EQ(LinesOn(st, subject, april).size(), 1u);

  // A press on the 1st of March selects that day and the meeting.
  const CellRect line = LinesOn(st, subject, march)[0];
  QTest::mouseClick(f.view(), Qt::LeftButton, {}, QPoint(line.left + 3, line.top + 3));
  EXPECT_EQ(st.SelectedDate, march);
  ASSERT_GE(st.OwnSelection, 0);
  EXPECT_EQ(f.paneText(0), ui::FromCp932(subject));

  // Delete asks; Escape takes the question back with nothing deleted.
  QString question;
  QStringList choices;
  boxes.then<QMessageBox>([&](QMessageBox* box) {
    question = box->text();
    for (QAbstractButton* b : box->buttons()) choices << b->text();
    QTest::keyClick(box, Qt::Key_Escape);
  });
  QTest::keyClick(f.view(), Qt::Key_Delete);
  ASSERT_TRUE(boxes.done());
  EXPECT_TRUE(question.contains(ui::FromCp932(subject))) << question.toStdString();
  EXPECT_TRUE(question.contains(QStringLiteral("2005/03/01"))) << question.toStdString();
  choices.sort();
  QStringList want = {QStringLiteral("この日の予定だけ"), QStringLiteral("この日以降"),
                      QStringLiteral("すべて"), QStringLiteral("キャンセル")};
  want.sort();
  EXPECT_EQ(choices, want);
  EXPECT_EQ(OnServer(server, taro, subject).size(), 1u);
  ASSERT_GE(st.OwnSelection, 0) << "still selected for another try";

  // This day only. The window takes the keys again once the box is gone.
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  boxes.then<QMessageBox>([](QMessageBox* box) {
    for (QAbstractButton* b : box->buttons())
      if (b->text() == QStringLiteral("この日の予定だけ")) b->click();
  });
  int runs = f.view()->layoutRuns();
  QTest::keyClick(f.view(), Qt::Key_Delete);
  ASSERT_TRUE(boxes.done());
  ASSERT_TRUE(test::LaidOutAgain(f.view(), runs));
  EXPECT_TRUE(LinesOn(st, subject, march).empty());
  EXPECT_EQ(LinesOn(st, subject, april).size(), 1u);
  EXPECT_TRUE(f.paneText(0).isEmpty()) << "the pane named the deleted meeting";
  // The server has January and February in the meeting, the rest of the
  // year in a new item from April.
  auto held = OnServer(server, taro, subject);
  ASSERT_EQ(held.size(), 2u);
  std::sort(held.begin(), held.end(),
            [](const ScheduleItem& a, const ScheduleItem& b) { return a.RepStart < b.RepStart; });
  EXPECT_EQ(held[0].Index, meeting.Index);
  EXPECT_EQ(held[0].RepEnd, D(2005, 2, 28, 23, 59, 0));
  EXPECT_NE(held[1].Index, meeting.Index);
  EXPECT_EQ(held[1].RepStart, april);
  EXPECT_EQ(held[1].RepEnd, meeting.RepEnd);

  // Ctrl+Z: the 1st of March is back, on the screen and on the server.
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  runs = f.view()->layoutRuns();
  QTest::keyClick(f.view(), Qt::Key_Z, Qt::ControlModifier);
  ASSERT_TRUE(test::LaidOutAgain(f.view(), runs));
  EXPECT_EQ(LinesOn(st, subject, march).size(), 1u);
  EXPECT_EQ(LinesOn(st, subject, april).size(), 1u);
  held = OnServer(server, taro, subject);
  ASSERT_EQ(held.size(), 1u);
  EXPECT_EQ(held[0].Index, meeting.Index);
  EXPECT_EQ(held[0].RepStart, meeting.RepStart);
  EXPECT_EQ(held[0].RepEnd, meeting.RepEnd);

  // Nothing more to take back.
  QString told;
  boxes.then<QMessageBox>([&](QMessageBox* box) {
    told = box->text();
    box->accept();
  });
  QTest::keyClick(f.view(), Qt::Key_Z, Qt::ControlModifier);
  ASSERT_TRUE(boxes.done());
  EXPECT_EQ(told, QStringLiteral("元に戻せる操作はありません。"));
  f.close();
  server.server->Stop();
}

}  // namespace
}  // namespace kv::app
