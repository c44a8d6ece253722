#include "alarm/AlarmWindow.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>

#include "alarm/Answers.h"

namespace kv::alarm {

namespace {

// Texts come from items other users may have written: never rich text.
QLabel* PlainLabel(const QString& text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  l->setTextFormat(Qt::PlainText);
  l->setWordWrap(true);
  l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return l;
}

}  // namespace

void UseJapaneseFont() {
  const QString family = QStringLiteral("Noto Sans CJK JP");
  if (!QFontDatabase::families().contains(family)) return;
  QFont f(family);
  f.setPointSizeF(QApplication::font().pointSizeF());
  QApplication::setFont(f);
}

AlarmWindow::AlarmWindow(const AlarmRequest& request, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowStaysOnTopHint) {
  const QString alarm = QString::fromUtf8("アラーム");
  setWindowTitle(request.subject.empty() ? alarm
                                         : QString::fromStdString(request.subject) + " - " + alarm);
  setModal(false);

  auto* layout = new QVBoxLayout(this);
  subject_ = PlainLabel(QString::fromStdString(request.subject), this);
  QFont big = subject_->font();
  big.setPointSizeF(big.pointSizeF() * 1.4);
  big.setBold(true);
  subject_->setFont(big);
  layout->addWidget(subject_);

  // A grid rather than a form layout: wrapped values then get the full
  // width and the height their lines need.
  auto* grid = new QGridLayout;
  grid->setColumnStretch(1, 1);
  auto add_row = [&](const char* caption, QLabel* value) {
    const int row = grid->rowCount();
    grid->addWidget(new QLabel(QString::fromUtf8(caption), this), row, 0, Qt::AlignTop);
    grid->addWidget(value, row, 1);
  };
  span_ = PlainLabel(QString::fromStdString(request.span), this);
  span_->setWordWrap(false);  // short and fixed; a break would hide its end
  add_row("日時:", span_);
  if (request.place && !request.place->empty()) {
    place_ = PlainLabel(QString::fromStdString(*request.place), this);
    add_row("場所:", place_);
  }
  layout->addLayout(grid);

  if (request.desc && !request.desc->empty()) {
    desc_ = new QPlainTextEdit(QString::fromStdString(*request.desc), this);
    desc_->setReadOnly(true);
    desc_->setMinimumHeight(desc_->fontMetrics().lineSpacing() * 4);
    layout->addWidget(new QLabel(QString::fromUtf8("内容:"), this));
    layout->addWidget(desc_, 1);
  } else {
    layout->addStretch(1);
  }

  // Our own row rather than a button box: the snoozes keep their order
  // under every style, and 閉じる stays at the end.
  auto* buttons = new QHBoxLayout;
  for (const SnoozeChoice& c : kSnoozeChoices) {
    auto* b = new QPushButton(QString::fromUtf8(c.label), this);
    b->setToolTip(QString::fromUtf8("%1にもう一度お知らせします").arg(QString::fromUtf8(c.label)));
    connect(b, &QPushButton::clicked, this, [this, m = c.minutes] { emit snoozeChosen(m); });
    buttons->addWidget(b);
    snooze_ << b;
  }
  buttons->addStretch(1);
  close_ = new QPushButton(QString::fromUtf8(kCloseLabel), this);
  close_->setDefault(true);
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  buttons->addWidget(close_);
  layout->addLayout(buttons);

  setMinimumWidth(fontMetrics().averageCharWidth() * 48);
  // Wrapped labels only know their height for a width: size the window
  // for the width it gets, so no line of a long subject is cut off.
  const int w = std::max(minimumWidth(), sizeHint().width());
  resize(w, layout->hasHeightForWidth() ? std::max(sizeHint().height(), layout->totalHeightForWidth(w))
                                        : sizeHint().height());
}

void AlarmWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  raise();
  activateWindow();
  close_->setFocus();
  QApplication::alert(this);
}

}  // namespace kv::alarm
