// A day in step with the group: the server goes away and comes back while
// the calendar stays open, and nothing typed meanwhile is lost or waits
// for a restart.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QSettings>
#include <QTest>

#include "app/CalenderApp.h"
#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include "app/dialogs/ItemEditDlg.h"
#include "app/ui/MessageBox.h"
#include "tests/app/FrameTestSupport.h"
#include "tests/server/LoopbackServer.h"
#include "tests/support/ModalScript.h"

namespace kv::app {
namespace {

using test::D;

// Types a subject into the item dialog and presses OK.
void AddThroughTheDialog(CMainFrame& f, test::ModalScript& dialogs, const QString& subject) {
  dialogs.then<ui::ItemEditDlg>([subject](ui::ItemEditDlg* d) {
    d->controls().subject->setText(subject);
    QTest::mouseClick(d->controls().ok, Qt::LeftButton);
  });
  f.runCommand(Command::Add);
}

TEST(Story, AChangeMadeWhileTheServerWasAwayArrivesWithoutARestart) {
  test::ScratchHome home(D(2005, 3, 9, 9, 0, 0));
  server::test::LoopbackServer server;
  std::string err;
  int32_t taro = 0;
  ASSERT_TRUE(server.Start({server::test::Person("taro", &taro)}, {}, {}, &err)) << err;
  const uint16_t port = server.Port();
  {
    ItemStore store;
    ASSERT_TRUE(home.NewStore(store, "taro", port, "pw-taro"));
  }
  QSettings(QStringLiteral("Wexor"), QStringLiteral("Kalvane")).setValue(QStringLiteral("Sync/IntervalMinutes"), 2);

  CCalenderApp app;
  ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
  CMainFrame& f = *app.mainFrame();
  EXPECT_EQ(f.paneText(1), QStringLiteral("Online"));
  EXPECT_TRUE(f.syncTimer().isActive());
  EXPECT_EQ(f.syncTimer().interval(), 2 * 60000);
  test::ModalScript dialogs;

  // The server goes away; the item typed meanwhile is kept, and said so once.
  server.server->Stop();
  AddThroughTheDialog(f, dialogs, QStringLiteral("停電中の予定"));
  EXPECT_EQ(f.paneText(1), QStringLiteral("Offline"));
  EXPECT_EQ(f.paneText(0), QStringLiteral("サーバーに送信できませんでした。接続が戻り次第送信します。"));
  f.updateSyncStatus();
  QString tip;
  for (QLabel* l : f.statusBar()->findChildren<QLabel*>())
    if (l->text() == QStringLiteral("Offline")) tip = l->toolTip();
  EXPECT_TRUE(tip.startsWith(QStringLiteral("送信待ちの変更: 1 件"))) << tip.toStdString();
  EXPECT_TRUE(tip.contains(QStringLiteral("最後の同期: 2005/03/09 09:00:00"))) << tip.toStdString();

  // Back on the same port. The periodic synchronisation keeps the pause
  // after the failed connection...
  server.server = std::make_unique<server::Server>(server.store, server::ServerConfig{"127.0.0.1", port});
  ASSERT_TRUE(server.server->Start(&err)) << err;
  home.clock().Advance(120);
  f.onSyncTimer();
  EXPECT_EQ(server.server->Stats().connections, 0u);
  EXPECT_TRUE(server.Live(taro).empty());
  // ...and once it is over, what waited goes up.
  home.clock().Advance(200);
  f.onSyncTimer();
  ASSERT_TRUE(server::test::Settle(*server.server));
  ASSERT_EQ(server.Live(taro).size(), 1u);
  EXPECT_EQ(server.Live(taro).begin()->second, test::J("停電中の予定"));
  EXPECT_EQ(f.paneText(1), QStringLiteral("Online"));
  EXPECT_EQ(f.lastSuccessfulSync(), D(2005, 3, 9, 9, 5, 20));

  // Away again: two items wait. The first request that reaches the server
  // after it is back takes the earlier one up with it.
  server.server->Stop();
  AddThroughTheDialog(f, dialogs, QStringLiteral("一件目"));
  server.server = std::make_unique<server::Server>(server.store, server::ServerConfig{"127.0.0.1", port});
  ASSERT_TRUE(server.server->Start(&err)) << err;
  home.clock().Advance(301);
  AddThroughTheDialog(f, dialogs, QStringLiteral("二件目"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.Live(taro).size() == 3; }, 10000));

  // Away once more; F5 after its return does not wait out the pause.
  server.server->Stop();
  AddThroughTheDialog(f, dialogs, QStringLiteral("三件目"));
  server.server = std::make_unique<server::Server>(server.store, server::ServerConfig{"127.0.0.1", port});
  ASSERT_TRUE(server.server->Start(&err)) << err;
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  QTest::keyClick(f.view(), Qt::Key_F5);
  ASSERT_TRUE(server::test::Settle(*server.server));
  EXPECT_EQ(server.Live(taro).size(), 4u);
  EXPECT_EQ(f.paneText(1), QStringLiteral("Online"));
  EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());
  f.close();
  server.server->Stop();
}

TEST(Story, NoServerNoTimerAndZeroTurnsItOff) {
  test::ScratchHome home;
  {
    CCalenderApp app;
    ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
    // Without a server the timer may run, but F5 says what is missing.
    app.mainFrame()->runCommand(Command::Refresh);
    const QStringList told = ui::MessageBox::takeShownTexts();
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].startsWith(QStringLiteral("サーバーが設定されていません。")));
  }
  QSettings(QStringLiteral("Wexor"), QStringLiteral("Kalvane")).setValue(QStringLiteral("Sync/IntervalMinutes"), 0);
  CCalenderApp app;
  ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
  EXPECT_FALSE(app.mainFrame()->syncTimer().isActive());
}

}  // namespace
}  // namespace kv::app
