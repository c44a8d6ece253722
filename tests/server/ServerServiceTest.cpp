// Running the server for a group: its settings from a file, the
// environment and the command line; the program's handling of passwords,
// prompts and signals; and the service unit it installs.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "server/Cli.h"
#include "server/ServerStore.h"
#include "server/Settings.h"
#include "tests/server/ServerTestSupport.h"
#include "tests/support/TestSupport.h"
#include "tests/sync/RecordVectors.h"
#include "model/Clock.h"

extern char** environ;

namespace kv::server {
namespace {

using namespace kv::test;
using namespace kv::server::test;

EnvLookup FakeEnv(std::map<std::string, std::string> vars) {
  return [vars](const std::string& name) -> std::optional<std::string> {
    auto it = vars.find(name);
    if (it == vars.end()) return std::nullopt;
    return it->second;
  };
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(ServerSettings, FileThenEnvironmentThenOptions) {
  TempDir dir;
  const std::string conf = dir.File("server.conf");
  WriteFile(conf,
            "# the team's server\n"
            "address = 0.0.0.0\n"
            "port=4781\n"
            "  max-items = 5000  \n"
            "\n"
            "sign-in-timeout = 3\r\n"
            "memory-budget = 64\n"
            "fast-sync = yes\n");
  Settings s;
  std::string err;
  ASSERT_TRUE(ResolveSettings({{"--config", conf}, {"--max-items", "7000"}},
                              FakeEnv({{"KALVANE_SERVER_PORT", "4782"}, {"KALVANE_SERVER_DB", "/srv/team.db"}}), s,
                              err))
      << err;
  EXPECT_EQ(s.server.address, "0.0.0.0");
  EXPECT_EQ(s.server.port, 4782) << "the environment wins over the file";
  EXPECT_EQ(s.max_items, 7000) << "an option wins over both";
  EXPECT_EQ(s.db, "/srv/team.db");
  EXPECT_EQ(s.server.sign_in_timeout_ms, 3000);
  EXPECT_EQ(s.server.memory_budget, 64u << 20);
  EXPECT_TRUE(s.fast_sync);
  const Settings defaults;
  EXPECT_EQ(s.server.max_connections, defaults.server.max_connections);
  EXPECT_EQ(defaults.server.limits.download_slack_seconds, 86400);

  // The file named by the environment when no option names one.
  WriteFile(conf, "timeout = 12\n");
  ASSERT_TRUE(ResolveSettings({}, FakeEnv({{"KALVANE_SERVER_CONFIG", conf}}), s, err)) << err;
  EXPECT_EQ(s.server.idle_timeout_ms, 12000);

  struct Bad {
    const char* file;
    std::map<std::string, std::string> env, options;
    const char* says;
  };
  const Bad bad[] = {
      {"port = 4780\nprot = 1\n", {}, {}, "line 2"},
      {"port = 70000\n", {}, {}, "0 to 65535"},
      {"port = 12ab\n", {}, {}, "port"},
      {"just words\n", {}, {}, "name = value"},
      {"fast-sync = perhaps\n", {}, {}, "yes or no"},
      {"address =\n", {}, {}, "empty"},
      {"", {{"KALVANE_SERVER_MAX_CONNECTIONS", "0"}}, {}, "KALVANE_SERVER_MAX_CONNECTIONS"},
      {"", {}, {{"--memory-budget", "1"}}, "--memory-budget"},
      {"", {}, {{"--config", "/nonexistent/server.conf"}}, "/nonexistent/server.conf"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.says);
    WriteFile(conf, b.file);
    std::map<std::string, std::string> options = b.options;
    options.emplace("--config", conf);
    Settings out;
    out.db = "untouched";
    err.clear();
    EXPECT_FALSE(ResolveSettings(options, FakeEnv(b.env), out, err));
    EXPECT_NE(err.find(b.says), std::string::npos) << err;
    EXPECT_EQ(out.db, "untouched");
  }
  WriteFile(conf, std::string(70000, '#'));
  EXPECT_FALSE(ResolveSettings({{"--config", conf}}, FakeEnv({}), s, err)) << "a huge file is refused";
}

TEST(ServerSettings, HelpTheOptionsAndTheFileNameTheSameSettings) {
  const std::string help = UsageText();
  std::istringstream lines(help);
  std::string line;
  int seen = 0;
  while (std::getline(lines, line)) {
    // "  --name VALUE  (KALVANE_SERVER_NAME, name = ...)"
    if (line.rfind("  --", 0) != 0 || line.find("(KALVANE_SERVER_") == std::string::npos) continue;
    const std::string option = line.substr(2, line.find(' ', 2) - 2);
    const auto open = line.find('(') + 1;
    const std::string env = line.substr(open, line.find(',', open) - open);
    SCOPED_TRACE(option);
    EXPECT_TRUE(IsSettingOption(option));
    const bool flag = IsSettingFlag(option);
    const std::string value = flag ? "yes" : option == "--address" || option == "--db" ? "::1" : "60";
    Settings a, b, c;
    std::string err;
    EXPECT_TRUE(ResolveSettings({{option, value}}, FakeEnv({}), a, err)) << err;
    EXPECT_TRUE(ResolveSettings({}, FakeEnv({{env, value}}), b, err)) << err;
    TempDir dir;
    WriteFile(dir.File("c"), option.substr(2) + " = " + value + "\n");
    EXPECT_TRUE(ResolveSettings({{"--config", dir.File("c")}}, FakeEnv({}), c, err)) << err;
    EXPECT_EQ(a.db + a.server.address, b.db + b.server.address);
    EXPECT_EQ(a.server.port + a.server.idle_timeout_ms + a.max_items, c.server.port + c.server.idle_timeout_ms + c.max_items);
    EXPECT_EQ(a.fast_sync, c.fast_sync);
    ++seen;
  }
  EXPECT_GE(seen, 10);
  EXPECT_NE(help.find("KALVANE_SERVER_CONFIG"), std::string::npos);
}

#ifdef KALVANE_SERVER_BIN
struct Proc {
  pid_t pid = -1;
  int out = -1;  // standard output and error together
};

// Runs the program with `input` on standard input and `env` added to
// the environment.
Proc Spawn(std::vector<std::string> args, const std::string& input = "",
           const std::vector<std::string>& env = {}) {
  args.insert(args.begin(), KALVANE_SERVER_BIN);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envs(env);
  for (char** e = environ; *e; ++e) envs.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : envs) envp.push_back(e.data());
  envp.push_back(nullptr);
  int in[2], out[2];
  EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
  EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, out[1], 2);
  Proc p;
  EXPECT_EQ(posix_spawn(&p.pid, argv[0], &fa, nullptr, argv.data(), envp.data()), 0);
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]);
  close(out[1]);
  if (!input.empty()) {
    EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  }
  close(in[1]);
  p.out = out[0];
  return p;
}

