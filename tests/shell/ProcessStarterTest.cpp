// The real process starter against real files: arguments arrive exactly,
// no shell sees them, documents are told apart from programs, and the
// calendar's descriptors stay its own.
#include "app/shell/ProcessStarter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/TestSupport.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using shell::PosixProcessStarter;

void WriteFile(const std::string& path, const std::string& content, bool executable) {
  std::ofstream(path) << content;
  chmod(path.c_str(), executable ? 0755 : 0644);
}

// The file a child writes when it is done; generous wait, never a timing assert.
std::string WaitForFile(const std::string& path) {
  for (int i = 0; i < 3000; ++i) {
    if (fs::exists(path + ".done")) {
      std::ifstream in(path);
      std::stringstream ss;
      ss << in.rdbuf();
      return ss.str();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "child never wrote " << path;
  return {};
}

// A script that writes each argument on its own line, whether descriptor
// 47 is open, then a marker.
std::string RecorderScript(const std::string& out) {
  return "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + out +
         "'\n[ -e /proc/self/fd/47 ] && echo fd47 >> '" + out + "'\ntouch '" + out + ".done'\n";
}

TEST(PosixStarter, ArgumentsArriveOneEachUntouchedByAnyShell) {
  test::TempDir dir;
  const std::string out = dir.File("args.txt");
  const std::string script = dir.File("rec ord");
  WriteFile(script, RecorderScript(out), true);
  // A descriptor the calendar holds open without close-on-exec.
  const int fd = open(dir.File("held").c_str(), O_CREAT | O_RDWR, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(dup2(fd, 47), 47);

  PosixProcessStarter starter;
  const std::string trap = dir.File("pwned");
  const std::vector<std::string> argv = {"Pelmora.exe", "-S", "会議 $(touch " + trap + ")",
                                         "-T", "\"a - b\"", "-D", "line1\nline2 ; `id`"};
  ASSERT_EQ(starter.Start(script, argv), 0);
  const std::string got = WaitForFile(out);
  close(47);
  close(fd);
  // argv[0] is the interpreter's business for a script; the rest is ours.
  EXPECT_EQ(got, "-S\n会議 $(touch " + trap + ")\n-T\n\"a - b\"\n-D\nline1\nline2 ; `id`\n");
  EXPECT_FALSE(fs::exists(trap));
}

TEST(PosixStarter, DocumentsMissingFilesAndNonProgramsAreToldApart) {
  test::TempDir dir;
  PosixProcessStarter starter;
  WriteFile(dir.File("notes.txt"), "hello\n", false);
  WriteFile(dir.File("junk"), std::string("\x01\x02garbage", 9), true);
  fs::create_directory(dir.File("folder"));

  EXPECT_EQ(starter.Start(dir.File("notes.txt"), {"notes.txt"}), ENOEXEC);
  EXPECT_EQ(starter.Start(dir.File("junk"), {"junk"}), ENOEXEC);
  EXPECT_EQ(starter.Start(dir.File("missing"), {"missing"}), ENOENT);
  EXPECT_EQ(starter.Start("notes.txt", {"notes.txt"}), ENOENT) << "relative paths are refused";
  EXPECT_EQ(starter.Start(dir.File("folder"), {"folder"}), EACCES);
  ASSERT_TRUE(fs::exists("/bin/true"));
  EXPECT_EQ(starter.Start("/bin/true", {"true"}), 0);
}

TEST(PosixStarter, LongPathIsTheCanonicalPathOfAnExistingFile) {
  test::TempDir dir;
  PosixProcessStarter starter;
  fs::create_directory(dir.File("real dir"));
  WriteFile(dir.File("real dir/prog"), "#!/bin/sh\n", true);
  fs::create_symlink(dir.File("real dir"), dir.File("ln"));
  const std::string canonical = fs::canonical(dir.File("real dir/prog")).string();

  EXPECT_EQ(starter.LongPath(dir.File("ln/prog")), canonical);
  EXPECT_EQ(starter.LongPath(dir.File("ln/../real dir/./prog")), canonical);
  EXPECT_EQ(starter.LongPath(dir.File("ln/absent")), std::nullopt);
  EXPECT_EQ(starter.LongPath("real dir/prog"), std::nullopt);
  EXPECT_EQ(starter.LongPath(""), std::nullopt);
}

TEST(PosixStarter, DocumentsGoToTheDesktopOpenerAsOneArgument) {
  test::TempDir dir;
  const std::string out = dir.File("opened.txt");
  WriteFile(dir.File("xdg-open"), RecorderScript(out), true);
  const char* old_path = std::getenv("PATH");
  const std::string saved = old_path ? old_path : "";
  setenv("PATH", (dir.path() + ":" + saved).c_str(), 1);

  PosixProcessStarter starter;
  const int rc = starter.OpenDocument("/home/u/my report;rm -rf x.pdf");
  setenv("PATH", saved.c_str(), 1);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(WaitForFile(out), "/home/u/my report;rm -rf x.pdf\n");
}

// The help page's opener says how it ended: its exit status, or -1 when a
// signal ended it; a start that fails is told at once and never reported.
TEST(PosixStarter, TheOpenerTellsHowItEnded) {
  test::TempDir dir;
  const char* old_path = std::getenv("PATH");
  const std::string saved = old_path ? old_path : "";
  setenv("PATH", dir.path().c_str(), 1);
  PosixProcessStarter starter;
  std::mutex m;
  std::condition_variable cv;
  std::vector<int> ended;
  auto record = [&](int status) {
    std::lock_guard<std::mutex> lock(m);
    ended.push_back(status);
    cv.notify_all();
  };
  auto wait_for = [&](size_t n) {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, std::chrono::seconds(30), [&] { return ended.size() >= n; });
  };
  EXPECT_EQ(starter.OpenDocument("/tmp/page.html", record), ENOENT);
  size_t started = 0;
  for (const char* body : {"exit 0", "exit 4", "kill -TERM $$"}) {
    WriteFile(dir.File("xdg-open"), std::string("#!/bin/sh\n") + body + "\n", true);
    ASSERT_EQ(starter.OpenDocument("/tmp/page.html", record), 0) << body;
    ASSERT_TRUE(wait_for(++started)) << body;
  }
  setenv("PATH", saved.c_str(), 1);
  std::lock_guard<std::mutex> lock(m);
  EXPECT_EQ(ended, (std::vector<int>{0, 4, -1}));
}

}  // namespace
}  // namespace kv
