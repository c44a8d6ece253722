// The calendar as a colleague with write permission, a hostile server and
// a closed secret service would try it: the real window, real message
// boxes answered as they show, and a stand-in alarm program.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QStatusBar>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/CalenderApp.h"
#include "app/CalenderDoc.h"
#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include "app/dialogs/ServerSetDlg.h"
#include "app/shell/SettingsApprovals.h"
#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"
#include "tests/app/DemoItems.h"
#include "tests/app/FrameTestSupport.h"
#include "tests/server/LoopbackServer.h"
#include "tests/support/ModalScript.h"

namespace kv::app {
namespace {

namespace fs = std::filesystem;
using test::D;
using test::J;

// Message boxes show for real while it lives, instead of taking their
// default in the tests' test mode.
struct RealBoxes {
  RealBoxes() { ui::MessageBox::setTestMode(false); }
  ~RealBoxes() { ui::MessageBox::setTestMode(true); }
};

ScheduleItem Item(const std::string& subject, DateTime start, int index_offset) {
  ScheduleItem it;
  it.Index = D(2005, 3, 1).AddSeconds(index_offset);
  it.Updated = it.Index;
  it.SyncFlag = SyncClean;
  it.Subject = subject;
  it.Start = start;
  it.End = start.AddSeconds(1800);
  it.RepX = it.RepY = it.RepZ = 1;
  it.RepStart = start.DateOnly();
  it.RepEnd = start.DateOnly().AddSeconds(86340);
  return it;
}

ScheduleItem Alarmed(const std::string& subject, DateTime start, int lead, int index_offset) {
  ScheduleItem it = Item(subject, start, index_offset);
  it.Alarm = lead;
  it.AlarmTime = start.AddSeconds(-lead);
  return it;
}

// A stand-in alarm program that writes its arguments to alarms.txt beside it.
void WriteScript(const std::string& path, const std::string& body) {
  std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
  ::chmod(path.c_str(), 0755);
}

std::string Utf8(const std::string& cp932) { return ui::FromCp932(cp932).toStdString(); }

TEST(Story, NothingRunsUnaskedAndAlarmsRingWhateverIsOpen) {
  test::ScratchHome home(D(2005, 3, 9, 10, 0, 0));
  const std::string prog = home.path() + "/prog";
  fs::create_directories(prog);
  const std::string alarms = prog + "/alarms.txt";
  const std::string ran = prog + "/ran";
  WriteScript(prog + "/QvxAlarm.exe", "printf '%s\\n' \"$@\" >> \"$(dirname \"$0\")/alarms.txt\"");
  WriteScript(prog + "/opener", "touch \"$(dirname \"$0\")/ran\"");

  // A colleague's item, starting now: its subject opens a comment that
  // its program text closes, to pass the program off as a sentence.
  const std::string subject = "<b>定例会議</b><!--";
  ScheduleItem hostile = Item(J(subject), D(2005, 3, 9, 10, 0, 0), 1);
  hostile.Execute = prog + "/opener@-c#--><br>" + J("会議資料を開きます。");
  fs::create_directories(home.StoreFolder());
  ASSERT_TRUE(test::WriteStore(home.StorePath(),
                               {hostile, Alarmed(J("朝会"), D(2005, 3, 9, 10, 5, 0), 600, 2),
                                Alarmed(J("昼会"), D(2005, 3, 9, 10, 30, 0), 600, 3)}));

  RealBoxes real;
  test::ModalScript boxes;
  QString question;
  boxes.then<QMessageBox>([&](QMessageBox* box) {
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    question = label->text();
    for (QAbstractButton* b : box->buttons())
      if (b->text() == QStringLiteral("実行しない")) b->click();
  });

  CCalenderApp app;
  ASSERT_TRUE(app.InitInstance(home.ProgramPath()));
  CMainFrame& f = *app.mainFrame();
  // The first tick comes at once, not a minute later: the alarm due at
  // 09:55 rings and the question about the program is put.
  ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(alarms) && boxes.done(); }, 10000));
  EXPECT_NE(test::FileBytes(alarms).find(Utf8(J("朝会"))), std::string::npos);
  EXPECT_TRUE(question.contains(QString::fromUtf8(subject))) << question.toStdString();
  EXPECT_TRUE(question.contains(QString::fromStdString(prog + "/opener"))) << question.toStdString();
  EXPECT_FALSE(fs::exists(ran));
  EXPECT_EQ(shell::SettingsApprovals().Lookup(hostile.Index, hostile.Execute),
            ExecuteApprovals::Answer::Refused);

  // The subject in the status pane is text too.
  ASSERT_TRUE(test::WaitForFrame(f.view()));
  const ViewItem* shown = nullptr;
  for (const ViewItem& it : f.state().VisibleItems)
    if (it.Index == hostile.Index) shown = &it;
  ASSERT_NE(shown, nullptr);
  const CellRect line = shown->CellRects[0];
  QTest::mouseClick(f.view(), Qt::LeftButton, {}, QPoint(line.left + 3, line.top + 3));
  EXPECT_EQ(f.paneText(0), QString::fromUtf8(subject));
  const QList<QLabel*> panes = f.statusBar()->findChildren<QLabel*>();
  for (QLabel* pane : panes) EXPECT_EQ(pane->textFormat(), Qt::PlainText);

  // Opening the item and pressing OK after changing only its time does
  // not approve the program; the refusal stands.
  boxes.then<QDialog>([](QDialog* d) { d->accept(); });
  f.runCommand(Command::Edit);
  EXPECT_EQ(shell::SettingsApprovals().Lookup(hostile.Index, hostile.Execute),
            ExecuteApprovals::Answer::Refused);

  // While an item dialog is open, an alarm that comes due still rings.
  boxes.then<QDialog>([&](QDialog* d) {
    home.clock().Advance(20 * 60);
    f.onMinuteTimer();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return test::FileBytes(alarms).find(Utf8(J("昼会"))) != std::string::npos; }, 10000));
    d->reject();
  });
  f.runCommand(Command::Add);
  EXPECT_TRUE(boxes.done());
  EXPECT_FALSE(fs::exists(ran));
  EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());
  f.close();
}

