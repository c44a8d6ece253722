// Finding an item again with the keyboard alone: Ctrl+F, a word, the
// arrows, Enter; the calendar then shows that day, a holiday, with the
// item selected.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <filesystem>

#include "app/CalenderApp.h"
#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include "app/dialogs/SearchDlg.h"
#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"
#include "tests/app/DemoItems.h"
#include "tests/app/FrameTestSupport.h"
#include "tests/support/ModalScript.h"

namespace kv::app {
namespace {

namespace fs = std::filesystem;
using test::D;
using test::J;

ScheduleItem Item(const char* subject, DateTime start, int n) {
  ScheduleItem it;
  it.Index = it.Updated = D(2005, 1, 1).AddSeconds(n);
  it.SyncFlag = SyncClean;
  it.Subject = J(subject);
  it.Start = start;
  it.End = start.AddSeconds(3600);
  it.RepX = it.RepY = it.RepZ = 1;
  it.RepStart = start.DateOnly();
  it.RepEnd = it.RepStart.AddSeconds(86340);
  return it;
}

// Pixels of the shown frame inside r (logical units) that are clearly red,
// leaving out its edges, where the selected day's red frame runs.
int RedIn(const QImage& frame, const CellRect& r) {
  const qreal dpr = frame.devicePixelRatio();
  int n = 0;
  for (int y = static_cast<int>((r.top + 2) * dpr); y < static_cast<int>((r.bottom - 2) * dpr); ++y)
    for (int x = static_cast<int>((r.left + 2) * dpr); x < static_cast<int>((r.right - 2) * dpr); ++x) {
      const QRgb p = frame.pixel(x, y);
      n += qRed(p) > 150 && qGreen(p) < 110 && qBlue(p) < 110;
    }
  return n;
}

TEST(Story, SearchJumpsToTheDayAndSelectsTheItem) {
  test::ScratchHome home(D(2005, 3, 9, 10, 0, 0));
  fs::create_directories(home.StoreFolder());
  // On 憲法記念日, which the month shows in red beside the day number.
  const ScheduleItem target = Item("ｶﾚﾝﾀﾞｰ打ち合わせ", D(2005, 5, 3, 14, 0, 0), 1);
  ASSERT_TRUE(test::WriteStore(home.StorePath(), {Item("カレンダー説明会", D(2005, 4, 4, 9, 0, 0), 2),
                                                  target, Item("昼食", D(2005, 5, 20, 12, 0, 0), 3)}));
  CCalenderApp app;
  ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
  CMainFrame& f = *app.mainFrame();
  f.resize(1000, 700);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  ASSERT_TRUE(test::WaitForFrame(f.view()));
  f.runCommand(Command::OtherUsers);  // the search leaves this week for the month
  ui::MessageBox::takeShownTexts();     // offline: the others cannot be shown
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));

  test::ModalScript dialogs;
  QStringList lines;
  dialogs.then<ui::SearchDlg>([&](ui::SearchDlg* d) {
    QApplication::setActiveWindow(d);  // as a window manager would
    ASSERT_TRUE(QTest::qWaitForWindowActive(d));
    EXPECT_TRUE(d->textField()->hasFocus()) << "typing goes to the word at once";
    for (QChar c : QStringLiteral("かれんだー")) QTest::sendKeyEvent(QTest::Click, d->textField(), Qt::Key_unknown, QString(c), {});
    EXPECT_EQ(d->resultList()->count(), 0) << "hiragana do not find katakana";
    d->textField()->clear();
    for (QChar c : QStringLiteral("カレンダー")) QTest::sendKeyEvent(QTest::Click, d->textField(), Qt::Key_unknown, QString(c), {});
    for (int i = 0; i < d->resultList()->count(); ++i) lines << d->resultList()->item(i)->text();
    QTest::keyClick(d->textField(), Qt::Key_Down);
    QTest::keyClick(d->resultList(), Qt::Key_Down);
    QTest::keyClick(d->resultList(), Qt::Key_Return);
  });
  QTest::keyClick(f.view(), Qt::Key_F, Qt::ControlModifier);
  EXPECT_TRUE(dialogs.done());
  EXPECT_EQ(lines, (QStringList{QStringLiteral("2005/04/04(月)  09:00  カレンダー説明会"),
                                QStringLiteral("2005/05/03(火)  14:00  ｶﾚﾝﾀﾞｰ打ち合わせ")}));

  ViewState& st = f.state();
  EXPECT_EQ(st.ViewMode, MonthMode);
  EXPECT_EQ(st.SelectedDate, D(2005, 5, 3));
  ASSERT_TRUE(test::WaitForFrame(f.view(), false));
  const ViewItem* selected = st.SelectedOwnItem();
  ASSERT_NE(selected, nullptr);
  EXPECT_EQ(selected->Index, target.Index);
  EXPECT_EQ(st.InvertedRect, selected->CellRects[0]) << "drawn selected";
  EXPECT_EQ(f.paneText(0), QStringLiteral("ｶﾚﾝﾀﾞｰ打ち合わせ"));

  // The holiday: its day number and name in red, whole; the day before, a
  // Monday, in black.
  const int holiday = test::DayCellOf(st, D(2005, 5, 3)), monday = test::DayCellOf(st, D(2005, 5, 2));
  ASSERT_GE(holiday, 0);
  ASSERT_GE(monday, 0);
  EXPECT_FALSE(st.Headings[holiday].name_cut);
  const QImage frame = f.view()->frameImage();
  EXPECT_GT(RedIn(frame, st.Headings[holiday].rect), 30);
  EXPECT_EQ(RedIn(frame, st.Headings[monday].rect), 0);
  EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());
}

}  // namespace
}  // namespace kv::app
