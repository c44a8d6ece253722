#pragma once
// One alarm from its first showing to its end: the window, its desktop
// notification, and the snooze that hides both for a while. Nothing is
// stored: a snoozed alarm lives only as long as the program.
#include <QDBusConnection>
#include <QObject>
#include <QTimer>

#include "alarm/AlarmArgs.h"
#include "alarm/AlarmWindow.h"
#include "alarm/Notification.h"

namespace kv::alarm {

class AlarmSession : public QObject {
  Q_OBJECT
 public:
  AlarmSession(const AlarmRequest& request, QDBusConnection bus, QObject* parent = nullptr);

  // Shows the window and sends the notification.
  void start();

  AlarmWindow* window() { return &window_; }
  DesktopNotifier* notifier() { return &notifier_; }
  // Single shot, running while the alarm is snoozed.
  QTimer* snoozeTimer() { return &snooze_; }

 public slots:
  void snooze(int minutes);
  // Hides the window, withdraws the notification, then ended().
  void end();

 signals:
  // Each showing: the first and after every snooze.
  void shown();
  void ended();

 private:
  void present();
  void act(const QString& key);
  void announceEnd();

  AlarmRequest request_;
  AlarmWindow window_;
  DesktopNotifier notifier_;
  QTimer snooze_;
  bool ending_ = false;
  bool ended_ = false;
};

}  // namespace kv::alarm