TEST(Story, APasswordTheSecretServiceCannotGiveIsNeverSentEmpty) {
  test::ScratchHome home(D(2005, 3, 9, 10, 0, 0));
  server::test::LoopbackServer server;
  std::string err;
  int32_t taro = 0;
  ASSERT_TRUE(server.Start({server::test::Person("taro", &taro)}, {}, {}, &err)) << err;
  {
    // The password lives in the secret service: the column is empty.
    ItemStore store;
    ASSERT_TRUE(home.NewStore(store, "taro", server.Port(), ""));
    ScheduleItem pending = Item("offline", D(2005, 3, 9, 11, 0, 0), 1);
    pending.SyncFlag = SyncPending;
    ASSERT_EQ(store.InsertItem(pending), 1);
  }
  bool readable = false;
  int reads = 0;
  CCalenderDoc doc;
  CMainFrame f(&doc);
  WireCommands(f);
  f.setPasswordSource([&](const std::string&) -> std::optional<std::string> {
    ++reads;
    if (!readable) return std::nullopt;
    return std::string("pw-taro");
  });
  ASSERT_TRUE(f.openUserStore(home.ProgramPath()));
  f.show();
  f.finishStartup();
  // Told once; no sign-in that the server could count against the user.
  const QStringList told = ui::MessageBox::takeShownTexts();
  ASSERT_EQ(told.size(), 1);
  EXPECT_TRUE(told[0].startsWith(QStringLiteral("パスワードを保管サービスから読み出せませんでした。")));
  EXPECT_EQ(server.server->Stats().connections, 0u);
  EXPECT_EQ(f.paneText(1), QStringLiteral("Offline"));
  f.onMinuteTimer();
  EXPECT_EQ(server.server->Stats().connections, 0u);
  EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty()) << "not told again";

  // The service answers again: the next tick signs in, and what waited goes up.
  readable = true;
  f.onMinuteTimer();
  ASSERT_TRUE(server::test::Settle(*server.server));
  EXPECT_EQ(server.Live(taro).size(), 1u);
  EXPECT_EQ(f.paneText(1), QStringLiteral("Online"));
  EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());
  EXPECT_GE(reads, 3);
  server.server->Stop();
}

TEST(Story, WithoutAServerTheSecretServiceWaitsUntilTheSettingsOpen) {
  test::ScratchHome home(D(2005, 3, 9, 10, 0, 0));
  {
    ItemStore store;
    ASSERT_TRUE(home.NewStore(store, "taro", 0, ""));
  }
  int reads = 0;
  CCalenderDoc doc;
  CMainFrame f(&doc);
  WireCommands(f);
  f.setPasswordSource([&](const std::string&) -> std::optional<std::string> {
    ++reads;
    return std::string("pw-taro");
  });
  ASSERT_TRUE(f.openUserStore(home.ProgramPath()));
  f.show();
  f.finishStartup();
  f.onMinuteTimer();
  // Nobody signs in: no session bus, no unlock prompt before the calendar.
  EXPECT_EQ(reads, 0);
  EXPECT_TRUE(ui::MessageBox::takeShownTexts().isEmpty());

  // The settings show the kept password, read once now.
  QStringList shown;
  test::ModalScript dialogs;
  for (int i = 0; i < 2; ++i)
    dialogs.then<ui::ServerSetDlg>([&](ui::ServerSetDlg* dlg) {
      shown << dlg->findChild<QLineEdit*>("password")->text();
      dlg->reject();
    });
  f.runCommand(Command::ServerSettings);
  f.runCommand(Command::ServerSettings);
  EXPECT_TRUE(dialogs.done());
  EXPECT_EQ(shown, QStringList({QStringLiteral("pw-taro"), QStringLiteral("pw-taro")}));
  EXPECT_EQ(reads, 1);
}

}  // namespace
}  // namespace kv::app
