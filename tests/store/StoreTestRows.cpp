#include "tests/store/StoreTestRows.h"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "tests/support/TestSupport.h"

namespace kv::test {

namespace {
std::string Hex(const std::string& s) {
  std::string r;
  char buf[4];
  for (unsigned char c : s) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    r += buf;
  }
  return r;
}
}  // namespace

ScheduleItem MakeRow(int n, int gen) {
  ScheduleItem it;
  const std::string tag = std::to_string(n) + "." + std::to_string(gen);
  it.Index = D(2004, 1, 1).AddSeconds(n);
  it.SyncFlag = 1 + (n + gen) % 5;
  it.Updated = D(2004, 6, 1).AddSeconds(n * 7 + gen);
  it.Subject = J("件名") + tag;
  // Some rows keep an empty text: Null in the file.
  it.Place = (n % 3 == 0) ? "" : J("場所") + tag;
  it.Execute = (n % 4 == 0) ? "" : "/usr/bin/x" + tag;
  it.Private = (n + gen) % 2;
  it.Color = 0xFFFFFFFFu - static_cast<uint32_t>(n * 31 + gen);
  it.UserID = n % 7;
  it.Type = gen % 2;
  it.Start = D(2004, 8, 1).AddSeconds(n * 60 + gen);
  it.End = it.Start.AddSeconds(3600 + gen);
  it.Alarm = (n % 5 == 0) ? -1 : n * 60 + gen;
  it.AlarmTime = it.Start.AddSeconds(-(n % 97));
  // Lengths vary so that some rows spill onto overflow pages.
  it.Desc = J("内容") + std::string(static_cast<size_t>((n * 37 + gen * 11) % 2500), 'a' + n % 26) +
            tag;
  it.Attr1 = tag;
  it.Attr2 = (gen % 3 == 0) ? "" : "a2-" + tag;
  it.Attr3 = "a3-" + tag;
  it.Attr4 = "";
  it.Attr5 = "a5-" + tag;
  it.RepType = n % 7;
  it.RepX = gen;
  it.RepY = -n;
  it.RepZ = n ^ gen;
  it.RepStart = D(2004, 1, 1).AddDays(n % 300);
  it.RepEnd = it.RepStart.AddDays(30).AddSeconds(23 * 3600 + 59 * 60);
  return it;
}

std::string CheckRow(const ScheduleItem& it, int& n, int& gen) {
  if (std::sscanf(it.Attr1.c_str(), "%d.%d", &n, &gen) != 2) return "no tag in '" + it.Attr1 + "'";
  const std::string want = Describe(MakeRow(n, gen));
  const std::string got = Describe(it);
  if (want != got) return "row " + it.Attr1 + " torn:\n got " + got + "\nwant " + want;
  return "";
}

std::string Describe(const ScheduleItem& it) {
  std::ostringstream o;
  o << "Index=" << it.Index.ToString() << " SyncFlag=" << it.SyncFlag
    << " Updated=" << it.Updated.ToString() << " Subject=" << Hex(it.Subject)
    << " Place=" << Hex(it.Place) << " Execute=" << Hex(it.Execute) << " Private=" << it.Private
    << " Color=" << it.Color << " UserID=" << it.UserID << " Type=" << it.Type
    << " Start=" << it.Start.ToString() << " End=" << it.End.ToString() << " Alarm=" << it.Alarm
    << " AlarmTime=" << it.AlarmTime.ToString() << " Desc=" << Hex(it.Desc)
    << " Attr1=" << Hex(it.Attr1) << " Attr2=" << Hex(it.Attr2) << " Attr3=" << Hex(it.Attr3)
    << " Attr4=" << Hex(it.Attr4) << " Attr5=" << Hex(it.Attr5) << " Rep=" << it.RepType << ","
    << it.RepX << "," << it.RepY << "," << it.RepZ << " RepStart=" << it.RepStart.ToString()
    << " RepEnd=" << it.RepEnd.ToString();
  return o.str();
}

std::vector<std::string> AllRows(ItemStore& store) {
  std::vector<std::string> rows;
  ScheduleItem it;
  for (int r = store.ReadFirstItem(it); r == 1; r = store.ReadNextItem(it)) {
    rows.push_back(Describe(it));
  }
  return rows;
}

