#include "app/shell/AlarmWiring.h"

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "app/shell/AlarmDispatcher.h"
#include "app/shell/QtRunQuestion.h"

namespace kv::shell {

namespace {

class MinuteTick final : public QObject {
 public:
  MinuteTick(QWidget* owner, ViewState& state, ItemStore& store,
             std::function<std::string()> program_folder, ViewHost& host, ExecuteApprovals& approvals)
      : QObject(owner),
        question_(owner),
        approvals_(approvals),
        state_(state),
        store_(store),
        program_folder_(std::move(program_folder)),
        host_(host) {}

  void Tick() {
    if (!dispatcher_)
      dispatcher_ = std::make_unique<AlarmDispatcher>(state_, store_, program_folder_(), starter_,
                                                      host_, question_, approvals_);
    dispatcher_->Tick();
  }

 private:
  PosixProcessStarter starter_;
  QtRunQuestion question_;
  ExecuteApprovals& approvals_;
  ViewState& state_;
  ItemStore& store_;
  std::function<std::string()> program_folder_;
  ViewHost& host_;
  std::unique_ptr<AlarmDispatcher> dispatcher_;
};

}  // namespace

std::function<void()> MakeMinuteTick(QWidget* owner, ViewState& state, ItemStore& store,
                                     std::function<std::string()> program_folder, ViewHost& host,
                                     ExecuteApprovals& approvals) {
  QPointer<MinuteTick> tick =
      new MinuteTick(owner, state, store, std::move(program_folder), host, approvals);
  return [tick] {
    if (tick) tick->Tick();
  };
}

}  // namespace kv::shell
