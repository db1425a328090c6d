#include "Text.h"

namespace kvsim {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string Escape(std::string_view bytes) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (char ch : bytes) {
    auto b = static_cast<unsigned char>(ch);
    if (b == '\\') {
      out += "\\\\";
    } else if (b == '\r') {
      out += "\\r";
    } else if (b == '\n') {
      out += "\\n";
    } else if (b > 0x20 && b < 0x7F) {
      out += ch;
    } else {
      out += "\\x";
      out += hex[b >> 4];
      out += hex[b & 15];
    }
  }
  return out;
}

std::optional<std::string> Unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i >= text.size()) return std::nullopt;
    switch (text[i]) {
      case '\\': out += '\\'; break;
      case 'r': out += '\r'; break;
      case 'n': out += '\n'; break;
      case 'x': {
        if (i + 2 >= text.size()) return std::nullopt;
        int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default: return std::nullopt;
    }
  }
  return out;
}

std::optional<long> ParseDecimal(std::string_view text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace kvsim
