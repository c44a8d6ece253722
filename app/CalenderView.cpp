#include "app/CalenderView.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPageLayout>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QToolTip>

#include "app/QtSurface.h"
#include "app/ServerCall.h"
#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"
#include "view/DayMarks.h"
#include "view/HitTest.h"

namespace kv::app {

constexpr size_t kMaxFeedbackOps = 4096;

// Selection feedback onto the last frame: each call joins the frame's
// drawing at once and asks for a paint, so it shows even while a dialog
// opened by a double-click is up.
class CCalenderView::Feedback final : public Surface {
 public:
  explicit Feedback(CCalenderView& v) : v_(v) {}
  TextMetrics Metrics() const override {
    QFontMetrics fm(CalendarFont(), &v_);
    return {fm.height(), fm.averageCharWidth()};
  }
  int TextWidth(const std::string& t) const override {
    return QFontMetrics(CalendarFont(), &v_).horizontalAdvance(ui::FromCp932(t));
  }
  bool IsPrinting() const override { return false; }
  void SetTransparentBackground() override {}
  void FillRect(const Rect& r, Color c) override { Keep([&] { calls_.FillRect(r, c); }); }
  void Frame3D(const Rect& r, Color a, Color b) override {
    Keep([&] { calls_.Frame3D(r, a, b); });
  }
  void InvertRect(const Rect& r) override { Keep([&] { calls_.InvertRect(r); }); }
  void DrawBitmap(int id, int x, int y, int w, int h) override {
    Keep([&] { calls_.DrawBitmap(id, x, y, w, h); });
  }
  void SetTextColor(Color c) override { calls_.SetTextColor(c); }
  void DrawText(const std::string& t, const Rect& r, TextAlign a) override {
    Keep([&] { calls_.DrawText(t, r, a); });
  }

 private:
  template <class F>
  void Keep(F f) {
    if (!v_.HasFrame()) return;
    f();
    QRect changed;
    for (SurfaceOp& op : calls_.TakeOps()) {
      const Rect r = Reach(op);
      if (r.right > r.left && r.bottom > r.top)
        changed |= QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
      if (op.kind == SurfaceOp::Frame || op.kind == SurfaceOp::Invert)
        AddFeedback(v_.frame_, v_.frame_layout_ops_, std::move(op));
      else
        v_.frame_.push_back(std::move(op));
    }
    // Feedback that overlaps without end (never seen from the hit testing)
    // cannot grow the list for ever: past a bound the page is laid out again.
    if (v_.frame_.size() > v_.frame_layout_ops_ + kMaxFeedbackOps) {
      v_.dirty_ = true;
      v_.update();
      return;
    }
    v_.update(changed);
  }
  CCalenderView& v_;
  RecordingSurface calls_;
};

CCalenderView::CCalenderView(ViewState& state, ViewHost& host, QWidget* parent)
    : QWidget(parent), state_(state), host_(host) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(200, 150);
  // A frame asked for, or a new size, while a server call ran is painted
  // once the call is over.
  idle_hook_ = ServerCall::AddIdleHook([this] {
    if (dirty_ || (HasFrame() && (frame_size_ != size() || frame_dpr_ != devicePixelRatioF())))
      update();
  });
}

CCalenderView::~CCalenderView() { ServerCall::RemoveIdleHook(idle_hook_); }

void CCalenderView::invalidateLayout() {
  dirty_ = true;
  update();
}

bool CCalenderView::CanLayout() const {
  // During a server call the last frame stays: the layouts must not run
  // beside a worker that may be loading items or using the store.
  return state_.DrawEnabled == 1 && !ServerCall::Running();
}

void CCalenderView::Layout(QPainter& p) {
  p.fillRect(rect(), palette().color(QPalette::Base));
  QtSurface screen(p, false);
  const Rect area{0, 0, width(), height()};
  // What falls outside the widget is drawn nowhere and not kept.
  RecordingSurface kept(screen, area);
  PaintView(state_, kept, area, host_, other_users_);
  frame_ = kept.TakeOps();
  frame_layout_ops_ = frame_.size();
  frame_size_ = size();
  frame_dpr_ = devicePixelRatioF();
  dirty_ = false;
  ++layout_runs_;
}

void CCalenderView::Replay(QPainter& p, const QSize& widget, const QRect& exposed) const {
  const QColor base = palette().color(QPalette::Base);
  p.fillRect(QRect(QPoint(0, 0), widget), base);
  if (!HasFrame()) return;
  {
    QtSurface s(p, false);
    // Calls that cannot reach the exposed part are left out.
    const Rect only{exposed.left(), exposed.top(), exposed.right() + 1, exposed.bottom() + 1};
    kv::Replay(frame_, s, exposed.isNull() ? nullptr : &only);
  }
  // A widget grown since the layout: the new part stays blank.
  if (frame_size_.width() < widget.width())
    p.fillRect(frame_size_.width(), 0, widget.width() - frame_size_.width(), widget.height(), base);
  if (frame_size_.height() < widget.height())
    p.fillRect(0, frame_size_.height(), frame_size_.width(), widget.height() - frame_size_.height(),
               base);
}

