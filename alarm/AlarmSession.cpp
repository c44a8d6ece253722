#include "alarm/AlarmSession.h"

#include <chrono>

#include "alarm/Answers.h"

namespace kv::alarm {

namespace {

// How long the end waits for the service to take the notification back.
constexpr int kEndWaitMs = 3000;

}  // namespace

AlarmSession::AlarmSession(const AlarmRequest& request, QDBusConnection bus, QObject* parent)
    : QObject(parent), request_(request), window_(request), notifier_(std::move(bus)) {
  snooze_.setSingleShot(true);
  connect(&snooze_, &QTimer::timeout, this, &AlarmSession::present);
  connect(&window_, &AlarmWindow::snoozeChosen, this, &AlarmSession::snooze);
  connect(&window_, &QDialog::finished, this, &AlarmSession::end);
  connect(&notifier_, &DesktopNotifier::actionInvoked, this, &AlarmSession::act);
}

void AlarmSession::start() { present(); }

void AlarmSession::present() {
  if (ending_) return;
  window_.show();
  notifier_.send(request_);
  emit shown();
}

void AlarmSession::snooze(int minutes) {
  if (ending_) return;
  window_.hide();
  notifier_.withdraw();
  snooze_.start(std::chrono::minutes(minutes));
}

void AlarmSession::act(const QString& key) {
  if (key == kCloseKey) {
    end();
    return;
  }
  if (key == kDefaultKey) {
    if (ending_) return;
    snooze_.stop();
    window_.show();
    window_.raise();
    window_.activateWindow();
    return;
  }
  for (const SnoozeChoice& c : kSnoozeChoices)
    if (key == c.key) snooze(c.minutes);
}

void AlarmSession::end() {
  if (ending_) return;
  ending_ = true;
  snooze_.stop();
  window_.hide();
  notifier_.withdraw();
  if (!notifier_.busy()) {
    QTimer::singleShot(0, this, &AlarmSession::announceEnd);
    return;
  }
  connect(&notifier_, &DesktopNotifier::idle, this, &AlarmSession::announceEnd);
  QTimer::singleShot(kEndWaitMs, this, &AlarmSession::announceEnd);
}

void AlarmSession::announceEnd() {
  if (ended_) return;
  ended_ = true;
  emit ended();
}

}  // namespace kv::alarm
