// The other users' week of the real window, saved as a picture:
//   kalvane_group_shot PORT OUT.png [YYYY/MM/DD]
// fills the reference server on PORT with a week of items for a small team,
// writes the viewer's local store (server settings, reference users) where
// the calendar looks for it, starts the calendar, switches to 他ユーザ参照
// and saves the window. The week is this one, or the one of the day given. The server must know hanako (the viewer), taro,
// jiro and saburo with the passwords "pw-<name>", hanako allowed to write
// taro's items (scripts/screenshot-other-users.sh sets this up).
#include <QApplication>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/CalenderApp.h"
#include "app/CalenderView.h"
#include "app/MainFrame.h"
#include "app/Startup.h"
#include "app/ui/MessageBox.h"
#include "model/Clock.h"
#include "model/Text.h"
#include "store/ItemStore.h"
#include "sync/SyncClient.h"

namespace {

using namespace kv;
namespace app = kv::app;

std::string J(const char* utf8) { return text::FromUtf8(utf8).value_or(std::string()); }

struct Entry {
  int day;  // 0 = Sunday of this week
  int hour, minute, hours;
  const char* subject;
  int priv = 0;
  int all_day = 0;
  uint32_t color = 0;
};

int Add(ConnectionState& conn, const std::string& user, const std::vector<Entry>& entries,
        int serial, const DateTime& today) {
  conn.UserName = user;
  conn.Password = "pw-" + user;
  const DateTime sunday = today.AddDays(-(today.DayOfWeek() - 1));
  int added = 0;
  for (const Entry& e : entries) {
    ScheduleItem it;
    it.Index = Now().AddSeconds(-100000 + serial++);
    it.Updated = Now();
    it.SyncFlag = SyncClean;
    it.Subject = J(e.subject);
    it.Private = e.priv;
    it.Color = e.color;
    const DateTime day = sunday.AddDays(e.day);
    if (e.all_day) {
      it.Type = 1;
      it.Start = day;
      it.End = day.AddDays(e.hours).AddSeconds(-1);
    } else {
      it.Start = day.AddSeconds(e.hour * 3600 + e.minute * 60);
      it.End = it.Start.AddSeconds(e.hours * 3600);
    }
    it.RepStart = it.Start;
    it.RepEnd = it.End;
    SyncClient c(conn, nullptr);
    added += c.AddItem(it);
  }
  return added;
}

}  // namespace

bool WaitForFrame(kv::app::CCalenderView* view) {
  QEventLoop loop;
  QObject::connect(view, &kv::app::CCalenderView::framePainted, &loop, &QEventLoop::quit);
  QTimer::singleShot(20000, &loop, [&] { loop.exit(1); });
  view->invalidateLayout();
  return loop.exec() == 0;
}

int Fail(const char* what) {
  std::fprintf(stderr, "kalvane_group_shot: %s\n", what);
  return 1;
}

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  if (argc < 3) return Fail("usage: kalvane_group_shot PORT OUT.png [YYYY/MM/DD]");
  const int port = std::atoi(argv[1]);
  const std::string out = argv[2];
  if (port <= 0 || port > 65535) return Fail("the port must be 1 to 65535");
  DateTime week = Now().DateOnly();
  if (argc > 3) {
    int y = 0, m = 0, d = 0;
    week = std::sscanf(argv[3], "%d/%d/%d", &y, &m, &d) == 3 ? DateTime::FromParts(y, m, d)
                                                              : DateTime::Invalid();
    if (!week.IsValid()) return Fail("the day must be YYYY/MM/DD");
  }
  const std::string store_path = app::BuildStorePath(app::DataHome(), app::LogonName());
  ConnectionState conn;
  conn.ServerName = "127.0.0.1";
  conn.ServerPort = port;
  const uint32_t red = 0x0000C0, green = 0x008000, blue = 0xC00000, black = 0;
  // KV_SHOT_UNREACHABLE: nothing listens on PORT; the week says so.
  const bool unreachable = std::getenv("KV_SHOT_UNREACHABLE") != nullptr;
  if (unreachable) kv::ui::MessageBox::setTestMode(true);
  int added = unreachable ? 20 : 0;
  if (!unreachable) added += Add(conn, "hanako",
               {{1, 9, 0, 1, "週次ミーティング", 0, 0, blue},
                {3, 13, 30, 2, "歯医者", 1, 0, black},
                {5, 0, 0, 1, "出張（大阪）", 0, 1, green}},
               0, week);
  if (!unreachable) added += Add(conn, "taro",
               {{1, 10, 0, 1, "顧客訪問", 0, 0, red},
                {2, 9, 30, 1, "健康診断", 1, 0, black},
                {2, 15, 0, 1, "設計レビュー", 0, 0, blue},
                {3, 0, 0, 2, "展示会", 0, 1, green},
                {5, 8, 0, 1, "朝会", 0, 0, black},
                {5, 9, 0, 1, "見積作成", 0, 0, black},
                {5, 11, 0, 1, "電話会議", 0, 0, black},
                {5, 13, 0, 1, "資料送付", 0, 0, black},
                {5, 14, 0, 1, "打ち合わせ", 0, 0, black},
                {5, 16, 0, 1, "週報", 0, 0, black},
                {5, 17, 0, 1, "懇親会", 0, 0, red},
                {5, 18, 0, 1, "日報", 0, 0, black},
                {5, 19, 0, 1, "勉強会", 0, 0, black},
                {5, 20, 0, 1, "翌週準備", 0, 0, black}},
               100, week);
  if (!unreachable) added += Add(conn, "jiro",
               {{1, 14, 0, 1, "研修", 0, 0, blue}, {4, 19, 0, 2, "私用", 1, 0, black}}, 200, week);
  if (!unreachable) added += Add(conn, "saburo", {{0, 0, 0, 7, "休暇", 0, 1, green}}, 300, week);
  if (added != 20) return Fail("the server did not take every item");

  {
    ItemStore store;
    if (!store.CreateStore(store_path)) return Fail("cannot create the calendar's store");
    UserEntry taro, jiro, saburo;
    taro.UserName = "taro";
    jiro.UserName = "jiro";
    saburo.UserName = "saburo";
    taro.UserID = 2, jiro.UserID = 3, saburo.UserID = 4;
    // The password in the row, as an older version left it: the calendar
    // signs in with it and moves it to a secret service at the next save.
    if (store.WriteSettings("hanako", "127.0.0.1", port, "pw-hanako") != 1 ||
        store.SaveUserList({taro, jiro, saburo}) != 1)
      return Fail("cannot write the calendar's store");
  }

  app::CCalenderApp calendar;
  if (!calendar.InitInstance(QCoreApplication::applicationFilePath().toStdString()))
    return Fail("the calendar did not start");
  app::CMainFrame& f = *calendar.mainFrame();
  f.resize(1280, 800);
  QTest::qWait(200);
  if (!WaitForFrame(f.view())) return Fail("no frame painted");
  if (week != Now().DateOnly() && !f.viewCommands().MoveTo(week)) return Fail("cannot show that week");
  // As when the server went away after the week was opened.
  if (unreachable) f.state().Online = 1;
  f.runCommand(app::Command::OtherUsers);
  if (f.state().ViewMode != OtherUsersMode) return Fail("the other users' week did not open");
  if (!WaitForFrame(f.view())) return Fail("no frame painted");
  if (!unreachable && f.state().ReferenceUsers.size() != 3) return Fail("the reference users did not come");
  QTest::qWait(200);
  if (!f.grab().save(QString::fromStdString(out))) return Fail("cannot save the screenshot");
  std::printf("%s\n", out.c_str());
  return 0;
}
