#pragma once
// Small helpers for driving dialogs in widget tests.
#include <QListWidget>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

namespace kv::test {

inline QPushButton* ButtonWithText(QWidget* w, const QString& text) {
  for (QPushButton* b : w->findChildren<QPushButton*>())
    if (b->text() == text) return b;
  return nullptr;
}

inline QStringList Lines(const QListWidget* l) {
  QStringList out;
  for (int i = 0; i < l->count(); ++i) out << l->item(i)->text();
  return out;
}

}  // namespace kv::test