QImage CCalenderView::frameImage() const {
  if (!HasFrame()) return {};
  QImage img(frame_size_ * frame_dpr_, QImage::Format_RGB32);
  img.setDevicePixelRatio(frame_dpr_);
  QPainter p(&img);
  Replay(p, frame_size_);
  return img;
}

bool CCalenderView::event(QEvent* e) {
  if (e->type() != QEvent::ToolTip) return QWidget::event(e);
  const auto* help = static_cast<QHelpEvent*>(e);
  HiddenHoliday hidden;
  if (state_.DrawEnabled == 1 && HasFrame())
    hidden = HiddenHolidayAt(state_, help->pos().x(), help->pos().y(), true);
  if (hidden.name.empty()) {
    QToolTip::hideText();
    e->ignore();
    return true;
  }
  const Rect& r = hidden.heading;
  QToolTip::showText(help->globalPos(), ui::FromCp932(hidden.name), this,
                     QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
  return true;
}

void CCalenderView::paintEvent(QPaintEvent* e) {
  const bool resized = !HasFrame() || frame_size_ != size() || frame_dpr_ != devicePixelRatioF();
  const bool fresh = CanLayout() && (dirty_ || resized);
  QPainter p(this);
  if (fresh)
    Layout(p);
  else
    Replay(p, size(), e->rect());
  p.end();
  if (fresh) emit framePainted();
}

void CCalenderView::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || state_.DrawEnabled != 1 || !HasFrame()) {
    QWidget::mousePressEvent(e);
    return;
  }
  Feedback fb(*this);
  const QPoint pt = e->position().toPoint();
  OnPress(state_, fb, host_, pt.x(), pt.y());
}

void CCalenderView::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || state_.DrawEnabled != 1 || !HasFrame() || !ops_) {
    QWidget::mouseDoubleClickEvent(e);
    return;
  }
  Feedback fb(*this);
  const QPoint pt = e->position().toPoint();
  OnDoubleClick(state_, fb, host_, *ops_, pt.x(), pt.y());
}

void CCalenderView::keyPressEvent(QKeyEvent* e) {
  if (state_.DrawEnabled != 1 || !HasFrame() || !ops_ || !nav_ ||
      (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
    QWidget::keyPressEvent(e);
    return;
  }
  ViewKey key;
  switch (e->key()) {
    case Qt::Key_Left: key = ViewKey::Left; break;
    case Qt::Key_Right: key = ViewKey::Right; break;
    case Qt::Key_Up: key = ViewKey::Up; break;
    case Qt::Key_Down: key = ViewKey::Down; break;
    case Qt::Key_Return:
    case Qt::Key_Enter: key = ViewKey::Enter; break;
    case Qt::Key_Tab:
      key = e->modifiers() & Qt::ShiftModifier ? ViewKey::BackTab : ViewKey::Tab;
      break;
    case Qt::Key_Backtab: key = ViewKey::BackTab; break;
    default:
      QWidget::keyPressEvent(e);
      return;
  }
  Feedback fb(*this);
  if (!OnKey(state_, fb, host_, *ops_, *nav_, key)) QWidget::keyPressEvent(e);
}

bool CCalenderView::focusNextPrevChild(bool) { return false; }

QPrinter& CCalenderView::printer() {
  if (!printer_) {
    // Screen resolution keeps the printed lines and text in the screen's
    // proportions; the output stays vector.
    printer_ = std::make_unique<QPrinter>(QPrinter::ScreenResolution);
    printer_->setPageOrientation(QPageLayout::Landscape);
    // Clear of what most printers cannot reach; page set-up may change it.
    printer_->setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
    printer_->setDocName(QStringLiteral("Kalvane"));
  }
  return *printer_;
}

bool CCalenderView::printTo(QPrinter& printer) {
  QPainter p;
  if (!p.begin(&printer)) return false;
  QtSurface s(p, true);
  const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
  PrintView(state_, s, Rect{0, 0, page.width(), page.height()}, host_, other_users_);
  return p.end();
}

namespace {

void TellPrintFailed(QWidget* parent) {
  ui::MessageBox::warning(parent, QStringLiteral("印刷できませんでした。"));
}

}  // namespace

void CCalenderView::print() {
  QPrinter& pr = printer();
  QPrintDialog dlg(&pr, window());
  dlg.setMinMax(1, 1);
  dlg.setOption(QAbstractPrintDialog::PrintPageRange, false);
  dlg.setOption(QAbstractPrintDialog::PrintSelection, false);
  if (dlg.exec() != QDialog::Accepted) return;
  if (!printTo(pr)) TellPrintFailed(window());
}

void CCalenderView::printPreview() {
  QPrintPreviewDialog dlg(&printer(), window());
  dlg.setWindowTitle(QStringLiteral("印刷ﾌﾟﾚﾋﾞｭｰ"));
  connect(&dlg, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* p) { printTo(*p); });
  dlg.exec();
}

void CCalenderView::printSetup() {
  QPageSetupDialog dlg(&printer(), window());
  dlg.exec();
}

}  // namespace kv::app
