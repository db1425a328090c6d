#include "Menu.h"

namespace kvsim {

Next CommandMenu::Line(std::string_view line, const Access& access, Reply& reply) {
  if (pending_) {
    Step step = std::move(pending_);
    pending_ = nullptr;
    return step(line, reply);
  }
  if (line.empty()) return Next::Leave;
  return Command(line, access, reply);
}

Next CommandMenu::Ask(Reply& reply, const char* question, Step then) {
  reply.Prompt(question);
  pending_ = std::move(then);
  return Next::Dialog;
}

Next CommandMenu::Answer(Reply& reply, Outcome outcome) {
  switch (outcome) {
    case Outcome::Ok: reply.Line("OK"); break;
    case Outcome::Error: reply.Line("ERROR"); break;
    case Outcome::NoFreeMem: reply.Line("NO_FREE_MEM"); break;
    case Outcome::NoFreeBox: reply.Line("NO_FREE_BOX"); break;
    case Outcome::NotFound: reply.Line("NOT_FOUND"); break;
  }
  return Next::Prompt;
}

std::string MessageLine(const VoiceFile& file) {
  if (file.Empty()) return "MSG=";
  return "MSG=" + file.name + " " + std::to_string(file.data.size());
}

}  // namespace kvsim
