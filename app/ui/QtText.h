#pragma once
// The widget edge of the text conversion: the program holds CP932 bytes,
// Qt holds UTF-16.
#include <QString>
#include <optional>
#include <string>
#include <string_view>

namespace kv::ui {

// For display: bytes that are not CP932 show as U+FFFD.
QString FromCp932(std::string_view cp932);
// nullopt when the text holds a character CP932 cannot represent.
std::optional<std::string> ToCp932(const QString& text);
// A literal of the program's own (always representable).
std::string Cp932Of(const QString& text);

}  // namespace kv::ui
