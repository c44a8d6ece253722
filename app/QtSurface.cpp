#include "app/QtSurface.h"

#include <QFontDatabase>
#include <QHash>
#include <QImage>
#include <QPaintEngine>
#include <QWidget>

#include "app/ui/QtText.h"
#include "view/Resources.h"

namespace kv::app {

QFont CalendarFont() {
  static const QFont font = [] {
    QFont f;
    const QString family = QStringLiteral("Noto Sans CJK JP");
    if (QFontDatabase::families().contains(family)) f = QFont(family);
    f.setPointSize(9);
    f.setStyleStrategy(QFont::PreferAntialias);
    return f;
  }();
  return font;
}

QColor ToQColor(Color c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

namespace {

// left..right-1 by top..bottom-1; nothing for an empty rectangle.
void Fill(QPainter& p, int l, int t, int r, int b, const QColor& c) {
  if (r > l && b > t) p.fillRect(QRect(l, t, r - l, b - t), c);
}

const QImage& Bitmap(int id) {
  static QHash<int, QImage> cache;
  auto it = cache.find(id);
  if (it == cache.end()) {
    QImage img;
    if (const char* file = BitmapResourceFile(id))
      img.load(QStringLiteral(":/kalvane/bitmaps/") + QString::fromLatin1(file));
    it = cache.insert(id, img);
  }
  return *it;
}

}  // namespace

QtSurface::QtSurface(QPainter& painter, bool printing, const QFont& font)
    : p_(painter), printing_(printing), fm_(font, painter.device()) {
  p_.setFont(font);
  // On the window or an image, text wholly outside it is not shaped: a
  // week can have hundreds of all-day lines below the window's foot.
  QPaintDevice* dev = painter.device();
  QSizeF shown;
  if (dev && dev->devType() == QInternal::Image)
    shown = static_cast<const QImage*>(dev)->deviceIndependentSize();
  else if (dev && dev->devType() == QInternal::Widget)
    shown = static_cast<const QWidget*>(dev)->size();
  // The painter's transform includes the pixel ratio: the bounds go in
  // device pixels.
  shown *= dev ? dev->devicePixelRatio() : 1.0;
  if (!shown.isEmpty()) {
    bool invertible = false;
    const QTransform to_logical = p_.combinedTransform().inverted(&invertible);
    if (invertible) visible_ = to_logical.mapRect(QRectF(QPointF(0, 0), shown)).toAlignedRect();
  }
}

TextMetrics QtSurface::Metrics() const { return {fm_.height(), fm_.averageCharWidth()}; }

int QtSurface::TextWidth(const std::string& cp932) const {
  return fm_.horizontalAdvance(ui::FromCp932(cp932));
}

void QtSurface::SetTransparentBackground() { p_.setBackgroundMode(Qt::TransparentMode); }

void QtSurface::FillRect(const Rect& r, Color c) {
  Fill(p_, r.left, r.top, r.right, r.bottom, ToQColor(c));
}

void QtSurface::Frame3D(const Rect& r, Color top_left, Color bottom_right) {
  const QColor tl = ToQColor(top_left), br = ToQColor(bottom_right);
  // The top-right and bottom-left corners belong to the bottom-right colour.
  Fill(p_, r.left, r.top, r.right - 1, r.top + 1, tl);
  Fill(p_, r.left, r.top, r.left + 1, r.bottom - 1, tl);
  if (r.right <= r.left || r.bottom <= r.top) return;
  Fill(p_, r.right - 1, r.top, r.right, r.bottom, br);
  Fill(p_, r.left, r.bottom - 1, r.right, r.bottom, br);
}

void QtSurface::InvertRect(const Rect& r) {
  if (r.right <= r.left || r.bottom <= r.top) return;
  // Raster operations exist only on images and windows, not on paper.
  if (!p_.paintEngine() || !p_.paintEngine()->hasFeature(QPaintEngine::RasterOpModes)) return;
  p_.save();
  p_.setCompositionMode(QPainter::RasterOp_NotDestination);
  p_.fillRect(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top), Qt::black);
  p_.restore();
}

void QtSurface::DrawBitmap(int id, int x, int y, int w, int h) {
  const QImage& img = Bitmap(id);
  if (img.isNull() || w <= 0 || h <= 0) return;
  p_.save();
  p_.setRenderHint(QPainter::SmoothPixmapTransform, false);
  p_.drawImage(QRect(x, y, w, h), img);
  p_.restore();
}

void QtSurface::SetTextColor(Color c) { text_color_ = ToQColor(c); }

void QtSurface::DrawText(const std::string& cp932, const Rect& r, TextAlign align) {
  if (r.right <= r.left || r.bottom <= r.top || cp932.empty()) return;
  // A week holds thousands of labels: the clip and pen are set directly
  // rather than saving the painter's whole state for each.
  const QRect box(r.left, r.top, r.right - r.left, r.bottom - r.top);
  if (!visible_.isNull() && !visible_.intersects(box)) return;
  p_.setClipRect(box);
  if (p_.pen().color() != text_color_) p_.setPen(text_color_);
  auto line_at = [&](QStringView line, int baseline) {
    if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    int x = r.left;
    if (align == TextAlign::Center) x += (box.width() - fm_.horizontalAdvance(line.toString())) / 2;
    p_.drawText(QPoint(x, baseline), line.toString());
  };
  const QString text = ui::FromCp932(cp932);
  int baseline = r.top + fm_.ascent();
  qsizetype from = 0;
  while (baseline - fm_.ascent() < r.bottom) {
    const qsizetype nl = text.indexOf(QLatin1Char('\n'), from);
    line_at(QStringView(text).mid(from, nl < 0 ? -1 : nl - from), baseline);
    if (nl < 0) break;
    from = nl + 1;
    baseline += fm_.height();
  }
  p_.setClipping(false);
}

}  // namespace kv::app
