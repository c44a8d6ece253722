#include "app/shell/ProcessStarter.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <thread>

extern char** environ;

namespace kv::shell {

namespace {

void ReapInBackground(pid_t pid, PosixProcessStarter::ExitHandler on_exit) {
  try {
    std::thread([pid, on_exit = std::move(on_exit)] {
      int status = 0;
      pid_t r;
      do {
        r = waitpid(pid, &status, 0);
      } while (r < 0 && errno == EINTR);
      if (r == pid && on_exit) on_exit(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the child stays a zombie until we exit.
  }
}

}  // namespace

std::optional<std::string> PosixProcessStarter::LongPath(const std::string& path) {
  if (path.empty() || path.front() != '/') return std::nullopt;
  char buf[PATH_MAX];
  if (!realpath(path.c_str(), buf)) return std::nullopt;
  return std::string(buf);
}

int PosixProcessStarter::Start(const std::string& path, const std::vector<std::string>& argv) {
  if (path.empty() || path.front() != '/') return ENOENT;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return errno;
  // A regular file nobody may execute is a document, as on a desktop
  // where double-clicking it opens it.
  if (S_ISREG(st.st_mode) && access(path.c_str(), X_OK) != 0) return ENOEXEC;
  return Spawn(path, argv, false);
}

int PosixProcessStarter::OpenDocument(const std::string& path) { return OpenDocument(path, {}); }

int PosixProcessStarter::OpenDocument(const std::string& path, ExitHandler on_exit) {
  return Spawn("xdg-open", {"xdg-open", path}, true, std::move(on_exit));
}

int PosixProcessStarter::Spawn(const std::string& file, const std::vector<std::string>& argv,
                               bool search_path, ExitHandler on_exit) {
  if (argv.empty()) return EINVAL;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (posix_spawn_file_actions_init(&actions) != 0) return ENOMEM;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return ENOMEM;
  }
  // The store's file and any server socket stay ours.
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  posix_spawnattr_setsigmask(&attr, &none);
  // An ignored SIGPIPE or SIGCHLD of ours must not reach the program.
  posix_spawnattr_setsigdefault(&attr, &all);
  // A Ctrl-C in the terminal that started the calendar leaves it running.
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                      POSIX_SPAWN_SETPGROUP);

  pid_t pid = 0;
  const int rc = search_path
                     ? posix_spawnp(&pid, file.c_str(), &actions, &attr, args.data(), environ)
                     : posix_spawn(&pid, file.c_str(), &actions, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return rc;
  ReapInBackground(pid, std::move(on_exit));
  return 0;
}

std::optional<std::string> StartErrorName(int error) {
  switch (error) {
    case E2BIG: return "E2BIG";
    case EINVAL: return "EINVAL";
    case ENOENT: return "ENOENT";
    case ENOEXEC: return "ENOEXEC";
    case ENOMEM: return "ENOMEM";
    default: return std::nullopt;
  }
}

}  // namespace kv::shell
