#pragma once
// The seal of a store file: its length and a digest of every byte,
// written beside it when the store closes cleanly. A file that still
// matches its seal at the next opening holds exactly the bytes that were
// closed, so the full structure check can be left out; any other file
// (changed, cut, damaged, never sealed, or with a log beside it that
// still holds changes) is checked in full.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace kv::store_detail {

// The side file of the store at `store_path`.
std::string SealPath(const std::string& store_path);

// Reads up to n bytes at offset `at` of the store file: the count read,
// 0 at its end, -1 on an error.
using ReadAt = std::function<int64_t(char* buf, size_t n, int64_t at)>;

// The seal text for a file of `size` bytes read through `read`, or for
// the file at `file`; nullopt when it cannot be read whole.
std::optional<std::string> SealOf(int64_t size, const ReadAt& read);
std::optional<std::string> SealOf(const std::string& file);

// The seal beside the store matches the file of `size` bytes that `read`
// reads, and no journal or log with content lies beside it.
bool IsSealed(const std::string& store_path, int64_t size, const ReadAt& read);

// Writes the seal for the file as it is now (private, replaced whole);
// false when it cannot.
bool WriteSeal(const std::string& store_path);

void RemoveSeal(const std::string& store_path);

}  // namespace kv::store_detail
