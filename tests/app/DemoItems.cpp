#include "tests/app/DemoItems.h"

#include <random>

#include "model/Text.h"
#include "store/ItemStore.h"

namespace kv::test {

namespace {

std::string C(const char* utf8) { return text::FromUtf8(utf8).value_or("?"); }

// Item colours are stored 0x00BBGGRR.
constexpr uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }
constexpr uint32_t kBlack = Rgb(0, 0, 0), kRed = Rgb(0xC0, 0, 0), kGreen = Rgb(0, 0x80, 0),
                   kBlue = Rgb(0, 0, 0xC0), kBrown = Rgb(0x80, 0x50, 0), kPurple = Rgb(0x80, 0, 0x80);
constexpr uint32_t kColours[] = {kBlack, kRed, kGreen, kBlue, kBrown, kPurple};

ScheduleItem Item(const char* subject, DateTime start, DateTime end, uint32_t colour) {
  ScheduleItem it;
  it.SyncFlag = SyncClean;
  it.Subject = C(subject);
  it.Start = start;
  it.End = end;
  it.Color = colour;
  it.Updated = start;
  return it;
}

}  // namespace

std::vector<ScheduleItem> DemoItems(const DateTime& today) {
  const DateTime d = today.DateOnly();
  auto at = [&](int day_offset, int h, int m) { return d.AddDays(day_offset).AddSeconds(h * 3600 + m * 60); };
  std::vector<ScheduleItem> v;
  v.push_back(Item("企画会議", at(0, 10, 0), at(0, 12, 0), kRed));
  v.push_back(Item("昼食 (田中さん)", at(0, 12, 0), at(0, 13, 0), kGreen));
  v.push_back(Item("見積書の確認", at(0, 11, 0), at(0, 11, 30), kBlue));
  v.push_back(Item("歯医者", at(1, 17, 30), at(1, 18, 30), kPurple));
  v.push_back(Item("顧客訪問", at(2, 14, 0), at(2, 16, 0), kRed));
  v.push_back(Item("研修会", at(-3, 9, 30), at(-3, 17, 0), kBrown));
  v.push_back(Item("資料作成", at(-1, 13, 0), at(-1, 15, 30), kBlue));
  {
    ScheduleItem trip = Item("大阪出張", at(5, 0, 0), at(7, 23, 59), kGreen);
    trip.Type = 1;
    trip.Place = C("大阪支社");
    v.push_back(trip);
  }
  {
    ScheduleItem off = Item("有給休暇", at(-8, 0, 0), at(-8, 23, 59), kPurple);
    off.Type = 1;
    v.push_back(off);
  }
  {
    // Every week on Monday and Thursday, 09:00-09:30.
    ScheduleItem w = Item("朝会", at(-60, 9, 0), at(-60, 9, 30), kBlue);
    w.RepType = 2;
    w.RepX = 1;
    w.RepY = 2 | 16;
    w.RepStart = d.AddDays(-60);
    w.RepEnd = d.AddDays(365).AddSeconds(23 * 3600 + 59 * 60);
    v.push_back(w);
  }
  {
    // The 25th of every month, all day.
    ScheduleItem m = Item("月次報告の締切", at(-90, 0, 0), at(-90, 23, 59), kRed);
    m.Type = 1;
    m.RepType = 3;
    m.RepX = 1;
    m.RepY = 25;
    m.RepStart = d.AddDays(-90);
    m.RepEnd = d.AddDays(730).AddSeconds(23 * 3600 + 59 * 60);
    v.push_back(m);
  }
  {
    ScheduleItem b = Item("母の誕生日", at(3, 0, 0), at(3, 23, 59), kBrown);
    b.Type = 1;
    b.RepType = 5;
    b.RepX = d.AddDays(3).Month();
    b.RepY = d.AddDays(3).Day();
    b.RepStart = d.AddDays(-3650);
    b.RepEnd = d.AddDays(3650);
    v.push_back(b);
  }
  // A busy day further on, to show a full cell.
  const char* busy[] = {"打ち合わせ", "電話会議", "来客", "報告書提出", "部内会議", "面談", "移動"};
  int h = 9;
  for (const char* s : busy) {
    v.push_back(Item(s, at(9, h, 0), at(9, h, 50), kColours[h % 6]));
    ++h;
  }
  for (size_t i = 0; i < v.size(); ++i) v[i].Index = DateTime::FromParts(2004, 1, 1).AddSeconds(static_cast<int64_t>(i));
  return v;
}

std::vector<ScheduleItem> BenchItems(int n, int repeating, const DateTime& around, uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<ScheduleItem> v;
  v.reserve(static_cast<size_t>(n));
  const DateTime base = around.DateOnly();
  for (int i = 0; i < n; ++i) {
    ScheduleItem it;
    it.SyncFlag = SyncClean;
    it.Subject = "item " + std::to_string(i);
    it.Index = DateTime::FromParts(2000, 1, 1).AddSeconds(i);
    it.Color = kColours[i % 6];
    it.Type = pick(0, 9) == 0 ? 1 : 0;
    if (i < repeating) {
      it.RepType = 1 + i % 6;
      it.RepX = it.RepType >= 5 ? pick(1, 12) : pick(1, 3);
      it.RepY = it.RepType == 2 ? pick(1, 127) : pick(1, 28);
      if (it.RepType == 4 || it.RepType == 6) it.RepY = pick(1, 5);
      it.RepZ = it.RepType == 4 || it.RepType == 6 ? pick(1, 10) : 0;
      it.RepStart = base.AddDays(-pick(0, 3650));
      it.RepEnd = base.AddDays(pick(30, 3650)).AddSeconds(23 * 3600 + 59 * 60);
      it.Start = it.RepStart.AddSeconds(3600 * pick(8, 18));
    } else {
      it.Start = base.AddDays(pick(-270, 270)).AddSeconds(1800 * pick(16, 40));
    }
    it.End = it.Start.AddSeconds(1800 * pick(1, 6));
    it.Updated = it.Index;
    v.push_back(std::move(it));
  }
  return v;
}

bool WriteStore(const std::string& path, const std::vector<ScheduleItem>& items) {
  ItemStore store;
  if (!store.CreateStore(path)) return false;
  for (const auto& it : items)
    if (!store.InsertItem(it)) return false;
  store.CloseStore();
  return true;
}

}  // namespace kv::test
