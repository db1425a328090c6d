// The command menus below "PC>". Each menu is one small class; the console
// (login, navigation, echo, faults) hands it every line received while the
// unit stands in it.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Unit.h"

namespace kvsim {

// Texts of the unit's questions inside a command.
namespace prompt {
inline constexpr const char* kNumber = "N:";  // parameter, slot, menu, entry or owner
inline constexpr const char* kValue = "V=";   // new value of a parameter
inline constexpr const char* kSize = "S:";    // mailbox size in seconds
inline constexpr const char* kCallCode = "TC:";
inline constexpr const char* kClock = "T:";
inline constexpr const char* kStart = "START";  // the unit is about to send a file
}  // namespace prompt

// A file transfer the unit runs on the line in place of the text protocol.
struct TransferRequest {
  enum class Direction { ToUnit, FromUnit };  // ToUnit: the unit receives
  Direction direction = Direction::ToUnit;
  VoiceFile* file = nullptr;
  std::string what;  // "slot 60", "menu 3": for the transcript
};

struct Piece {
  enum class Kind { Line, Prompt };
  Kind kind;
  std::string text;  // without the line end
};

// What the unit says in answer to one line.
class Reply {
 public:
  void Line(std::string text) { pieces.push_back({Piece::Kind::Line, std::move(text)}); }
  void Prompt(std::string text) { pieces.push_back({Piece::Kind::Prompt, std::move(text)}); }

  std::vector<Piece> pieces;
  std::optional<TransferRequest> transfer;
};

struct Access {
  bool system = false;  // logged in with the system password
};

// What follows a menu's answer.
enum class Next {
  Dialog,    // the command asked a question and waits for the next line
  Prompt,    // the command is done: the menu prompt follows
  Leave,     // back to "PC>"
  Transfer,  // the line goes to a file transfer (Reply::transfer)
};

class CommandMenu {
 public:
  using Step = std::function<Next(std::string_view line, Reply& reply)>;

  CommandMenu(Unit& unit, std::string word, std::string promptText)
      : unit_(unit), word_(std::move(word)), prompt_(std::move(promptText)) {}
  virtual ~CommandMenu() = default;

  const std::string& Word() const { return word_; }          // "SYS"
  const std::string& PromptText() const { return prompt_; }  // "PC SYS>"

  Next Line(std::string_view line, const Access& access, Reply& reply);
  // Forgets a command in progress (logout).
  void Abandon() { pending_ = nullptr; }

 protected:
  // A command word at the menu prompt (never empty).
  virtual Next Command(std::string_view word, const Access& access, Reply& reply) = 0;

  // Shows `question` and continues with `then` on the next line.
  Next Ask(Reply& reply, const char* question, Step then);
  static Next Refuse(Reply& reply) {
    reply.Line("ERROR");
    return Next::Prompt;
  }
  static Next Answer(Reply& reply, Outcome outcome);

  Unit& unit_;

 private:
  std::string word_;
  std::string prompt_;
  Step pending_;
};

std::unique_ptr<CommandMenu> MakeSysMenu(Unit& unit);
std::unique_ptr<CommandMenu> MakeListMenu(Unit& unit);
std::unique_ptr<CommandMenu> MakeMailMenu(Unit& unit);
std::unique_ptr<CommandMenu> MakeVoiceMenu(Unit& unit);
std::unique_ptr<CommandMenu> MakeTimeMenu(Unit& unit);

// "MSG=" with the file's name, a blank and its size, or "MSG=" alone.
std::string MessageLine(const VoiceFile& file);

}  // namespace kvsim
