#pragma once
// Helpers shared by the store tests: items whose every column derives from
// a row number and a generation (so a torn row is detectable), a printable
// form of items for comparisons, and raw access to a closed store file.
#include <sqlite3.h>

#include <string>
#include <vector>

#include "model/ScheduleItem.h"
#include "store/ItemStore.h"

namespace kv::test {

// Row `n` (1..) after `gen` rewrites. Index is unique per n.
ScheduleItem MakeRow(int n, int gen);
// Empty when `it` is exactly MakeRow(n, gen) for the n and gen it names;
// otherwise what is wrong.
std::string CheckRow(const ScheduleItem& it, int& n, int& gen);

// Every stored field, for comparisons that print usefully.
std::string Describe(const ScheduleItem& it);
// All rows of the item table in table order, described.
std::vector<std::string> AllRows(ItemStore& store);
// Items, settings and user list in one text.
std::string Snapshot(ItemStore& store);

// Another process (the store_probe helper) with pipes to its standard
// input and output.
struct Probe {
  int pid = -1;
  int to = -1;    // its standard input
  int from = -1;  // its standard output
  // The next line it prints; "" when it ends or stays silent for 10 s.
  std::string ReadLine();
  void CloseInput();
  // The exit status, or 128 plus the signal that ended it.
  int Wait();
};
Probe SpawnProbe(const std::string& program, const std::string& command, const std::string& path);

// Appends `rows` clean rows to the closed store at `path` in one go: Index
// first_index plus 1, 2, ... seconds, Subject "row N", a random Desc of
// desc_bytes. Enough of them outgrow the store's page cache, so that
// reading them goes to the file.
bool AddBulkRows(const std::string& path, const DateTime& first_index, int rows, int desc_bytes,
                 std::string* error = nullptr);

// Runs SQL on a store file that is not open; false with a message on error.
bool RawExec(const std::string& path, const std::string& sql, std::string* error = nullptr);
// First column of the first row as text ("(null)" for Null, "type:" prefix).
std::string RawValue(const std::string& path, const std::string& sql);

}  // namespace kv::test
