#pragma once
// The file and colour choosers, with the same seam as MessageBox: a queued
// answer is returned instead of opening the chooser. In test mode an
// unanswered chooser is cancelled.
#include <QColor>
#include <QString>
#include <optional>

class QWidget;

namespace kv::ui {

class FileDialog {
 public:
  // Empty when cancelled.
  static QString getOpenFileName(QWidget* parent, const QString& caption,
                                 const QString& dir = QString());
  static QString getSaveFileName(QWidget* parent, const QString& caption,
                                 const QString& dir = QString(), const QString& filter = QString());
  // An empty name answers "cancelled".
  static void setNextFileName(const QString& name);
  static void setTestMode(bool on);
};

class ColorDialog {
 public:
  // nullopt when cancelled.
  static std::optional<QColor> getColor(const QColor& initial, QWidget* parent);
  // nullopt answers "cancelled".
  static void setNextColor(std::optional<QColor> color);
  static void setTestMode(bool on);
};

}  // namespace kv::ui
