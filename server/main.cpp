// kalvane-server: the schedule server. All the work is in kv_server.
#include <iostream>

#include "server/Cli.h"

int main(int argc, char** argv) {
  kv::server::IgnoreBrokenPipes();
  std::vector<std::string> args(argv + 1, argv + argc);
  return kv::server::RunCli(args, std::cin, std::cout, std::cerr);
}
