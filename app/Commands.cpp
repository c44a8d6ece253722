#include "app/Commands.h"

namespace kv::app {

namespace {

constexpr Command kSeparator = Command{0};
#define KV_SEP {kSeparator, nullptr, ""}

const CommandInfo kFile[] = {
    {Command::Import, "インポート(&I)...", ""},
    {Command::Export, "エクスポート(&E)...", ""},
    KV_SEP,
    {Command::Print, "印刷(&P)...", "Ctrl+P"},
    {Command::PrintPreview, "印刷ﾌﾟﾚﾋﾞｭｰ(&V)", ""},
    {Command::PrintSetup, "ﾌﾟﾘﾝﾀの設定(&R)...", ""},
    KV_SEP,
    {Command::Exit, "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)", ""},
};

const CommandInfo kEdit[] = {
    {Command::Undo, "元に戻す(&U)", "Ctrl+Z"},
    KV_SEP,
    {Command::Add, "追加", "Ins"},
    {Command::Edit, "編集", ""},
    {Command::Delete, "削除", "Del"},
    KV_SEP,
    {Command::Cut, "切り取り(&T)", "Ctrl+X"},
    {Command::Copy, "ｺﾋﾟｰ(&C)", "Ctrl+C"},
    {Command::Paste, "貼り付け(&P)", "Ctrl+V"},
    KV_SEP,
    {Command::Search, "検索(&F)...", "Ctrl+F"},
};

const CommandInfo kView[] = {
    {Command::MoveDate, "移動", ""},
    {Command::Today, "今日", "Home"},
    {Command::Previous, "前", "PgUp"},
    {Command::Next, "次", "PgDown"},
    KV_SEP,
    {Command::DayUnit, "日単位", ""},
    {Command::WeekUnit, "週単位", ""},
    {Command::MonthUnit, "月単位", ""},
    {Command::OtherUsers, "他ユーザ参照", ""},
    KV_SEP,
    {Command::Refresh, "最新の情報に更新", "F5"},
    KV_SEP,
    {Command::ToolBar, "ﾂｰﾙ ﾊﾞｰ(&T)", ""},
    {Command::StatusBar, "ｽﾃｰﾀｽ ﾊﾞｰ(&S)", ""},
    KV_SEP,
    {Command::Holidays, "祝日を表示", ""},
};

const CommandInfo kTools[] = {
    {Command::ServerSettings, "サーバー設定", ""},
    {Command::ReferenceUsers, "参照ユーザ", ""},
};

const CommandInfo kHelp[] = {
    {Command::Help, "Kalvane のヘルプ", ""},
    {Command::About, "Kalvane のﾊﾞｰｼﾞｮﾝ情報(&A)...", ""},
};

#undef KV_SEP

template <int N>
constexpr MenuInfo Menu(const char* title, const CommandInfo (&items)[N]) {
  return {title, items, N};
}

const MenuInfo kMenus[] = {
    Menu("ﾌｧｲﾙ(&F)", kFile), Menu("編集(&E)", kEdit), Menu("表示(&V)", kView),
    Menu("ツール", kTools),  Menu("ﾍﾙﾌﾟ(&H)", kHelp),
};

const Command kToolBar[] = {
    Command::Cut,      Command::Copy,     Command::Paste,    kSeparator,         Command::Print,
    kSeparator,        Command::Add,      Command::Delete,   kSeparator,         Command::Previous,
    Command::MoveDate, Command::Today,    Command::Next,     kSeparator,         Command::DayUnit,
    Command::WeekUnit, Command::MonthUnit, Command::OtherUsers, kSeparator,      Command::Help,
};

}  // namespace

const MenuInfo* Menus(int& count) {
  count = static_cast<int>(sizeof kMenus / sizeof kMenus[0]);
  return kMenus;
}

const Command* ToolBarButtons(int& count) {
  count = static_cast<int>(sizeof kToolBar / sizeof kToolBar[0]);
  return kToolBar;
}

const char* CommandText(Command id) {
  for (const MenuInfo& m : kMenus)
    for (int i = 0; i < m.count; ++i)
      if (m.items[i].id == id) return m.items[i].text;
  return "";
}

}  // namespace kv::app
