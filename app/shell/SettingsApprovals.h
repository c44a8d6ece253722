#pragma once
// Execute approvals in the user's own settings on this machine (QSettings,
// organisation "Wexor"), keyed by the item's Index and a digest of the
// exact text, so the texts themselves are not copied there.
#include <QSettings>
#include <QString>
#include <memory>

#include "edit/ExecuteApprovals.h"

namespace kv::shell {

class SettingsApprovals final : public ExecuteApprovals {
 public:
  // The client's own settings.
  SettingsApprovals();
  // A settings file of its own (INI), for tests.
  explicit SettingsApprovals(const QString& ini_file);

  Answer Lookup(const DateTime& index, const std::string& execute) const override;
  // An item without a valid Index is never remembered: it would share its
  // key with every other such item.
  void Remember(const DateTime& index, const std::string& execute, bool approved) override;

  static QString KeyOf(const DateTime& index, const std::string& execute);

 private:
  std::unique_ptr<QSettings> settings_;
};

}  // namespace kv::shell
