#pragma once
// The main window's commands, with the ids the menus and tool bar use.

namespace kv::app {

enum class Command : int {
  Print = 57607,
  PrintPreview = 57609,
  PrintSetup = 57606,
  Exit = 57665,
  Import = 32801,
  Export = 32802,
  Undo = 57643,
  Add = 137,
  Edit = 135,
  Delete = 32776,
  Cut = 57635,
  Copy = 57634,
  Paste = 57637,
  Search = 57636,
  MoveDate = 134,
  Today = 32787,
  Previous = 32777,
  Next = 32778,
  DayUnit = 32779,
  WeekUnit = 32780,
  MonthUnit = 32781,
  OtherUsers = 32791,
  Refresh = 32792,
  Holidays = 32793,
  ToolBar = 59392,
  StatusBar = 59393,
  ServerSettings = 159,
  ReferenceUsers = 161,
  Help = 57669,
  About = 57664,
};

struct CommandInfo {
  Command id;
  const char* text;      // menu text, UTF-8
  const char* shortcut;  // QKeySequence text, or ""
};

// The five menus, each command in menu order; a null text is a separator.
struct MenuInfo {
  const char* title;
  const CommandInfo* items;
  int count;
};
const MenuInfo* Menus(int& count);

// The tool bar, left to right; Command{0} is a separator.
const Command* ToolBarButtons(int& count);

// The menu text of a command, UTF-8; "" for an unknown id.
const char* CommandText(Command id);

}  // namespace kv::app
