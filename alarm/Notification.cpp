#include "alarm/Notification.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QTimer>
#include <QVariantMap>

namespace kv::alarm {

namespace {

const char kService[] = "org.freedesktop.Notifications";
const char kPath[] = "/org/freedesktop/Notifications";
const char kInterface[] = "org.freedesktop.Notifications";
constexpr int kCallTimeoutMs = 10000;
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

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

void DesktopNotifier::send(const AlarmRequest& request) {
  request_ = request;
  if (!bus_.isConnected()) {
    QTimer::singleShot(0, this, [this] { emit finished(false); });
    return;
  }
  const QDBusMessage ask =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, "GetCapabilities");
  if (!bus_.callWithCallback(ask, this, SLOT(gotCapabilities(QStringList)),
                             SLOT(failed(QDBusError)), kCallTimeoutMs))
    QTimer::singleShot(0, this, [this] { emit finished(false); });
}

void DesktopNotifier::gotCapabilities(const QStringList& capabilities) {
  QDBusMessage notify = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
  QVariantMap hints;
  hints.insert("urgency", QVariant::fromValue<uchar>(1));
  hints.insert("category", QStringLiteral("x-kalvane.alarm"));
  notify << QStringLiteral("Kalvane") << uint(0) << QStringLiteral("appointment-soon")
         << NotificationSummary(request_)
         << NotificationBody(request_, capabilities.contains("body-markup")) << QStringList()
         << hints << int(-1);
  if (!bus_.callWithCallback(notify, this, SLOT(gotNotificationId(uint)), SLOT(failed(QDBusError)),
                             kCallTimeoutMs))
    emit finished(false);
}

void DesktopNotifier::gotNotificationId(uint) { emit finished(true); }

void DesktopNotifier::failed(const QDBusError&) { emit finished(false); }

}  // namespace kv::alarm
