// "PC MAIL>": mailboxes (GETALL, CREATE, EDIT, DELETE).
#include "Menu.h"

namespace kvsim {
namespace {

class MailMenu : public CommandMenu {
 public:
  explicit MailMenu(Unit& unit) : CommandMenu(unit, "MAIL", "PC MAIL>") {}

 protected:
  Next Command(std::string_view word, const Access&, Reply& reply) override {
    if (word == "GETALL") {
      for (const auto& box : unit_.Mailboxes()) reply.Line("N=" + box.owner + " S=" + std::to_string(box.seconds));
      reply.Line("FREE=" + std::to_string(unit_.FreeSeconds()));
      return Next::Prompt;
    }
    if (word == "CREATE") {
      if (!unit_.HasFreeBox()) return Answer(reply, Outcome::NoFreeBox);
      return Ask(reply, prompt::kNumber, [this](std::string_view owner, Reply& r) {
        if (!unit_.OwnerAcceptable(owner)) return Refuse(r);
        return Ask(r, prompt::kSize, [this, o = std::string(owner)](std::string_view size, Reply& r2) {
          return Answer(r2, unit_.CreateBox(o, size));
        });
      });
    }
    if (word == "EDIT") {
      return Ask(reply, prompt::kNumber, [this](std::string_view owner, Reply& r) {
        if (!unit_.FindBox(owner)) return Answer(r, Outcome::NotFound);
        return Ask(r, prompt::kSize, [this, o = std::string(owner)](std::string_view size, Reply& r2) {
          return Answer(r2, unit_.EditBox(o, size));
        });
      });
    }
    if (word == "DELETE")
      return Ask(reply, prompt::kNumber, [this](std::string_view owner, Reply& r) { return Answer(r, unit_.DeleteBox(owner)); });
    return Refuse(reply);
  }
};

}  // namespace

std::unique_ptr<CommandMenu> MakeMailMenu(Unit& unit) { return std::make_unique<MailMenu>(unit); }

}  // namespace kvsim
