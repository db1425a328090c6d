// The unit's text side on the line: echo, login, the top-level and PC
// prompts, the command menus, logout, and the faults that change what the
// unit says.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Menu.h"
#include "Options.h"
#include "Transfer.h"
#include "Unit.h"
#include "Wire.h"

namespace kvsim {

class Transcript;

class Console {
 public:
  Console(Unit& unit, const Options& options, Wire& wire, Transcript& log);

  // Bytes received from the tool. Returns how many were taken: fewer than
  // given when a line started a file transfer (the rest belongs to it).
  std::size_t Received(std::string_view bytes, TimePoint now);

  // A transfer that a command has just started; the caller runs it on the
  // line and reports its end with TransferEnded.
  std::optional<TransferRequest> TakeTransfer() { return std::exchange(transfer_, std::nullopt); }
  void TransferEnded(const TransferResult& result, TimePoint now);

 private:
  enum class Level { LoggedOut, Password, Top, Pc, Menu, Transfer };

  void Line(TimePoint now);
  void Login(const std::string& line, Reply& reply);
  void Send(const Reply& reply, TimePoint notBefore);
  std::optional<std::string> Shape(const std::string& text) const;
  void FlushEcho(TimePoint now);
  static bool Matches(const std::string& pattern, const std::string& text);
  bool Listed(const std::vector<std::string>& patterns, const std::string& line) const;

  Unit& unit_;
  const Options& opt_;
  Wire& wire_;
  Transcript& log_;
  std::vector<std::unique_ptr<CommandMenu>> menus_;

  Level level_ = Level::LoggedOut;
  CommandMenu* menu_ = nullptr;
  Access access_;
  std::string line_;
  std::string echo_;
  bool Active(long from) const { return from >= 0 && accesses_ >= from; }
  void PasswordPrompt(Reply& reply) const;

  long accesses_ = 0;  // receptions of the access string
  long busyLeft_;
  bool strayPending_;
  std::optional<TransferRequest> transfer_;  // started, not yet taken
  std::optional<TransferRequest> running_;   // taken, not yet ended
};

}  // namespace kvsim
