#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "view/Layouts.h"
#include "view/Resources.h"

namespace kv {
namespace {

std::string ResourceDir() {
  const char* d = std::getenv("KV_RESOURCE_DIR");
  return d ? d : "resources";
}

// The pixel rows of an XPM image with one character per pixel.
std::vector<std::string> ReadXpm(const std::string& file, int& colours) {
  std::ifstream in(ResourceDir() + "/" + file);
  std::vector<std::string> quoted;
  std::string line;
  while (std::getline(in, line)) {
    const auto a = line.find('"'), b = line.rfind('"');
    if (a != std::string::npos && b > a) quoted.push_back(line.substr(a + 1, b - a - 1));
  }
  if (quoted.empty()) return {};
  int w = 0, h = 0, cpp = 0;
  std::istringstream(quoted[0]) >> w >> h >> colours >> cpp;
  if (w != 16 || h != 16 || cpp != 1 || static_cast<int>(quoted.size()) != 1 + colours + h) return {};
  return {quoted.begin() + 1 + colours, quoted.end()};
}

// Width of the dark run in each row, checking it is one centred run.
std::vector<int> DarkWidths(const std::vector<std::string>& rows) {
  std::vector<int> out;
  for (const auto& r : rows) {
    const auto a = r.find('d'), b = r.rfind('d');
    if (a == std::string::npos) {
      out.push_back(0);
      continue;
    }
    EXPECT_EQ(r.substr(a, b - a + 1).find_first_not_of('d'), std::string::npos) << r;
    EXPECT_EQ(a + b, 15u) << "not centred: " << r;
    out.push_back(static_cast<int>(b - a + 1));
  }
  return out;
}

TEST(Resources, ArrowBitmapsHaveTheDescribedTriangles) {
  ASSERT_STREQ(BitmapResourceFile(kUpArrowBitmap), "arrow_up.xpm");
  ASSERT_STREQ(BitmapResourceFile(kDownArrowBitmap), "arrow_down.xpm");
  EXPECT_EQ(BitmapResourceFile(141), nullptr);

  int colours = 0;
  const auto up = ReadXpm(BitmapResourceFile(kUpArrowBitmap), colours);
  ASSERT_EQ(up.size(), 16u);
  EXPECT_LE(colours, 16);
  const auto down = ReadXpm(BitmapResourceFile(kDownArrowBitmap), colours);
  ASSERT_EQ(down.size(), 16u);

  const std::vector<int> want_up = {0, 2, 2, 4, 4, 6, 6, 8, 8, 10, 10, 12, 12, 14, 14, 0};
  EXPECT_EQ(DarkWidths(up), want_up);
  std::vector<int> want_down = want_up;
  std::reverse(want_down.begin() + 1, want_down.end() - 1);
  EXPECT_EQ(DarkWidths(down), want_down);
  // Light top row and left column on both.
  for (const auto* img : {&up, &down}) {
    EXPECT_EQ((*img)[0], std::string(16, 'l'));
    for (const auto& r : *img) EXPECT_EQ(r[0], 'l');
  }

  // The id table in the resources folder names the same files.
  std::ifstream table(ResourceDir() + "/bitmaps.txt");
  int id;
  std::string file, line;
  int rows = 0;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream(line) >> id >> file;
    ASSERT_NE(BitmapResourceFile(id), nullptr) << id;
    EXPECT_EQ(file, BitmapResourceFile(id));
    ++rows;
  }
  EXPECT_EQ(rows, 2);
}

}  // namespace
}  // namespace kv
