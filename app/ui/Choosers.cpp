#include "app/ui/Choosers.h"

#include <QColorDialog>
#include <QFileDialog>
#include <deque>

namespace kv::ui {

namespace {

template <typename T>
struct Answers {
  std::deque<T> queue;
  bool test_mode = false;
  // True with *out set when the chooser is answered without being shown.
  bool Take(T* out, const T& cancelled) {
    if (!queue.empty()) {
      *out = queue.front();
      queue.pop_front();
      return true;
    }
    if (test_mode) {
      *out = cancelled;
      return true;
    }
    return false;
  }
};

Answers<QString>& files() {
  static Answers<QString> a;
  return a;
}

Answers<std::optional<QColor>>& colors() {
  static Answers<std::optional<QColor>> a;
  return a;
}

}  // namespace

QString FileDialog::getOpenFileName(QWidget* parent, const QString& caption, const QString& dir) {
  QString answer;
  if (files().Take(&answer, QString())) return answer;
  return QFileDialog::getOpenFileName(parent, caption, dir, QString(), nullptr,
                                      QFileDialog::ReadOnly);
}

QString FileDialog::getSaveFileName(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter) {
  QString answer;
  if (files().Take(&answer, QString())) return answer;
  return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

void FileDialog::setNextFileName(const QString& name) { files().queue.push_back(name); }
void FileDialog::setTestMode(bool on) { files().test_mode = on; }

std::optional<QColor> ColorDialog::getColor(const QColor& initial, QWidget* parent) {
  std::optional<QColor> answer;
  if (colors().Take(&answer, std::nullopt)) return answer;
  const QColor c = QColorDialog::getColor(initial, parent);
  if (!c.isValid()) return std::nullopt;
  return c;
}

void ColorDialog::setNextColor(std::optional<QColor> color) { colors().queue.push_back(color); }
void ColorDialog::setTestMode(bool on) { colors().test_mode = on; }

}  // namespace kv::ui
