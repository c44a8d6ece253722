// A second process for the store tests, so that what is tested is the
// operating system's lock between processes and a creation really cut off.
//   store_probe open PATH    prints "open" or "failed N" (N the failure
//                            kind); an open store is held until stdin ends
//   store_probe create PATH  prints "go", then creates the store
//   store_probe insert PATH  opens, adds one row and ends without closing,
//                            as a crash would
#include <unistd.h>

#include <cstdio>
#include <string>

#include "store/ItemStore.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string cmd = argv[1], path = argv[2];
  kv::ItemStore store;
  if (cmd == "open") {
    if (!store.OpenStore(path)) {
      std::printf("failed %d\n", static_cast<int>(store.LastFailure()));
      std::fflush(stdout);
      return 1;
    }
    std::printf("open\n");
    std::fflush(stdout);
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    store.CloseStore();
    return 0;
  }
  if (cmd == "create") {
    std::printf("go\n");
    std::fflush(stdout);
    return store.CreateStore(path) ? 0 : 1;
  }
  if (cmd == "insert") {
    if (!store.OpenStore(path)) return 1;
    kv::ScheduleItem it;
    it.Index = kv::DateTime::FromParts(2004, 8, 15, 10, 0, 0);
    it.Subject = "left in the log";
    it.SyncFlag = kv::SyncPending;
    if (!store.InsertItem(it)) return 1;
    ::_exit(0);
  }
  return 2;
}
