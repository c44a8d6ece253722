#include "app/Startup.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kv::app {

namespace {

// The logon name is used as a file name and was limited to 64 bytes with
// its terminator.
constexpr size_t kMaxLogonBytes = 63;

std::string PasswdField(bool home) {
  std::vector<char> buf(16384);
  struct passwd pw {};
  struct passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) != 0 || !found) return {};
  const char* s = home ? found->pw_dir : found->pw_name;
  return s ? std::string(s) : std::string();
}

// Creates one folder when it cannot be read and written.
void EnsureFolder(const std::string& path) {
  if (::access(path.c_str(), R_OK | W_OK) != 0) ::mkdir(path.c_str(), 0700);
}

}  // namespace

std::string ProgramFolderOf(const std::string& program_path) {
  const auto slash = program_path.rfind('/');
  if (slash == std::string::npos) return ".";
  return program_path.substr(0, slash);
}

std::string LogonNameOr(const char* name) {
  if (!name) return "Default";
  const std::string s(name);
  if (s.empty() || s.size() > kMaxLogonBytes || s == "." || s == ".." ||
      s.find('/') != std::string::npos)
    return "Default";
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7F) return "Default";
  return s;
}

std::string LogonName() {
  const std::string name = PasswdField(false);
  return LogonNameOr(name.empty() ? nullptr : name.c_str());
}

std::string DataHome() {
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && x[0] == '/') return x;
  std::string home;
  if (const char* h = std::getenv("HOME"); h && h[0] == '/')
    home = h;
  else
    home = PasswdField(true);
  if (home.empty()) home = "/tmp";
  return home + "/.local/share";
}

std::string BuildStorePath(const std::string& data_home, const std::string& logon) {
  // The data home itself, with any missing parents.
  for (size_t i = 1; i <= data_home.size(); ++i) {
    if (i == data_home.size() || data_home[i] == '/') {
      const std::string part = data_home.substr(0, i);
      struct stat st {};
      if (::stat(part.c_str(), &st) != 0) ::mkdir(part.c_str(), 0700);
    }
  }
  std::string path = data_home + "/Brenlow";
  EnsureFolder(path);
  path += "/Quillon";
  EnsureFolder(path);
  return path + "/" + logon + ".mdb";
}

StoreOpen OpenOrCreateStore(ItemStore& store, const std::string& path) {
  if (::access(path.c_str(), R_OK | W_OK) == 0) {
    if (store.OpenStoreForReading(path)) return StoreOpen::Opened;
    return store.LastFailure() == StoreFailure::Locked ? StoreOpen::Locked : StoreOpen::OpenFailed;
  }
  if (store.CreateStore(path)) return StoreOpen::Created;
  return store.LastFailure() == StoreFailure::Locked ? StoreOpen::Locked : StoreOpen::CreateFailed;
}

std::string StoreFailureMessage(StoreOpen result, const std::string& path) {
  switch (result) {
    case StoreOpen::OpenFailed:
      return "データーベースが開けません。" + path;
    case StoreOpen::CreateFailed:
      return "データーベースが作成できません。" + path;
    case StoreOpen::Locked:
      return "このカレンダーはすでに開かれています。同じデーターベースを二つ同時に開くことは"
             "できません。\n" +
             path;
    default:
      return {};
  }
}

}  // namespace kv::app
