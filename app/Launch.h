#pragma once
// Starting a program without waiting for it (posix_spawn, searched in
// PATH). The child is reaped on a thread of its own.
#include <functional>
#include <string>
#include <vector>

namespace kv::app {

// args[0] is the name the program sees. Returns 0 when the program
// started, else the errno of the failed start. on_exit, when given, gets
// the child's exit status (or -1 when it died by a signal) on the reaping
// thread.
int SpawnDetached(const std::string& program, const std::vector<std::string>& args,
                  std::function<void(int status)> on_exit = {});

}  // namespace kv::app
