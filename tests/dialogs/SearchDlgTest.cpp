// The search dialog driven by keys: lines as the word is typed, the
// arrows into the list, Enter to choose; texts shown as they are.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>

#include "app/dialogs/SearchDlg.h"
#include "tests/support/TestSupport.h"

namespace kv::ui {
namespace {

using test::D;
using test::J;

void Type(QWidget* w, const QString& text) {
  for (QChar c : text) QTest::sendKeyEvent(QTest::Click, w, Qt::Key_unknown, QString(c), {});
}

TEST(SearchDlg, TypingListsArrowsAndEnterChooseAndBadInputIsSaidInTheDialog) {
  test::TempDir dir;
  ItemStore store;
  ASSERT_EQ(store.CreateStore(dir.File("s.db")), 1);
  auto add = [&](const char* subject, const char* place, DateTime start, int n) {
    ScheduleItem it;
    it.Index = D(2004, 1, 1).AddSeconds(n);
    it.Subject = J(subject);
    it.Place = J(place);
    it.Start = start;
    it.End = start.AddSeconds(3600);
    it.SyncFlag = SyncClean;
    it.RepX = it.RepY = it.RepZ = 1;
    it.RepStart = start.DateOnly();
    it.RepEnd = it.RepStart.AddSeconds(86340);
    ASSERT_EQ(store.InsertItem(it), 1);
  };
  add("<b>Review</b> 会議", "第一会議室", D(2005, 3, 15, 10, 0, 0), 1);
  add("review memo", "", D(2005, 3, 10, 9, 30, 0), 2);
  add("lunch", "", D(2005, 3, 11, 12, 0, 0), 3);
  ItemSearch search;
  ASSERT_TRUE(search.Load(store, D(2005, 3, 9)));

  SearchDlg dlg(search);
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("予定の検索"));
  dlg.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
  dlg.textField()->setFocus();
  EXPECT_EQ(dlg.resultList()->count(), 0) << "an empty field shows nothing";

  Type(dlg.textField(), QStringLiteral("ＲＥＶ"));  // full-width capitals find both
  ASSERT_EQ(dlg.resultList()->count(), 2);
  EXPECT_EQ(dlg.resultList()->item(0)->text(), QStringLiteral("2005/03/10(木)  09:30  review memo"));
  EXPECT_EQ(dlg.resultList()->item(1)->text(),
            QStringLiteral("2005/03/15(火)  10:00  <b>Review</b> 会議（第一会議室）"));
  EXPECT_EQ(dlg.note()->text(), QStringLiteral("2 件"));
  EXPECT_EQ(dlg.note()->textFormat(), Qt::PlainText);

  Type(dlg.textField(), QStringLiteral("x"));
  EXPECT_EQ(dlg.resultList()->count(), 0);
  EXPECT_EQ(dlg.note()->text(), QStringLiteral("見つかりませんでした。"));
  QTest::keyClick(dlg.textField(), Qt::Key_Backspace);
  ASSERT_EQ(dlg.resultList()->count(), 2);

  // A character CP932 has no room for: said in the dialog, nothing found.
  dlg.textField()->setText(QStringLiteral("会議\U0001F600"));
  EXPECT_EQ(dlg.resultList()->count(), 0);
  EXPECT_EQ(dlg.note()->text(), QStringLiteral("予定に使えない文字が含まれているため、見つかりません。"));
  EXPECT_TRUE(dlg.isVisible());

  // Arrows into the list, Enter on the second line.
  dlg.textField()->setText(QStringLiteral("rev"));
  QSignalSpy accepted(&dlg, &QDialog::accepted);
  QTest::keyClick(dlg.textField(), Qt::Key_Down);
  EXPECT_TRUE(dlg.resultList()->hasFocus());
  EXPECT_EQ(dlg.resultList()->currentRow(), 0);
  QTest::keyClick(dlg.resultList(), Qt::Key_Down);
  QTest::keyClick(dlg.resultList(), Qt::Key_Return);
  EXPECT_EQ(accepted.count(), 1);
  ASSERT_TRUE(dlg.chosen().has_value());
  EXPECT_EQ(dlg.chosen()->date, D(2005, 3, 15));
  EXPECT_EQ(dlg.chosen()->index, D(2004, 1, 1).AddSeconds(1));
}

}  // namespace
}  // namespace kv::ui
