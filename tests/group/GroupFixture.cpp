// Fills a running reference server with a week of items for a small team
// and writes the viewer's local store (server settings, reference users),
// so the other users' week can be looked at by hand or in a screenshot.
//
//   kv_group_fixture --port N --store PATH
//
// The server must know hanako (the viewer), taro, jiro and saburo with the
// passwords "pw-<name>"; the items fall in the current week.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "model/Clock.h"
#include "model/Text.h"
#include "store/ItemStore.h"
#include "sync/SyncClient.h"

namespace {

using namespace kv;

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
        int serial) {
  conn.UserName = user;
  conn.Password = "pw-" + user;
  const DateTime today = Now().DateOnly();
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

int main(int argc, char** argv) {
  int port = 0;
  std::string store_path;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--port")) port = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--store")) store_path = argv[i + 1];
  }
  if (port <= 0 || port > 65535 || store_path.empty()) {
    std::fprintf(stderr, "usage: kv_group_fixture --port N --store PATH\n");
    return 2;
  }
  ConnectionState conn;
  conn.ServerName = "127.0.0.1";
  conn.ServerPort = port;
  const uint32_t red = 0x0000C0, green = 0x008000, blue = 0xC00000, black = 0;
  int added = 0;
  added += Add(conn, "hanako",
               {{1, 9, 0, 1, "週次ミーティング", 0, 0, blue},
                {3, 13, 30, 2, "歯医者", 1, 0, black},
                {5, 0, 0, 1, "出張（大阪）", 0, 1, green}},
               0);
  added += Add(conn, "taro",
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
                {5, 17, 0, 1, "懇親会", 0, 0, red}},
               100);
  added += Add(conn, "jiro",
               {{1, 14, 0, 1, "研修", 0, 0, blue}, {4, 19, 0, 2, "私用", 1, 0, black}}, 200);
  added += Add(conn, "saburo", {{0, 0, 0, 7, "休暇", 0, 1, green}}, 300);
  std::printf("items added: %d\n", added);

  ItemStore store;
  if (!store.OpenStore(store_path) && !store.CreateStore(store_path)) {
    std::fprintf(stderr, "cannot open or create %s\n", store_path.c_str());
    return 1;
  }
  UserEntry taro, jiro, saburo;
  taro.UserName = "taro";
  jiro.UserName = "jiro";
  saburo.UserName = "saburo";
  taro.UserID = 2, jiro.UserID = 3, saburo.UserID = 4;
  // The password in the row, as an older version left it: the program
  // signs in with it and moves it to a secret service at the next save.
  const bool ok = store.WriteSettings("hanako", "127.0.0.1", port, "pw-hanako") == 1 &&
                  store.SaveUserList({taro, jiro, saburo}) == 1;
  return ok && added == 17 ? 0 : 1;
}
