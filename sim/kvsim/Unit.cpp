#include "Unit.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <numbers>

#include "Catalogue.h"
#include "Text.h"

namespace kvsim {
namespace {

using namespace std::chrono;

struct Range {
  long lo;
  long hi;
  std::size_t width;  // digits of the lower bound; both ends of a range have it
};

// "201" or "210-219": 1..8 digits each, lower end first.
std::optional<Range> ParseEntry(std::string_view text) {
  auto dash = text.find('-');
  std::string_view a = text.substr(0, dash);
  std::string_view b = dash == std::string_view::npos ? a : text.substr(dash + 1);
  auto lo = ParseDecimal(a, 8), hi = ParseDecimal(b, 8);
  if (!lo || !hi || *lo > *hi) return std::nullopt;
  return Range{*lo, *hi, a.size()};
}

std::string Format(long v, std::size_t width) {
  std::string s = std::to_string(v);
  if (s.size() < width) s.insert(0, width - s.size(), '0');
  return s;
}

std::string EntryText(long lo, long hi, std::size_t width) {
  return lo == hi ? Format(lo, width) : Format(lo, width) + "-" + Format(hi, width);
}

}  // namespace

std::string FactoryTone(std::size_t size) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    double v = 128.0 + 90.0 * std::sin(2.0 * std::numbers::pi * 425.0 * static_cast<double>(i) / 8000.0);
    data[i] = static_cast<char>(static_cast<unsigned char>(std::lround(v)));
  }
  return data;
}

VoiceFile FactoryFile(std::string name, std::size_t size) {
  return VoiceFile{std::move(name), FactoryTone(size), true};
}

// ---- clock ----

UnitClock::UnitClock() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  offset_ = seconds(local.tm_gmtoff);
}

std::string UnitClock::Text() const {
  auto now = time_point_cast<seconds>(system_clock::now() + offset_);
  auto day = floor<days>(now);
  year_month_day ymd{day};
  hh_mm_ss hms{now - day};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02u%02u%02d%02ld%02ld%02ld", static_cast<unsigned>(ymd.day()),
                static_cast<unsigned>(ymd.month()), static_cast<int>(ymd.year()) % 100,
                static_cast<long>(hms.hours().count()), static_cast<long>(hms.minutes().count()),
                static_cast<long>(hms.seconds().count()));
  return buf;
}

bool UnitClock::Set(std::string_view text) {
  if (text.size() != 12) return false;
  long f[6];
  for (int i = 0; i < 6; ++i) {
    auto v = ParseDecimal(text.substr(2 * static_cast<std::size_t>(i), 2), 2);
    if (!v) return false;
    f[i] = *v;
  }
  year_month_day ymd{year{2000 + static_cast<int>(f[2])}, month{static_cast<unsigned>(f[1])},
                     day{static_cast<unsigned>(f[0])}};
  if (!ymd.ok() || f[3] > 23 || f[4] > 59 || f[5] > 59) return false;
  auto target = sys_days{ymd} + hours{f[3]} + minutes{f[4]} + seconds{f[5]};
  offset_ = duration_cast<nanoseconds>(target - system_clock::now());
  return true;
}

// ---- unit ----

Unit::Unit(Limits limits) : limits_(limits) {
  for (const ParamDef& d : Catalogue()) params[d.code] = d.factory;
  list_ = {"201-210", "220"};
  boxes_ = {{"999", 600}};
  for (int code = kFirstSlot; code <= kLastSlot; ++code) {
    // Every service message is recorded at the factory except the optional last one.
    slots[code] = code == kLastSlot ? VoiceFile{}
                                    : FactoryFile("msg" + std::to_string(code) + ".pcm",
                                                  static_cast<std::size_t>(8000 * (2 + code % 5)));
  }
  for (auto& m : menus) m.keys.fill("-");
  menus[0].keys[0] = "N200";
  menus[0].keys[1] = "N201";
  menus[0].keys[2] = "N202";
  menus[0].keys[9] = "L999";
  menus[0].file = FactoryFile("menu0.pcm", 48000);
  menus[20].file = FactoryFile("day.pcm", 40000);
  menus[20].keys[0] = "M0";
  menus[21].file = FactoryFile("night.pcm", 32000);
}

