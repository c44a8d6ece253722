#pragma once
// The item commands' dialogs as real windows.
#include "edit/ItemCommands.h"

class QWidget;

namespace kv::ui {

class QtItemDialogs final : public ItemDialogs {
 public:
  explicit QtItemDialogs(QWidget* parent) : parent_(parent) {}
  bool EditItem(ItemForm& form) override;
  void ViewItem(const ItemForm& form) override;
  DeleteScope AskDeleteScope(const ScheduleItem& item, const DateTime& day) override;

 private:
  QWidget* parent_;
};

}  // namespace kv::ui
