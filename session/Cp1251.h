// Conversion between the program's UTF-8 texts and the unit's single-byte
// code page 1251. Applied only where texts meet the wire.
#pragma once

#include <string>
#include <string_view>

namespace kv {

// Every byte becomes its character; the one unassigned byte (0x98) becomes
// U+FFFD.
std::string Cp1251ToUtf8(std::string_view bytes);
// Characters without a code-page byte, and malformed UTF-8, become '?'.
std::string Utf8ToCp1251(std::string_view text);

}  // namespace kv
