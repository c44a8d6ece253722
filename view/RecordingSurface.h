#pragma once
// A surface that records every call: with fixed text metrics for tests
// and benchmarks, or passing each call on to a real surface so that what
// it drew can be drawn again later.
#include <cstddef>
#include <optional>
#include <vector>

#include "view/Surface.h"

namespace kv {

struct SurfaceOp {
  enum Kind { Transparent, Fill, Frame, Invert, Bitmap, TextColor, Text };
  explicit SurfaceOp(Kind k) : kind(k) {}
  Kind kind;
  Rect rect{};
  Color color = 0;   // fill colour, top-left frame colour, text colour
  Color color2 = 0;  // bottom-right frame colour
  std::string text;  // CP932
  TextAlign align = TextAlign::Left;
  int id = 0;  // bitmap
};

class RecordingSurface : public Surface {
 public:
  explicit RecordingSurface(TextMetrics m = {16, 8}, bool printing = false)
      : metrics_(m), printing_(printing) {}
  // Draws on `through` too and takes its metrics; a call that cannot touch
  // `keep` is drawn but not recorded.
  RecordingSurface(Surface& through, const Rect& keep)
      : metrics_(through.Metrics()), printing_(through.IsPrinting()), through_(&through),
        keep_(keep) {}

  TextMetrics Metrics() const override { return metrics_; }
  // As a fixed-pitch font: w per byte, so a double-byte character is 2w.
  int TextWidth(const std::string& cp932) const override {
    if (through_) return through_->TextWidth(cp932);
    return static_cast<int>(cp932.size()) * metrics_.w;
  }
  bool IsPrinting() const override { return printing_; }
  void SetPrinting(bool p) { printing_ = p; }

  void SetTransparentBackground() override { Push(SurfaceOp(SurfaceOp::Transparent)); }
  void FillRect(const Rect& r, Color c) override;
  void Frame3D(const Rect& r, Color tl, Color br) override;
  void InvertRect(const Rect& r) override;
  void DrawBitmap(int id, int x, int y, int w, int h) override;
  void SetTextColor(Color c) override;
  // Recorded with the text colour in effect.
  void DrawText(const std::string& cp932, const Rect& r, TextAlign align) override;

  const std::vector<SurfaceOp>& ops() const { return ops_; }
  std::vector<SurfaceOp> TakeOps() { return std::move(ops_); }
  void Clear() { ops_.clear(); }
  // When off, only the text colour is tracked (for timing the layouts).
  void SetRecording(bool on) { recording_ = on; }

  // Queries for tests.
  std::vector<SurfaceOp> Find(SurfaceOp::Kind kind) const;
  std::vector<SurfaceOp> FindText(const std::string& text) const;
  std::vector<SurfaceOp> FindAt(SurfaceOp::Kind kind, const Rect& r) const;

 private:
  void Push(SurfaceOp op);

  TextMetrics metrics_;
  bool printing_;
  Surface* through_ = nullptr;
  std::optional<Rect> keep_;
  bool recording_ = true;
  Color text_color_ = 0;
  std::vector<SurfaceOp> ops_;
};

// Draws recorded calls again, in their order; with `only`, just those
// that can change pixels inside it.
void Replay(const std::vector<SurfaceOp>& ops, Surface& s, const Rect* only = nullptr);

// The rectangle a call can change; a frame of an empty rectangle still
// draws its top and left edges.
Rect Reach(const SurfaceOp& op);

// Adds a feedback call (a frame or an inversion) to recorded calls. Among
// the calls from `from` on, the last one that touches the same pixels goes
// when the new call makes it pointless: the same inversion (the two
// cancel) or a frame of the same rectangle (drawn over). Replayed, the
// calls give the same pixels; a day of clicks on one page stays a few
// calls per cell.
void AddFeedback(std::vector<SurfaceOp>& ops, std::size_t from, SurfaceOp op);

}  // namespace kv
