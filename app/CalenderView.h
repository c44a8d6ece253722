#pragma once
// The calendar view: paints the layout of the current mode straight onto
// the window and keeps what it drew as a list of drawing calls, not as
// pixels. Presses and double-clicks go to the hit testing, whose feedback
// joins that list; a paint with no fresh layout draws the list again.
#include <QImage>
#include <QWidget>
#include <memory>
#include <vector>

#include "view/RecordingSurface.h"

#include "view/Layouts.h"
#include "view/Navigation.h"
#include "view/ViewHost.h"
#include "view/ViewState.h"

class QPrinter;

namespace kv::app {

class CCalenderView : public QWidget {
  Q_OBJECT
 public:
  CCalenderView(ViewState& state, ViewHost& host, QWidget* parent = nullptr);
  ~CCalenderView() override;

  void setItemOperations(ItemOperations* ops) { ops_ = ops; }
  // What turns the page when the arrow keys leave it.
  void setViewCommands(ViewCommands* nav) { nav_ = nav; }
  void setOtherUsersLayout(OtherUsersLayout* layout) { other_users_ = layout; }

  // The layout is stale: it runs again at the next paint.
  void invalidateLayout();
  bool layoutStale() const { return dirty_; }

  // One page of the current layout; the screen's rectangles, inversion and
  // first hour are kept. False when the printer cannot be drawn on.
  bool printTo(QPrinter& printer);
  // The print, print preview and page set-up commands.
  void print();
  void printPreview();
  void printSetup();
  // Printer settings shared by the three commands.
  QPrinter& printer();

  // The last drawn frame with its feedback since (device pixels); null
  // before the first.
  QImage frameImage() const;
  // How many times the layouts have run for the screen.
  int layoutRuns() const { return layout_runs_; }

 signals:
  // A frame with a fresh layout has just been put on the screen.
  void framePainted();

 protected:
  // A holiday name that its day's header had no room for shows as the
  // header's tool tip.
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  // Tab steps through the selected day's items, never out of the view.
  bool focusNextPrevChild(bool next) override;

 private:
  class Feedback;
  bool CanLayout() const;
  bool HasFrame() const { return frame_size_.isValid(); }
  // Runs the layouts onto p and keeps their drawing.
  void Layout(QPainter& p);
  // The kept drawing, clear of the part of the widget it never covered;
  // a null `exposed` draws all of it.
  void Replay(QPainter& p, const QSize& widget, const QRect& exposed = QRect()) const;

  ViewState& state_;
  ViewHost& host_;
  ItemOperations* ops_ = nullptr;
  ViewCommands* nav_ = nullptr;
  OtherUsersLayout* other_users_ = nullptr;
  // The last layout's drawing calls and the feedback drawn onto it since,
  // with the size and pixel ratio it was laid out at.
  std::vector<SurfaceOp> frame_;
  size_t frame_layout_ops_ = 0;
  QSize frame_size_;
  qreal frame_dpr_ = 1;
  bool dirty_ = true;
  int layout_runs_ = 0;
  int idle_hook_ = 0;
  std::unique_ptr<QPrinter> printer_;
};

}  // namespace kv::app
