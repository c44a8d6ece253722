#include "sync/WireRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "model/Text.h"

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
    ASSERT_TRUE(ReadRecord(in, got));
    ASSERT_EQ(test::DescribeDifferences(it, got), "") << "item " << i;
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

namespace kv {
namespace {

// Writes the record and reads it back over a blank item.
bool RoundTrip(const ScheduleItem& it, ScheduleItem& got) {
  MemoryChannel out_ch;
  OutStream out(out_ch);
  if (!WriteRecord(out, it)) return false;
  MemoryChannel in_ch(out_ch.Output());
  InStream in(in_ch);
  return ReadRecord(in, got);
}

std::string Frame(const std::string& text, int32_t length, char terminator = '\0') {
  std::string s(4, '\0');
  std::memcpy(s.data(), &length, 4);
  return s + text + terminator;
}

// A length that does not match the text leaves a field byte where the zero
// byte belongs: such a record is refused whole, so a deletion cut short can
// never arrive as a live item with the previous record's flag.
TEST(WireRecord, RecordIsCheckedWhole) {
  ScheduleItem deleted;
  deleted.Index = test::D(2004, 8, 1, 9);
  deleted.SyncFlag = SyncDeleted;
  const std::string text = EncodeRecordText(deleted);
  ScheduleItem before;
  before.SyncFlag = SyncClean;
  before.Subject = "previous";
  for (int32_t cut : {1, 2, 11, 12}) {
    SCOPED_TRACE(cut);
    const int32_t n = static_cast<int32_t>(text.size()) - cut;
    MemoryChannel ch(Frame(text, n));
    InStream in(ch);
    ScheduleItem it = before;
    EXPECT_FALSE(ReadRecord(in, it));
    EXPECT_EQ(test::DescribeDifferences(before, it), "");
  }
  MemoryChannel ch(Frame(text, static_cast<int32_t>(text.size()), 'x'));
  InStream in(ch);
  ScheduleItem it = before;
  EXPECT_FALSE(ReadRecord(in, it));
  EXPECT_EQ(it.SyncFlag, SyncClean);
}

// No text can add or override a field on the other side: a separator byte
// inside a value goes out as a blank.
TEST(WireRecord, TextValuesCannotInjectFields) {
  ScheduleItem it;
  it.Index = test::D(2004, 8, 1, 9);
  it.Updated = test::D(2004, 8, 10, 12);
  it.Start = test::D(2004, 8, 16, 10);
  it.SyncFlag = SyncClean;
  it.Desc = "note\x1EIndex=1999/01/01 00:00:00\x1ESyncFlag=4";
  it.Attr5 = "\x1EUpdated=2030/01/01 00:00:00\x1E";
  it.Subject = "\x1E\x1E";
  const std::string text = EncodeRecordText(it);
  EXPECT_EQ(std::count(text.begin(), text.end(), kFieldSeparator), 25);
  ScheduleItem got;
  DecodeRecordText(text, got);
  EXPECT_TRUE(got.Index == it.Index);
  EXPECT_TRUE(got.Updated == it.Updated);
  EXPECT_EQ(got.SyncFlag, SyncClean);
  EXPECT_EQ(got.Desc, "note Index=1999/01/01 00:00:00 SyncFlag=4");
  EXPECT_EQ(got.Attr5, " Updated=2030/01/01 00:00:00 ");
  EXPECT_EQ(got.Subject, "  ");
}

// CP932 never puts the separator, '=' or a zero byte inside a double-byte
// character, so Japanese text passes through the record unchanged: every
// double-byte character, checked with the converter itself.
TEST(WireRecord, EveryDoubleByteCharacterPassesUnchanged) {
  std::string all;
  int characters = 0;
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (!text::IsLeadByte(static_cast<unsigned char>(lead))) continue;
    for (int trail = 0; trail <= 0xFF; ++trail) {
      const std::string ch{static_cast<char>(lead), static_cast<char>(trail)};
      const auto utf8 = text::ToUtf8(ch);
      // Only pairs that are one character (not a lead byte that the
      // converter maps alone followed by an ASCII byte).
      if (!utf8 || text::ToUtf8(ch.substr(0, 1)) || text::FromUtf8(*utf8) != ch) continue;
      ++characters;
      for (char b : ch) {
        ASSERT_NE(b, kFieldSeparator) << std::hex << lead << " " << trail;
        ASSERT_NE(b, '=') << std::hex << lead << " " << trail;
        ASSERT_NE(b, '\0') << std::hex << lead << " " << trail;
      }
      all += ch;
    }
  }
  EXPECT_GT(characters, 7000);
  ScheduleItem it;
  it.Subject = all;
  it.Desc = all;
  it.Attr1 = all;
  ScheduleItem got;
  ASSERT_TRUE(RoundTrip(it, got));
  EXPECT_EQ(got.Subject, all);
  EXPECT_EQ(got.Desc, all);
  EXPECT_EQ(got.Attr1, all);
}

// The writer never sends what a reader refuses: a record of exactly the
// limit goes out and comes back, one byte more is not written at all.
TEST(WireRecord, WriterKeepsToTheSharedLimit) {
  ScheduleItem it;
  it.Desc = std::string(kMaxRecordLength - EncodeRecordText(it).size(), 'd');
  ASSERT_EQ(EncodeRecordText(it).size(), static_cast<std::size_t>(kMaxRecordLength));
  ScheduleItem got;
  ASSERT_TRUE(RoundTrip(it, got));
  EXPECT_EQ(got.Desc.size(), it.Desc.size());

  it.Desc += 'd';
  MemoryChannel refused;
  OutStream out2(refused);
  EXPECT_FALSE(WriteRecord(out2, it));
  EXPECT_TRUE(out2.Flush());
  EXPECT_TRUE(refused.Output().empty());
}

}  // namespace
}  // namespace kv
