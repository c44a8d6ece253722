// GoogleTest main for widget tests: one QApplication for the whole binary,
// message boxes and choosers answered by the seams, never by a person.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>

#include "app/ui/Choosers.h"
#include "app/ui/MessageBox.h"

namespace {

// The last line of defence against a test that waits for a person: a modal
// dialog still open half a minute after it showed fails the test and is
// closed. Tests answer their dialogs through ModalScript long before.
class ForgottenDialogs final : public QObject {
 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    auto* d = qobject_cast<QDialog*>(o);
    if (e->type() != QEvent::Show || !d || !d->isWindow() || !d->isModal()) return false;
    const int serial = ++shown_;
    QPointer<QDialog> p(d);
    QTimer::singleShot(30000, this, [this, p, serial] {
      if (!p || !p->isVisible() || serial != shown_) return;
      ADD_FAILURE() << "a dialog nobody answered: \"" << p->windowTitle().toStdString() << "\"";
      p->reject();
    });
    return false;
  }

 private:
  int shown_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  kv::ui::MessageBox::setTestMode(true);
  kv::ui::FileDialog::setTestMode(true);
  kv::ui::ColorDialog::setTestMode(true);
  ForgottenDialogs forgotten;
  app.installEventFilter(&forgotten);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
