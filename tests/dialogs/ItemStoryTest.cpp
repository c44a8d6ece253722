// Items made, changed, copied and deleted in the real window, as a user
// does it, with the schedule server behind it; the store and the server
// are checked after every step. With KV_STORY_SHOTS set to a folder, the
// window and each dialog are saved there as pictures.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDateTimeEdit>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <cstdlib>

#include "app/CalenderApp.h"
#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include "app/dialogs/ItemEditDlg.h"
#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"
#include "edit/ItemClipboard.h"
#include "tests/app/FrameTestSupport.h"
#include "tests/server/LoopbackServer.h"
#include "tests/support/ModalScript.h"

namespace kv::app {
namespace {

using test::D;
using test::DayCellOf;
using test::J;

void Shot(QWidget* w, const char* name) {
  const char* dir = std::getenv("KV_STORY_SHOTS");
  if (!dir) return;
  w->grab().save(QString::fromLocal8Bit(dir) + "/" + QString::fromLatin1(name) + ".png");
}

void SetTime(QDateTimeEdit* e, int h, int m) {
  QDateTime t = e->dateTime();
  t.setTime(QTime(h, m, 0));
  e->setDateTime(t);
}

std::vector<ScheduleItem> Rows(ItemStore& store) {
  std::vector<ScheduleItem> out;
  ScheduleItem it;
  for (int ok = store.ReadFirstItem(it); ok; ok = store.ReadNextItem(it)) out.push_back(it);
  return out;
}

// An empty spot low in a month cell: below the day number and any lines.
QPoint EmptySpot(const ViewState& st, const DateTime& day) {
  const CellRect r = st.CellTable[DayCellOf(st, day)].rect;
  return QPoint(r.left + 4, r.bottom - 4);
}

QPoint LineOf(const ViewState& st, const std::string& subject) {
  for (const ViewItem& it : st.VisibleItems)
    if (it.Subject == subject && !it.CellRects[0].IsEmpty())
      return QPoint(it.CellRects[0].left + 3, it.CellRects[0].top + 3);
  ADD_FAILURE() << "not drawn";
  return {};
}

TEST(ItemStory, AddEditCopyPasteAndDeleteInTheWindow) {
  test::ScratchHome home(D(2005, 3, 9, 10, 0, 0));
  ItemClipboard::Instance().Clear();
  server::test::LoopbackServer server;
  std::string err;
  int32_t taro = 0;
  ASSERT_TRUE(server.Start({server::test::Person("taro", &taro)}, {}, {}, &err)) << err;
  {
    ItemStore store;
    ASSERT_TRUE(home.NewStore(store, "taro", server.Port(), "pw-taro"));
  }

  CCalenderApp app;
  ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
  CMainFrame& f = *app.mainFrame();
  ViewState& st = f.state();
  f.resize(1000, 700);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  ASSERT_TRUE(test::WaitForFrame(f.view()));
  ASSERT_EQ(f.paneText(1), QStringLiteral("Online"));
  ui::MessageBox::takeShownTexts();

  // 1. A double-click on an empty day: a new item there.
  const std::string subject = J("歯医者の予約");
  test::ModalScript dialogs;
  dialogs.then<ui::ItemEditDlg>([&](ui::ItemEditDlg* d) {
    const ui::ItemControls& c = d->controls();
    EXPECT_EQ(c.startDate->date(), QDate(2005, 3, 15));
    // Typed through an input method: it arrives as whole text.
    c.subject->setText(QString::fromUtf8("歯医者の予約"));
    c.place->setText(QString::fromUtf8("駅前クリニック"));
    SetTime(c.startTime, 10, 0);
    SetTime(c.endTime, 11, 30);
    QTest::mouseClick(c.alarmOn, Qt::LeftButton);
    c.alarmNumber->setText("30");
    Shot(d, "story_1_add_dialog");
    QTest::mouseClick(c.ok, Qt::LeftButton);
  });
  int runs = f.view()->layoutRuns();
  QTest::mouseDClick(f.view(), Qt::LeftButton, {}, EmptySpot(st, D(2005, 3, 15)));
  auto rows = Rows(f.store());
  ASSERT_EQ(rows.size(), 1u);
  const DateTime index = rows[0].Index;
  EXPECT_EQ(index, D(2005, 3, 9, 10, 0, 0));
  EXPECT_EQ(rows[0].Subject, subject);
  EXPECT_EQ(rows[0].Place, J("駅前クリニック"));
  EXPECT_EQ(rows[0].Start, D(2005, 3, 15, 10, 0, 0));
  EXPECT_EQ(rows[0].End, D(2005, 3, 15, 11, 30, 0));
  EXPECT_EQ(rows[0].Alarm, 1800);
  EXPECT_EQ(rows[0].AlarmTime, D(2005, 3, 15, 9, 30, 0));
  EXPECT_EQ(rows[0].SyncFlag, SyncClean);
  ASSERT_EQ(server.store.LiveItems(taro).size(), 1u);
  ASSERT_TRUE(test::LaidOutAgain(f.view(), runs));
  Shot(&f, "story_1_added");

  // 2. A double-click on its line: edited. An end before the start is
  // refused and the dialog comes back with what was typed.
  home.clock().Advance(60);
  dialogs
      .then<ui::ItemEditDlg>([&](ui::ItemEditDlg* d) {
        const ui::ItemControls& c = d->controls();
        EXPECT_EQ(c.subject->text(), QString::fromUtf8("歯医者の予約"));
        c.desc->setPlainText(QString::fromUtf8("保険証を忘れずに"));
        SetTime(c.endTime, 9, 0);
        QTest::mouseClick(c.ok, Qt::LeftButton);
      })
      .then<ui::ItemEditDlg>([](ui::ItemEditDlg* again) {
        const ui::ItemControls& c2 = again->controls();
        EXPECT_EQ(c2.desc->toPlainText(), QString::fromUtf8("保険証を忘れずに"));
        SetTime(c2.endTime, 12, 0);
        Shot(again, "story_2_edit_dialog");
        QTest::mouseClick(c2.ok, Qt::LeftButton);
      });
  runs = f.view()->layoutRuns();
  QTest::mouseDClick(f.view(), Qt::LeftButton, {}, LineOf(st, subject));
  EXPECT_EQ(ui::MessageBox::takeShownTexts(),
            QStringList{QString::fromUtf8("終了時刻が開始時刻よりも前に設定されています。")});
  rows = Rows(f.store());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].Index, index);
  EXPECT_EQ(rows[0].Desc, J("保険証を忘れずに"));
  EXPECT_EQ(rows[0].End, D(2005, 3, 15, 12, 0, 0));
  EXPECT_EQ(rows[0].Updated, D(2005, 3, 9, 10, 1, 0));
  EXPECT_EQ(rows[0].SyncFlag, SyncClean);
  ASSERT_EQ(server.store.FindItem(taro, index)->Desc, J("保険証を忘れずに"));
  ASSERT_TRUE(test::LaidOutAgain(f.view(), runs));

