#pragma once
// Reader of vectors/records.txt, the byte-exact record vectors shared by
// the client and the server tests (format described in that file).
#include <string>
#include <utility>
#include <vector>

#include "model/ScheduleItem.h"

namespace kv::test {

struct RecordVector {
  std::string name;
  bool encode = false;      // kind encode: the item must encode to bytes exactly
  ScheduleItem item;        // the item (before decoding)
  std::string bytes;        // the whole record
  ScheduleItem expected;    // item after decoding bytes over it
  std::vector<std::string> expected_keys;  // the keys named by expect lines
};

// The item every vector starts from: integers 0, texts empty, zero dates.
ScheduleItem VectorBaseItem();
// Sets the field named key from its vector-file value; false for an unknown
// key or a malformed value.
bool SetVectorField(ScheduleItem& item, const std::string& key, const std::string& value);
// Parses the file; on a syntax error returns an empty list and sets error.
std::vector<RecordVector> LoadRecordVectors(const std::string& path, std::string& error);
// The path of the shared file (compiled in).
std::string RecordVectorPath();
// Field-by-field comparison (CellRects excluded); empty when equal.
std::string DescribeDifferences(const ScheduleItem& want, const ScheduleItem& got);

}  // namespace kv::test
