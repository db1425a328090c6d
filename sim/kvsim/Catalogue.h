// The numbered parameters of "PC SYS>": kind, limits and factory value.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvsim {

enum class ParamKind {
  Digits,   // digit string, lo..hi characters, '*' when star
  Number,   // decimal number lo..hi
  Choice,   // item position lo..hi
  Time,     // hours * 100 + minutes, 00:00..23:59
  Flag,     // 0 off, 1 on
  Version,  // read only
};

struct ParamDef {
  int code;
  ParamKind kind;
  int lo;
  int hi;
  bool star;
  const char* factory;  // factory value as the unit answers it
};

// Every parameter the unit holds, in code order.
const std::vector<ParamDef>& Catalogue();
const ParamDef* FindParam(int code);

// Codes below 100 (the system parameters and the service-message slots) are
// open in the system access mode only.
inline bool SystemOnly(int code) { return code < 100; }

// The service-message slots of "PC SYS>".
constexpr int kFirstSlot = 60;
constexpr int kLastSlot = 73;
inline bool IsSlot(int code) { return code >= kFirstSlot && code <= kLastSlot; }

// The value as the unit stores it when `text` is acceptable for the
// parameter (numbers lose their leading zeros); nullopt when the unit refuses.
std::optional<std::string> Accept(const ParamDef& def, std::string_view text);

}  // namespace kvsim
