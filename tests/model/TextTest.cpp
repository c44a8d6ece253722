#include <gtest/gtest.h>

#include <random>

#include "model/Text.h"
#include "tests/support/TestSupport.h"

using namespace kv;
using kv::test::J;

namespace {

TEST(TextTest, RoundTripsJapanese) {
  const std::string utf8 = "非公開※ 会議室Ａ ｶﾅ ①";
  auto sj = text::FromUtf8(utf8);
  ASSERT_TRUE(sj);
  // 非 is 0x94 0xF1 in CP932; half-width katakana are single bytes.
  EXPECT_EQ(static_cast<unsigned char>((*sj)[0]), 0x94);
  EXPECT_EQ(static_cast<unsigned char>((*sj)[1]), 0xF1);
  auto back = text::ToUtf8(*sj);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, utf8);
  EXPECT_EQ(text::ToUtf8(""), std::optional<std::string>(""));
}

TEST(TextTest, RefusesWhatCp932Lacks) {
  EXPECT_FALSE(text::IsRepresentable("emoji \xF0\x9F\x98\x80"));
  EXPECT_FALSE(text::IsRepresentable("\xE4\xB8\x82"));  // 丂, not in CP932
  EXPECT_FALSE(text::IsRepresentable("bad \xC3"));       // truncated UTF-8
  EXPECT_TRUE(text::IsRepresentable("abc 予定"));
  EXPECT_FALSE(text::FromUtf8("x\xF0\x9F\x98\x80y").has_value());
}

TEST(TextTest, BadCp932IsRefusedOrReplaced) {
  const std::string lone_lead = "ab\x82";
  EXPECT_FALSE(text::ToUtf8(lone_lead).has_value());
  EXPECT_EQ(text::ToUtf8Lossy(lone_lead), "ab\xEF\xBF\xBD");
  EXPECT_EQ(text::ToUtf8Lossy(J("予定") + "\xFF" + J("表")), "予定\xEF\xBF\xBD表");
}

// Property: a cut never exceeds the limit, never splits a character,
// and is the longest such prefix.
TEST(TextTest, CutNeverSplitsACharacter) {
  std::mt19937 rng(7);
  const std::vector<std::string> pieces = {"a", "Z", " ", J("予"), J("定"), J("ｱ"), J("※"),
                                           J("①"), "\n"};
  for (int round = 0; round < 2000; ++round) {
    std::string s;
    std::vector<size_t> bounds{0};
    const int n = rng() % 20;
    for (int i = 0; i < n; ++i) {
      s += pieces[rng() % pieces.size()];
      bounds.push_back(s.size());
    }
    const size_t limit = rng() % (s.size() + 3);
    const std::string cut = text::CutBytes(s, limit);
    ASSERT_LE(cut.size(), limit);
    size_t best = 0;
    for (size_t b : bounds)
      if (b <= limit) best = b;
    ASSERT_EQ(cut.size(), best) << "limit " << limit;
    ASSERT_EQ(s.compare(0, cut.size(), cut), 0);
    ASSERT_TRUE(text::ToUtf8(cut).has_value());
  }
}

}  // namespace
