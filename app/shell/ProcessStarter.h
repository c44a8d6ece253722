#pragma once
// Starting programs without waiting for them. Arguments go to the program
// as a vector, never through a shell, so nothing in an item's texts is
// interpreted.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kv::shell {

class ProcessStarter {
 public:
  virtual ~ProcessStarter() = default;
  // The canonical absolute form of an absolute path (links resolved);
  // nullopt when it does not name an existing file or is not absolute.
  virtual std::optional<std::string> LongPath(const std::string& path) = 0;
  // Starts path (UTF-8) with argv (argv[0] included) and returns 0, or the
  // errno of the failed start. A file that is not an executable program (a
  // document) gives ENOEXEC.
  virtual int Start(const std::string& path, const std::vector<std::string>& argv) = 0;
  // Opens a document in the desktop's application for it (xdg-open).
  // 0 or the errno of starting the opener.
  virtual int OpenDocument(const std::string& path) = 0;
};

// posix_spawn: no shell, descriptors beyond stderr closed, stdin from
// /dev/null, signal dispositions reset, own process group. Children are
// reaped by a waiting thread each, so none lingers as a zombie.
class PosixProcessStarter final : public ProcessStarter {
 public:
  // The exit status of an ended child, or -1 when a signal ended it; called
  // on the child's reaping thread.
  using ExitHandler = std::function<void(int status)>;

  std::optional<std::string> LongPath(const std::string& path) override;
  int Start(const std::string& path, const std::vector<std::string>& argv) override;
  int OpenDocument(const std::string& path) override;
  // As above, and tells how the opener ended.
  int OpenDocument(const std::string& path, ExitHandler on_exit);

 private:
  int Spawn(const std::string& file, const std::vector<std::string>& argv, bool search_path,
            ExitHandler on_exit = {});
};

// "E2BIG", "EINVAL", "ENOENT", "ENOEXEC", "ENOMEM"; nullopt for the others.
std::optional<std::string> StartErrorName(int error);

}  // namespace kv::shell
