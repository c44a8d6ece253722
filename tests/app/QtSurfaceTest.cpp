// The QPainter surface against the recording surface: the same layout,
// replayed pixel by pixel from the recorded calls, must give the very
// pixels the painter gives (text aside, which has tests of its own).
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QImage>
#include <QPainter>
#include <random>

#include "app/QtSurface.h"
#include "model/Text.h"
#include "tests/support/TestSupport.h"
#include "view/Layouts.h"
#include "view/RecordingSurface.h"
#include "view/Resources.h"

namespace kv::app {
namespace {

using test::D;

class NullHost final : public ViewHost {
 public:
  void ShowMessage(const std::string&) override {}
  void RequestRepaint(bool) override {}
  void SetStatusText(int, const std::string&) override {}
};

// The painter surface with text left out.
class ShapesOnly final : public QtSurface {
 public:
  using QtSurface::QtSurface;
  void DrawText(const std::string&, const Rect&, TextAlign) override {}
};

QRgb Rgb32(Color c) { return ToQColor(c).rgb(); }

void Set(QImage& img, int x, int y, QRgb c) {
  if (x >= 0 && y >= 0 && x < img.width() && y < img.height()) img.setPixel(x, y, c);
}

// Replays the recorded calls with plain pixel writes.
QImage Replay(const std::vector<SurfaceOp>& ops, QSize size) {
  QImage img(size, QImage::Format_RGB32);
  img.fill(Qt::white);
  const std::string dir = KV_RESOURCE_DIR;
  for (const SurfaceOp& op : ops) {
    const Rect& r = op.rect;
    switch (op.kind) {
      case SurfaceOp::Fill:
        for (int y = r.top; y < r.bottom; ++y)
          for (int x = r.left; x < r.right; ++x) Set(img, x, y, Rgb32(op.color));
        break;
      case SurfaceOp::Frame:
        for (int y = r.top; y < r.bottom; ++y)
          for (int x = r.left; x < r.right; ++x) {
            if (x != r.left && x != r.right - 1 && y != r.top && y != r.bottom - 1) continue;
            const bool lower_right = x == r.right - 1 || y == r.bottom - 1;
            Set(img, x, y, Rgb32(lower_right ? op.color2 : op.color));
          }
        break;
      case SurfaceOp::Invert:
        for (int y = r.top; y < r.bottom; ++y)
          for (int x = r.left; x < r.right; ++x)
            if (img.valid(x, y)) img.setPixel(x, y, img.pixel(x, y) ^ 0x00FFFFFF);
        break;
      case SurfaceOp::Bitmap: {
        const QImage bmp(QString::fromStdString(dir + "/" + BitmapResourceFile(op.id)));
        EXPECT_FALSE(bmp.isNull());
        for (int y = 0; y < r.bottom - r.top && y < bmp.height(); ++y)
          for (int x = 0; x < r.right - r.left && x < bmp.width(); ++x)
            Set(img, r.left + x, r.top + y, bmp.pixel(x, y) | 0xFF000000);
        break;
      }
      default:
        break;
    }
  }
  return img;
}

ViewState Scene(int mode) {
  ViewState st;
  st.DrawEnabled = 1;
  st.ViewMode = mode;
  st.SelectedDate = st.AnchorDate = D(2005, 3, 9);
  st.FirstHour = 8;
  auto timed = [](const char* s, DateTime a, DateTime b, Color c) {
    ScheduleItem it;
    it.SyncFlag = SyncClean;
    it.Subject = s;
    it.Start = a;
    it.End = b;
    it.Color = c;
    return it;
  };
  st.VisibleItems = {timed("a", D(2005, 3, 9, 10), D(2005, 3, 9, 12), Rgb(200, 0, 0)),
                     timed("b", D(2005, 3, 9, 11), D(2005, 3, 9, 11, 30), Rgb(0, 120, 0)),
                     timed("c", D(2005, 3, 7, 9), D(2005, 3, 11, 17), Rgb(0, 0, 200))};
  ScheduleItem all_day = timed("d", D(2005, 3, 10), D(2005, 3, 10, 23, 59), Rgb(90, 0, 90));
  all_day.Type = 1;
  st.VisibleItems.push_back(all_day);
  for (int i = 0; i < 9; ++i)  // more than a month cell holds
    st.VisibleItems.push_back(timed("x", D(2005, 3, 22, 8 + i), D(2005, 3, 22, 8 + i, 30), 0));
  SortItems(st.VisibleItems, mode);
  for (size_t i = 0; i < st.VisibleItems.size(); ++i)  // inverted by the paint
    if (st.VisibleItems[i].Subject == "a") st.OwnSelection = static_cast<int>(i);
  return st;
}

// Paints the scene both ways at the given device pixel ratio and checks
// every device pixel against the replay.
void ExpectSamePixels(int mode, qreal dpr) {
  SCOPED_TRACE("mode " + std::to_string(mode) + " dpr " + std::to_string(dpr));
  const QSize logical(700, 520);
  QImage painted(logical * dpr, QImage::Format_RGB32);
  painted.setDevicePixelRatio(dpr);
  painted.fill(Qt::white);
  NullHost host;
  ViewState on_screen = Scene(mode), recorded = Scene(mode);
  TextMetrics metrics;
  {
    QPainter p(&painted);
    ShapesOnly s(p, false);
    metrics = s.Metrics();
    PaintView(on_screen, s, Rect{0, 0, logical.width(), logical.height()}, host);
  }
  RecordingSurface rec(metrics);
  PaintView(recorded, rec, Rect{0, 0, logical.width(), logical.height()}, host);
  ASSERT_FALSE(rec.Find(SurfaceOp::Invert).empty());
  if (mode != MonthMode) {
    ASSERT_EQ(rec.Find(SurfaceOp::Bitmap).size(), 2u);
  }
  // Both paints recorded the same rectangles for hit testing.
  for (int i = 0; i < kCellTableSize; ++i) EXPECT_EQ(on_screen.CellTable[i].rect, recorded.CellTable[i].rect);
  for (size_t i = 0; i < on_screen.VisibleItems.size(); ++i)
    EXPECT_EQ(on_screen.VisibleItems[i].CellRects, recorded.VisibleItems[i].CellRects);

  const QImage want = Replay(rec.ops(), logical);
  int wrong = 0;
  for (int y = 0; y < painted.height(); ++y)
    for (int x = 0; x < painted.width(); ++x) {
      const QRgb got = painted.pixel(x, y) | 0xFF000000;
      const QRgb exp = want.pixel(static_cast<int>(x / dpr), static_cast<int>(y / dpr)) | 0xFF000000;
      if (got != exp && ++wrong <= 5)
        ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << got << " not " << exp;
    }
  EXPECT_EQ(wrong, 0);
}

TEST(QtSurface, MonthAndWeekLayoutsGiveTheRecordedRectangles) {
  ExpectSamePixels(MonthMode, 1.0);
  ExpectSamePixels(WeekMode, 1.0);
  ExpectSamePixels(DayMode, 1.0);
}

TEST(QtSurface, HighDpiImagesScaleEveryRectangleWhole) {
  ExpectSamePixels(MonthMode, 2.0);
  ExpectSamePixels(WeekMode, 3.0);
}

TEST(QtSurface, MetricsComeFromTheJapaneseFont) {
  EXPECT_EQ(QFontInfo(CalendarFont()).family(), QStringLiteral("Noto Sans CJK JP"));
  QImage img(10, 10, QImage::Format_RGB32);
  QPainter p(&img);
  QtSurface s(p, false);
  const TextMetrics m = s.Metrics();
  const QFontMetrics fm(CalendarFont(), &img);
  EXPECT_EQ(m.h, fm.height());
  EXPECT_EQ(m.w, fm.averageCharWidth());
  EXPECT_GT(m.h, 10);
  EXPECT_GT(m.w, 3);
}

struct Ink {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, pixels = 0;
  QRgb strongest = 0xFFFFFFFF;
};

Ink InkOf(const QImage& img, QRect within) {
  Ink ink;
  int best = 0;
  for (int y = within.top(); y <= within.bottom(); ++y)
    for (int x = within.left(); x <= within.right(); ++x) {
      const QRgb c = img.pixel(x, y);
      const int dark = 765 - qRed(c) - qGreen(c) - qBlue(c);
      if (dark == 0) continue;
      ++ink.pixels;
      ink.left = std::min(ink.left, x);
      ink.right = std::max(ink.right, x);
      ink.top = std::min(ink.top, y);
      ink.bottom = std::max(ink.bottom, y);
      if (dark > best) {
        best = dark;
        ink.strongest = c;
      }
    }
  return ink;
}

TEST(QtSurface, TextIsClippedAlignedColouredAndBrokenAtLineFeeds) {
  QImage img(400, 200, QImage::Format_RGB32);
  img.fill(Qt::white);
  TextMetrics m;
  const Rect clip{20, 20, 90, 40};
  const Rect centred{100, 100, 300, 140};
  const Rect lines{20, 100, 90, 190};
  {
    QPainter p(&img);
    QtSurface s(p, false);
    m = s.Metrics();
    s.SetTextColor(Rgb(220, 0, 0));
    s.DrawText(test::J("とても長い件名がセルの幅を超えてしまう場合"), clip, TextAlign::Left);
    s.SetTextColor(kBlack);
    s.DrawText("Wed", centred, TextAlign::Center);
    s.DrawText(test::J("2005年\n3月"), lines, TextAlign::Left);
  }
  const QRect all(0, 0, img.width(), img.height());
  // Nothing outside the three rectangles.
  QImage masked = img;
  {
    QPainter p(&masked);
    for (const Rect& r : {clip, centred, lines})
      p.fillRect(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top), Qt::white);
  }
  EXPECT_EQ(InkOf(masked, all).pixels, 0);