// Reads fd until `want` has appeared (or it closes, or ten seconds pass).
bool ReadUntil(int fd, std::string& text, const std::string& want) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  char buf[512];
  while (text.find(want) == std::string::npos && std::chrono::steady_clock::now() < until) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  return text.find(want) != std::string::npos;
}

// The exit status, or -1 when the process has not ended within ten seconds
// (it is then killed).
int Wait(pid_t pid) {
  int status = 0;
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) return status;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

// `serve` with the settings in `env`, once it listens.
struct Serving {
  Proc proc;
  uint16_t port = 0;
  std::string text;  // what it printed so far
};
Serving Serve(const std::vector<std::string>& env) {
  Serving s{Spawn({"serve"}, "", env)};
  if (ReadUntil(s.proc.out, s.text, " port ") && ReadUntil(s.proc.out, s.text, "\n"))
    s.port = static_cast<uint16_t>(std::stoi(s.text.substr(s.text.find(" port ") + 6)));
  EXPECT_NE(s.port, 0) << s.text;
  return s;
}

std::string Output(Proc& p) {
  std::string text;
  ReadUntil(p.out, text, std::string(1, '\0'));
  close(p.out);
  return text;
}

TEST(ServerProgram, PasswordsNeverComeFromTheCommandLine) {
  TempDir dir;
  const std::string db = TestDatabase(dir, "team.db");
  Proc p = Spawn({"--db", db, "add-user", "taro", "--password", "secret"});
  std::string text = Output(p);
  int status = Wait(p.pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << text;
  EXPECT_NE(text.find("standard input"), std::string::npos) << text;
  for (const char* empty : {"\n", ""}) {
    p = Spawn({"--db", db, "add-user", "taro"}, empty);
    text = Output(p);
    status = Wait(p.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << text;
  }
  p = Spawn({"--db", db, "add-user", "taro"}, "secret\n");
  Output(p);
  EXPECT_EQ(Wait(p.pid), 0);
  p = Spawn({"--db", db, "set-password", "taro"}, "\n");
  text = Output(p);
  status = Wait(p.pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << text;
  ServerStore store;
  ASSERT_TRUE(store.Open(db));
  EXPECT_EQ(store.Authenticate("taro", "secret").code, 0) << "the empty password did not replace it";
}

// The program on a terminal of its own, as an administrator would run it.
struct OnTerminal {
  int master = -1, slave = -1;
  pid_t pid = -1;
  std::string seen;
  explicit OnTerminal(std::vector<std::string> args) {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(master, 0);
    EXPECT_EQ(grantpt(master), 0);
    EXPECT_EQ(unlockpt(master), 0);
    const std::string name = ptsname(master);
    slave = open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(slave, 0);
    args.insert(args.begin(), KALVANE_SERVER_BIN);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A session of its own, whose controlling terminal is the one opened
    // next: Ctrl-C there reaches the program.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, name.c_str(), O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&fa, 0, 1);
    posix_spawn_file_actions_adddup2(&fa, 0, 2);
    EXPECT_EQ(posix_spawn(&pid, argv[0], &fa, &attr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
  }
  ~OnTerminal() {
    if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    close(master);
    close(slave);
  }
  bool Echoing() {
    termios t{};
    EXPECT_EQ(tcgetattr(slave, &t), 0);
    return (t.c_lflag & ECHO) != 0;
  }
  void Type(const std::string& keys) { EXPECT_EQ(write(master, keys.data(), keys.size()), (ssize_t)keys.size()); }
  bool Await(const std::string& text) { return ReadUntil(master, seen, text); }
};

TEST(ServerProgram, PromptHidesThePasswordAndCtrlCEndsIt) {
  TempDir dir;
  const std::string db = TestDatabase(dir, "team.db");
  {
    OnTerminal t({"--db", db, "add-user", "taro"});
    ASSERT_TRUE(t.Await("password: ")) << t.seen;
    EXPECT_FALSE(t.Echoing());
    t.Type("half typed");
    t.Type(std::string(1, '\x03'));
    const int status = Wait(t.pid);
    t.pid = -1;
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "status " << status << ": " << t.seen;
    EXPECT_TRUE(t.Echoing()) << "the terminal is left as it was";
    EXPECT_EQ(t.seen.find("half typed"), std::string::npos);
  }
  {
    OnTerminal t({"--db", db, "add-user", "taro"});
    ASSERT_TRUE(t.Await("password: ")) << t.seen;
    t.Type("s3cret\n");
    ASSERT_TRUE(t.Await("again: ")) << t.seen;
    t.Type("s3cret\n");
    EXPECT_EQ(Wait(t.pid), 0) << t.seen;
    t.pid = -1;
    EXPECT_EQ(t.seen.find("s3cret"), std::string::npos) << "nothing typed was shown: " << t.seen;
  }
  {
    OnTerminal t({"--db", db, "set-password", "taro"});
    ASSERT_TRUE(t.Await("password: ")) << t.seen;
    t.Type("one\n");
    ASSERT_TRUE(t.Await("again: ")) << t.seen;
    t.Type("another\n");
    const int status = Wait(t.pid);
    t.pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
  }
  ServerStore store;
  ASSERT_TRUE(store.Open(db));
  EXPECT_EQ(store.Authenticate("taro", "s3cret").code, 0);
}

TEST(ServerProgram, SigtermDuringAnUploadResetsItAndKeepsWhatWasDone) {
  TempDir dir;
  const std::string db = TestDatabase(dir, "team.db");
  Proc add = Spawn({"--db", db, "add-user", "taro"}, "pw-taro\n");
  Output(add);
  ASSERT_EQ(Wait(add.pid), 0);
  // Settings from a file named in the environment, as the service has them.
  const std::string conf = dir.File("server.conf");
  WriteFile(conf, "db = " + db + "\nport = 0\ntimeout = 30\n");
  Serving serving = Serve({"KALVANE_SERVER_CONFIG=" + conf});
  Proc& server = serving.proc;
  std::string& text = serving.text;
  const uint16_t port = serving.port;
  ASSERT_NE(port, 0);

  ScheduleItem done, cut;
  done.Index = D(2004, 8, 1, 9);
  done.Subject = "uploaded";
  cut.Index = D(2004, 8, 1, 10);
  cut.Subject = "never finished";
  const std::string start = SignInLines("taro", "pw-taro") + Int(RequestUpload) + Date(D(2004, 8, 15));
  const int first = Connect(port);
  ASSERT_TRUE(SendAll(first, start + Record(done) + EndOfList()));
  shutdown(first, SHUT_WR);
  EXPECT_EQ(AwaitEnd(first, 10000), Ending::Orderly);
  close(first);
  const int stalled = Connect(port);
  ASSERT_TRUE(SendAll(stalled, start + Record(cut)));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(kill(server.pid, SIGTERM), 0);
  const Ending e = AwaitEnd(stalled, 20000);
  EXPECT_EQ(e, Ending::Reset) << ToString(e);
  close(stalled);
  const int status = Wait(server.pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  text += Output(server);
  EXPECT_NE(text.find("stopped"), std::string::npos) << text;

  ServerStore store;
  ASSERT_TRUE(store.Open(db));
  const auto taro = store.FindUser("taro");
  ASSERT_TRUE(taro.has_value());
  EXPECT_TRUE(store.FindItem(taro->id, done.Index).has_value());
  EXPECT_FALSE(store.FindItem(taro->id, cut.Index).has_value());
}

// What only PostgreSQL has: several server processes over one database.
// These count in the "pg." registration, where KALVANE_TEST_PG names the
// cluster (and a cluster that is not there fails them).
#define PG_ONLY() \
  if (!OnPostgres()) GTEST_SKIP() << "PostgreSQL only: runs as pg.*"

int32_t SignInAnswer(uint16_t port, const std::string& name, const std::string& password) {
  std::string got;
  SendAndHalfClose(port, SignInLines(name, password), &got);
  int32_t code = 1;
  if (got.size() >= 4) std::memcpy(&code, got.data(), 4);
  return code;
}

std::string UploadOf(const std::vector<ScheduleItem>& items) {
  std::string s = SignInLines("taro", "pw-taro") + Int(RequestUpload) + Date(D(2004, 8, 15));
  for (const ScheduleItem& it : items) s += Record(it);
  return s + EndOfList();
}

// Two server processes on one fresh database with the user taro.
struct TwoServers {
  TempDir dir;
  std::string db = TestDatabase(dir, "");
  Serving a, b;
  explicit TwoServers(int64_t max_items) {
    ServerStore store;
    std::string err;
    EXPECT_TRUE(store.Open(db, &err)) << err;
    EXPECT_TRUE(store.AddUser("taro", "", "pw-taro", 0, nullptr, &err)) << err;
    const std::vector<std::string> env = {"KALVANE_SERVER_DB=" + db, "KALVANE_SERVER_PORT=0",
                                          "KALVANE_SERVER_MAX_ITEMS=" + std::to_string(max_items)};
    a = Serve(env);
    b = Serve(env);
  }
  ~TwoServers() {
    for (Proc* p : {&a.proc, &b.proc}) {
      if (p->pid > 0 && kill(p->pid, SIGTERM) == 0) EXPECT_EQ(Wait(p->pid), 0);
      if (p->out >= 0) Output(*p);
    }
  }
};

TEST(ServerPostgres, TwoProcessesShareWritesTheItemLimitAndTheGuessCount) {
  PG_ONLY();
  TwoServers two(60);
  const std::string& db = two.db;
  const uint16_t ports[2] = {two.a.port, two.b.port};
  ASSERT_TRUE(ports[0] && ports[1]);

  // Eight writers upload versions of the same 40 items through both
  // processes at once; every item must end as its newest version.
  constexpr int kWriters = 8, kItems = 40;
  auto version = [](int w, int n) {
    ScheduleItem it = TestItem(n, "w" + std::to_string(w));
    it.Updated = D(2004, 8, 10).AddSeconds(((w * 37 + n * 11) % 97) * 100 + w);
    return it;
  };
  std::atomic<int> orderly{0};
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w)
    writers.emplace_back([&, w] {
      for (int part = 0; part < 4; ++part) {
        std::vector<ScheduleItem> items;
        for (int n = part * 10; n < part * 10 + 10; ++n) items.push_back(version(w, n));
        orderly += SendAndHalfClose(ports[(w + part) % 2], UploadOf(items)) == Ending::Orderly;
      }
    });
  for (auto& t : writers) t.join();
  EXPECT_EQ(orderly.load(), kWriters * 4);
  ServerStore store;
  ASSERT_TRUE(store.Open(db));
  const int32_t taro = store.FindUser("taro")->id;
  EXPECT_EQ(store.ItemCount(taro), kItems);
  for (int n = 0; n < kItems; ++n) {
    ScheduleItem newest = version(0, n);
    for (int w = 1; w < kWriters; ++w)
      if (version(w, n).Updated > newest.Updated) newest = version(w, n);
    const auto got = store.FindItem(taro, newest.Index);
    ASSERT_TRUE(got.has_value()) << n;
    EXPECT_EQ(got->Subject, newest.Subject) << n;
  }

  // Eight uploads of five new items each race for the 20 places left.
  orderly = 0;
  writers.clear();
  for (int w = 0; w < kWriters; ++w)
    writers.emplace_back([&, w] {
      std::vector<ScheduleItem> items;
      for (int k = 0; k < 5; ++k) items.push_back(TestItem(100 + w * 5 + k));
      orderly += SendAndHalfClose(ports[w % 2], UploadOf(items)) == Ending::Orderly;
    });
  for (auto& t : writers) t.join();
  EXPECT_EQ(orderly.load(), 4);
  EXPECT_EQ(store.ItemCount(taro), 60);

  // Ten guesses spread over both processes lock the name from there in
  // both, though neither saw ten itself.
  writers.clear();
  for (int g = 0; g < 10; ++g)
    writers.emplace_back([&, g] { EXPECT_EQ(SignInAnswer(ports[g % 2], "taro", "guess"), -2); });
  for (auto& t : writers) t.join();
  EXPECT_EQ(SignInAnswer(ports[0], "taro", "pw-taro"), -2);
  EXPECT_EQ(SignInAnswer(ports[1], "taro", "pw-taro"), -2);
}

TEST(ServerPostgres, AProcessKilledMidUploadLosesNothingConfirmed) {
  PG_ONLY();
  TwoServers two(1000);
  Serving& a = two.a;
  const std::string& db = two.db;
  ASSERT_EQ(SendAndHalfClose(a.port, UploadOf({TestItem(1)})), Ending::Orderly);
  const int stalled = Connect(a.port);
  std::string cut = UploadOf({TestItem(2)});
  cut.resize(cut.size() - EndOfList().size());
  ASSERT_TRUE(SendAll(stalled, cut));
  // Read or not yet, an upload without its end is never applied.
  ASSERT_EQ(kill(a.proc.pid, SIGKILL), 0);
  EXPECT_EQ(Wait(a.proc.pid) & 0x7f, SIGKILL);
  a.proc.pid = -1;
  EXPECT_EQ(SendAndHalfClose(two.b.port, UploadOf({TestItem(3)})), Ending::Orderly);
  ServerStore store;
  ASSERT_TRUE(store.Open(db));
  const int32_t taro = store.FindUser("taro")->id;
  EXPECT_TRUE(store.FindItem(taro, TestItem(1).Index).has_value());
  EXPECT_FALSE(store.FindItem(taro, TestItem(2).Index).has_value());
  EXPECT_TRUE(store.FindItem(taro, TestItem(3).Index).has_value());
  close(stalled);
}

// A cluster of the test's own, since it is stopped in the middle.
struct OwnCluster {
  TempDir dir;
  std::string uri;
  // The script runs the cluster as nobody when run as root.
  OwnCluster() { chmod(dir.path().c_str(), 0711); }
  bool Run(const std::string& what) {
    const std::string cmd = std::string(KALVANE_PG_CLUSTER) + " " + what + " " + dir.File("pg") + " 2>&1";
    FILE* f = popen(cmd.c_str(), "r");
    if (!f) return false;
    char buf[512];
    std::string out;
    while (fgets(buf, sizeof buf, f)) out += buf;
    const bool ok = pclose(f) == 0;
    if (what == "start" && ok) uri = out.substr(0, out.find('\n'));
    EXPECT_TRUE(ok) << cmd << ": " << out;
    return ok;
  }
  ~OwnCluster() { Run("stop"); }
};

TEST(ServerPostgres, ADatabaseRestartFailsRequestsUntilItIsBack) {
  PG_ONLY();
  OwnCluster pg;
  ASSERT_TRUE(pg.Run("start"));
  ServerStore store;
  std::string err;
  ASSERT_TRUE(store.Open(pg.uri, &err)) << err;
  ASSERT_TRUE(store.AddUser("taro", "", "pw-taro", 0, nullptr, &err)) << err;
  ServerConfig cfg;
  cfg.port = 0;
  Server server(store, cfg);
  ASSERT_TRUE(server.Start(&err)) << err;
  ASSERT_EQ(SendAndHalfClose(server.Port(), UploadOf({TestItem(1)})), Ending::Orderly);

  ASSERT_TRUE(pg.Run("pause"));
  // No answer at all, so the client keeps its changes for later.
  EXPECT_EQ(SendAndHalfClose(server.Port(), UploadOf({TestItem(2)})), Ending::Reset);
  EXPECT_EQ(SignInAnswer(server.Port(), "taro", "pw-taro"), 1);
  Proc list = Spawn({"--db", pg.uri, "list"});
  const std::string said = Output(list);
  EXPECT_NE(Wait(list.pid), 0);
  EXPECT_NE(said.find("cannot connect to the database"), std::string::npos) << said;

  ASSERT_TRUE(pg.Run("resume"));
  EXPECT_EQ(SendAndHalfClose(server.Port(), UploadOf({TestItem(2)})), Ending::Orderly);
  const int32_t taro = store.FindUser("taro")->id;
  EXPECT_EQ(store.ItemCount(taro), 2);
  server.Stop();
}

TEST(ServerPostgres, MigrateCopiesEveryFieldAndEveryoneStillSignsIn) {
  PG_ONLY();
  TempDir dir;
  const std::string file = dir.File("team.db"), db = TestDatabase(dir, "");
  std::string err;
  const auto vectors = LoadRecordVectors(RecordVectorPath(), err);
  ASSERT_FALSE(vectors.empty()) << err;
  {
    ServerStore store;
    ASSERT_TRUE(store.Open(file));
    int32_t id = 0;
    for (const char* u : {"taro", "hanako", "jiro"})
      ASSERT_TRUE(store.AddUser(u, J("山田"), std::string("pw-") + u, id ? id + 5 : 0, &id, &err)) << err;
    ASSERT_TRUE(store.Grant("taro", "jiro", &err)) << err;
    // Every field the record vectors set, as each user's items, and one
    // deletion kept as a tombstone.
    std::vector<ScheduleItem> items;
    for (size_t n = 0; n < vectors.size(); ++n) {
      ScheduleItem it = vectors[n].expected;
      it.Index = D(2004, 8, 1).AddSeconds(static_cast<int64_t>(n));
      it.SyncFlag = n == 0 ? SyncDeleted : SyncClean;
      items.push_back(it);
    }
    for (const User& u : store.Users()) ASSERT_GT(store.ApplyUpload(u.id, items), 0);
  }
  Proc run = Spawn({"migrate", "--from", file, "--to", db});
  const std::string said = Output(run);
  ASSERT_EQ(Wait(run.pid), 0) << said;

  ServerStore from, to;
  ASSERT_TRUE(from.Open(file));
  ASSERT_TRUE(to.Open(db));
  ASSERT_EQ(from.Users().size(), 3u);
  for (const User& u : from.Users()) {
    SCOPED_TRACE(u.name);
    const auto there = to.CredentialsOf(u.name);
    ASSERT_TRUE(there.has_value());
    EXPECT_EQ(there->user.id, u.id);
    EXPECT_EQ(there->user.display, u.display);
    EXPECT_EQ(there->hash, from.CredentialsOf(u.name)->hash);
    EXPECT_EQ(to.Authenticate(u.name, "pw-" + u.name).code, 0);
    // The download order is by server change time, so equal pages mean
    // equal change times too.
    PageCursor ca, cb;
    for (bool last = false; !last;) {
      const ItemPage pa = from.ChangedPage(u.id, DateTime::Invalid(), ca, nullptr);
      const ItemPage pb = to.ChangedPage(u.id, DateTime::Invalid(), cb, nullptr);
      ASSERT_TRUE(pa.ok && pb.ok);
      ASSERT_EQ(pa.items.size(), pb.items.size());
      for (size_t i = 0; i < pa.items.size(); ++i) {
        EXPECT_EQ(DescribeDifferences(pa.items[i], pb.items[i]), "");
        EXPECT_EQ(pa.items[i].SyncFlag, pb.items[i].SyncFlag);
      }
      last = pa.last;
      EXPECT_EQ(pb.last, last);
    }
    EXPECT_EQ(to.ChangedSince(u.id, kv::Now()).size(), from.ChangedSince(u.id, kv::Now()).size());
  }
  EXPECT_EQ(to.Permissions().size(), 1u);
  EXPECT_EQ(to.Permissions().front().actor, from.Permissions().front().actor);
  EXPECT_EQ(to.MayWrite(to.FindUser("taro")->id, to.FindUser("jiro")->id), true);

  Proc again = Spawn({"migrate", "--from", file, "--to", db});
  const std::string refused = Output(again);
  EXPECT_NE(Wait(again.pid), 0);
  EXPECT_NE(refused.find("not empty"), std::string::npos) << refused;
}
#endif

#if defined(KALVANE_CMAKE) && defined(KALVANE_BUILD_DIR)
std::string ReadAll(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST(ServerService, InstallBringsAHardenedUnitAndItsUser) {
  TempDir prefix;
  std::vector<std::string> args = {KALVANE_CMAKE, "--install", KALVANE_BUILD_DIR, "--prefix", prefix.path(),
                                   "--component", "server"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  EXPECT_EQ(access((prefix.path() + "/bin/kalvane-server").c_str(), X_OK), 0);
  const std::string unit = ReadAll(prefix.path() + "/lib/systemd/system/kalvane-server.service");
  ASSERT_FALSE(unit.empty());
  std::map<std::string, std::string> keys;
  std::istringstream lines(unit);
  for (std::string line; std::getline(lines, line);) {
    const auto eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    keys[line.substr(0, eq)] += (keys.count(line.substr(0, eq)) ? "\n" : "") + line.substr(eq + 1);
  }
  EXPECT_EQ(keys["User"], "kalvane-server");
  EXPECT_EQ(keys["NoNewPrivileges"], "yes");
  EXPECT_EQ(keys["ProtectSystem"], "strict");
  EXPECT_EQ(keys["StateDirectory"], "kalvane-server");
  EXPECT_EQ(keys["StateDirectoryMode"], "0700");
  EXPECT_EQ(keys["StandardError"], "journal");
  EXPECT_EQ(keys["CapabilityBoundingSet"], "");
  const std::string exec = keys["ExecStart"];
  EXPECT_NE(exec.find("/bin/kalvane-server serve"), std::string::npos) << exec;
  // The database lives in the one folder the service may write.
  EXPECT_NE(keys["Environment"].find("KALVANE_SERVER_DB=/var/lib/kalvane-server/"), std::string::npos);
  const std::string users = ReadAll(prefix.path() + "/lib/sysusers.d/kalvane-server.conf");
  EXPECT_EQ(users.find("u kalvane-server"), users.find('\n') + 1) << users;
}
#endif

}  // namespace
}  // namespace kv::server
