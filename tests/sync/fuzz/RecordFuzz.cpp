// Feeds arbitrary bytes to the record decoder and the answer readers the
// client uses (int32, date, line, records until the end of a list).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sync/WireRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  {
    kv::ScheduleItem it;
    kv::DecodeRecordText(bytes, it);
    // What the encoder writes must decode to itself.
    const std::string text = kv::EncodeRecordText(it);
    kv::ScheduleItem back = it;
    kv::DecodeRecordText(text, back);
    if (kv::EncodeRecordText(back) != text) __builtin_trap();
  }
  kv::MemoryChannel ch(bytes);
  kv::InStream in(ch);
  int32_t code;
  kv::DateTime d;
  std::string line;
  if (!in.ReadInt32(code) || !in.ReadDate(d) || !in.ReadLine(line)) return 0;
  kv::ScheduleItem r;
  while (kv::ReadRecord(in, r) && r.SyncFlag != kv::SyncEndOfList) {
  }
  return 0;
}