  const Ink red = InkOf(img, QRect(20, 20, 70, 20));
  EXPECT_GT(red.pixels, 50);
  EXPECT_GE(red.right, 85);  // runs to the clip edge
  EXPECT_GT(qRed(red.strongest), 150);
  EXPECT_LT(qGreen(red.strongest), 100);

  const Ink wed = InkOf(img, QRect(100, 100, 200, 40));
  ASSERT_GT(wed.pixels, 0);
  EXPECT_NEAR((wed.left + wed.right) / 2.0, 200.0, 3.0);
  EXPECT_LT(wed.top, 100 + m.h);  // from the top edge

  // The second line sits one text height below the first.
  const Ink first = InkOf(img, QRect(20, 100, 70, m.h));
  const Ink second = InkOf(img, QRect(20, 100 + m.h, 70, m.h));
  EXPECT_GT(first.pixels, 0);
  EXPECT_GT(second.pixels, 0);
}

// Text wholly outside the image is not drawn at all; whatever reaches
// into it must look exactly as when drawn onto a larger image and cut out.
TEST(QtSurface, TextBeyondTheImageLeavesThePixelsAsTheyWouldBe) {
  for (const qreal dpr : {1.0, 2.0}) {
    SCOPED_TRACE(dpr);
    const QSize logical(200, 120);
    const QPoint offset(200, 140);
    QImage small(logical * dpr, QImage::Format_RGB32), big(QSize(600, 400) * dpr, QImage::Format_RGB32);
    for (QImage* img : {&small, &big}) {
      img->setDevicePixelRatio(dpr);
      img->fill(Qt::white);
    }
    auto draw = [&](QImage& img, QPoint shift) {
      QPainter p(&img);
      p.translate(shift);
      QtSurface s(p, false);
      s.SetTextColor(Rgb(0, 0, 200));
      const std::string text = test::J("会議室の予約\n二行目");
      for (int y = -60; y <= 160; y += 23)
        for (int x = -150; x <= 230; x += 47)
          s.DrawText(text, Rect{x, y, x + 70, y + 30}, (x / 47) % 2 ? TextAlign::Center : TextAlign::Left);
    };
    draw(small, QPoint());
    draw(big, offset);
    const QImage cut = big.copy(QRect(offset * dpr, logical * dpr));
    ASSERT_EQ(cut.size(), small.size());
    int differing = 0, inked = 0, inked_far = 0;
    for (int y = 0; y < small.height(); ++y)
      for (int x = 0; x < small.width(); ++x) {
        differing += small.pixel(x, y) != cut.pixel(x, y);
        const bool ink = small.pixel(x, y) != qRgb(255, 255, 255);
        inked += ink;
        // The corner away from the origin is drawn at every pixel ratio.
        inked_far += ink && 10 * x >= 7 * small.width() && 10 * y >= 7 * small.height();
      }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(inked, 500);
    EXPECT_GT(inked_far, 50 * dpr * dpr);
  }
}

// Feedback left out of a frame's calls must change no pixel, and a long
// run of clicks on one page must stay a few calls per cell.
TEST(QtSurface, FeedbackLeftOutOfAFrameChangesNoPixel) {
  std::mt19937 rng(20050309u);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  std::vector<Rect> cells, labels;
  for (int r = 0; r < 6; ++r)
    for (int c = 0; c < 7; ++c) {
      const Rect cell{c * 40, r * 30, c * 40 + 40, r * 30 + 30};
      cells.push_back(cell);
      labels.push_back(Rect{cell.left + 2, cell.top + 12, cell.right - 2, cell.top + 24});
    }
  auto op = [](SurfaceOp::Kind k, const Rect& r, Color a = 0, Color b = 0) {
    SurfaceOp o(k);
    o.rect = r;
    o.color = a;
    o.color2 = b;
    return o;
  };
  for (int round = 0; round < 2; ++round) {
    // The page: cells filled and framed. Round 1 adds feedback on any
    // rectangle, overlapping or empty, so that calls between hold it back.
    std::vector<SurfaceOp> layout;
    for (const Rect& c : cells) {
      layout.push_back(op(SurfaceOp::Fill, c, Rgb(pick(256), pick(256), pick(256))));
      layout.push_back(op(SurfaceOp::Frame, c, kWhite, kBlack));
    }
    std::vector<SurfaceOp> all = layout, kept = layout;
    for (int i = 0; i < 3000; ++i) {
      // As the hit testing gives them: frames of cells, inversions of labels.
      const bool invert = pick(2);
      Rect r = (invert ? labels : cells)[pick(42)];
      if (round == 1 && pick(3) == 0) {
        const int x = pick(290) - 5, y = pick(190) - 5;
        r = Rect{x, y, x + pick(60), y + pick(40)};
      }
      const SurfaceOp o = invert ? op(SurfaceOp::Invert, r)
                                 : op(SurfaceOp::Frame, r, pick(2) ? kRed : kWhite, kBlack);
      all.push_back(o);
      AddFeedback(kept, layout.size(), o);
      if (i % 500 == 499) ASSERT_EQ(Replay(kept, {290, 190}), Replay(all, {290, 190})) << i;
    }
    if (round == 0) EXPECT_LE(kept.size(), layout.size() + 2 * 42);
    EXPECT_LT(kept.size(), all.size());
  }
}

TEST(QtSurface, InvertingTwiceRestores) {
  QImage img(60, 40, QImage::Format_RGB32);
  img.fill(QColor(10, 200, 30));
  const QImage before = img;
  auto invert = [&](const Rect& r) {
    QPainter p(&img);
    QtSurface(p, false).InvertRect(r);
  };
  invert(Rect{5, 5, 50, 30});
  EXPECT_EQ(img.pixel(10, 10) & 0xFFFFFF, 0xF537E1u);  // 255-10, 255-200, 255-30
  EXPECT_EQ(img.pixel(50, 30), before.pixel(50, 30));  // right and bottom are outside
  invert(Rect{5, 5, 50, 30});
  invert(Rect{});
  EXPECT_EQ(img, before);
}

}  // namespace
}  // namespace kv::app
