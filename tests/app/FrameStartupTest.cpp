// Starting the real calendar on a scratch home: a first run, a store that
// cannot be opened, one that cannot be created, one already in use.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/CalenderApp.h"
#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include "app/ui/MessageBox.h"
#include "store/ItemStore.h"
#include "tests/app/FrameTestSupport.h"

namespace kv::app {
namespace {

namespace fs = std::filesystem;
using test::D;

TEST(FrameStartup, AFirstRunMakesTheFoldersAndTheStoreAndOpensOffline) {
  test::ScratchHome home;
  // A data home that does not exist yet, two levels deep.
  const std::string data = home.path() + "/deep/er/data";
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  {
    CCalenderApp app;
    ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
    CMainFrame& f = *app.mainFrame();
    EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Kalvane"));
    EXPECT_EQ(f.programFolder(), home.path() + "/prog");
    EXPECT_EQ(f.storePath(), data + "/Brenlow/Quillon/" + LogonName() + ".mdb");
    EXPECT_TRUE(fs::is_regular_file(f.storePath()));
    EXPECT_TRUE(f.started());
    EXPECT_EQ(f.state().DrawEnabled, 1);
    EXPECT_EQ(f.state().ViewMode, MonthMode);
    EXPECT_EQ(f.state().SelectedDate, D(2005, 3, 9));
    EXPECT_EQ(f.minuteTimer().interval(), 60000);
    EXPECT_TRUE(f.minuteTimer().isActive());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    ASSERT_TRUE(test::LaidOutAgain(f.view(), 0));
    EXPECT_EQ(f.paneText(1), QStringLiteral("Offline"));
    // The month of today was drawn: 9 March 2005 is one of its cells.
    bool found = false;
    for (int i = 0; i < kDayCells; ++i)
      found |= f.state().CellTable[i].date == D(2005, 3, 9) && !f.state().CellTable[i].rect.IsEmpty();
    EXPECT_TRUE(found);
    f.close();
  }
  // A fresh store with its default settings row.
  ItemStore store;
  ASSERT_EQ(store.OpenStore(data + "/Brenlow/Quillon/" + LogonName() + ".mdb"), 1);
  std::string user, server, password;
  int32_t port = -1;
  DateTime last;
  ASSERT_EQ(store.ReadSettings(user, server, port, password, last), 1);
  EXPECT_EQ(server, "");
  EXPECT_EQ(port, 0);
  EXPECT_EQ(last, D(2000, 1, 1));
}

TEST(FrameStartup, AStoreThatCannotBeOpenedEndsWithItsMessageAndPath) {
  test::ScratchHome home;
  fs::create_directories(home.StoreFolder());
  { std::ofstream(home.StorePath()) << "this is not a calendar store, just some bytes\n"; }
  const std::string before = test::FileBytes(home.StorePath());
  CCalenderApp app;
  EXPECT_FALSE(app.InitInstance(home.ProgramPath()));
  EXPECT_EQ(app.exitCode(), kExitStoreFailed);
  EXPECT_EQ(app.mainFrame(), nullptr);
  EXPECT_EQ(ui::MessageBox::takeShownTexts(),
            QStringList{QString::fromStdString("データーベースが開けません。" + home.StorePath())});
  EXPECT_EQ(test::FileBytes(home.StorePath()), before);
}

// Damage inside the file, beyond what its opening reads: the first frame
// comes before the file's check; then the check refuses it, the user is
// told, the program ends, and the file is left as it was.
TEST(FrameStartup, AStoreDamagedInsideShowsTheFirstFrameThenEndsWithItsMessage) {
  test::ScratchHome home;
  fs::create_directories(home.StoreFolder());
  {
    ItemStore s;
    ASSERT_EQ(s.CreateStore(home.StorePath()), 1);
    for (int n = 0; n < 3000; ++n) {
      ScheduleItem it;
      it.Subject = "item " + std::to_string(n);
      it.Index = D(2000, 1, 1).AddSeconds(n);
      it.Start = D(2005, 3, 9, 9).AddDays(n % 600 - 300);
      it.End = it.Start.AddSeconds(3600);
      ASSERT_EQ(s.InsertItem(it), 1);
    }
  }
  {
    std::string bytes = test::FileBytes(home.StorePath());
    for (size_t i = 0; i < 4096; ++i) bytes[bytes.size() / 2 + i] = static_cast<char>(i * 7 + 3);
    std::ofstream(home.StorePath(), std::ios::binary | std::ios::trunc) << bytes;
  }
  const std::string before = test::FileBytes(home.StorePath());
  CCalenderApp app;
  ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
  CMainFrame& f = *app.mainFrame();
  EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());
  ASSERT_TRUE(QTest::qWaitFor([&] { return f.exitCode() != 0; }, 10000));
  EXPECT_EQ(f.exitCode(), kExitStoreFailed);
  EXPECT_GE(f.view()->layoutRuns(), 1) << "the first frame came first";
  EXPECT_FALSE(f.isVisible());
  EXPECT_FALSE(f.started());
  EXPECT_TRUE(f.state().VisibleItems.empty());
  EXPECT_EQ(ui::MessageBox::takeShownTexts(),
            QStringList{QString::fromStdString("データーベースが開けません。" + home.StorePath())});
  EXPECT_EQ(test::FileBytes(home.StorePath()), before);
}

TEST(FrameStartup, AStoreThatCannotBeCreatedEndsWithItsMessageAndPath) {
  test::ScratchHome home;
  // A file where the first folder should be: no folder, no store.
  fs::create_directories(home.DataHome());
  { std::ofstream(home.DataHome() + "/Brenlow") << "in the way"; }
  CCalenderApp app;
  EXPECT_FALSE(app.InitInstance(home.ProgramPath()));
  EXPECT_EQ(app.exitCode(), kExitStoreFailed);
  EXPECT_EQ(ui::MessageBox::takeShownTexts(),
            QStringList{QString::fromStdString("データーベースが作成できません。" + home.StorePath())});
  EXPECT_EQ(test::FileBytes(home.DataHome() + "/Brenlow"), "in the way");
}

TEST(FrameStartup, ASecondCalendarOnTheSameStoreSaysSoAndLeavesTheFileAlone) {
  test::ScratchHome home;
  fs::create_directories(home.StoreFolder());
  ItemStore first;  // the calendar already running
  ASSERT_EQ(first.CreateStore(home.StorePath()), 1);
  ScheduleItem it;
  it.Subject = "kept";
  it.Index = D(2005, 3, 1);
  it.Start = D(2005, 3, 9, 9);
  it.End = D(2005, 3, 9, 10);
  ASSERT_EQ(first.InsertItem(it), 1);
  const std::string before = test::FileBytes(home.StorePath());
  const std::string wal_before = test::FileBytes(home.StorePath() + "-wal");

  CCalenderApp second;
  EXPECT_FALSE(second.InitInstance(home.ProgramPath()));
  EXPECT_EQ(second.exitCode(), kExitStoreLocked);
  const QStringList shown = ui::MessageBox::takeShownTexts();
  ASSERT_EQ(shown.size(), 1);
  EXPECT_TRUE(shown[0].contains(QStringLiteral("すでに開かれています"))) << shown[0].toStdString();
  EXPECT_TRUE(shown[0].endsWith(QString::fromStdString(home.StorePath())));
  EXPECT_EQ(test::FileBytes(home.StorePath()), before);
  EXPECT_EQ(test::FileBytes(home.StorePath() + "-wal"), wal_before);
  // The first one goes on undisturbed.
  ScheduleItem back;
  ASSERT_EQ(first.ReadFirstItem(back), 1);
  EXPECT_EQ(back.Subject, "kept");
  it.Index = D(2005, 3, 2);
  EXPECT_EQ(first.InsertItem(it), 1);
}

}  // namespace
}  // namespace kv::app
