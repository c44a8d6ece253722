// Commands 159 and 161 with their real dialogs, answered like a user
// would, against the reference server on loopback.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <thread>

#include "app/dialogs/ServerSetDlg.h"
#include "app/dialogs/UserSelDlg.h"
#include "app/group/GroupCommands.h"
#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"
#include "tests/dialogs/DialogTestSupport.h"
#include "tests/group/GroupTestSupport.h"
#include "tests/support/ModalScript.h"
#include "tests/sync/SyncTestSupport.h"
#include "view/Navigation.h"

namespace kv::ui {
namespace {

using namespace kv::test;

const DateTime kNow = D(2005, 3, 9, 8, 0, 0);

// The application's message sink: every box through the MessageBox seam.
struct BoxSink final : MessageSink {
  void ShowMessage(const std::string& t) override { MessageBox::warning(nullptr, FromCp932(t)); }
};

struct Program {
  Team team{kNow};
  TempDir dir;
  std::string path = dir.File("hanako.mdb");
  ItemStore store;
  ViewState state;
  ConnectionState conn;
  RecordingNotifier notifier;
  FakeSecrets secrets;
  PasswordKeeper keeper{&secrets, path};
  BoxSink sink;
  int loads = 0, repaints = 0;
  std::unique_ptr<GroupCommands> commands;

