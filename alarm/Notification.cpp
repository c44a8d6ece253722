#include "alarm/Notification.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>
#include <QVariantMap>

#include "alarm/Answers.h"

namespace kv::alarm {

namespace {

const char kService[] = "org.freedesktop.Notifications";
const char kPath[] = "/org/freedesktop/Notifications";
const char kInterface[] = "org.freedesktop.Notifications";
constexpr int kCallTimeoutMs = 10000;
// Withdrawing may hold up the program's end: a hung service gets less.
constexpr int kCloseTimeoutMs = 2000;
// A long description is for the window; the notification shows its start.
constexpr int kBodyDescChars = 200;

}  // namespace

QString NotificationSummary(const AlarmRequest& request) {
  const QString subject = QString::fromStdString(request.subject);
  return subject.isEmpty() ? QString::fromUtf8("アラーム") : subject;
}

QString NotificationBody(const AlarmRequest& request, bool service_reads_markup) {
  QStringList lines{QString::fromStdString(request.span)};
  if (request.place && !request.place->empty())
    lines << QString::fromUtf8("場所: ") + QString::fromStdString(*request.place);
  if (request.desc && !request.desc->empty()) {
    QString desc = QString::fromStdString(*request.desc);
    if (desc.size() > kBodyDescChars) desc = desc.left(kBodyDescChars) + QChar(0x2026);
    lines << desc;
  }
  QString body = lines.join('\n');
  return service_reads_markup ? body.toHtmlEscaped() : body;
}

QStringList NotificationActions(const QStringList& capabilities) {
  if (!capabilities.contains("actions")) return {};
  QStringList actions{kDefaultKey, QString::fromUtf8(kDefaultLabel)};
  for (const SnoozeChoice& c : kSnoozeChoices) actions << c.key << QString::fromUtf8(c.label);
  actions << kCloseKey << QString::fromUtf8(kCloseLabel);
  return actions;
}

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
  // Before the first Notify, so no answer can come before we listen.
  if (bus_.isConnected()) {
    bus_.connect(kService, kPath, kInterface, "ActionInvoked", this,
                 SLOT(onActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, "NotificationClosed", this,
                 SLOT(onClosed(uint, uint)));
  }
}

template <class OnReply>
void DesktopNotifier::call(const QDBusMessage& message, int timeout_ms, OnReply on_reply) {
  ++in_flight_;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, timeout_ms), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, on_reply](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            on_reply(static_cast<const QDBusPendingCall&>(*w));
            if (--in_flight_ == 0) emit idle();
          });
}

void DesktopNotifier::send(const AlarmRequest& request) {
  request_ = request;
  const quint64 round = ++round_;
  if (!bus_.isConnected()) {
    QTimer::singleShot(0, this, [this] { emit finished(false); });
    return;
  }
  call(QDBusMessage::createMethodCall(kService, kPath, kInterface, "GetCapabilities"),
       kCallTimeoutMs, [this, round](const QDBusPendingCall& c) {
         const QDBusPendingReply<QStringList> reply = c;
         if (reply.isError() || round != round_)
           emit finished(false);
         else
           notify(reply.value(), round);
       });
}

void DesktopNotifier::notify(const QStringList& capabilities, quint64 round) {
  QDBusMessage notify = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  QVariantMap hints;
  hints.insert("urgency", QVariant::fromValue<uchar>(1));
  hints.insert("category", QStringLiteral("x-kalvane.alarm"));
  notify << QStringLiteral("Kalvane") << uint(0) << QStringLiteral("appointment-soon")
         << NotificationSummary(request_)
         << NotificationBody(request_, capabilities.contains("body-markup"))
         << NotificationActions(capabilities) << hints << int(-1);
  call(notify, kCallTimeoutMs, [this, round](const QDBusPendingCall& c) {
    const QDBusPendingReply<uint> reply = c;
    if (reply.isError()) {
      emit finished(false);
      return;
    }
    if (round == round_)
      id_ = reply.value();
    else
      close(reply.value());  // withdrawn while on its way
    emit finished(true);
  });
}

void DesktopNotifier::withdraw() {
  ++round_;
  if (id_ != 0) close(id_);
  id_ = 0;
}

void DesktopNotifier::close(uint id) {
  QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kInterface, "CloseNotification");
  m << id;
  call(m, kCloseTimeoutMs, [](const QDBusPendingCall&) {});
}

void DesktopNotifier::onActionInvoked(uint id, const QString& key) {
  if (id != 0 && id == id_) emit actionInvoked(key);
}

void DesktopNotifier::onClosed(uint id, uint) {
  if (id == id_) id_ = 0;
}

}  // namespace kv::alarm
