// The group side in the real calendar window, offscreen, against the
// reference server on loopback: the other users' week fetched before it is
// drawn, a refused sign-in shown once, the settings corrected through the
// dialog, the reference users chosen, and a double-click in a row without
// permission.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include "app/CalenderApp.h"
#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include "app/Startup.h"
#include "app/dialogs/ServerSetDlg.h"
#include "app/dialogs/UserSelDlg.h"
#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"
#include "sync/SyncClient.h"
#include "tests/app/FrameTestSupport.h"
#include "tests/dialogs/DialogTestSupport.h"
#include "tests/group/GroupTestSupport.h"
#include "tests/support/ModalScript.h"
#include "view/HitTest.h"

namespace kv::app {
namespace {

using namespace kv::test;
using ui::MessageBox;

// A repaint, and a fresh frame from it: only what was asked for before
// is laid out again.
bool Repainted(CCalenderView* view) {
  view->update();
  return WaitForFrame(view, false);
}

TEST(GroupWindow, TheOtherUsersWeekFromStartToChoice) {
  Team team(Now());  // the window's clock is the real one
  TempDir home;
  qputenv("HOME", home.path().c_str());
  qputenv("XDG_DATA_HOME", home.File("data").c_str());
  qputenv("XDG_CONFIG_HOME", home.File("config").c_str());
  // Never the desktop's real secret service.
  qputenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + home.File("no-bus")).c_str());

  ScheduleItem secret;
  secret.Index = Now().AddSeconds(-5000);
  secret.Updated = Now();
  secret.Start = Now().DateOnly().AddSeconds(9 * 3600 + 1800);
  secret.End = secret.Start.AddSeconds(3600);
  secret.Subject = "checkup";
  secret.Private = 1;
  secret.SyncFlag = SyncClean;
  ASSERT_EQ(team.store.AddItem(team.taro, secret), 1);

  const std::string store_path = BuildStorePath(DataHome(), LogonName());
  {
    ItemStore store;
    ASSERT_EQ(store.CreateStore(store_path), 1);
    ASSERT_EQ(store.WriteSettings("hanako", "127.0.0.1", team.server->Port(), "pw-hanako"), 1);
    ASSERT_EQ(store.SaveUserList({Ref(team.taro, "taro"), Ref(team.jiro, "jiro")}), 1);
  }
  MessageBox::takeShownTexts();

  CCalenderApp app;
  ASSERT_TRUE(app.InitInstance(QCoreApplication::applicationFilePath().toStdString()));
  CMainFrame& f = *app.mainFrame();
  f.resize(1000, 700);
  ASSERT_TRUE(Repainted(f.view()));
  EXPECT_EQ(GlobalConnection().Password, "pw-hanako");  // from the row: no secret service here
  EXPECT_EQ(f.state().Online, 1);

  // Entering the mode fetches the list and the items before the drawing.
  const int runs = f.view()->layoutRuns();
  f.runCommand(Command::OtherUsers);
  ASSERT_EQ(f.state().ViewMode, OtherUsersMode);
  ASSERT_EQ(f.state().ReferenceUsers.size(), 2u);
  EXPECT_EQ(f.state().ReferenceUsers[0].DisplayName, J("山田太郎"));
  EXPECT_EQ(f.state().ReferenceUsers[0].Writable, 1);
  EXPECT_EQ(f.state().OwnDisplayName, J("佐藤花子"));
  ASSERT_EQ(f.state().ReferenceItems.size(), 1u);
  EXPECT_EQ(f.state().ReferenceItems[0].Subject, "");  // masked by the server too
  ASSERT_TRUE(Repainted(f.view()));
  EXPECT_EQ(f.view()->layoutRuns(), runs + 1);  // one drawing, after the fetch
  const UserEntry jiro = f.state().ReferenceUsers[1];
  ASSERT_GT(jiro.RowBottom, jiro.RowTop);
  EXPECT_FALSE(f.state().ReferenceItems[0].CellRects[0].IsEmpty());

  // A double-click in jiro's row: no permission.
  const CellRect sat = f.state().CellTable[6].rect;
  QTest::mouseDClick(f.view(), Qt::LeftButton, {},
                     QPoint(sat.left + 5, (jiro.RowTop + jiro.RowBottom) / 2));
  EXPECT_EQ(MessageBox::takeShownTexts(), QStringList{ui::FromCp932(CannotAddForUserText())});

  // The server no longer takes the password: said once, not at every repaint.
  std::string err;
  ASSERT_TRUE(team.store.SetPassword("hanako", "new-pw", &err)) << err;
  for (int i = 0; i < 3; ++i) f.runCommand(i % 2 ? Command::Previous : Command::Next);
  EXPECT_EQ(MessageBox::takeShownTexts(), QStringList{QStringLiteral("パスワードが間違っています。")});
  EXPECT_TRUE(f.state().ReferenceUsers.empty());

  // Corrected in サーバー設定: synchronised, and the week fills again.
  ModalScript dialogs;
  dialogs.then<ui::ServerSetDlg>([](ui::ServerSetDlg* dlg) {
    dlg->findChild<QLineEdit*>("password")->setText("new-pw");
    QTest::mouseClick(ButtonWithText(dlg, "OK"), Qt::LeftButton);
  });
  f.runCommand(Command::ServerSettings);
  EXPECT_TRUE(MessageBox::takeShownTexts().isEmpty());
  EXPECT_EQ(GlobalConnection().Password, "new-pw");
  ASSERT_EQ(f.state().ReferenceUsers.size(), 2u);
  {
    std::string u, s, pw;
    int32_t port = 0;
    DateTime last;
    ASSERT_EQ(f.store().ReadSettings(u, s, port, pw, last), 1);
    EXPECT_EQ(pw, "new-pw");  // no secret service: the store keeps it
  }

  // 参照ユーザ: hanako herself is never offered; jiro goes back.
  QStringList offered;
  dialogs.then<ui::UserSelDlg>([&](ui::UserSelDlg* dlg) {
    offered = Lines(dlg->findChild<QListWidget*>("candidateList"));
    auto* chosen = dlg->findChild<QListWidget*>("chosenList");
    chosen->setCurrentRow(1);
    QTest::mouseClick(ButtonWithText(dlg, QStringLiteral("削除 >>")), Qt::LeftButton);
    QTest::mouseClick(ButtonWithText(dlg, "OK"), Qt::LeftButton);
  });
  f.runCommand(Command::ReferenceUsers);
  // The server lists hanako, taro and jiro; the other two are chosen.
  EXPECT_TRUE(offered.isEmpty()) << offered.join(',').toStdString();
  ASSERT_EQ(f.state().ReferenceUsers.size(), 1u);
  EXPECT_EQ(f.state().ReferenceUsers[0].UserName, "taro");
  std::vector<UserEntry> saved;
  f.store().LoadUserList(saved);
  ASSERT_EQ(saved.size(), 1u);
  EXPECT_EQ(saved[0].UserName, "taro");
  ASSERT_TRUE(Repainted(f.view()));
}

}  // namespace
}  // namespace kv::app
