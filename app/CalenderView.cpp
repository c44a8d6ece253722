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

// Selection feedback onto the last frame. Each call paints and lets go at
// once, so an item dialog opened by a double-click never finds the image
// held by a painter.
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
  void FillRect(const Rect& r, Color c) override {
    With([&](QtSurface& s) { s.FillRect(r, c); });
  }
  void Frame3D(const Rect& r, Color a, Color b) override {
    With([&](QtSurface& s) { s.Frame3D(r, a, b); });
  }
  void InvertRect(const Rect& r) override {
    With([&](QtSurface& s) { s.InvertRect(r); });
  }
  void DrawBitmap(int id, int x, int y, int w, int h) override {
    With([&](QtSurface& s) { s.DrawBitmap(id, x, y, w, h); });
  }
  void SetTextColor(Color c) override { color_ = c; }
  void DrawText(const std::string& t, const Rect& r, TextAlign a) override {
    With([&](QtSurface& s) {
      s.SetTextColor(color_);
      s.DrawText(t, r, a);
    });
  }

 private:
  template <class F>
  void With(F f) {
    if (v_.backing_.isNull()) return;
    {
      QPainter p(&v_.backing_);
      QtSurface s(p, false);
      f(s);
    }
    v_.update();
  }
  CCalenderView& v_;
  Color color_ = kBlack;
};

CCalenderView::CCalenderView(ViewState& state, ViewHost& host, QWidget* parent)
    : QWidget(parent), state_(state), host_(host) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(200, 150);
  // A frame asked for while a server call ran comes once the call is over.
  idle_hook_ = ServerCall::AddIdleHook([this] {
    if (dirty_) update();
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

void CCalenderView::Render() {
  const qreal dpr = devicePixelRatioF();
  // The last frame's image is drawn over while its size still fits.
  if (backing_.isNull() || backing_.size() != size() * dpr || backing_.devicePixelRatio() != dpr) {
    backing_ = QImage(size() * dpr, QImage::Format_RGB32);
    backing_.setDevicePixelRatio(dpr);
  }
  backing_.fill(palette().color(QPalette::Base));
  {
    QPainter p(&backing_);
    QtSurface s(p, false);
    PaintView(state_, s, Rect{0, 0, width(), height()}, host_, other_users_);
  }
  dirty_ = false;
  ++layout_runs_;
}

bool CCalenderView::event(QEvent* e) {
  if (e->type() != QEvent::ToolTip) return QWidget::event(e);
  const auto* help = static_cast<QHelpEvent*>(e);
  HiddenHoliday hidden;
  if (state_.DrawEnabled == 1 && !backing_.isNull())
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

void CCalenderView::paintEvent(QPaintEvent*) {
  const qreal dpr = devicePixelRatioF();
  const bool resized =
      backing_.isNull() || backing_.size() != size() * dpr || backing_.devicePixelRatio() != dpr;
  bool fresh = false;
  if (CanLayout() && (dirty_ || resized)) {
    Render();
    fresh = true;
  }
  QPainter p(this);
  const QColor base = palette().color(QPalette::Base);
  if (backing_.isNull()) {
    p.fillRect(rect(), base);
  } else {
    p.drawImage(0, 0, backing_);
    // A window grown since the last frame: the new part stays blank.
    const QSize shown = backing_.size() / backing_.devicePixelRatio();
    if (shown.width() < width()) p.fillRect(shown.width(), 0, width() - shown.width(), height(), base);
    if (shown.height() < height())
      p.fillRect(0, shown.height(), shown.width(), height() - shown.height(), base);
  }
  p.end();
  if (fresh) emit framePainted();
}

void CCalenderView::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || state_.DrawEnabled != 1 || backing_.isNull()) {
    QWidget::mousePressEvent(e);
    return;
  }
  Feedback fb(*this);
  const QPoint pt = e->position().toPoint();
  OnPress(state_, fb, host_, pt.x(), pt.y());
}

void CCalenderView::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || state_.DrawEnabled != 1 || backing_.isNull() || !ops_) {
    QWidget::mouseDoubleClickEvent(e);
    return;
  }
  Feedback fb(*this);
  const QPoint pt = e->position().toPoint();
  OnDoubleClick(state_, fb, host_, *ops_, pt.x(), pt.y());
}

void CCalenderView::keyPressEvent(QKeyEvent* e) {
  if (state_.DrawEnabled != 1 || backing_.isNull() || !ops_ || !nav_ ||
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
