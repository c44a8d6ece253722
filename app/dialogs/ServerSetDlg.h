#pragma once
// "サーバー設定": the server name, port, user name and password. OK is
// refused, with the field named and focused, while an entry cannot be used.
#include <QDialog>

#include "app/group/PasswordKeeper.h"
#include "app/group/ServerSettings.h"

class QLabel;
class QLineEdit;

namespace kv::ui {

// Proposed while the settings hold no port (0).
inline constexpr int kDefaultServerPort = 4780;

class ServerSetDlg : public QDialog {
  Q_OBJECT
 public:
  explicit ServerSetDlg(QWidget* parent = nullptr);

  void setSettings(const ServerSettings& s);
  // The entries as accepted; meaningful after OK.
  const ServerSettings& settings() const { return result_; }
  // Tells the user where the password will be kept.
  void setPasswordPlace(PasswordPlace place);

  void accept() override;

 private:
  bool Refuse(QLineEdit* field, const QString& text);

  QLineEdit* server_;
  QLineEdit* port_;
  QLineEdit* user_;
  QLineEdit* password_;
  QLabel* place_;
  ServerSettings result_;
};

// The most CP932 bytes a connection setting may hold.
inline constexpr int kMaxSettingBytes = 255;

}  // namespace kv::ui
