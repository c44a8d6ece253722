// Finding an item again with the keyboard alone: Ctrl+F, a word, the
// arrows, Enter; the calendar then shows that day with the item selected.
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

TEST(Story, SearchJumpsToTheDayAndSelectsTheItem) {
  test::ScratchHome home(D(2005, 3, 9, 10, 0, 0));
  fs::create_directories(home.StoreFolder());
  const ScheduleItem target = Item("ｶﾚﾝﾀﾞｰ打ち合わせ", D(2005, 5, 20, 14, 0, 0), 1);
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
                                QStringLiteral("2005/05/20(金)  14:00  ｶﾚﾝﾀﾞｰ打ち合わせ")}));

  ViewState& st = f.state();
  EXPECT_EQ(st.ViewMode, MonthMode);
  EXPECT_EQ(st.SelectedDate, D(2005, 5, 20));
  ASSERT_TRUE(test::WaitForFrame(f.view(), false));
  const ScheduleItem* selected = st.SelectedOwnItem();
  ASSERT_NE(selected, nullptr);
  EXPECT_EQ(selected->Index, target.Index);
  EXPECT_EQ(st.InvertedRect, selected->CellRects[0]) << "drawn selected";
  EXPECT_EQ(f.paneText(0), QStringLiteral("ｶﾚﾝﾀﾞｰ打ち合わせ"));
  EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());
}

}  // namespace
}  // namespace kv::app
