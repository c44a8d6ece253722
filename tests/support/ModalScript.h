#pragma once
// Answers the modal dialogs that the code under test opens, in order, as
// each one shows. It reacts to the dialog's own show event, never to a
// timer, so a loaded machine only makes a test slower. A dialog that opens
// with no answer left, or is still open once its answer has run, fails the
// test and is closed by a watchdog: nothing ever waits for a person.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>

namespace kv::test {

class ModalScript : public QObject {
 public:
  explicit ModalScript(int watchdog_ms = 5000) : watchdog_ms_(watchdog_ms) {
    qApp->installEventFilter(this);
  }
  ~ModalScript() override {
    qApp->removeEventFilter(this);
    EXPECT_TRUE(answers_.empty()) << answers_.size() << " expected dialog(s) never opened";
  }

  // Runs `body` on the next modal dialog, which must be a Dlg, once its
  // event loop runs.
  template <class Dlg = QDialog>
  ModalScript& then(std::function<void(Dlg*)> body) {
    answers_.push_back([body](QDialog* d) {
      auto* dlg = qobject_cast<Dlg*>(d);
      if (!dlg) {
        ADD_FAILURE() << "a dialog of another kind opened: " << d->metaObject()->className()
                      << " \"" << d->windowTitle().toStdString() << "\"";
        return;
      }
      body(dlg);
    });
    return *this;
  }

  int opened() const { return opened_; }
  bool done() const { return answers_.empty(); }

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() != QEvent::Show) return false;
    auto* d = qobject_cast<QDialog*>(o);
    if (!d || !d->isWindow() || !d->isModal()) return false;
    ++opened_;
    std::function<void(QDialog*)> answer;
    if (!answers_.empty()) {
      answer = std::move(answers_.front());
      answers_.pop_front();
    }
    const int serial = opened_;
    QPointer<QDialog> p(d);
    // Queued: exec() has entered its loop by the time the answer runs.
    QMetaObject::invokeMethod(
        this,
        [this, p, serial, answer] {
          if (!p) return;
          if (!answer) {
            ADD_FAILURE() << "a dialog opened with no answer for it: \""
                          << p->windowTitle().toStdString() << "\"";
            p->reject();
            return;
          }
          answer(p);
          if (p && p->isVisible()) Watch(p, serial);
        },
        Qt::QueuedConnection);
    return false;
  }

 private:
  // The answer ran and left its dialog open (a failed assertion in it, or
  // a click that missed): fail and close it instead of hanging.
  void Watch(QPointer<QDialog> p, int serial) {
    QTimer::singleShot(watchdog_ms_, this, [this, p, serial] {
      if (!p || !p->isVisible() || opened_ != serial) return;
      ADD_FAILURE() << "a dialog stayed open after its answer: \"" << p->windowTitle().toStdString()
                    << "\"";
      p->reject();
    });
  }

  int watchdog_ms_;
  int opened_ = 0;
  std::deque<std::function<void(QDialog*)>> answers_;
};

}  // namespace kv::test
