#pragma once
// Small helpers for driving dialogs in widget tests.
#include <QApplication>
#include <QDialog>
#include <QListWidget>
#include <QTimer>
#include <functional>
#include <QPushButton>
#include <QStringList>

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

// Runs f on the next modal dialog once it is open (before an exec()).
inline void WhenModal(std::function<void(QDialog*)> f) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, f] {
    auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dlg) return;
    timer->stop();
    timer->deleteLater();
    f(dlg);
  });
  timer->start();
}

}  // namespace kv::test
