#include "app/shell/QtRunQuestion.h"

#include "app/ui/MessageBox.h"
#include "app/ui/QtText.h"

namespace kv::shell {

bool QtRunQuestion::AskToRun(const std::string& cp932) {
  using ui::MessageBox;
  const auto answer = MessageBox::ask(
      parent_, ui::FromCp932(cp932),
      {{QMessageBox::Yes, QString::fromUtf8("実行")}, {QMessageBox::No, QString::fromUtf8("実行しない")}},
      QMessageBox::No, QMessageBox::No);
  return answer == QMessageBox::Yes;
}

}  // namespace kv::shell
