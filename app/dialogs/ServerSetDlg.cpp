#include "app/dialogs/ServerSetDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialogs/DialogSupport.h"
#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"

namespace kv::ui {

ServerSetDlg::ServerSetDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("サーバー設定"));
  server_ = Named(new QLineEdit(this), "serverName");
  port_ = Named(new QLineEdit(this), "serverPort");
  user_ = Named(new QLineEdit(this), "userName");
  password_ = Named(new QLineEdit(this), "password");
  password_->setEchoMode(QLineEdit::Password);
  server_->setMinimumWidth(fontMetrics().averageCharWidth() * 32);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("サーバー名"), server_);
  form->addRow(QStringLiteral("ポート番号"), port_);
  form->addRow(QStringLiteral("ユーザ名"), user_);
  form->addRow(QStringLiteral("パスワード"), password_);

  place_ = new QLabel(this);
  place_->setObjectName(QStringLiteral("passwordPlace"));
  place_->setWordWrap(true);

  QDialogButtonBox* buttons = MakeOkCancel(this, QStringLiteral("ｷｬﾝｾﾙ"));

  auto* top = new QVBoxLayout(this);
  top->addLayout(form);
  top->addWidget(place_);
  top->addWidget(buttons);
  setPasswordPlace(PasswordPlace::Store);
}

void ServerSetDlg::setSettings(const ServerSettings& s) {
  server_->setText(FromCp932(s.ServerName));
  // No port yet: the group server's usual one.
  port_->setText(QString::number(s.ServerPort == 0 ? kDefaultServerPort : s.ServerPort));
  user_->setText(FromCp932(s.UserName));
  password_->setText(FromCp932(s.Password));
  result_ = s;
}

void ServerSetDlg::setPasswordPlace(PasswordPlace place) {
  place_->setText(place == PasswordPlace::SecretService
                      ? QStringLiteral("パスワードはデスクトップの鍵束（シークレットサービス）に保存されます。")
                      : QStringLiteral("鍵束が使えないため、パスワードは予定ファイルに保存されます"
                                       "（このユーザだけが読めるファイルです）。"));
}

bool ServerSetDlg::Refuse(QLineEdit* field, const QString& text) {
  MessageBox::warning(this, text);
  field->setFocus();
  field->selectAll();
  return false;
}

void ServerSetDlg::accept() {
  ServerSettings s;
  struct Text {
    QLineEdit* field;
    const char16_t* label;
    std::string* out;
  } texts[] = {{server_, u"サーバー名", &s.ServerName},
               {user_, u"ユーザ名", &s.UserName},
               {password_, u"パスワード", &s.Password}};
  for (const Text& t : texts) {
    const QString label = QString::fromUtf16(t.label);
    auto cp = ToCp932(t.field->text());
    if (!cp) {
      Refuse(t.field, QStringLiteral("「%1」に使用できない文字が含まれています。").arg(label));
      return;
    }
    if (static_cast<int>(cp->size()) > kMaxSettingBytes) {
      Refuse(t.field, QStringLiteral("「%1」が長すぎます（%2 バイトまで）。")
                          .arg(label)
                          .arg(kMaxSettingBytes));
      return;
    }
    *t.out = std::move(*cp);
  }

  bool is_int = false;
  const qlonglong port = port_->text().trimmed().toLongLong(&is_int);
  if (!is_int) {
    Refuse(port_, QStringLiteral("整数を入力してください。"));
    return;
  }
  if (port < 0 || port > 65535) {
    Refuse(port_, QStringLiteral("0 から 65535 までの整数を入力してください。"));
    return;
  }
  s.ServerPort = static_cast<int32_t>(port);

  switch (CheckServerSettings(s)) {
    case SettingsProblem::LineBreakInUserName:
      Refuse(user_, QStringLiteral("「ユーザ名」に改行は使用できません。"));
      return;
    case SettingsProblem::LineBreakInPassword:
      Refuse(password_, QStringLiteral("「パスワード」に改行は使用できません。"));
      return;
    case SettingsProblem::PortOutOfRange:  // refused above
    case SettingsProblem::None:
      break;
  }
  result_ = std::move(s);
  QDialog::accept();
}

}  // namespace kv::ui
