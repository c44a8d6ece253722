// The real calendar window on a scratch home: its minute timer raises an
// alarm through the alarm program beside it and starts an item's program
// only after the user said 実行, remembering that in the settings.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QSettings>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/CalenderApp.h"
#include "app/MainFrame.h"
#include "app/shell/SettingsApprovals.h"
#include "app/ui/MessageBox.h"
#include "tests/support/TestSupport.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::D;
using test::J;

void Recorder(const std::string& path, const std::string& out) {
  std::ofstream(path) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << out
                      << "'\ntouch '" << out << ".done'\n";
  chmod(path.c_str(), 0755);
}

std::string WaitFor(const std::string& out) {
  for (int i = 0; i < 3000 && !fs::exists(out + ".done"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::ifstream in(out);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

ScheduleItem Item(const std::string& subject, DateTime start, int offset) {
  ScheduleItem it;
  it.Index = D(2024, 7, 1).AddSeconds(offset);
  it.Updated = it.Index;
  it.SyncFlag = SyncPending;
  it.Subject = subject;
  it.Start = start;
  it.End = start.AddSeconds(3600);
  it.RepStart = start.DateOnly();
  it.RepEnd = start.DateOnly().AddSeconds(23 * 3600 + 59 * 60);
  return it;
}

TEST(AlarmWiring, TheWindowsMinuteTimerRaisesAlarmsAndStartsOnlyAllowedPrograms) {
  test::TempDir home;
  setenv("HOME", home.path().c_str(), 1);
  setenv("XDG_DATA_HOME", home.File("data").c_str(), 1);
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromStdString(home.File("config")));
  test::ScopedClock clock(D(2024, 7, 16, 9, 0, 0));
  fs::create_directory(home.File("prog"));
  Recorder(home.File("prog/QvxAlarm.exe"), home.File("alarm.txt"));
  Recorder(home.File("prog/tool"), home.File("tool.txt"));

  app::CCalenderApp calendar;
  ASSERT_TRUE(calendar.InitInstance(home.File("prog/kalvane")));
  app::CMainFrame& frame = *calendar.mainFrame();
  ScheduleItem alarmed = Item(J("朝会"), D(2024, 7, 16, 9, 5, 0), 1);
  alarmed.Place = J("第一会議室");
  alarmed.Alarm = 300;
  alarmed.AlarmTime = D(2024, 7, 16, 9, 0, 0);
  ScheduleItem program = Item(J("バックアップ"), D(2024, 7, 16, 9, 0, 0), 2);
  program.Execute = home.File("prog/tool") + "@" + J("今日の分");
  ASSERT_EQ(frame.store().InsertItem(alarmed), 1);
  ASSERT_EQ(frame.store().InsertItem(program), 1);
  frame.reload();

  ui::MessageBox::takeShownTexts();
  ui::MessageBox::setNextAnswer(QMessageBox::Yes);  // 実行
  frame.onMinuteTimer();

  EXPECT_EQ(WaitFor(home.File("alarm.txt")),
            "-S\n朝会\n-T\n2024/07/16 09:05:00 - 2024/07/16 10:05:00\n-P\n第一会議室\n");
  EXPECT_EQ(WaitFor(home.File("tool.txt")), "今日の分\n");
  const QStringList asked = ui::MessageBox::takeShownTexts();
  ASSERT_EQ(asked.size(), 1);
  EXPECT_TRUE(asked[0].contains(QString::fromUtf8("バックアップ")));
  ScheduleItem row;
  bool found = false;
  for (int ok = frame.store().ReadFirstItem(row); ok; ok = frame.store().ReadNextItem(row))
    if (row.Index == alarmed.Index) found = row.Alarm == -1;
  EXPECT_TRUE(found) << "the alarm is spent in the store";
  // The answer is in the user's settings, where the next run finds it.
  EXPECT_EQ(shell::SettingsApprovals().Lookup(program.Index, program.Execute),
            ExecuteApprovals::Answer::Approved);
}

}  // namespace
}  // namespace kv
