#include "app/ui/MessageBox.h"

#include <QApplication>
#include <deque>

namespace kv::ui {

namespace {

struct Seam {
  std::deque<MessageBox::Button> answers;
  bool test_mode = false;
  QStringList shown;
};

Seam& seam() {
  static Seam s;
  return s;
}

}  // namespace

MessageBox::Button MessageBox::Show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                    Buttons buttons, Button default_button) {
  Seam& s = seam();
  if (!s.answers.empty() || s.test_mode) {
    s.shown.push_back(text);
    if (s.answers.empty()) return default_button;
    const Button a = s.answers.front();
    s.answers.pop_front();
    return a;
  }
  QMessageBox box(icon, QApplication::applicationDisplayName(), text, buttons, parent);
  box.setDefaultButton(default_button);
  return static_cast<Button>(box.exec());
}

MessageBox::Button MessageBox::information(QWidget* parent, const QString& text, Buttons buttons,
                                           Button default_button) {
  return Show(parent, QMessageBox::Information, text, buttons, default_button);
}

MessageBox::Button MessageBox::warning(QWidget* parent, const QString& text, Buttons buttons,
                                       Button default_button) {
  return Show(parent, QMessageBox::Warning, text, buttons, default_button);
}

MessageBox::Button MessageBox::critical(QWidget* parent, const QString& text, Buttons buttons,
                                        Button default_button) {
  return Show(parent, QMessageBox::Critical, text, buttons, default_button);
}

MessageBox::Button MessageBox::question(QWidget* parent, const QString& text, Buttons buttons,
                                        Button default_button) {
  return Show(parent, QMessageBox::Question, text, buttons, default_button);
}

void MessageBox::setNextAnswer(Button answer) { seam().answers.push_back(answer); }

void MessageBox::setTestMode(bool on) { seam().test_mode = on; }

QStringList MessageBox::takeShownTexts() {
  QStringList out;
  out.swap(seam().shown);
  return out;
}

}  // namespace kv::ui
