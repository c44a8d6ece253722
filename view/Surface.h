#pragma once
// What the layouts need from a drawing surface. Shaped after a painter with
// a default font: a Qt painter, a printer page and the recording surface of
// the tests all implement it.
#include <cstdint>
#include <string>

#include "model/ScheduleItem.h"

namespace kv {

// 0x00BBGGRR, as item colours are stored.
using Color = uint32_t;
constexpr Color Rgb(unsigned r, unsigned g, unsigned b) {
  return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16);
}

inline constexpr Color kBlue = Rgb(0, 0, 255);
inline constexpr Color kGrey = Rgb(240, 240, 240);
inline constexpr Color kYellow = Rgb(240, 240, 0);
inline constexpr Color kWhite = Rgb(255, 255, 255);
inline constexpr Color kIvory = Rgb(255, 255, 240);
inline constexpr Color kBlack = Rgb(0, 0, 0);
inline constexpr Color kRed = Rgb(255, 0, 0);

using Rect = CellRect;

enum class TextAlign { Left, Center };

struct TextMetrics {
  int h = 0;  // character height
  int w = 0;  // average character width
};

class Surface {
 public:
  virtual ~Surface() = default;

  virtual TextMetrics Metrics() const = 0;
  // The width of one line of CP932 text as DrawText would draw it.
  virtual int TextWidth(const std::string& cp932) const = 0;
  virtual bool IsPrinting() const = 0;

  virtual void SetTransparentBackground() = 0;
  // Fills left..right-1, top..bottom-1.
  virtual void FillRect(const Rect& r, Color c) = 0;
  // One-unit frame inside r: top and left edges in top_left, bottom and
  // right edges in bottom_right.
  virtual void Frame3D(const Rect& r, Color top_left, Color bottom_right) = 0;
  virtual void InvertRect(const Rect& r) = 0;
  // Bitmap resource `id` drawn at (x, y) in w x h units.
  virtual void DrawBitmap(int id, int x, int y, int w, int h) = 0;
  virtual void SetTextColor(Color c) = 0;
  // CP932 text from the top edge of r, left-aligned or centred, no word
  // wrap, clipped to r; "\n" starts a new line.
  virtual void DrawText(const std::string& cp932, const Rect& r, TextAlign align) = 0;
};

}  // namespace kv
