#pragma once
// One schedule item on the wire: int32 length n, n bytes of
// "Key=value" fields joined by 0x1E, one zero byte.
#include <cstdint>
#include <string>
#include <string_view>

#include "model/DateTime.h"
#include "model/ScheduleItem.h"
#include "sync/WireStream.h"

namespace kv {

inline constexpr char kFieldSeparator = '\x1E';
// Longest record text either side sends or accepts; the server takes its
// default from here, so the client never sends what the server refuses.
// 1 MiB is far beyond any item typed by hand, and small enough that the
// largest upload the server takes stays a few dozen of them.
inline constexpr int32_t kMaxRecordLength = 1024 * 1024;

// "YYYY/MM/DD HH:MM:SS" for a valid date, "" for null, "Invalid DateTime"
// otherwise (also for a valid date outside the years 100 to 9999).
std::string FormatWireDate(const DateTime& d);
// Accepts "Y/M/D H:M:S", "Y/M/D H:M", "Y/M/D", "H:M:S" and "H:M" (a time
// alone lies on 1899-12-30), surrounded by blanks, with one- or two-digit
// month, day, hour, minute and second. Anything else is invalid.
DateTime ParseWireDate(std::string_view text);
// The leading decimal number: blanks, an optional sign, digits; 0 when
// there are none; clamped to the int32 range.
int32_t ParseWireInt(std::string_view text);

// The record text (without length and terminator) of all 26 fields. A
// separator byte inside a text value goes out as a blank, so no text can
// add or override a field on the other side.
std::string EncodeRecordText(const ScheduleItem& item);
// Applies the fields found in text to item; fields that do not occur keep
// item's values, CellRects is never touched.
void DecodeRecordText(std::string_view text, ScheduleItem& item);

// Writes length, text and terminator, then flushes. False when the bytes
// could not be sent, or when the text is longer than kMaxRecordLength
// (nothing is written then).
bool WriteRecord(OutStream& out, const ScheduleItem& item);
// The same for a text made by EncodeRecordText.
bool WriteRecordText(OutStream& out, std::string_view text);
// Reads one whole record and decodes it into item. False when the length
// is negative or above kMaxRecordLength, the stream ends early or the
// record does not end in its zero byte; item is then unchanged.
bool ReadRecord(InStream& in, ScheduleItem& item);
// As ReadRecord, and adds the text's length to *bytes.
bool ReadRecord(InStream& in, ScheduleItem& item, std::size_t* bytes);

}  // namespace kv
