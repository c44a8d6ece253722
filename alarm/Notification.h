#pragma once
// The desktop notification of an alarm (org.freedesktop.Notifications).
// Asynchronous throughout: a missing or slow service never holds up the
// alarm window.
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>

#include "alarm/AlarmArgs.h"

class QDBusError;

namespace kv::alarm {

// Summary and body of the notification; the body is escaped when the
// service reads markup, so an item's text is never taken as markup.
QString NotificationSummary(const AlarmRequest& request);
QString NotificationBody(const AlarmRequest& request, bool service_reads_markup);

class DesktopNotifier : public QObject {
  Q_OBJECT
 public:
  explicit DesktopNotifier(QDBusConnection bus, QObject* parent = nullptr);
  // Asks the service for its capabilities, then sends; without a service
  // (or without a session bus) finished(false) follows.
  void send(const AlarmRequest& request);

 signals:
  void finished(bool sent);

 private slots:
  void gotCapabilities(const QStringList& capabilities);
  void gotNotificationId(uint id);
  void failed(const QDBusError& error);

 private:
  QDBusConnection bus_;
  AlarmRequest request_;
};

}  // namespace kv::alarm
