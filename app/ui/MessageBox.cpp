#include "app/ui/MessageBox.h"

#include <QAbstractButton>
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
                                    Buttons buttons, Button default_button,
                                    const QList<LabelledButton>& labels, Button escape_button) {
  Seam& s = seam();
  if (!s.answers.empty() || s.test_mode) {
    s.shown.push_back(text);
    if (s.answers.empty()) return default_button;
    const Button a = s.answers.front();
    s.answers.pop_front();
    return a;
  }
  QMessageBox box(icon, QApplication::applicationDisplayName(), QString(), buttons, parent);
  // Messages carry texts from items, other users and the server.
  box.setTextFormat(Qt::PlainText);
  box.setText(text);
  box.setDefaultButton(default_button);
  for (const LabelledButton& l : labels) {
    if (QAbstractButton* b = box.button(l.button)) b->setText(l.text);
  }
  if (escape_button != QMessageBox::NoButton) box.setEscapeButton(escape_button);
  const int r = box.exec();
  // Closed without a button of its own: the escape choice, never "yes".
  if (escape_button != QMessageBox::NoButton && !(buttons & static_cast<Button>(r)))
    return escape_button;
  return static_cast<Button>(r);
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

MessageBox::Button MessageBox::ask(QWidget* parent, const QString& text,
                                   const QList<LabelledButton>& buttons, Button default_button,
                                   Button escape_button) {
  Buttons set;
  for (const LabelledButton& l : buttons) set |= l.button;
  return Show(parent, QMessageBox::Question, text, set, default_button, buttons, escape_button);
}

void MessageBox::setNextAnswer(Button answer) { seam().answers.push_back(answer); }

void MessageBox::setTestMode(bool on) { seam().test_mode = on; }

QStringList MessageBox::takeShownTexts() {
  QStringList out;
  out.swap(seam().shown);
  return out;
}

}  // namespace kv::ui
