#include "view/RecordingSurface.h"

#include <algorithm>
#include <array>

namespace kv {

namespace {

bool Meets(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

void Draw(const SurfaceOp& op, Surface& s) {
  switch (op.kind) {
    case SurfaceOp::Transparent: s.SetTransparentBackground(); break;
    case SurfaceOp::Fill: s.FillRect(op.rect, op.color); break;
    case SurfaceOp::Frame: s.Frame3D(op.rect, op.color, op.color2); break;
    case SurfaceOp::Invert: s.InvertRect(op.rect); break;
    case SurfaceOp::Bitmap:
      s.DrawBitmap(op.id, op.rect.left, op.rect.top, op.rect.right - op.rect.left,
                   op.rect.bottom - op.rect.top);
      break;
    case SurfaceOp::TextColor: s.SetTextColor(op.color); break;
    case SurfaceOp::Text:
      s.SetTextColor(op.color);
      s.DrawText(op.text, op.rect, op.align);
      break;
  }
}

// The pixels a call touches, as up to four rectangles.
struct Pieces {
  std::array<Rect, 4> r;
  int n = 0;
};

Pieces PiecesOf(const SurfaceOp& op) {
  Pieces p;
  const Rect& a = op.rect;
  const bool empty = a.right <= a.left || a.bottom <= a.top;
  switch (op.kind) {
    case SurfaceOp::Transparent:
    case SurfaceOp::TextColor:
      break;
    case SurfaceOp::Invert:
      if (!empty) p.r[p.n++] = a;
      break;
    case SurfaceOp::Frame:
      if (empty) {
        p.r[p.n++] = Reach(op);
      } else {
        p.r[p.n++] = Rect{a.left, a.top, a.right, a.top + 1};
        p.r[p.n++] = Rect{a.left, a.bottom - 1, a.right, a.bottom};
        p.r[p.n++] = Rect{a.left, a.top, a.left + 1, a.bottom};
        p.r[p.n++] = Rect{a.right - 1, a.top, a.right, a.bottom};
      }
      break;
    default:
      p.r[p.n++] = Reach(op);
      break;
  }
  return p;
}

bool Touch(const Pieces& a, const Pieces& b) {
  for (int i = 0; i < a.n; ++i)
    for (int j = 0; j < b.n; ++j)
      if (Meets(a.r[i], b.r[j])) return true;
  return false;
}

}  // namespace

Rect Reach(const SurfaceOp& op) {
  Rect r = op.rect;
  if (op.kind == SurfaceOp::Frame) {
    r.right = std::max(r.right, r.left + 1);
    r.bottom = std::max(r.bottom, r.top + 1);
  }
  return r;
}

void AddFeedback(std::vector<SurfaceOp>& ops, std::size_t from, SurfaceOp op) {
  const Pieces mine = PiecesOf(op);
  if (op.kind == SurfaceOp::Invert && mine.n == 0) return;  // inverts nothing
  const bool may_go =
      op.kind == SurfaceOp::Invert || (op.kind == SurfaceOp::Frame && mine.n == 4);
  for (std::size_t i = ops.size(); may_go && i-- > from;) {
    if (!Touch(PiecesOf(ops[i]), mine)) continue;
    if (ops[i].kind == op.kind && ops[i].rect == op.rect) {
      ops.erase(ops.begin() + static_cast<std::ptrdiff_t>(i));
      if (op.kind == SurfaceOp::Invert) return;
    }
    break;
  }
  ops.push_back(std::move(op));
}

void RecordingSurface::Push(SurfaceOp op) {
  if (through_) Draw(op, *through_);
  if (!recording_) return;
  const bool placed = op.kind != SurfaceOp::Transparent && op.kind != SurfaceOp::TextColor;
  if (placed && keep_ && !Meets(Reach(op), *keep_)) return;
  ops_.push_back(std::move(op));
}

void Replay(const std::vector<SurfaceOp>& ops, Surface& s, const Rect* only) {
  for (const SurfaceOp& op : ops) {
    const bool placed = op.kind != SurfaceOp::Transparent && op.kind != SurfaceOp::TextColor;
    if (only && placed && !Meets(Reach(op), *only)) continue;
    Draw(op, s);
  }
}

void RecordingSurface::FillRect(const Rect& r, Color c) {
  SurfaceOp op(SurfaceOp::Fill);
  op.rect = r;
  op.color = c;
  Push(std::move(op));
}

void RecordingSurface::Frame3D(const Rect& r, Color tl, Color br) {
  SurfaceOp op(SurfaceOp::Frame);
  op.rect = r;
  op.color = tl;
  op.color2 = br;
  Push(std::move(op));
}

void RecordingSurface::InvertRect(const Rect& r) {
  SurfaceOp op(SurfaceOp::Invert);
  op.rect = r;
  Push(std::move(op));
}

void RecordingSurface::DrawBitmap(int id, int x, int y, int w, int h) {
  SurfaceOp op(SurfaceOp::Bitmap);
  op.rect = Rect{x, y, x + w, y + h};
  op.id = id;
  Push(std::move(op));
}

void RecordingSurface::SetTextColor(Color c) {
  text_color_ = c;
  SurfaceOp op(SurfaceOp::TextColor);
  op.color = c;
  Push(std::move(op));
}

void RecordingSurface::DrawText(const std::string& cp932, const Rect& r, TextAlign align) {
  SurfaceOp op(SurfaceOp::Text);
  op.rect = r;
  op.color = text_color_;
  op.text = cp932;
  op.align = align;
  Push(std::move(op));
}

std::vector<SurfaceOp> RecordingSurface::Find(SurfaceOp::Kind kind) const {
  std::vector<SurfaceOp> out;
  for (const auto& op : ops_)
    if (op.kind == kind) out.push_back(op);
  return out;
}

std::vector<SurfaceOp> RecordingSurface::FindText(const std::string& text) const {
  std::vector<SurfaceOp> out;
  for (const auto& op : ops_)
    if (op.kind == SurfaceOp::Text && op.text == text) out.push_back(op);
  return out;
}

std::vector<SurfaceOp> RecordingSurface::FindAt(SurfaceOp::Kind kind, const Rect& r) const {
  std::vector<SurfaceOp> out;
  for (const auto& op : ops_)
    if (op.kind == kind && op.rect == r) out.push_back(op);
  return out;
}

}  // namespace kv
