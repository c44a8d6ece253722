// The alarm program's command line, against what the client sends and
// against nonsense.
#include "alarm/AlarmArgs.h"

#include <gtest/gtest.h>

#include "app/shell/AlarmDispatcher.h"
#include "model/Text.h"
#include "tests/support/TestSupport.h"

namespace kv::alarm {
namespace {

using Args = std::vector<std::string>;

TEST(AlarmArgs, ReadsEveryListTheClientCanSend) {
  // Differential: the dispatcher's own argument lists parse back to the item.
  for (int mask = 0; mask < 4; ++mask) {
    ScheduleItem it;
    it.Subject = test::J("-S で始まる 件名");
    it.Start = test::D(2004, 3, 1, 10, 0, 0);
    it.End = test::D(2004, 3, 1, 11, 30, 0);
    if (mask & 1) it.Place = test::J("-D");
    if (mask & 2) it.Desc = test::J("一行目\n二行目 -P");
    Args argv = shell::ToProcessArguments(shell::AlarmArguments(it));
    argv.erase(argv.begin());  // the program name
    const ParsedArgs p = ParseAlarmArgs(argv);
    SCOPED_TRACE(mask);
    ASSERT_TRUE(p.request) << p.error;
    EXPECT_EQ(p.request->subject, "-S で始まる 件名");
    EXPECT_EQ(p.request->span, "2004/03/01 10:00:00 - 2004/03/01 11:30:00");
    EXPECT_EQ(p.request->place, mask & 1 ? std::optional<std::string>("-D") : std::nullopt);
    EXPECT_EQ(p.request->desc,
              mask & 2 ? std::optional<std::string>("一行目\n二行目 -P") : std::nullopt);
  }
}

TEST(AlarmArgs, QuotesOfOlderCallersAreNotPartOfTheSpan) {
  const ParsedArgs p = ParseAlarmArgs({"-S", "s", "-T", "\"2004/03/01 10:00:00 - x\""});
  ASSERT_TRUE(p.request);
  EXPECT_EQ(p.request->span, "2004/03/01 10:00:00 - x");
  EXPECT_EQ(ParseAlarmArgs({"-S", "s", "-T", "\""}).request->span, "\"");
}

TEST(AlarmArgs, NonsenseIsRefusedWithAReason) {
  const std::vector<Args> bad = {
      {},
      {"-S"},
      {"-S", "s"},
      {"-T", "t", "-S", "s"},
      {"-S", "s", "-P", "p", "-T", "t"},
      {"-S", "s", "-T", "t", "-D", "d", "-P", "p"},
      {"-S", "s", "-T", "t", "-P"},
      {"-S", "s", "-T", "t", "-P", "p", "-P", "q"},
      {"-S", "s", "-T", "t", "extra"},
      {"-S", "s", "-T", "t", "-X", "x"},
      {"--help", "-S", "s"},
      {"-S", std::string(kMaxArgumentBytes + 1, 'a'), "-T", "t"},
  };
  for (const Args& a : bad) {
    const ParsedArgs p = ParseAlarmArgs(a);
    std::string joined;
    for (const auto& s : a) joined += "[" + s.substr(0, 20) + "]";
    SCOPED_TRACE(joined);
    EXPECT_FALSE(p.request);
    EXPECT_FALSE(p.help);
    EXPECT_FALSE(p.error.empty());
  }
  EXPECT_TRUE(ParseAlarmArgs({"--help"}).help);
  EXPECT_TRUE(ParseAlarmArgs({"-S", std::string(kMaxArgumentBytes, 'a'), "-T", "t"}).request);
}

}  // namespace
}  // namespace kv::alarm
