// Conversions between UTF-8 (in memory) and code page 949 (on-disk texts).
#pragma once
#include <string>
#include <string_view>

namespace handpix {
// Characters that have no counterpart become '?'. Invalid input bytes too.
std::string Utf8ToCp949(std::string_view utf8);
std::string Cp949ToUtf8(std::string_view cp949);
}  // namespace handpix