Outcome Unit::ListAdd(std::string_view entry) {
  auto r = ParseEntry(entry);
  if (!r) return Outcome::Error;
  for (const auto& e : list_) {
    if (e == entry) return Outcome::Ok;  // already held
    auto held = ParseEntry(e);
    if (held && r->lo == r->hi && held->width == r->width && held->lo <= r->lo && r->hi <= held->hi)
      return Outcome::Ok;  // a number inside a held range
  }
  if (list_.size() >= limits_.listEntries) return Outcome::NoFreeMem;
  list_.emplace_back(entry);
  Changed();
  return Outcome::Ok;
}

Outcome Unit::ListRemove(std::string_view entry) {
  auto exact = std::find(list_.begin(), list_.end(), entry);
  if (exact != list_.end()) {
    list_.erase(exact);
    Changed();
    return Outcome::Ok;
  }
  auto r = ParseEntry(entry);
  if (!r || r->lo != r->hi) return Outcome::Error;
  // A single number inside a range: the range is cut around it.
  for (std::size_t i = 0; i < list_.size(); ++i) {
    auto held = ParseEntry(list_[i]);
    if (!held || held->lo == held->hi || held->width != r->width || r->lo < held->lo || r->lo > held->hi)
      continue;
    std::vector<std::string> parts;
    if (r->lo > held->lo) parts.push_back(EntryText(held->lo, r->lo - 1, held->width));
    if (r->lo < held->hi) parts.push_back(EntryText(r->lo + 1, held->hi, held->width));
    if (list_.size() - 1 + parts.size() > limits_.listEntries) return Outcome::NoFreeMem;
    list_.erase(list_.begin() + static_cast<long>(i));
    list_.insert(list_.begin() + static_cast<long>(i), parts.begin(), parts.end());
    Changed();
    return Outcome::Ok;
  }
  return Outcome::Error;
}

long Unit::FreeSeconds() const {
  long used = 0;
  for (const auto& b : boxes_) used += b.seconds;
  return limits_.mailMemory - used;
}

const Mailbox* Unit::FindBox(std::string_view owner) const {
  for (const auto& b : boxes_)
    if (b.owner == owner) return &b;
  return nullptr;
}

bool Unit::OwnerAcceptable(std::string_view owner) const {
  if (owner.empty() || owner.size() > 16 || FindBox(owner)) return false;
  for (char c : owner)
    if (static_cast<unsigned char>(c) <= ' ' || c == '=') return false;
  return true;
}

std::optional<long> Unit::AcceptSize(std::string_view text) const {
  auto v = ParseDecimal(text, 6);
  if (!v || *v < 1 || *v > limits_.maxBoxSeconds) return std::nullopt;
  return *v;
}

Outcome Unit::CreateBox(std::string_view owner, std::string_view seconds) {
  if (!HasFreeBox()) return Outcome::NoFreeBox;
  if (!OwnerAcceptable(owner)) return Outcome::Error;
  auto size = AcceptSize(seconds);
  if (!size) return Outcome::Error;
  if (*size > FreeSeconds()) return Outcome::NoFreeMem;
  boxes_.push_back({std::string(owner), *size});
  Changed();
  return Outcome::Ok;
}

Outcome Unit::EditBox(std::string_view owner, std::string_view seconds) {
  auto it = std::find_if(boxes_.begin(), boxes_.end(), [&](const Mailbox& b) { return b.owner == owner; });
  if (it == boxes_.end()) return Outcome::NotFound;
  auto size = AcceptSize(seconds);
  if (!size) return Outcome::Error;
  if (*size - it->seconds > FreeSeconds()) return Outcome::NoFreeMem;
  it->seconds = *size;
  Changed();
  return Outcome::Ok;
}

Outcome Unit::DeleteBox(std::string_view owner) {
  auto it = std::find_if(boxes_.begin(), boxes_.end(), [&](const Mailbox& b) { return b.owner == owner; });
  if (it == boxes_.end()) return Outcome::NotFound;
  boxes_.erase(it);
  Changed();
  return Outcome::Ok;
}

bool Unit::ValidCallCode(std::string_view text) {
  auto v = ParseDecimal(text, 2);
  return v && *v <= 10;
}

bool Unit::ValidKeyAction(std::string_view text) {
  if (text == "-") return true;
  if (text.empty()) return false;
  std::string_view rest = text.substr(1);
  switch (text[0]) {
    case 'M': {
      auto v = ParseDecimal(rest, 2);
      return v && *v < kMenus;
    }
    case 'N':
      return rest.size() <= 14 && std::all_of(rest.begin(), rest.end(), [](char c) {
               return (c >= '0' && c <= '9') || c == '*';
             });
    case 'L':
    case 'G':
      return ParseDecimal(rest, 8).has_value();
    default:
      return false;
  }
}

}  // namespace kvsim
