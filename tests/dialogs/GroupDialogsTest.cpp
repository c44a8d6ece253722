// The server-settings and reference-user dialogs, driven like a user would.
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "app/dialogs/ServerSetDlg.h"
#include "app/dialogs/UserSelDlg.h"
#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"
#include "store/ItemStore.h"
#include "tests/dialogs/DialogTestSupport.h"
#include "tests/support/TestSupport.h"
#include "view/ViewHost.h"

namespace kv::ui {
namespace {

using test::J;

using test::ButtonWithText;
using test::Lines;

struct SettingsDialog {
  ServerSetDlg dlg;
  QLineEdit* server = dlg.findChild<QLineEdit*>("serverName");
  QLineEdit* port = dlg.findChild<QLineEdit*>("serverPort");
  QLineEdit* user = dlg.findChild<QLineEdit*>("userName");
  QLineEdit* password = dlg.findChild<QLineEdit*>("password");
  QPushButton* ok = ButtonWithText(&dlg, "OK");
  SettingsDialog() {
    ServerSettings s;
    s.ServerName = "calendar.example";
    s.ServerPort = 4780;
    s.UserName = "taro";
    s.Password = J("秘密");
    dlg.setSettings(s);
    dlg.show();
    MessageBox::takeShownTexts();
  }
  // Presses OK; the message shown, or "" when the dialog closed.
  QString PressOk() {
    QTest::mouseClick(ok, Qt::LeftButton);
    const QStringList shown = MessageBox::takeShownTexts();
    if (dlg.result() == QDialog::Accepted && !dlg.isVisible()) return {};
    return shown.isEmpty() ? QStringLiteral("<open without message>") : shown.join('|');
  }
};

TEST(ServerSetDlg, ShowsTheSettingsWithThePasswordHidden) {
  SettingsDialog d;
  EXPECT_EQ(d.dlg.windowTitle(), QStringLiteral("サーバー設定"));
  ASSERT_TRUE(d.server && d.port && d.user && d.password && d.ok);
  for (const char* label : {"サーバー名", "ポート番号", "ユーザ名", "パスワード"}) {
    bool found = false;
    for (QLabel* l : d.dlg.findChildren<QLabel*>()) found |= l->text() == QString::fromUtf8(label);
    EXPECT_TRUE(found) << label;
  }
  EXPECT_NE(ButtonWithText(&d.dlg, QStringLiteral("ｷｬﾝｾﾙ")), nullptr);
  EXPECT_EQ(d.server->text(), "calendar.example");
  EXPECT_EQ(d.port->text(), "4780");
  EXPECT_EQ(d.password->text(), QStringLiteral("秘密"));
  // Settings without a port yet propose the server's usual one.
  ServerSettings unset;
  unset.ServerName = "calendar.example";
  d.dlg.setSettings(unset);
  EXPECT_EQ(d.port->text(), "4780");
  unset.ServerPort = 4781;
  d.dlg.setSettings(unset);
  EXPECT_EQ(d.port->text(), "4781");
  EXPECT_EQ(d.password->echoMode(), QLineEdit::Password);

  auto* place = d.dlg.findChild<QLabel*>("passwordPlace");
  ASSERT_NE(place, nullptr);
  d.dlg.setPasswordPlace(PasswordPlace::SecretService);
  const QString keyring = place->text();
  d.dlg.setPasswordPlace(PasswordPlace::Store);
  EXPECT_NE(place->text(), keyring);
  EXPECT_TRUE(keyring.contains(QStringLiteral("鍵束")));
  EXPECT_TRUE(place->text().contains(QStringLiteral("予定ファイル")));
}

TEST(ServerSetDlg, RefusesWhatCannotBeUsedAndKeepsTheDialogOpen) {
  struct Case {
    const char* field;
    QString text;
    QString message;
  } cases[] = {
      {"serverPort", "abc", QStringLiteral("整数を入力してください。")},
      {"serverPort", "", QStringLiteral("整数を入力してください。")},
      {"serverPort", "47.5", QStringLiteral("整数を入力してください。")},
      {"serverPort", "65536", QStringLiteral("0 から 65535 までの整数を入力してください。")},
      {"serverPort", "-1", QStringLiteral("0 から 65535 までの整数を入力してください。")},
      {"serverPort", "99999999999", QStringLiteral("0 から 65535 までの整数を入力してください。")},
      {"userName", "taro\r", QStringLiteral("「ユーザ名」に改行は使用できません。")},
      {"userName", "ta\nro", QStringLiteral("「ユーザ名」に改行は使用できません。")},
      {"password", "pw\nother", QStringLiteral("「パスワード」に改行は使用できません。")},
      {"password", QString::fromUtf8("pw\xF0\x9F\x98\x80"),
       QStringLiteral("「パスワード」に使用できない文字が含まれています。")},
      {"serverName", QString::fromUtf8("\xE2\x82\xAC.example"),  // the euro sign
       QStringLiteral("「サーバー名」に使用できない文字が含まれています。")},
      {"userName", QString(128, QChar(0x3042)),  // 256 bytes
       QStringLiteral("「ユーザ名」が長すぎます（255 バイトまで）。")},
  };
  for (const Case& c : cases) {
    SettingsDialog d;
    auto* field = d.dlg.findChild<QLineEdit*>(c.field);
    field->setText(c.text);
    EXPECT_EQ(d.PressOk(), c.message) << c.field << " " << c.text.toStdString();
    EXPECT_TRUE(d.dlg.isVisible());
    EXPECT_EQ(d.dlg.focusWidget(), field) << c.field;
    // Mended, the same dialog closes with what was entered.
    field->setText(QString::fromLatin1(c.field == std::string("serverPort") ? "4781" : "fixed"));
    EXPECT_EQ(d.PressOk(), QString()) << c.field;
  }
}

TEST(ServerSetDlg, OkGivesTheEntriesAsCp932AndCancelNothing) {
  SettingsDialog d;
  d.server->setText("  ");  // two blanks: a name to try, not "no server"
  d.port->setText(" 65535 ");
  d.user->setText(QStringLiteral("山田"));
  d.password->setText(QStringLiteral("ﾊﾟｽ word"));
  EXPECT_EQ(d.PressOk(), QString());
  EXPECT_EQ(d.dlg.settings().ServerName, "  ");
  EXPECT_EQ(d.dlg.settings().ServerPort, 65535);
  EXPECT_EQ(d.dlg.settings().UserName, J("山田"));
  EXPECT_EQ(d.dlg.settings().Password, J("ﾊﾟｽ word"));

  SettingsDialog e;
  e.port->setText("1");
  e.user->setText("nobody");
  QTest::mouseClick(ButtonWithText(&e.dlg, QStringLiteral("ｷｬﾝｾﾙ")), Qt::LeftButton);
  EXPECT_EQ(e.dlg.result(), QDialog::Rejected);
  EXPECT_EQ(e.dlg.settings().UserName, "taro");
  EXPECT_EQ(e.dlg.settings().ServerPort, 4780);
}

UserEntry User(int32_t id, const std::string& name, const std::string& display) {
  UserEntry u;
  u.UserID = id;
  u.UserName = name;
  u.DisplayName = display;
  return u;
}

struct ChooserDialog {
  ReferenceChoice start;
  std::unique_ptr<UserSelDlg> dlg;
  QListWidget* chosen = nullptr;
  QListWidget* candidates = nullptr;
  QPushButton* add = nullptr;
  QPushButton* remove = nullptr;
  void Open(const ReferenceChoice& c) {
    start = c;
    dlg = std::make_unique<UserSelDlg>(c);
    dlg->show();
    chosen = dlg->findChild<QListWidget*>("chosenList");
    candidates = dlg->findChild<QListWidget*>("candidateList");
    add = ButtonWithText(dlg.get(), QStringLiteral("<< 追加"));
    remove = ButtonWithText(dlg.get(), QStringLiteral("削除 >>"));
    ASSERT_TRUE(chosen && candidates && add && remove);
  }
  void Pick(QListWidget* l, int row) {
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(row)).center());
  }
};

