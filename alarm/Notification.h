#pragma once
// The desktop notification of an alarm (org.freedesktop.Notifications).
// Asynchronous throughout: a missing or slow service never holds up the
// alarm window.
#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>

#include "alarm/AlarmArgs.h"

class QDBusMessage;
class QDBusPendingCall;

namespace kv::alarm {

// Summary and body of the notification; the body is escaped when the
// service reads markup, so an item's text is never taken as markup.
QString NotificationSummary(const AlarmRequest& request);
QString NotificationBody(const AlarmRequest& request, bool service_reads_markup);
// Key and label pairs for Notify: the snoozes and 閉じる, where the service
// shows actions; none otherwise.
QStringList NotificationActions(const QStringList& capabilities);

class DesktopNotifier : public QObject {
  Q_OBJECT
 public:
  explicit DesktopNotifier(QDBusConnection bus, QObject* parent = nullptr);
  // Asks the service for its capabilities, then sends; without a service
  // (or without a session bus) finished(false) follows.
  void send(const AlarmRequest& request);
  // Takes the notification off the desktop, or the one still on its way
  // as soon as it gets there.
  void withdraw();
  // Calls to the service not yet answered; idle() when they are all done.
  bool busy() const { return in_flight_ > 0; }

 signals:
  void finished(bool sent);
  // An action chosen in the notification now on the desktop.
  void actionInvoked(const QString& key);
  void idle();

 private slots:
  void onActionInvoked(uint id, const QString& key);
  void onClosed(uint id, uint reason);

 private:
  template <class OnReply>
  void call(const QDBusMessage& message, int timeout_ms, OnReply on_reply);
  void notify(const QStringList& capabilities, quint64 round);
  void close(uint id);

  QDBusConnection bus_;
  AlarmRequest request_;
  uint id_ = 0;        // the notification on the desktop, 0 for none
  quint64 round_ = 0;  // each send and withdraw; replies to an older one are stale
  int in_flight_ = 0;
};

}  // namespace kv::alarm
