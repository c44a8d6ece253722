#include "app/dialogs/UserSelDlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialogs/DialogSupport.h"
#include "app/ui/QtText.h"
#include "model/Text.h"
#include "view/ReferenceUsers.h"

namespace kv::ui {

namespace {

constexpr std::size_t kMaxLineBytes = 255;

QListWidget* List(QWidget* parent, const char* name) {
  auto* l = Named(new QListWidget(parent), name);
  l->setSelectionMode(QAbstractItemView::SingleSelection);
  l->setViewMode(QListView::ListMode);
  return l;
}

int FirstSelectedRow(const QListWidget* l) {
  int row = -1;
  for (const QModelIndex& i : l->selectionModel()->selectedIndexes())
    if (row < 0 || i.row() < row) row = i.row();
  return row;
}

}  // namespace

QString UserSelDlg::LineOf(const UserEntry& u) {
  const std::string& name = u.DisplayName.empty() ? u.UserName : u.DisplayName;
  return FromCp932(text::CutBytes(name, kMaxLineBytes));
}

UserSelDlg::UserSelDlg(const ReferenceChoice& choice, QWidget* parent)
    : QDialog(parent), choice_(choice) {
  setWindowTitle(QStringLiteral("参照ユーザ選択"));
  chosen_ = List(this, "chosenList");
  candidates_ = List(this, "candidateList");
  auto* add = Named(new QPushButton(QStringLiteral("<< 追加"), this), "addButton");
  add->setAutoDefault(false);
  auto* remove = Named(new QPushButton(QStringLiteral("削除 >>"), this), "removeButton");
  remove->setAutoDefault(false);
  connect(add, &QPushButton::clicked, this, &UserSelDlg::AddSelected);
  connect(remove, &QPushButton::clicked, this, &UserSelDlg::RemoveSelected);
  connect(candidates_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* it) {
    MoveUser(choice_.candidates, choice_.chosen, candidates_->row(it));
    Refresh();
  });
  connect(chosen_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* it) {
    MoveUser(choice_.chosen, choice_.candidates, chosen_->row(it));
    Refresh();
  });

  auto* middle = new QVBoxLayout;
  middle->addStretch();
  middle->addWidget(add);
  middle->addWidget(remove);
  middle->addStretch();

  auto* grid = new QGridLayout;
  grid->addWidget(new QLabel(QStringLiteral("参照ユーザ"), this), 0, 0);
  grid->addWidget(new QLabel(QStringLiteral("ユーザ一覧"), this), 0, 2);
  grid->addWidget(chosen_, 1, 0);
  grid->addLayout(middle, 1, 1);
  grid->addWidget(candidates_, 1, 2);

  QDialogButtonBox* buttons = MakeOkCancel(this, QStringLiteral("キャンセル"));

  auto* top = new QVBoxLayout(this);
  top->addLayout(grid);
  top->addWidget(buttons);
  Refresh();
}

void UserSelDlg::AddSelected() {
  MoveUser(choice_.candidates, choice_.chosen, FirstSelectedRow(candidates_));
  Refresh();
}

void UserSelDlg::RemoveSelected() {
  MoveUser(choice_.chosen, choice_.candidates, FirstSelectedRow(chosen_));
  Refresh();
}

void UserSelDlg::Refresh() {
  chosen_->clear();
  candidates_->clear();
  for (const UserEntry& u : choice_.chosen) chosen_->addItem(LineOf(u));
  for (const UserEntry& u : choice_.candidates) candidates_->addItem(LineOf(u));
}

}  // namespace kv::ui
