#include "app/shell/SettingsApprovals.h"

#include <QByteArray>
#include <QCryptographicHash>

namespace kv::shell {

SettingsApprovals::SettingsApprovals()
    : settings_(std::make_unique<QSettings>(QStringLiteral("Wexor"), QStringLiteral("Kalvane"))) {}

SettingsApprovals::SettingsApprovals(const QString& ini_file)
    : settings_(std::make_unique<QSettings>(ini_file, QSettings::IniFormat)) {}

QString SettingsApprovals::KeyOf(const DateTime& index, const std::string& execute) {
  const QByteArray digest =
      QCryptographicHash::hash(QByteArray(execute.data(), static_cast<qsizetype>(execute.size())),
                               QCryptographicHash::Sha256)
          .toHex();
  return QStringLiteral("ExecuteApprovals/%1-%2")
      .arg(static_cast<qlonglong>(index.LinearSeconds()))
      .arg(QString::fromLatin1(digest));
}

ExecuteApprovals::Answer SettingsApprovals::Lookup(const DateTime& index,
                                                   const std::string& execute) const {
  if (!index.IsValid()) return Answer::Unknown;
  const QVariant v = settings_->value(KeyOf(index, execute));
  if (!v.isValid()) return Answer::Unknown;
  return v.toString() == QLatin1String("run") ? Answer::Approved : Answer::Refused;
}

void SettingsApprovals::Remember(const DateTime& index, const std::string& execute,
                                 bool approved) {
  if (!index.IsValid()) return;
  settings_->setValue(KeyOf(index, execute),
                      approved ? QStringLiteral("run") : QStringLiteral("refused"));
  settings_->sync();
}

}  // namespace kv::shell
