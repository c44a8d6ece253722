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
// Longest record text accepted from the peer; a longer or negative length
// fails the transfer.
inline constexpr int32_t kMaxRecordLength = 16 * 1024 * 1024;

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

// The record text (without length and terminator) of all 26 fields.
std::string EncodeRecordText(const ScheduleItem& item);
// Applies the fields found in text to item; fields that do not occur keep
// item's values, CellRects is never touched.
void DecodeRecordText(std::string_view text, ScheduleItem& item);

// Writes length, text and terminator, then flushes. False when the bytes
// could not be sent.
bool WriteRecord(OutStream& out, const ScheduleItem& item);
// Reads one whole record and decodes it into item. False when the length
// is negative or above kMaxRecordLength or the stream ends early; item is
// then unchanged.
bool ReadRecord(InStream& in, ScheduleItem& item);

}  // namespace kv
