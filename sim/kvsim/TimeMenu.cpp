// "PC TIME>": the unit's clock, DDMMYYhhmmss (GET, SET).
#include "Menu.h"

namespace kvsim {
namespace {

class TimeMenu : public CommandMenu {
 public:
  explicit TimeMenu(Unit& unit) : CommandMenu(unit, "TIME", "PC TIME>") {}

 protected:
  Next Command(std::string_view word, const Access&, Reply& reply) override {
    if (word == "GET") {
      reply.Line(unit_.clock.Text());
      return Next::Prompt;
    }
    if (word == "SET") {
      return Ask(reply, prompt::kClock, [this](std::string_view text, Reply& r) {
        if (!unit_.clock.Set(text)) return Refuse(r);
        unit_.Changed();
        return Answer(r, Outcome::Ok);
      });
    }
    return Refuse(reply);
  }
};

}  // namespace

std::unique_ptr<CommandMenu> MakeTimeMenu(Unit& unit) { return std::make_unique<TimeMenu>(unit); }

}  // namespace kvsim
