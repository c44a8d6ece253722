// Download-and-merge speed: a loopback server sends N new records to a
// synchronisation into an empty store. Prints name: value lines.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "model/Clock.h"
#include "store/ItemStore.h"
#include "sync/SyncClient.h"

namespace {

std::string Frame(const std::string& text) {
  const int32_t n = static_cast<int32_t>(text.size());
  return std::string(reinterpret_cast<const char*>(&n), 4) + text + std::string(1, '\0');
}

// Serves one download connection with n records, then one upload.
void Serve(int listen_fd, int n) {
  std::string answer;
  char date[12];
  kv::EncodeWireDate(kv::Now(), date);
  const int32_t zero = 0;
  const std::string sign_in_answer = std::string(reinterpret_cast<const char*>(&zero), 4) + std::string(date, 12);
  for (int i = 0; i < n; ++i) {
    kv::ScheduleItem it;
    it.Index = kv::DateTime::FromParts(2004, 1, 1).AddSeconds(i);
    it.Updated = it.Index;
    it.Subject = "item " + std::to_string(i);
    it.SyncFlag = kv::SyncClean;
    answer += Frame(kv::EncodeRecordText(it));
  }
  kv::ScheduleItem end;
  end.SyncFlag = kv::SyncEndOfList;
  answer += Frame(kv::EncodeRecordText(end));
  for (int conn = 0; conn < 2; ++conn) {
    const int fd = ::accept(listen_fd, nullptr, nullptr);
    char buf[65536];
    ::recv(fd, buf, sizeof buf, 0);  // sign-in lines
    ::send(fd, sign_in_answer.data(), sign_in_answer.size(), MSG_NOSIGNAL);
    if (conn == 0) {
      std::size_t got = 0;
      while (got < 16) got += std::max<ssize_t>(0, ::recv(fd, buf, sizeof buf, 0));
      ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    }
    while (::recv(fd, buf, sizeof buf, 0) > 0) {}
    ::close(fd);
  }
}

double RunOnce(int n) {
  const int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(lfd, 4);
  socklen_t len = sizeof a;
  ::getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &len);
  std::thread server(Serve, lfd, n);

  const std::string dir = std::filesystem::temp_directory_path() / ("kv-sync-bench-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  kv::ItemStore store;
  store.CreateStore(dir + "/u.db");
  kv::ConnectionState st;
  st.UserName = "bench";
  st.ServerName = "127.0.0.1";
  st.ServerPort = ntohs(a.sin_port);
  st.Password = "pw";
  kv::SyncClient client(st, nullptr);
  const auto t0 = std::chrono::steady_clock::now();
  const int r = client.Synchronize(store, [] {});
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  server.join();
  ::close(lfd);
  int count = 0;
  kv::ScheduleItem it;
  for (int ok = store.ReadFirstItem(it); ok; ok = store.ReadNextItem(it)) ++count;
  store.CloseStore();
  std::filesystem::remove_all(dir);
  if (r != 1 || count != n) std::fprintf(stderr, "run of %d stored %d (result %d)\n", n, count, r);
  return s;
}

}  // namespace

int main() {
  const double small = RunOnce(2000);
  const double large = RunOnce(20000);
  std::printf("download_2000_s: %.3f\n", small);
  std::printf("download_20000_s: %.3f\n", large);
  std::printf("sync_download_growth: %.2f\n", large / small);
  std::printf("sync_records_per_s: %.0f\n", 20000.0 / large);
  return 0;
}