TEST(UserSelDlg, MovingThereAndBackPutsTheUserLastAndCancelKeepsTheChoice) {
  ChooserDialog c;
  ReferenceChoice choice;
  choice.chosen = {User(2, "ann", J("安藤"))};
  choice.candidates = {User(3, "bob", "Bob"), User(4, "cat", ""), User(5, "dan", "Dan")};
  c.Open(choice);
  EXPECT_EQ(c.dlg->windowTitle(), QStringLiteral("参照ユーザ選択"));
  EXPECT_NE(ButtonWithText(c.dlg.get(), QStringLiteral("キャンセル")), nullptr);
  EXPECT_EQ(Lines(c.chosen), QStringList{QStringLiteral("安藤")});
  EXPECT_EQ(Lines(c.candidates), (QStringList{"Bob", "cat", "Dan"}));

  // Without a selected line the buttons change nothing.
  QTest::mouseClick(c.add, Qt::LeftButton);
  QTest::mouseClick(c.remove, Qt::LeftButton);
  EXPECT_EQ(Lines(c.candidates), (QStringList{"Bob", "cat", "Dan"}));

  c.Pick(c.candidates, 0);
  QTest::mouseClick(c.add, Qt::LeftButton);
  EXPECT_EQ(Lines(c.chosen), (QStringList{QStringLiteral("安藤"), "Bob"}));
  EXPECT_EQ(Lines(c.candidates), (QStringList{"cat", "Dan"}));
  c.Pick(c.chosen, 1);
  QTest::mouseClick(c.remove, Qt::LeftButton);
  EXPECT_EQ(Lines(c.candidates), (QStringList{"cat", "Dan", "Bob"}));
  ASSERT_EQ(c.dlg->choice().candidates.back().UserName, "bob");
  EXPECT_EQ(c.dlg->choice().candidates.back().UserID, 3);

  // A double-click (a press, then the double-click) moves a line too.
  c.Pick(c.candidates, 1);
  QTest::mouseDClick(c.candidates->viewport(), Qt::LeftButton, {},
                     c.candidates->visualItemRect(c.candidates->item(1)).center());
  EXPECT_EQ(Lines(c.chosen), (QStringList{QStringLiteral("安藤"), "Dan"}));

  QTest::mouseClick(ButtonWithText(c.dlg.get(), QStringLiteral("キャンセル")), Qt::LeftButton);
  EXPECT_EQ(c.dlg->result(), QDialog::Rejected);
  EXPECT_EQ(c.start.chosen.size(), 1u);  // the caller's choice is a separate copy
}

