// "PC SYS>": numbered parameters (GET, SET) and the service-message slots
// (GET, SET starting a receive, CLEAR, DLMSG).
#include "Catalogue.h"
#include "Menu.h"
#include "Text.h"

namespace kvsim {
namespace {

class SysMenu : public CommandMenu {
 public:
  explicit SysMenu(Unit& unit) : CommandMenu(unit, "SYS", "PC SYS>") {}

 protected:
  Next Command(std::string_view word, const Access& access, Reply& reply) override {
    bool system = access.system;
    if (word == "GET") return Ask(reply, prompt::kNumber, [this, system](std::string_view l, Reply& r) { return Get(l, system, r); });
    if (word == "SET") return Ask(reply, prompt::kNumber, [this, system](std::string_view l, Reply& r) { return Set(l, system, r); });
    if (word == "CLEAR") return Ask(reply, prompt::kNumber, [this, system](std::string_view l, Reply& r) { return Clear(l, system, r); });
    if (word == "DLMSG") return Ask(reply, prompt::kNumber, [this, system](std::string_view l, Reply& r) { return Download(l, system, r); });
    return Refuse(reply);
  }

 private:
  // The code as a number the unit knows and the access mode opens; nullopt otherwise.
  static std::optional<int> Code(std::string_view text, bool system) {
    auto v = ParseDecimal(text, 4);
    if (!v) return std::nullopt;
    int code = static_cast<int>(*v);
    if (!IsSlot(code) && !FindParam(code)) return std::nullopt;
    if (SystemOnly(code) && !system) return std::nullopt;
    return code;
  }

  Next Get(std::string_view text, bool system, Reply& r) {
    auto code = Code(text, system);
    if (!code) return Refuse(r);
    if (IsSlot(*code)) {
      r.Line(MessageLine(unit_.slots[*code]));
    } else {
      r.Line("=" + unit_.params[*code]);
    }
    return Next::Prompt;
  }

  Next Set(std::string_view text, bool system, Reply& r) {
    auto code = Code(text, system);
    if (!code) return Refuse(r);
    if (IsSlot(*code)) {
      r.transfer = TransferRequest{TransferRequest::Direction::ToUnit, &unit_.slots[*code],
                                   "slot " + std::to_string(*code)};
      return Next::Transfer;
    }
    const ParamDef* def = FindParam(*code);
    if (def->kind == ParamKind::Version) return Refuse(r);
    return Ask(r, prompt::kValue, [this, def](std::string_view value, Reply& r2) {
      auto accepted = Accept(*def, value);
      if (!accepted) return Refuse(r2);
      unit_.params[def->code] = *accepted;
      unit_.Changed();
      return Answer(r2, Outcome::Ok);
    });
  }

  Next Clear(std::string_view text, bool system, Reply& r) {
    auto code = Code(text, system);
    if (!code || !IsSlot(*code)) return Refuse(r);
    unit_.slots[*code].Clear();
    unit_.Changed();
    return Answer(r, Outcome::Ok);
  }

  Next Download(std::string_view text, bool system, Reply& r) {
    auto code = Code(text, system);
    if (!code || !IsSlot(*code) || unit_.slots[*code].Empty()) return Refuse(r);
    r.Prompt(prompt::kStart);
    r.transfer = TransferRequest{TransferRequest::Direction::FromUnit, &unit_.slots[*code],
                                 "slot " + std::to_string(*code)};
    return Next::Transfer;
  }
};

}  // namespace

std::unique_ptr<CommandMenu> MakeSysMenu(Unit& unit) { return std::make_unique<SysMenu>(unit); }

}  // namespace kvsim