std::string Snapshot(ItemStore& store) {
  std::string s;
  for (const std::string& r : AllRows(store)) s += r + "\n";
  std::string un, sn, pw;
  int32_t port = -1;
  DateTime last = DateTime::Invalid();
  const int ok = store.ReadSettings(un, sn, port, pw, last);
  s += "settings " + std::to_string(ok) + " " + Hex(un) + " " + Hex(sn) + " " +
       std::to_string(port) + " " + Hex(pw) + " " + last.ToString() + "\n";
  std::vector<UserEntry> users;
  store.LoadUserList(users);
  for (const UserEntry& u : users) s += "user " + std::to_string(u.UserID) + " " + Hex(u.UserName) + "\n";
  return s;
}

bool RawExec(const std::string& path, const std::string& sql, std::string* error) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
  char* msg = nullptr;
  ok = ok && sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg) == SQLITE_OK;
  if (!ok && error) *error = msg ? msg : sqlite3_errmsg(db);
  sqlite3_free(msg);
  sqlite3_close(db);
  return ok;
}

std::string RawValue(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::string r = "(error)";
  sqlite3_stmt* st = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    const int rc = sqlite3_step(st);
    if (rc == SQLITE_DONE) {
      r = "(no row)";
    } else if (rc == SQLITE_ROW) {
      switch (sqlite3_column_type(st, 0)) {
        case SQLITE_NULL: r = "(null)"; break;
        case SQLITE_INTEGER: r = "integer:"; break;
        case SQLITE_FLOAT: r = "real:"; break;
        case SQLITE_TEXT: r = "text:"; break;
        default: r = "blob:"; break;
      }
      if (sqlite3_column_type(st, 0) != SQLITE_NULL) {
        const unsigned char* t = sqlite3_column_text(st, 0);
        r += std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(st, 0));
      }
    }
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return r;
}

bool AddBulkRows(const std::string& path, const DateTime& first_index, int rows, int desc_bytes,
                 std::string* error) {
  const double base = first_index.OleValue();
  char sql[1024];
  std::snprintf(sql, sizeof sql,
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<%d) "
                "INSERT INTO MySelf(UserID,Subject,Type,Private,Updated,Start,\"End\",Alarm,\"Desc\","
                "Color,RepType,RepX,RepY,RepZ,\"Index\",SyncFlag) SELECT 0,CAST('row ' || i AS BLOB),0,0,"
                "%.17g,%.17g,%.17g,-1,randomblob(%d),0,0,0,0,0,%.17g+i/86400.0,3 FROM n",
                rows, base, base, base + 0.1, desc_bytes, base);
  return RawExec(path, sql, error);
}

Probe SpawnProbe(const std::string& program, const std::string& command, const std::string& path) {
  Probe p;
  int in[2], out[2];
  if (::pipe(in) != 0) return p;
  if (::pipe(out) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return p;
  }
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_addclose(&fa, in[1]);
  posix_spawn_file_actions_addclose(&fa, out[0]);
  std::string a0 = program, a1 = command, a2 = path;
  char* argv[] = {a0.data(), a1.data(), a2.data(), nullptr};
  char* envp[] = {nullptr};
  pid_t pid = -1;
  if (::posix_spawn(&pid, a0.c_str(), &fa, nullptr, argv, envp) == 0) p.pid = pid;
  posix_spawn_file_actions_destroy(&fa);
  ::close(in[0]);
  ::close(out[1]);
  p.to = in[1];
  p.from = out[0];
  return p;
}

std::string Probe::ReadLine() {
  std::string line;
  char c;
  while (true) {
    pollfd pf{from, POLLIN, 0};
    if (::poll(&pf, 1, 10000) <= 0 || ::read(from, &c, 1) != 1) return "";
    if (c == '\n') return line;
    line += c;
  }
}

void Probe::CloseInput() {
  if (to >= 0) ::close(to);
  to = -1;
}

int Probe::Wait() {
  CloseInput();
  int status = 0;
  if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  if (from >= 0) ::close(from);
  from = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace kv::test
