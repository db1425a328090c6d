// Byte texts of the unit: code page 1251 on the wire, UTF-8 inside; escaping
// of raw bytes for the transcript and the state file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kvsim {

// UTF-8 to code page 1251; characters the code page lacks become '?'.
std::string ToCp1251(std::string_view utf8);
// Code page 1251 to UTF-8.
std::string FromCp1251(std::string_view cp1251);

// Printable ASCII except backslash and blank stays as it is; backslash is
// "\\", CR "\r", LF "\n", every other byte "\xHH" (so the result has no
// blanks and no line breaks).
std::string Escape(std::string_view bytes);
// The inverse of Escape; nullopt on a malformed escape.
std::optional<std::string> Unescape(std::string_view text);

// A non-negative decimal number of at most `maxDigits` digits (leading zeros
// allowed); nullopt for anything else, the empty text included.
std::optional<long> ParseDecimal(std::string_view text, std::size_t maxDigits = 9);

}  // namespace kvsim
