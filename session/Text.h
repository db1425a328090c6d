// The program's own texts: UTF-8 inside the program (code page 1251 only on
// the wire, session/Cp1251.h), decimal numbers as the unit and the files
// write them, and printf-style formatting. One home for each, used by every
// subsystem above the port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

// ---- UTF-8

// Decodes the sequence at text[i] (i < size) into c and moves i past it. A
// malformed sequence (a stray or missing continuation byte, a cut-off end, a
// byte no sequence starts with) gives false, c the byte itself, and i moves
// one byte.
bool NextUtf8(std::string_view text, size_t& i, char32_t& c);
// Appends the character as UTF-8.
void AppendUtf8(std::string& text, char32_t c);
// Number of characters: bytes that are not continuation bytes.
size_t TextLength(std::string_view text);
// Bytes taken by the first `count` characters (the whole text when shorter).
size_t Utf8Prefix(std::string_view text, size_t count);
// Removes the last character (nothing when empty).
void DropLastCharacter(std::string& text);

// ---- numbers

// A decimal integer: an optional sign and at least one digit, nothing else,
// within the 32-bit range. False (value untouched) otherwise.
bool ParseDecimal(std::string_view text, int32_t& value);

// ---- formatting

// printf-style formatting into a std::string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kv
