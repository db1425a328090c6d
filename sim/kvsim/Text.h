// Escaping of raw bytes for the transcript and the state file; decimal
// fields. The code page conversion is the program's own (session/Cp1251.h).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kvsim {

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
