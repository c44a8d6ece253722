// Moving a calendar through a file: ファイル → エクスポート... writes every
// own item, and ファイル → インポート... in a calendar with an empty store
// brings them all back, each on the same days, waiting to be sent; the same
// file a second time adds nothing.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <filesystem>

#include "app/CalenderApp.h"
#include "app/MainFrame.h"
#include "app/dialogs/IcalDlgs.h"
#include "app/ui/Choosers.h"
#include "app/ui/MessageBox.h"
#include "model/Recurrence.h"
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
  it.Place = J("第一会議室");
  it.Execute = "/bin/true";
  it.Start = start;
  it.End = start.AddSeconds(5400);
  it.Color = 0x00336699;
  it.Alarm = n % 2 ? 600 : -1;
  it.Private = n % 3 == 0;
  it.RepX = it.RepY = it.RepZ = 1;
  it.RepStart = start.DateOnly();
  it.RepEnd = it.RepStart.AddSeconds(86340);
  return it;
}

std::vector<ScheduleItem> StoredItems(ItemStore& store) {
  std::vector<ScheduleItem> out;
  EXPECT_TRUE(store.IsOpen());
  ScheduleItem it;
  for (int rc = store.ReadFirstItem(it); rc == 1; rc = store.ReadNextItem(it)) out.push_back(it);
  return out;
}

std::vector<int64_t> Days(const ScheduleItem& it) {
  std::vector<int64_t> days;
  for (DateTime d = D(2005, 1, 1); d < D(2007, 1, 1); d = d.AddDays(1))
    if (Occurs(it, d, d.AddDays(1))) days.push_back(d.DayNumber());
  return days;
}

TEST(Story, ExportThenImportIntoAnEmptyStoreBringsEveryItemBack) {
  test::TempDir files;
  const QString ics = QString::fromStdString(files.File("mine.ics"));
  std::vector<ScheduleItem> mine = {Item("定例会議", D(2005, 3, 10, 10, 0, 0), 1),
                                    Item("歯医者", D(2005, 3, 18, 15, 30, 0), 2),
                                    Item("週次報告", D(2005, 3, 7, 9, 0, 0), 3)};
  mine[2].RepType = 2;  // Mondays and Thursdays, every other week, until June
  mine[2].RepX = 2;
  mine[2].RepY = (1 << 1) | (1 << 4);
  mine[2].RepStart = D(2005, 3, 7);
  mine[2].RepEnd = D(2005, 6, 30, 23, 59, 0);
  for (ScheduleItem& it : mine)
    it.AlarmTime = it.Alarm != -1 ? NextAlarmTime(it, D(2005, 3, 9, 10, 0, 0)) : NoAlarmMarker();
  {
    test::ScratchHome home(D(2005, 3, 9, 10, 0, 0));
    fs::create_directories(home.StoreFolder());
    ASSERT_TRUE(test::WriteStore(home.StorePath(), mine));
    CCalenderApp app;
    ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
    CMainFrame& f = *app.mainFrame();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    test::ModalScript dialogs;
    dialogs.then<ui::IcalExportDlg>([](ui::IcalExportDlg* d) {
      EXPECT_TRUE(d->allButton()->isChecked());
      d->accept();
    });
    ui::FileDialog::setNextFileName(ics);
    f.action(Command::Export)->trigger();
    EXPECT_TRUE(dialogs.done());
    EXPECT_EQ(ui::MessageBox::takeShownTexts().join(QStringLiteral("|")).toStdString(), "");
  }
  const std::string text = test::FileBytes(ics.toStdString());
  ASSERT_NE(text.find("BEGIN:VCALENDAR"), std::string::npos);
  EXPECT_EQ(text.find("/bin/true"), std::string::npos) << "the program is never written";

  test::ScratchHome home(D(2005, 3, 9, 10, 0, 0));  // no store yet: made at start-up
  CCalenderApp app;
  ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
  CMainFrame& f = *app.mainFrame();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  ASSERT_TRUE(StoredItems(f.store()).empty());

  auto import_once = [&](int expect_taken) {
    test::ModalScript dialogs;
    QString summary;
    int problems = -1;
    dialogs.then<ui::IcalImportDlg>([&](ui::IcalImportDlg* d) {
      summary = d->summary()->text();
      problems = d->problemList()->count();
      d->accept();
    });
    ui::FileDialog::setNextFileName(ics);
    f.action(Command::Import)->trigger();
    EXPECT_TRUE(dialogs.done());
    EXPECT_EQ(summary, QStringLiteral("予定 3 件のうち %1 件を取り込みます。").arg(expect_taken));
    EXPECT_EQ(problems, 0);
  };
  import_once(3);
  EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());
  // Shown at once in the month of today.
  EXPECT_EQ(f.state().VisibleItems.size(), 3u);

  std::vector<ScheduleItem> got = StoredItems(f.store());
  ASSERT_EQ(got.size(), mine.size());
  for (const ScheduleItem& a : mine) {
    const auto b = std::find_if(got.begin(), got.end(), [&](const ScheduleItem& g) { return g.Subject == a.Subject; });
    ASSERT_NE(b, got.end());
    EXPECT_EQ(b->SyncFlag, SyncPending) << "waits to go to the server";
    EXPECT_TRUE(b->Execute.empty());
    EXPECT_EQ(b->Place, a.Place);
    EXPECT_EQ(b->Color, a.Color);
    EXPECT_EQ(b->Alarm, a.Alarm);
    EXPECT_EQ(b->Private, a.Private);
    EXPECT_EQ(b->Start.SecondsOfDay(), a.Start.SecondsOfDay());
    EXPECT_EQ(b->End.SecondsOfDay(), a.End.SecondsOfDay());
    EXPECT_EQ(Days(*b), Days(a));
  }

  // The same file again: every event was imported before and is no newer.
  import_once(3);
  EXPECT_EQ(StoredItems(f.store()).size(), mine.size());
}

}  // namespace
}  // namespace kv::app
