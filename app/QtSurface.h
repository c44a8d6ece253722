#pragma once
// The layouts' drawing surface on a QPainter: the window, an image, a
// printer page or a PDF. Coordinates are the painter's logical units.
#include <QFont>
#include <QFontMetrics>
#include <QPainter>

#include "view/Surface.h"

namespace kv::app {

// The calendar's font: Noto Sans CJK JP when installed, else the default.
QFont CalendarFont();

class QtSurface : public kv::Surface {
 public:
  // The painter must be active on its device for the surface's lifetime.
  QtSurface(QPainter& painter, bool printing, const QFont& font = CalendarFont());

  TextMetrics Metrics() const override;
  int TextWidth(const std::string& cp932) const override;
  bool IsPrinting() const override { return printing_; }
  void SetTransparentBackground() override;
  void FillRect(const Rect& r, Color c) override;
  void Frame3D(const Rect& r, Color top_left, Color bottom_right) override;
  void InvertRect(const Rect& r) override;
  void DrawBitmap(int id, int x, int y, int w, int h) override;
  void SetTextColor(Color c) override;
  void DrawText(const std::string& cp932, const Rect& r, TextAlign align) override;

 private:
  QPainter& p_;
  bool printing_;
  QFontMetrics fm_;
  QColor text_color_{Qt::black};
  QRect visible_;  // null: draw every text
};

QColor ToQColor(Color c);

}  // namespace kv::app