TEST(UserSelDlg, LongDisplayNamesAreCutWithoutSplittingACharacter) {
  ChooserDialog c;
  ReferenceChoice choice;
  // 200 double-byte characters (400 bytes): 127 fit in 255 bytes.
  std::string wide;
  for (int i = 0; i < 200; ++i) wide += J("あ");
  choice.candidates = {User(1, "w", wide), User(2, "a", "a" + wide),
                       User(3, "n", std::string(300, 'n'))};
  c.Open(choice);
  EXPECT_EQ(c.candidates->item(0)->text(), QString(127, QChar(0x3042)));
  EXPECT_EQ(c.candidates->item(1)->text(), "a" + QString(127, QChar(0x3042)));
  EXPECT_EQ(c.candidates->item(2)->text(), QString(255, 'n'));
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(c.candidates->item(i)->text().contains(QChar(0xFFFD)));
}

struct Messages final : MessageSink {
  std::vector<std::string> shown;
  void ShowMessage(const std::string& t) override { shown.push_back(t); }
};

TEST(ReferenceUsersCommand, TheChooserNeverOffersTheOwnUserAndOkStoresTheChoice) {
  test::TempDir dir;
  ItemStore store;
  ASSERT_EQ(store.CreateStore(dir.File("me.db")), 1);
  ASSERT_EQ(store.SaveUserList({User(20, "ann", ""), User(21, "gone", "")}), 1);
  ViewState state;
  state.Online = 1;
  state.DrawEnabled = 1;
  state.RefreshReferences = 0;
  Messages messages;
  const std::vector<UserEntry> server = {User(1, "taro", J("山田")), User(2, "ann", J("安藤")),
                                         User(3, "bob", "Bob"), User(1, "taro", J("山田")),
                                         User(5, "cat", "Cat")};
  QStringList offered, kept;
  ReferenceUsersDeps deps;
  deps.get_user_list = [&](std::vector<UserEntry>& out) {
    EXPECT_EQ(state.DrawEnabled, 0);
    out = server;
    return true;
  };
  deps.choose = [&](ReferenceChoice& choice) {
    ChooserDialog c;
    c.Open(choice);
    kept = Lines(c.chosen);
    offered = Lines(c.candidates);
    c.Pick(c.candidates, 1);  // Cat
    QTest::mouseClick(c.add, Qt::LeftButton);
    QTest::mouseClick(ButtonWithText(c.dlg.get(), "OK"), Qt::LeftButton);
    EXPECT_EQ(c.dlg->result(), QDialog::Accepted);
    choice = c.dlg->choice();
    return true;
  };
  EXPECT_EQ(RunReferenceUsersCommand(state, store, "taro", deps, messages),
            ReferenceUsersResult::Saved);
  EXPECT_EQ(kept, QStringList{QStringLiteral("安藤")});  // "gone" is no longer listed
  EXPECT_EQ(offered, (QStringList{"Bob", "Cat"}));
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_EQ(state.DrawEnabled, 1);
  EXPECT_EQ(state.RefreshReferences, 1);
  std::vector<UserEntry> saved;
  store.LoadUserList(saved);
  ASSERT_EQ(saved.size(), 2u);
  EXPECT_EQ(saved[0].UserName, "ann");
  EXPECT_EQ(saved[0].UserID, 20);
  EXPECT_EQ(saved[1].UserName, "cat");
  EXPECT_EQ(saved[1].UserID, 5);
}

}  // namespace
}  // namespace kv::ui
