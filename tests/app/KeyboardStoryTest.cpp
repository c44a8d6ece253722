// Adding an item with the keyboard alone: arrows to a day, Enter for the
// item dialog, a subject typed, Enter for OK, Tab to select the new item.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <filesystem>

#include "app/CalenderApp.h"
#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include "app/dialogs/ItemEditDlg.h"
#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"
#include "tests/app/DemoItems.h"
#include "tests/app/FrameTestSupport.h"
#include "tests/support/ModalScript.h"

namespace kv::app {
namespace {

namespace fs = std::filesystem;
using test::D;
using test::DayCellOf;

const ViewItem* Find(const ViewState& st, const QString& subject, int* index = nullptr) {
  for (size_t i = 0; i < st.VisibleItems.size(); ++i) {
    if (ui::FromCp932(st.VisibleItems[i].Subject) != subject) continue;
    if (index) *index = static_cast<int>(i);
    return &st.VisibleItems[i];
  }
  return nullptr;
}

TEST(KeyboardStory, ArrowsToADayEnterTypeEnterThenTabSelectsTheNewItem) {
  test::ScratchHome home(D(2005, 3, 9, 10, 0, 0));  // Wednesday
  fs::create_directories(home.StoreFolder());
  ScheduleItem other;
  other.Index = other.Updated = D(2005, 3, 1, 8, 0, 0);
  other.SyncFlag = SyncClean;
  other.Subject = ui::ToCp932(QStringLiteral("定例")).value();
  other.Start = D(2005, 3, 16, 10, 0, 0);
  other.End = D(2005, 3, 16, 11, 0, 0);
  other.RepX = other.RepY = other.RepZ = 1;
  other.RepStart = other.Start.DateOnly();
  other.RepEnd = other.RepStart.AddSeconds(86340);
  ASSERT_TRUE(test::WriteStore(home.StorePath(), {other}));

  CCalenderApp app;
  ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
  CMainFrame& f = *app.mainFrame();
  CCalenderView* view = f.view();
  f.resize(1000, 700);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  ASSERT_TRUE(test::WaitForFrame(view));
  ViewState& st = f.state();
  ASSERT_EQ(st.ViewMode, MonthMode);
  ASSERT_EQ(st.SelectedDate, D(2005, 3, 9));
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  ASSERT_TRUE(view->hasFocus()) << "the calendar takes the keys from the start";

  auto key = [&](Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const int runs = view->layoutRuns();
    QTest::keyClick(view, k, mods);
    return test::LaidOutAgain(view, runs);
  };
  // Two days on, a week down, past the day with 定例: Friday 18 March.
  ASSERT_TRUE(key(Qt::Key_Right));
  ASSERT_TRUE(key(Qt::Key_Right));
  ASSERT_TRUE(key(Qt::Key_Down));
  EXPECT_EQ(st.SelectedDate, D(2005, 3, 18));
  EXPECT_EQ(st.OwnSelection, -1);

  const QString subject = QStringLiteral("打合せ");
  bool filled = false;
  test::ModalScript dialogs;
  dialogs.then<ui::ItemEditDlg>([&](ui::ItemEditDlg* dlg) {
    const ItemForm& form = dlg->form();
    EXPECT_EQ(form.start_date, D(2005, 3, 18));
    EXPECT_EQ(form.start_time, D(2005, 3, 18, 9, 0, 0));
    EXPECT_EQ(form.end_time, D(2005, 3, 18, 10, 0, 0));
    QWidget* typing = QApplication::focusWidget();
    if (!typing || typing->window() != dlg) typing = dlg->controls().subject;
    EXPECT_EQ(typing, dlg->controls().subject) << "the subject takes the first keys";
    // Key events carrying the characters, as the keyboard delivers them.
    for (QChar c : subject) QTest::sendKeyEvent(QTest::Click, typing, Qt::Key_unknown, QString(c), {});
    EXPECT_EQ(dlg->controls().subject->text(), subject);
    filled = true;
    QTest::keyClick(typing, Qt::Key_Return);  // the default button, OK
  });
  const int runs = view->layoutRuns();
  QTest::keyClick(view, Qt::Key_Return);
  ASSERT_TRUE(filled);
  ASSERT_TRUE(test::LaidOutAgain(view, runs));
  EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());

  int index = -1;
  const ViewItem* added = Find(st, subject, &index);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->Start, D(2005, 3, 18, 9, 0, 0));
  EXPECT_EQ(added->End, D(2005, 3, 18, 10, 0, 0));
  const int cell = DayCellOf(st, D(2005, 3, 18));
  ASSERT_GE(cell, 0);
  const CellRect line = added->CellRects[0];
  ASSERT_FALSE(line.IsEmpty());
  EXPECT_TRUE(st.CellTable[cell].rect.Contains(line.left, line.top)) << "drawn on the 18th";
  EXPECT_EQ(st.OwnSelection, -1);

  // Back in the main window (the offscreen platform has no window manager
  // to give it back), the calendar has the keys again.
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  ASSERT_TRUE(view->hasFocus());
  // Tab selects it as a click would: inverted line, subject in the pane.
  QTest::keyClick(view, Qt::Key_Tab);
  EXPECT_EQ(st.OwnSelection, index);
  EXPECT_EQ(st.InvertedRect, line);
  EXPECT_EQ(f.paneText(0), subject);
  EXPECT_TRUE(view->hasFocus()) << "Tab stays in the calendar";

  // Enter now opens it; Escape leaves it as it was.
  bool reopened = false;
  dialogs.then<ui::ItemEditDlg>([&](ui::ItemEditDlg* dlg) {
    reopened = true;
    EXPECT_EQ(dlg->controls().subject->text(), subject);
    QTest::keyClick(dlg, Qt::Key_Escape);
  });
  QTest::keyClick(view, Qt::Key_Return);
  EXPECT_TRUE(reopened);
  ASSERT_NE(Find(st, subject), nullptr);
  EXPECT_EQ(Find(st, subject)->Start, D(2005, 3, 18, 9, 0, 0));
}

}  // namespace
}  // namespace kv::app
