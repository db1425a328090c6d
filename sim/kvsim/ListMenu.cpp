// "PC LIST>": the extension list (GETALL, ADD, REMOVE).
#include "Menu.h"

namespace kvsim {
namespace {

class ListMenu : public CommandMenu {
 public:
  explicit ListMenu(Unit& unit) : CommandMenu(unit, "LIST", "PC LIST>") {}

 protected:
  Next Command(std::string_view word, const Access&, Reply& reply) override {
    if (word == "GETALL") {
      for (const auto& entry : unit_.List()) reply.Line(entry);
      return Next::Prompt;
    }
    if (word == "ADD")
      return Ask(reply, prompt::kNumber, [this](std::string_view e, Reply& r) { return Answer(r, unit_.ListAdd(e)); });
    if (word == "REMOVE")
      return Ask(reply, prompt::kNumber, [this](std::string_view e, Reply& r) { return Answer(r, unit_.ListRemove(e)); });
    return Refuse(reply);
  }
};

}  // namespace

std::unique_ptr<CommandMenu> MakeListMenu(Unit& unit) { return std::make_unique<ListMenu>(unit); }

}  // namespace kvsim
