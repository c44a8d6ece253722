// A writer killed at random moments, many times over: after every kill the
// file must be sound, every row whole, and every change the writer had
// seen succeed must be there.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <thread>

#include "store/ItemStore.h"
#include "tests/store/StoreTestRows.h"
#include "tests/support/TestSupport.h"

namespace kv {
namespace {

using test::MakeRow;

struct Ack {
  int32_t n;
  int32_t gen;
};

// The writer: learns the rows from the file, then inserts and rewrites
// rows until it is killed, reporting each change that returned 1.
[[noreturn]] void Writer(const std::string& path, int ack_fd, unsigned seed) {
  ItemStore store;
  if (store.OpenStore(path) != 1) ::_exit(2);
  std::vector<int> gens;  // gens[n - 1]
  ScheduleItem it;
  for (int r = store.ReadFirstItem(it); r == 1; r = store.ReadNextItem(it)) {
    int n = 0, gen = 0;
    if (!test::CheckRow(it, n, gen).empty()) ::_exit(3);
    gens.push_back(gen);
  }
  std::mt19937 rng(seed);
  while (true) {
    Ack a;
    if (gens.empty() || rng() % 3 != 0) {
      a = {static_cast<int32_t>(gens.size() + 1), 0};
      if (store.InsertItem(MakeRow(a.n, 0)) != 1) ::_exit(4);
      gens.push_back(0);
    } else {
      a.n = static_cast<int32_t>(1 + rng() % gens.size());
      a.gen = gens[a.n - 1] + 1;
      if (store.UpdateItemByIndex(MakeRow(a.n, a.gen)) != 1) ::_exit(5);
      gens[a.n - 1] = a.gen;
    }
    if (::write(ack_fd, &a, sizeof a) != sizeof a) ::_exit(6);
  }
}

std::string IntegrityCheck(const std::string& path) {
  sqlite3* db = nullptr;
  std::string r = "(cannot open)";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
    r.clear();
    sqlite3_exec(
        db, "PRAGMA integrity_check",
        [](void* out, int, char** v, char**) {
          *static_cast<std::string*>(out) += v[0] ? v[0] : "(null)";
          return 0;
        },
        &r, nullptr);
  }
  sqlite3_close(db);
  return r;
}

TEST(StoreCrash, KilledWriterNeverLeavesATornOrLostRow) {
  test::TempDir dir;
  const std::string path = dir.File("user.mdb");
  {
    ItemStore store;
    ASSERT_EQ(store.CreateStore(path), 1);
  }
  constexpr int kRounds = 40;
  std::mt19937 rng(4242);
  std::vector<int> gens;  // what the file holds after the last check
  int kills = 0, total_acks = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(fds[0]);
      Writer(path, fds[1], rng());
    }
    ::close(fds[1]);
    std::this_thread::sleep_for(std::chrono::microseconds(2000 + rng() % 60000));
    ::kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer stopped by itself with "
                                     << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    ++kills;
    // What the writer saw succeed.
    std::map<int, int> acked_gen;
    int acked_rows = static_cast<int>(gens.size());
    Ack a;
    while (::read(fds[0], &a, sizeof a) == sizeof a) {
      ++total_acks;
      acked_rows = std::max(acked_rows, static_cast<int>(a.n));
      acked_gen[a.n] = std::max(acked_gen[a.n], static_cast<int>(a.gen));
    }
    ::close(fds[0]);

    ASSERT_EQ(IntegrityCheck(path), "ok");
    ItemStore store;
    ASSERT_EQ(store.OpenStore(path), 1);
    std::vector<int> now;
    ScheduleItem it;
    for (int r = store.ReadFirstItem(it); r == 1; r = store.ReadNextItem(it)) {
      int n = 0, gen = 0;
      const std::string bad = test::CheckRow(it, n, gen);
      ASSERT_EQ(bad, "");
      // Rows are appended in order and never lost from the middle.
      ASSERT_EQ(n, static_cast<int>(now.size()) + 1);
      now.push_back(gen);
    }
    // At most the one change in flight at the kill may be beyond the acks.
    const int rows = static_cast<int>(now.size());
    ASSERT_TRUE(rows == acked_rows || rows == acked_rows + 1)
        << rows << " rows, " << acked_rows << " acknowledged";
    int unacked_updates = 0;
    for (int n = 1; n <= rows; ++n) {
      const int known = n <= static_cast<int>(gens.size()) ? gens[n - 1] : 0;
      const int acked = std::max(known, acked_gen.count(n) ? acked_gen[n] : 0);
      ASSERT_GE(now[n - 1], acked) << "row " << n << " lost an acknowledged rewrite";
      ASSERT_LE(now[n - 1], acked + 1) << "row " << n;
      unacked_updates += now[n - 1] - acked;
    }
    ASSERT_LE(unacked_updates + (rows - acked_rows), 1);
    gens = now;
  }
  std::printf("store crash test: survived %d kills, %d acknowledged changes, %zu rows\n", kills,
              total_acks, gens.size());
  ::testing::Test::RecordProperty("kills_survived", kills);
  EXPECT_EQ(kills, kRounds);
  EXPECT_GT(total_acks, kRounds) << "the writer hardly wrote anything between kills";
}

}  // namespace
}  // namespace kv
