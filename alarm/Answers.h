#pragma once
// The answers an alarm takes, alike in its window and in its notification.
namespace kv::alarm {

struct SnoozeChoice {
  int minutes;
  const char* key;    // the notification's action key
  const char* label;  // UTF-8
};

inline constexpr SnoozeChoice kSnoozeChoices[] = {
    {5, "snooze-5", "5分後"}, {15, "snooze-15", "15分後"}, {60, "snooze-60", "1時間後"}};

inline constexpr char kCloseKey[] = "close";
inline constexpr char kCloseLabel[] = "閉じる";
// The notification's body clicked: bring the window up.
inline constexpr char kDefaultKey[] = "default";
inline constexpr char kDefaultLabel[] = "表示";

}  // namespace kv::alarm
