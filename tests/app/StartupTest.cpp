// Start-up steps without a window: names, folders, open or create.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/Startup.h"
#include "store/ItemStore.h"
#include "tests/support/TestSupport.h"

namespace kv::app {
namespace {

namespace fs = std::filesystem;

TEST(Startup, ProgramFolderAndLogonNameRules) {
  EXPECT_EQ(ProgramFolderOf("/usr/libexec/kalvane/kalvane"), "/usr/libexec/kalvane");
  EXPECT_EQ(ProgramFolderOf("/kalvane"), "");
  EXPECT_EQ(ProgramFolderOf("kalvane"), ".");
  EXPECT_EQ(LogonNameOr("taro"), "taro");
  EXPECT_EQ(LogonNameOr(std::string(63, 'a').c_str()), std::string(63, 'a'));
  for (const char* bad : {"", ".", "..", "a/b", "tab\there"})
    EXPECT_EQ(LogonNameOr(bad), "Default") << bad;
  EXPECT_EQ(LogonNameOr(nullptr), "Default");
  EXPECT_EQ(LogonNameOr(std::string(64, 'a').c_str()), "Default");
  EXPECT_FALSE(LogonName().empty());
}

class Env {
 public:
  Env(const char* name, const char* value) : name_(name) {
    if (const char* v = std::getenv(name)) old_ = v;
    had_ = std::getenv(name) != nullptr;
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~Env() {
    if (had_)
      setenv(name_.c_str(), old_.c_str(), 1);
    else
      unsetenv(name_.c_str());
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

TEST(Startup, DataHomeFollowsXdgThenHome) {
  Env home("HOME", "/home/someone");
  {
    Env xdg("XDG_DATA_HOME", "/data/here");
    EXPECT_EQ(DataHome(), "/data/here");
  }
  {
    Env xdg("XDG_DATA_HOME", "relative/is/ignored");
    EXPECT_EQ(DataHome(), "/home/someone/.local/share");
  }
  Env xdg("XDG_DATA_HOME", nullptr);
  EXPECT_EQ(DataHome(), "/home/someone/.local/share");
}

TEST(Startup, StorePathMakesWhatIsMissingAndOpensOrCreates) {
  test::TempDir dir;
  const std::string data = dir.path() + "/a/b";
  const std::string path = BuildStorePath(data, "user1");
  EXPECT_EQ(path, data + "/Brenlow/Quillon/user1.mdb");
  EXPECT_TRUE(fs::is_directory(data + "/Brenlow/Quillon"));
  EXPECT_EQ(BuildStorePath(data, "user1"), path);  // again: nothing to make
  EXPECT_EQ(BuildStorePath(data, "user2"), data + "/Brenlow/Quillon/user2.mdb");

  {
    ItemStore s;
    EXPECT_EQ(OpenOrCreateStore(s, path), StoreOpen::Created);
    EXPECT_EQ(OpenOrCreateStore(s, path), StoreOpen::Opened);  // the same object reopens
    ItemStore other;
    EXPECT_EQ(OpenOrCreateStore(other, path), StoreOpen::Locked);
  }
  ItemStore s;
  EXPECT_EQ(OpenOrCreateStore(s, path), StoreOpen::Opened);
  s.CloseStore();

  std::ofstream(data + "/Brenlow/Quillon/junk.mdb") << "not a store";
  EXPECT_EQ(OpenOrCreateStore(s, data + "/Brenlow/Quillon/junk.mdb"), StoreOpen::OpenFailed);
  EXPECT_EQ(OpenOrCreateStore(s, dir.path() + "/missing/x.mdb"), StoreOpen::CreateFailed);

  EXPECT_EQ(StoreFailureMessage(StoreOpen::OpenFailed, "/p.mdb"), "データーベースが開けません。/p.mdb");
  EXPECT_EQ(StoreFailureMessage(StoreOpen::CreateFailed, "/p.mdb"), "データーベースが作成できません。/p.mdb");
  EXPECT_EQ(StoreFailureMessage(StoreOpen::Opened, "/p.mdb"), "");
}

}  // namespace
}  // namespace kv::app
