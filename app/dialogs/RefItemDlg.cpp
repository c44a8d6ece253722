#include "app/dialogs/RefItemDlg.h"

#include "app/ui/MessageBox.h"
#include "edit/RepeatPages.h"

namespace kv::ui {

RefItemDlg::RefItemDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8("予定の参照"));
  c_.Build(this, false);
  // The rule is shown in words; nothing here can change it.
  connect(c_.repeat, &QPushButton::clicked, this, [this] {
    MessageBox::information(this, QString::fromUtf8(DescribeRule(rule_).c_str()));
  });
  connect(c_.ok, &QPushButton::clicked, this, &QDialog::accept);
}

void RefItemDlg::setForm(const ItemForm& form) {
  c_.Load(form);
  rule_ = form.repeat;
}

}  // namespace kv::ui