  Program() {
    EXPECT_EQ(store.CreateStore(path), 1);
    conn.UserName = "hanako";
    conn.ConnectTimeoutMs = conn.IoTimeoutMs = 2000;
    state.DrawEnabled = 1;
    GroupCommands::Deps d;
    d.state = &state;
    d.store = &store;
    d.conn = &conn;
    d.keeper = &keeper;
    d.notifier = &notifier;
    d.messages = &sink;
    d.store_path = path;
    d.run = [](const std::function<void()>& work) {
      std::thread worker(work);
      worker.join();
    };
    d.load_visible_items = [this] { ++loads; };
    d.repaint = [this] { ++repaints; };
    commands = std::make_unique<GroupCommands>(d);
    MessageBox::takeShownTexts();
  }
};

TEST(GroupCommands, ServerSettingsSaveKeepThePasswordAndSynchroniseAtOnce) {
  Program p;
  // The taro item that hanako's first synchronisation brings down is hers.
  ScheduleItem mine;
  mine.Index = D(2005, 3, 1, 9);
  mine.Updated = kNow;
  mine.Start = D(2005, 3, 9, 10);
  mine.End = D(2005, 3, 9, 11);
  mine.Subject = "hers";
  mine.SyncFlag = SyncClean;
  ASSERT_EQ(p.team.store.AddItem(p.team.hanako, mine), 1);

  // A first attempt at a mistyped port has just failed.
  p.conn.ServerName = "127.0.0.1";
  p.conn.ServerPort = 1;
  p.conn.Password = "pw-hanako";
  {
    SyncClient c(p.conn, nullptr);
    EXPECT_EQ(c.CheckConnection(), 0);
  }

  bool checked = false;
  ModalScript dialogs;
  dialogs.then<ServerSetDlg>([&](ServerSetDlg* dlg) {
    auto* port = dlg->findChild<QLineEdit*>("serverPort");
    auto* password = dlg->findChild<QLineEdit*>("password");
    auto* place = dlg->findChild<QLabel*>("passwordPlace");
    EXPECT_EQ(port->text(), "1");
    EXPECT_EQ(password->text(), "pw-hanako");
    EXPECT_FALSE(place->text().contains(QStringLiteral("予定ファイル")));  // the secret service
    port->setText("http");
    QTest::mouseClick(ButtonWithText(dlg, "OK"), Qt::LeftButton);
    EXPECT_TRUE(dlg->isVisible());  // refused, still open
    port->setText(QString::number(p.team.server->Port()));
    checked = true;
    QTest::mouseClick(ButtonWithText(dlg, "OK"), Qt::LeftButton);
  });
  p.commands->EditServerSettings();
  ASSERT_TRUE(checked);
  EXPECT_EQ(MessageBox::takeShownTexts(), QStringList{QStringLiteral("整数を入力してください。")});

  EXPECT_EQ(p.conn.ServerPort, p.team.server->Port());
  EXPECT_EQ(p.conn.Online, 1);
  EXPECT_EQ(p.state.Online, 1);
  EXPECT_EQ(p.loads, 1);
  EXPECT_EQ(p.repaints, 1);
  p.team.Settle();
  // The password went to the secret service; the row holds none.
  std::string user, server, password;
  int32_t port = 0;
  DateTime last;
  ASSERT_EQ(p.store.ReadSettings(user, server, port, password, last), 1);
  EXPECT_EQ(user, "hanako");
  EXPECT_EQ(port, p.team.server->Port());
  EXPECT_EQ(password, "");
  EXPECT_EQ(p.secrets.entries[p.path], "pw-hanako");
  bool downloaded = false;
  ScheduleItem it;
  for (int ok = p.store.ReadFirstItem(it); ok; ok = p.store.ReadNextItem(it))
    downloaded |= it.Subject == "hers";
  EXPECT_TRUE(downloaded);

  // Cancel changes nothing and does not synchronise.
  dialogs.then<ServerSetDlg>([&](ServerSetDlg* dlg) {
    dlg->findChild<QLineEdit*>("serverName")->setText("elsewhere");
    QTest::mouseClick(ButtonWithText(dlg, QStringLiteral("ｷｬﾝｾﾙ")), Qt::LeftButton);
  });
  p.commands->EditServerSettings();
  EXPECT_EQ(p.conn.ServerName, "127.0.0.1");
  EXPECT_EQ(p.loads, 1);

  // A wrong password: the refusal is the sync's message, no reload.
  dialogs.then<ServerSetDlg>([&](ServerSetDlg* dlg) {
    dlg->findChild<QLineEdit*>("password")->setText("nope");
    QTest::mouseClick(ButtonWithText(dlg, "OK"), Qt::LeftButton);
  });
  p.commands->EditServerSettings();
  EXPECT_EQ(p.notifier.messages.size(), 1u);
  EXPECT_EQ(p.loads, 1);
}

TEST(GroupCommands, ReferenceUsersOfferTheOthersAndStoreTheChoice) {
  Program p;
  p.conn.ServerName = "127.0.0.1";
  p.conn.ServerPort = p.team.server->Port();
  p.conn.Password = "pw-hanako";

  // Believed offline, the server is tried all the same: the user asked.
  QStringList offered;
  ModalScript chooser;
  chooser.then<UserSelDlg>([](UserSelDlg* dlg) { dlg->reject(); });
  p.commands->ChooseReferenceUsers();
  EXPECT_TRUE(MessageBox::takeShownTexts().isEmpty());
  EXPECT_EQ(p.state.Online, 1);

  chooser.then<UserSelDlg>([&](UserSelDlg* dlg) {
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("参照ユーザ選択"));
    auto* candidates = dlg->findChild<QListWidget*>("candidateList");
    offered = Lines(candidates);
    candidates->setCurrentRow(1);  // 鈴木次郎
    QTest::mouseClick(ButtonWithText(dlg, QStringLiteral("<< 追加")), Qt::LeftButton);
    candidates->setCurrentRow(0);  // 山田太郎
    QTest::mouseClick(ButtonWithText(dlg, QStringLiteral("<< 追加")), Qt::LeftButton);
    EXPECT_EQ(Lines(dlg->findChild<QListWidget*>("chosenList")),
              (QStringList{QStringLiteral("鈴木次郎"), QStringLiteral("山田太郎")}));
    QTest::mouseClick(ButtonWithText(dlg, "OK"), Qt::LeftButton);
  });
  p.commands->ChooseReferenceUsers();
  EXPECT_EQ(offered, (QStringList{QStringLiteral("山田太郎"), QStringLiteral("鈴木次郎")}));
  std::vector<UserEntry> stored;
  p.store.LoadUserList(stored);
  ASSERT_EQ(stored.size(), 2u);
  EXPECT_EQ(stored[0].UserName, "jiro");
  EXPECT_EQ(stored[0].UserID, p.team.jiro);
  EXPECT_EQ(stored[1].UserName, "taro");
  EXPECT_EQ(p.state.RefreshReferences, 1);
  EXPECT_EQ(p.state.DrawEnabled, 1);
  EXPECT_EQ(p.repaints, 2);  // after every run, the refused one included

  // A refused sign-in: its message, then "not connected"; no chooser.
  p.conn.Password = "wrong";
  p.commands->ChooseReferenceUsers();
  EXPECT_EQ(p.notifier.messages.size(), 1u);
  EXPECT_EQ(MessageBox::takeShownTexts(), QStringList{FromCp932(NotConnectedText())});
  p.store.LoadUserList(stored);
  EXPECT_EQ(stored.size(), 2u);
}

}  // namespace
}  // namespace kv::ui
