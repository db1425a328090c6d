// "PC MENU>": voice menus 0..39 (GET, SET, DELMSG, ULMSG, DLMSG).
#include <memory>

#include "Menu.h"
#include "Text.h"

namespace kvsim {
namespace {

class VoiceMenuMenu : public CommandMenu {
 public:
  explicit VoiceMenuMenu(Unit& unit) : CommandMenu(unit, "MENU", "PC MENU>") {}

 protected:
  Next Command(std::string_view word, const Access&, Reply& reply) override {
    if (word == "GET") return WithMenu(reply, [this](int n, Reply& r) { return Get(n, r); });
    if (word == "SET") return WithMenu(reply, [this](int n, Reply& r) { return Set(n, r); });
    if (word == "DELMSG")
      return WithMenu(reply, [this](int n, Reply& r) {
        unit_.menus[static_cast<std::size_t>(n)].file.Clear();
        unit_.Changed();
        return Answer(r, Outcome::Ok);
      });
    if (word == "ULMSG")
      return WithMenu(reply, [this](int n, Reply& r) {
        r.transfer = Request(TransferRequest::Direction::ToUnit, n);
        return Next::Transfer;
      });
    if (word == "DLMSG")
      return WithMenu(reply, [this](int n, Reply& r) {
        if (unit_.menus[static_cast<std::size_t>(n)].file.Empty()) return Refuse(r);
        r.Prompt(prompt::kStart);
        r.transfer = Request(TransferRequest::Direction::FromUnit, n);
        return Next::Transfer;
      });
    return Refuse(reply);
  }

 private:
  // Asks for the menu number and goes on with `then` when the unit has that menu.
  template <typename Then>
  Next WithMenu(Reply& reply, Then then) {
    return Ask(reply, prompt::kNumber, [then](std::string_view text, Reply& r) {
      auto n = ParseDecimal(text, 2);
      if (!n || *n >= Unit::kMenus) return Refuse(r);
      return then(static_cast<int>(*n), r);
    });
  }

  TransferRequest Request(TransferRequest::Direction d, int n) {
    return TransferRequest{d, &unit_.menus[static_cast<std::size_t>(n)].file, "menu " + std::to_string(n)};
  }

  Next Get(int n, Reply& r) {
    const VoiceMenu& m = unit_.menus[static_cast<std::size_t>(n)];
    r.Line("TC=" + std::to_string(m.callCode));
    r.Line(MessageLine(m.file));
    for (std::size_t k = 0; k < 10; ++k) r.Line(std::to_string(k) + m.keys[k]);
    return Next::Prompt;
  }

  struct Draft {
    int menu = 0;
    int callCode = 0;
    std::array<std::string, 10> keys;
  };

  Next Set(int n, Reply& r) {
    auto draft = std::make_shared<Draft>();
    draft->menu = n;
    return Ask(r, prompt::kCallCode, [this, draft](std::string_view text, Reply& r2) {
      if (!Unit::ValidCallCode(text)) return Refuse(r2);
      draft->callCode = static_cast<int>(*ParseDecimal(text, 2));
      return AskKey(draft, 0, r2);
    });
  }

  Next AskKey(std::shared_ptr<Draft> draft, std::size_t k, Reply& r) {
    static const char* keyPrompts[10] = {"0:", "1:", "2:", "3:", "4:", "5:", "6:", "7:", "8:", "9:"};
    return Ask(r, keyPrompts[k], [this, draft, k](std::string_view text, Reply& r2) {
      if (!Unit::ValidKeyAction(text)) return Refuse(r2);
      draft->keys[k] = std::string(text);
      if (k + 1 < 10) return AskKey(draft, k + 1, r2);
      VoiceMenu& m = unit_.menus[static_cast<std::size_t>(draft->menu)];
      m.callCode = draft->callCode;
      m.keys = draft->keys;
      unit_.Changed();
      return Answer(r2, Outcome::Ok);
    });
  }
};

}  // namespace

std::unique_ptr<CommandMenu> MakeVoiceMenu(Unit& unit) { return std::make_unique<VoiceMenuMenu>(unit); }

}  // namespace kvsim
