#pragma once
// Fixed texts of the view, held as CP932 like every other text.
#include <string>
#include <string_view>

namespace kv {

// A UTF-8 source literal as CP932; the literals used are all representable.
std::string Cp932(std::string_view utf8);

}  // namespace kv