  // 3. Selected, copied, another day chosen, pasted. The keys go to the
  // window once the dialogs have given it back its activation.
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  QTest::mouseClick(f.view(), Qt::LeftButton, {}, LineOf(st, subject));
  ASSERT_GE(st.OwnSelection, 0);
  QTest::keyClick(f.view(), Qt::Key_C, Qt::ControlModifier);
  ASSERT_EQ(ItemClipboard::Instance().Item().Subject, subject);
  QTest::mouseClick(f.view(), Qt::LeftButton, {}, EmptySpot(st, D(2005, 3, 22)));
  EXPECT_EQ(st.SelectedDate, D(2005, 3, 22));
  runs = f.view()->layoutRuns();
  QTest::keyClick(f.view(), Qt::Key_V, Qt::ControlModifier);
  rows = Rows(f.store());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].Subject, subject);
  EXPECT_EQ(rows[1].Start, D(2005, 3, 22, 10, 0, 0));
  EXPECT_EQ(rows[1].End, D(2005, 3, 22, 12, 0, 0));
  EXPECT_NE(rows[1].Index, index);
  EXPECT_EQ(rows[1].SyncFlag, SyncClean);
  EXPECT_EQ(server.store.LiveItems(taro).size(), 2u);
  ASSERT_TRUE(test::LaidOutAgain(f.view(), runs));
  Shot(&f, "story_3_pasted");

  // 4. The original selected and deleted with the Delete key.
  home.clock().Advance(60);
  const CellRect first_line = [&] {
    for (const ViewItem& it : st.VisibleItems)
      if (it.Index == index) return it.CellRects[0];
    return CellRect{};
  }();
  ASSERT_FALSE(first_line.IsEmpty());
  QTest::mouseClick(f.view(), Qt::LeftButton, {}, QPoint(first_line.left + 3, first_line.top + 3));
  runs = f.view()->layoutRuns();
  QTest::keyClick(f.view(), Qt::Key_Delete);
  EXPECT_EQ(st.OwnSelection, -1);
  rows = Rows(f.store());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].SyncFlag, SyncDeleted);
  EXPECT_EQ(rows[0].Updated, D(2005, 3, 9, 10, 2, 0));
  EXPECT_EQ(rows[1].SyncFlag, SyncClean);
  EXPECT_EQ(server.store.FindItem(taro, index)->SyncFlag, SyncDeleted);
  EXPECT_EQ(server.store.LiveItems(taro).size(), 1u);
  ASSERT_TRUE(test::LaidOutAgain(f.view(), runs));
  Shot(&f, "story_4_deleted");
  EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());
  EXPECT_EQ(st.DrawEnabled, 1);

  f.action(Command::Exit)->trigger();
  server.server->Stop();
}

}  // namespace
}  // namespace kv::app
