#include "tests/support/TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "model/Text.h"

namespace kv::test {

std::string J(std::string_view utf8) {
  auto r = text::FromUtf8(utf8);
  if (!r) {
    std::fprintf(stderr, "test literal has no CP932 form: %.*s\n", static_cast<int>(utf8.size()),
                 utf8.data());
    std::abort();
  }
  return *r;
}

ScopedClock::ScopedClock(DateTime now) : clock_(std::make_shared<FixedClock>(now)) {
  Clock::SetInstance(clock_);
}
ScopedClock::~ScopedClock() { Clock::SetInstance(nullptr); }

ScheduleItem MakeRule(int type, int x, int y, int z, DateTime rep_start, DateTime rep_end,
                      DateTime start, DateTime end) {
  ScheduleItem it;
  it.SyncFlag = SyncClean;
  it.RepType = type;
  it.RepX = x;
  it.RepY = y;
  it.RepZ = z;
  it.RepStart = rep_start;
  it.RepEnd = rep_end;
  it.Start = start;
  it.End = end;
  return it;
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "kvtest-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) std::abort();
  path_ = tmpl;
}
TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace kv::test
