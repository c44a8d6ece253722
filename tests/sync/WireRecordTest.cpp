#include "sync/WireRecord.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tests/support/TestSupport.h"
#include "tests/sync/RecordVectors.h"

namespace kv {
namespace {

using test::D;

// Hands out its input in slices of at most `step` bytes and records writes.
class SlicedChannel final : public ByteChannel {
 public:
  SlicedChannel(std::string in, std::size_t step) : in_(std::move(in)), step_(step) {}
  std::ptrdiff_t Read(char* buf, std::size_t max) override {
    const std::size_t n = std::min({max, step_, in_.size() - pos_});
    std::memcpy(buf, in_.data() + pos_, n);
    pos_ += n;
    return static_cast<std::ptrdiff_t>(n);
  }
  bool Write(const char* d, std::size_t n) override {
    writes.emplace_back(d, n);
    return true;
  }
  std::vector<std::string> writes;

 private:
  std::string in_;
  std::size_t step_;
  std::size_t pos_ = 0;
};

std::string Le32(int32_t v) {
  std::string s(4, '\0');
  std::memcpy(s.data(), &v, 4);
  return s;
}

TEST(RecordVectors, EncodeAndDecodeExactly) {
  std::string error;
  const auto vectors = test::LoadRecordVectors(test::RecordVectorPath(), error);
  ASSERT_TRUE(error.empty()) << error;
  ASSERT_GE(vectors.size(), 15u);
  for (const auto& v : vectors) {
    SCOPED_TRACE(v.name);
    if (v.encode) {
      MemoryChannel ch;
      OutStream out(ch);
      ASSERT_TRUE(WriteRecord(out, v.item));
      EXPECT_EQ(ch.Output(), v.bytes);
    }
    // Decoding in slices of 1, 3 and 4096 bytes gives the same result.
    for (std::size_t step : {1u, 3u, 4096u}) {
      SlicedChannel ch(v.bytes + "tail", step);
      InStream in(ch);
      ScheduleItem got = v.item;
      ASSERT_TRUE(ReadRecord(in, got));
      EXPECT_EQ(test::DescribeDifferences(v.expected, got), "") << "step " << step;
      char rest[4];
      ASSERT_TRUE(in.ReadBytes(rest, 4));  // the record consumed exactly its bytes
      EXPECT_EQ(std::string(rest, 4), "tail");
    }
  }
}

TEST(WireDate, TextFormRoundTripsAcrossTheYearRange) {
  std::mt19937_64 rng(7);
  const int64_t lo = DateTime::FromParts(100, 1, 1).LinearSeconds();
  const int64_t hi = DateTime::FromParts(9999, 12, 31, 23, 59, 59).LinearSeconds();
  std::uniform_int_distribution<int64_t> pick(lo, hi);
  for (int i = 0; i < 20000; ++i) {
    const DateTime d = DateTime::FromLinearSeconds(pick(rng));
    const std::string text = FormatWireDate(d);
    ASSERT_EQ(text.size(), 19u) << text;
    const DateTime back = ParseWireDate(text);
    ASSERT_TRUE(back == d) << text << " -> " << back.ToString();
  }
  EXPECT_EQ(FormatWireDate(D(2004, 8, 15)), "2004/08/15 00:00:00");
  EXPECT_EQ(FormatWireDate(DateTime::Null()), "");
  EXPECT_EQ(FormatWireDate(DateTime::Invalid()), "Invalid DateTime");
  EXPECT_EQ(FormatWireDate(DateTime::FromParts(100, 1, 1).AddDays(-1)), "Invalid DateTime");
}

TEST(WireDate, ShortFormsAndRejects) {
  struct Row {
    const char* name;
    const char* text;
    DateTime want;
  } rows[] = {
      {"date alone", "2004/8/15", D(2004, 8, 15)},
      {"time alone lies on the zero day", "10:00:00", D(1899, 12, 30, 10)},
      {"single-digit hour", "2004/08/15 9:05:07", D(2004, 8, 15, 9, 5, 7)},
      {"minutes without seconds", "2004/08/15 23:59", D(2004, 8, 15, 23, 59)},
      {"leap day", "2004/02/29 00:00:00", D(2004, 2, 29)},
      {"blanks around", "  2004/02/29 01:02:03\t", D(2004, 2, 29, 1, 2, 3)},
      {"century non-leap day", "1900/02/29", DateTime::Invalid()},
      {"thirty-first of April", "2004/04/31", DateTime::Invalid()},
      {"hour 24", "2004/01/01 24:00:00", DateTime::Invalid()},
      {"minute 60", "2004/01/01 10:60", DateTime::Invalid()},
      {"trailing junk", "2004/01/01 10:00:00x", DateTime::Invalid()},
      {"no blank before time", "2004/01/0110:00", DateTime::Invalid()},
      {"two-digit year", "04/01/01", DateTime::Invalid()},
      {"empty", "", DateTime::Invalid()},
      {"invalid marker", "Invalid DateTime", DateTime::Invalid()},
      {"three-digit minute", "2004/01/01 10:000", DateTime::Invalid()},
  };
  for (const Row& r : rows) {
    const DateTime got = ParseWireDate(r.text);
    EXPECT_TRUE(got == r.want || (!r.want.IsValid() && got.GetStatus() == DateTime::invalid))
        << r.name << ": " << got.ToString();
  }
}

TEST(WireRecord, RandomItemsRoundTripOverAnyPreviousItem) {
  std::mt19937 rng(11);
  auto text = [&](int max) {
    std::string s(rng() % max, '\0');
    for (char& c : s) {
      c = static_cast<char>(rng() % 256);
      if (c == kFieldSeparator) c = 'x';
    }
    return s;
  };
  auto date = [&]() {
    if (rng() % 10 == 0) return DateTime::Invalid();
    return DateTime::FromLinearSeconds(static_cast<int64_t>(rng() % 4000000000u));
  };
  auto num = [&]() { return static_cast<int32_t>(rng()); };
  for (int i = 0; i < 2000; ++i) {
    ScheduleItem it;
    it.Index = date(), it.Updated = date(), it.Start = date(), it.End = date();
    it.RepStart = date(), it.RepEnd = date(), it.AlarmTime = date();
    it.Subject = text(40), it.Place = text(5), it.Execute = text(5), it.Desc = text(300);
    it.Attr1 = text(3), it.Attr2 = text(3), it.Attr3 = text(3), it.Attr4 = text(3), it.Attr5 = text(3);
    it.Private = num(), it.Color = static_cast<uint32_t>(num()), it.UserID = num(), it.Type = num();
    it.Alarm = num(), it.RepType = num(), it.RepX = num(), it.RepY = num(), it.RepZ = num();
    it.SyncFlag = num();
    MemoryChannel out_ch;
    OutStream out(out_ch);
    ASSERT_TRUE(WriteRecord(out, it));
    MemoryChannel in_ch(out_ch.Output());
    InStream in(in_ch);
    ScheduleItem got = test::VectorBaseItem();
    got.Subject = "previous";
    got.CellRects[3] = CellRect{1, 2, 3, 4};
    ASSERT_TRUE(ReadRecord(in, got));
    ASSERT_EQ(test::DescribeDifferences(it, got), "") << "item " << i;
    EXPECT_EQ(got.CellRects[3], (CellRect{1, 2, 3, 4}));
  }
}

TEST(WireRecord, BadFramingFailsAndLeavesTheItemAlone) {
  ScheduleItem sample;
  sample.Subject = "s";
  sample.SyncFlag = 3;
  MemoryChannel enc;
  OutStream out(enc);
  ASSERT_TRUE(WriteRecord(out, sample));
  const std::string whole = enc.Output();

  ScheduleItem before;
  before.Subject = "unchanged";
  before.SyncFlag = 1;
  auto read = [&](const std::string& bytes) {
    MemoryChannel ch(bytes);
    InStream in(ch);
    ScheduleItem it = before;
    const bool ok = ReadRecord(in, it);
    EXPECT_EQ(test::DescribeDifferences(before, it), "");
    return ok;
  };
  for (std::size_t cut = 0; cut < whole.size(); ++cut)
    EXPECT_FALSE(read(whole.substr(0, cut))) << "cut at " << cut;
  EXPECT_FALSE(read(Le32(-1) + "abc"));
  EXPECT_FALSE(read(Le32(INT32_MIN)));
  EXPECT_FALSE(read(Le32(kMaxRecordLength + 1) + std::string(64, 'a')));
  // A length at the bound but with the bytes missing fails without waiting for them.
  EXPECT_FALSE(read(Le32(kMaxRecordLength) + "Subject=x"));
  // Zero length: an empty text and its terminator.
  EXPECT_TRUE(read(Le32(0) + std::string(1, '\0')));
}

TEST(WireStreams, PrimitivesBuffersAndLines) {
  // int32 and date bytes.
  SlicedChannel ch("", 1);
  OutStream out(ch);
  out.WriteInt32(-2);
  out.WriteDate(D(2004, 8, 15, 12));
  out.WriteDate(DateTime::Null());
  out.WriteLine("ab");
  EXPECT_TRUE(ch.writes.empty());  // nothing leaves before the flush
  ASSERT_TRUE(out.Flush());
  ASSERT_EQ(ch.writes.size(), 1u);
  const double ole = 38214.5;
  std::string want = Le32(-2);
  want.append(reinterpret_cast<const char*>(&ole), 8);
  want += Le32(0);
  want += std::string(8, '\0') + Le32(2);
  want += "ab\r\n";
  EXPECT_EQ(ch.writes[0], want);

  // A full buffer leaves at once in 4096-byte pieces.
  SlicedChannel big("", 1);
  OutStream bout(big);
  bout.WriteBytes(std::string(10000, 'z').data(), 10000);
  EXPECT_EQ(big.writes.size(), 2u);
  ASSERT_TRUE(bout.Flush());
  ASSERT_EQ(big.writes.size(), 3u);
  EXPECT_EQ(big.writes[0].size(), 4096u);
  EXPECT_EQ(big.writes[2].size(), 10000u - 8192u);

  // Reading back in one-byte slices.
  SlicedChannel back(want + "x\ny\r\r\nlast", 1);
  InStream in(back);
  int32_t v;
  DateTime d1, d2;
  std::string l1, l2, l3, l4;
  ASSERT_TRUE(in.ReadInt32(v) && in.ReadDate(d1) && in.ReadDate(d2));
  EXPECT_EQ(v, -2);
  EXPECT_TRUE(d1 == D(2004, 8, 15, 12));
  EXPECT_EQ(d2.GetStatus(), DateTime::null);
  ASSERT_TRUE(in.ReadLine(l1) && in.ReadLine(l2) && in.ReadLine(l3));
  EXPECT_EQ(l1, "ab");
  EXPECT_EQ(l2, "x");
  EXPECT_EQ(l3, "y\r");  // only the CR right before LF goes
  EXPECT_FALSE(in.ReadLine(l4));  // no LF before the end
  EXPECT_TRUE(in.Failed());
}

TEST(WireStreams, OverlongLineAndOddDatesFail) {
  MemoryChannel ch(std::string(kMaxLineLength + 1, 'a') + "\n");
  InStream in(ch);
  std::string line = "kept";
  EXPECT_FALSE(in.ReadLine(line));
  EXPECT_EQ(line, "kept");

  char b[12];
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::memcpy(b, &nan, 8);
  std::memcpy(b + 8, Le32(0).data(), 4);
  EXPECT_EQ(DecodeWireDate(b).GetStatus(), DateTime::invalid);
  const double far = 1e300;
  std::memcpy(b, &far, 8);
  EXPECT_EQ(DecodeWireDate(b).GetStatus(), DateTime::invalid);
  std::memcpy(b + 8, Le32(7).data(), 4);
  EXPECT_EQ(DecodeWireDate(b).GetStatus(), DateTime::invalid);
}

}  // namespace
}  // namespace kv
