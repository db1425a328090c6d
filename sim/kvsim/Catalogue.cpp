#include "Catalogue.h"

#include <algorithm>

#include "Text.h"

namespace kvsim {
namespace {

std::vector<ParamDef> Build() {
  using K = ParamKind;
  std::vector<ParamDef> c = {
      {0, K::Digits, 1, 8, false, "7777"},  // system password
      {1, K::Choice, 0, 2, false, "0"},
      {10, K::Choice, 0, 1, false, "0"},
      {11, K::Choice, 0, 1, false, "0"},
      {12, K::Number, 0, 999, false, "100"},
      {13, K::Number, 0, 24, false, "12"},
      {14, K::Number, 0, 24, false, "12"},
      {15, K::Number, 1, 20, false, "2"},
      {16, K::Number, 0, 240, false, "30"},
      {17, K::Number, 0, 99, false, "5"},
      {18, K::Number, 0, 250, false, "50"},
      {20, K::Digits, 0, 24, true, "*1"},
      {21, K::Digits, 0, 24, true, "*2"},
      {22, K::Digits, 0, 24, true, "*55"},
      {23, K::Digits, 0, 24, true, "*56"},
      {24, K::Digits, 0, 24, true, "*3"},
      {25, K::Digits, 0, 24, true, "*4"},
      {30, K::Digits, 0, 8, true, "1"},
      {31, K::Digits, 0, 8, true, "2"},
      {32, K::Digits, 0, 8, true, "3"},
      {40, K::Number, 0, 99, false, "30"},
      {41, K::Digits, 0, 24, true, "*7"},
      {42, K::Digits, 0, 24, true, "*8"},
      {43, K::Digits, 0, 24, true, ""},
      {44, K::Digits, 0, 24, true, ""},
      {80, K::Choice, 0, 1, false, "1"},
      {81, K::Choice, 0, 1, false, "1"},
      {82, K::Choice, 0, 1, false, "1"},
      {83, K::Choice, 0, 1, false, "0"},
      {90, K::Choice, 0, 1, false, "0"},
      {91, K::Choice, 0, 1, false, "0"},
      {92, K::Number, 0, 63, false, "32"},
      {93, K::Number, 0, 99, false, "5"},
      {94, K::Choice, 0, 1, false, "0"},
      {95, K::Choice, 0, 1, false, "1"},
      {96, K::Number, 0, 240, false, "10"},
      {97, K::Choice, 0, 1, false, "0"},
      {98, K::Choice, 0, 1, false, "0"},
      {99, K::Choice, 0, 1, false, "0"},
      {100, K::Number, 0, 10, false, "10"},  // operator code: key 0
      {101, K::Digits, 0, 8, false, "200"},  // operator by day
      {102, K::Digits, 0, 8, false, "201"},  // operator by night
      {103, K::Digits, 0, 8, false, ""},     // fax
      {104, K::Digits, 1, 8, false, "1234"},  // administrator password
      {110, K::Flag, 0, 1, false, "0"},      // holiday mode
  };
  // Weekly schedule: 111/112 Monday start/end ... 123/124 Sunday.
  for (int day = 0; day < 7; ++day) {
    bool weekday = day < 5;
    c.push_back({111 + 2 * day, K::Time, 0, 2359, false, weekday ? "900" : "0"});
    c.push_back({112 + 2 * day, K::Time, 0, 2359, false, weekday ? "1800" : "0"});
  }
  // Greeting replacement per line 1..6.
  for (int line = 1; line <= 6; ++line) {
    c.push_back({500 + line, K::Choice, 0, 3, false, "0"});
    for (int base : {510, 520, 530, 540}) c.push_back({base + line, K::Number, 0, 39, false, "0"});
  }
  c.push_back({999, K::Version, 0, 0, false, "10203"});
  std::sort(c.begin(), c.end(), [](const ParamDef& a, const ParamDef& b) { return a.code < b.code; });
  return c;
}

}  // namespace

const std::vector<ParamDef>& Catalogue() {
  static const std::vector<ParamDef> catalogue = Build();
  return catalogue;
}

const ParamDef* FindParam(int code) {
  const auto& c = Catalogue();
  auto it = std::lower_bound(c.begin(), c.end(), code, [](const ParamDef& d, int v) { return d.code < v; });
  return it != c.end() && it->code == code ? &*it : nullptr;
}

std::optional<std::string> Accept(const ParamDef& def, std::string_view text) {
  switch (def.kind) {
    case ParamKind::Digits: {
      if (text.size() < static_cast<std::size_t>(def.lo) || text.size() > static_cast<std::size_t>(def.hi))
        return std::nullopt;
      for (char ch : text)
        if (!((ch >= '0' && ch <= '9') || (ch == '*' && def.star))) return std::nullopt;
      return std::string(text);
    }
    case ParamKind::Number:
    case ParamKind::Choice:
    case ParamKind::Flag:
    case ParamKind::Time: {
      auto v = ParseDecimal(text, 6);
      if (!v || *v < def.lo || *v > def.hi) return std::nullopt;
      if (def.kind == ParamKind::Time && *v % 100 > 59) return std::nullopt;
      return std::to_string(*v);
    }
    case ParamKind::Version:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace kvsim
