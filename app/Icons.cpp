#include "app/Icons.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>

namespace kv::app {

namespace {

const QColor kInk(0x40, 0x40, 0x40);
const QColor kPaper(Qt::white);
const QColor kLine(0xA0, 0xA0, 0xA0);
const QColor kBlueInk(0x1E, 0x5A, 0xC8);
const QColor kRedInk(0xD0, 0x30, 0x30);
const QColor kGreenInk(0x2E, 0x9E, 0x3E);
const QColor kBoard(0xC8, 0x96, 0x4B);
const QColor kBoardEdge(0x6E, 0x4B, 0x1E);
const QColor kBody(0xB4, 0xB4, 0xB4);
const QColor kLight(0xC8, 0xDC, 0xFA);

// A box on whole units: a one-unit border and its inside.
void Box(QPainter& p, int x, int y, int w, int h, const QColor& fill, const QColor& edge) {
  p.fillRect(QRect(x, y, w, h), edge);
  if (w > 2 && h > 2) p.fillRect(QRect(x + 1, y + 1, w - 2, h - 2), fill);
}

void Rule(QPainter& p, int x, int y, int w, const QColor& c = kLine) {
  p.fillRect(QRect(x, y, w, 1), c);
}

// A page of the calendar: frame, coloured head band.
void CalendarPage(QPainter& p, int x, int y, int w, int h, const QColor& head) {
  Box(p, x, y, w, h, kPaper, kInk);
  p.fillRect(QRect(x + 1, y + 1, w - 2, 3), head);
}

void Smooth(QPainter& p, bool on) { p.setRenderHint(QPainter::Antialiasing, on); }

void ArrowRight(QPainter& p, qreal x0, qreal x1, qreal cy, qreal half, const QColor& c) {
  const qreal head = half * 1.2;
  QPolygonF poly;
  poly << QPointF(x0, cy - half / 2.4) << QPointF(x1 - head, cy - half / 2.4)
       << QPointF(x1 - head, cy - half) << QPointF(x1, cy) << QPointF(x1 - head, cy + half)
       << QPointF(x1 - head, cy + half / 2.4) << QPointF(x0, cy + half / 2.4);
  Smooth(p, true);
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawPolygon(poly);
  Smooth(p, false);
}

void Person(QPainter& p, qreal cx, qreal top, const QColor& c) {
  Smooth(p, true);
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawEllipse(QPointF(cx, top + 2.2), 2.2, 2.2);
  QPainterPath body;
  body.moveTo(cx - 3.6, top + 10.5);
  body.cubicTo(cx - 3.6, top + 5.0, cx + 3.6, top + 5.0, cx + 3.6, top + 10.5);
  body.closeSubpath();
  p.drawPath(body);
  Smooth(p, false);
}

void Glyph(QPainter& p, Command id) {
  switch (id) {
    case Command::Cut: {
      Smooth(p, true);
      p.setPen(QPen(kInk, 1.4, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(5.5, 9.0), QPointF(11.0, 1.0));
      p.drawLine(QPointF(10.5, 9.0), QPointF(5.0, 1.0));
      p.setPen(QPen(kRedInk, 1.4));
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QPointF(4.5, 11.5), 2.3, 2.3);
      p.drawEllipse(QPointF(11.5, 11.5), 2.3, 2.3);
      Smooth(p, false);
      break;
    }
    case Command::Copy:
      Box(p, 1, 1, 8, 10, kPaper, kInk);
      for (int y : {3, 5, 7}) Rule(p, 3, y, 4);
      Box(p, 6, 4, 9, 11, kPaper, kInk);
      for (int y : {7, 9, 11}) Rule(p, 8, y, 5);
      break;
    case Command::Paste:
      Box(p, 1, 2, 10, 12, kBoard, kBoardEdge);
      Box(p, 3, 1, 6, 3, kBody, kInk);
      Box(p, 6, 5, 9, 10, kPaper, kInk);
      for (int y : {8, 10, 12}) Rule(p, 8, y, 5);
      break;
    case Command::Print:
      Box(p, 4, 1, 8, 5, kPaper, kInk);
      Box(p, 1, 5, 14, 6, kBody, kInk);
      Box(p, 4, 9, 8, 5, kPaper, kInk);
      Rule(p, 6, 11, 4);
      p.fillRect(QRect(12, 7, 1, 1), kGreenInk);
      break;
    case Command::Add:
      Box(p, 1, 1, 10, 13, kPaper, kInk);
      for (int y : {4, 6, 8}) Rule(p, 3, y, 6);
      p.fillRect(QRect(9, 9, 7, 2), kGreenInk);
      p.fillRect(QRect(11, 6, 2, 8), kGreenInk);
      break;
    case Command::Delete:
      Smooth(p, true);
      p.setPen(QPen(kRedInk, 2.4, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(3.5, 2.5), QPointF(12.5, 11.5));
      p.drawLine(QPointF(12.5, 2.5), QPointF(3.5, 11.5));
      Smooth(p, false);
      break;
    case Command::Previous:
      p.save();
      p.translate(16, 0);
      p.scale(-1, 1);
      ArrowRight(p, 2.0, 14.0, 7.5, 6.0, kBlueInk);
      p.restore();
      break;
    case Command::Next:
      ArrowRight(p, 2.0, 14.0, 7.5, 6.0, kBlueInk);
      break;
    case Command::MoveDate:
      CalendarPage(p, 5, 2, 11, 12, kRedInk);
      for (int y : {7, 10}) Rule(p, 7, y, 7);
      ArrowRight(p, 0.0, 9.0, 8.5, 3.5, kBlueInk);
      break;
    case Command::Today:
      CalendarPage(p, 1, 1, 14, 13, kRedInk);
      for (int y : {6, 9, 12}) Rule(p, 2, y, 12);
      p.fillRect(QRect(6, 7, 4, 5), kBlueInk);
      break;
    case Command::DayUnit:
      CalendarPage(p, 1, 1, 14, 13, kBlueInk);
      p.fillRect(QRect(2, 5, 3, 8), kLight);
      for (int y : {7, 10}) Rule(p, 5, y, 9);
      p.fillRect(QRect(7, 6, 6, 3), kGreenInk);
      break;
    case Command::WeekUnit:
      CalendarPage(p, 0, 1, 16, 13, kBlueInk);
      for (int c = 0; c < 7; ++c)
        if (c % 2 == 0) p.fillRect(QRect(1 + 2 * c, 5, 2, 8), kLight);
      p.fillRect(QRect(7, 7, 2, 4), kGreenInk);
      break;
    case Command::MonthUnit:
      CalendarPage(p, 1, 1, 14, 13, kBlueInk);
      for (int x : {5, 8, 11}) p.fillRect(QRect(x, 5, 1, 8), kLine);
      for (int y : {7, 10}) Rule(p, 2, y, 12);
      p.fillRect(QRect(9, 8, 2, 2), kRedInk);
      break;
    case Command::OtherUsers:
      Person(p, 5.0, 2.0, kBlueInk);
      Person(p, 11.0, 3.5, kGreenInk);
      break;
    case Command::Help: {
      Smooth(p, true);
      p.setPen(Qt::NoPen);
      p.setBrush(kBlueInk);
      p.drawEllipse(QPointF(8.0, 7.5), 7.0, 7.0);
      // A question mark from strokes: no font is needed.
      p.setPen(QPen(Qt::white, 1.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(Qt::NoBrush);
      QPainterPath q;
      q.moveTo(5.6, 5.4);
      q.cubicTo(5.6, 2.6, 10.4, 2.6, 10.4, 5.2);
      q.cubicTo(10.4, 7.0, 8.0, 7.0, 8.0, 9.0);
      p.drawPath(q);
      p.setPen(Qt::NoPen);
      p.setBrush(Qt::white);
      p.drawEllipse(QPointF(8.0, 11.8), 1.15, 1.15);
      Smooth(p, false);
      break;
    }
    default:
      break;
  }
}

bool HasGlyph(Command id) {
  switch (id) {
    case Command::Cut: case Command::Copy: case Command::Paste: case Command::Print:
    case Command::Add: case Command::Delete: case Command::Previous: case Command::Next:
    case Command::MoveDate: case Command::Today: case Command::DayUnit: case Command::WeekUnit:
    case Command::MonthUnit: case Command::OtherUsers: case Command::Help:
      return true;
    default:
      return false;
  }
}

}  // namespace

QImage ToolImage(Command id, qreal scale) {
  const int w = static_cast<int>(std::ceil(kToolIconWidth * scale));
  const int h = static_cast<int>(std::ceil(kToolIconHeight * scale));
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.scale(scale, scale);
  Glyph(p, id);
  return img;
}

QIcon ToolIcon(Command id) {
  if (!HasGlyph(id)) return {};
  QIcon icon;
  for (qreal s : {1.0, 1.25, 1.5, 2.0, 3.0, 4.0}) {
    QImage img = ToolImage(id, s);
    img.setDevicePixelRatio(s);
    icon.addPixmap(QPixmap::fromImage(img));
  }
  return icon;
}

QImage ApplicationImage(int size) {
  QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);
  // A calendar page: red head with two rings, a grid of days, today marked.
  QPainterPath page;
  page.addRoundedRect(QRectF(6, 8, 52, 50), 6, 6);
  p.fillPath(page, Qt::white);
  p.setPen(QPen(QColor(0x30, 0x30, 0x30), 2));
  p.drawPath(page);
  QPainterPath head;
  head.addRoundedRect(QRectF(6, 8, 52, 14), 6, 6);
  head.addRect(QRectF(6, 15, 52, 7));
  p.fillPath(head.simplified(), kRedInk);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x30, 0x30, 0x30));
  p.drawRoundedRect(QRectF(17, 3, 5, 11), 2, 2);
  p.drawRoundedRect(QRectF(42, 3, 5, 11), 2, 2);
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 5; ++c) {
      const QRectF cell(11 + c * 9, 26 + r * 7.5, 7, 5.5);
      p.setBrush(r == 2 && c == 3 ? kBlueInk : QColor(0xC8, 0xD2, 0xE6));
      p.drawRect(cell);
    }
  }
  return img;
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (int s : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(QPixmap::fromImage(ApplicationImage(s)));
  return icon;
}

}  // namespace kv::app
