#pragma once
// Texts live in memory as the CP932 (Shift-JIS) bytes that the store and
// the wire carry. These are the only conversions, used at the edges that
// need UTF-8 (widgets, file paths, process arguments).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kv::text {

// CP932 bytes to UTF-8; nullopt when the bytes are not valid CP932.
std::optional<std::string> ToUtf8(std::string_view cp932);
// As ToUtf8, but bytes that cannot be decoded become U+FFFD (for display).
std::string ToUtf8Lossy(std::string_view cp932);
// UTF-8 to CP932; nullopt when the text holds a character CP932 lacks
// or is not valid UTF-8. Never substitutes.
std::optional<std::string> FromUtf8(std::string_view utf8);
bool IsRepresentable(std::string_view utf8);
// True for a byte that starts a double-byte CP932 character.
inline bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
// The longest prefix of at most max_bytes that ends on a character boundary.
std::string CutBytes(std::string_view cp932, std::size_t max_bytes);

}  // namespace kv::text
