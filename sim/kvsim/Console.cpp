#include "Console.h"

#include <chrono>

#include "Transcript.h"

namespace kvsim {
namespace {

constexpr char kCan = '\x18';
// The access string "лмж" in code page 1251.
const std::string kAccess = "\xEB\xEC\xE6";
constexpr const char* kPasswordPrompt = "Password:";
constexpr const char* kStrayLine = "RING 1";

}  // namespace

Console::Console(Unit& unit, const Options& options, Wire& wire, Transcript& log)
    : unit_(unit), opt_(options), wire_(wire), log_(log), busyLeft_(options.busy), strayPending_(options.strayLine) {
  menus_.push_back(MakeSysMenu(unit));
  menus_.push_back(MakeListMenu(unit));
  menus_.push_back(MakeMailMenu(unit));
  menus_.push_back(MakeVoiceMenu(unit));
  menus_.push_back(MakeTimeMenu(unit));
}

std::size_t Console::Received(std::string_view bytes, TimePoint now) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (level_ == Level::Transfer) {
      FlushEcho(now);
      return i;
    }
    char b = bytes[i];
    if (!Active(opt_.noEchoFrom)) echo_ += b;
    if (b == kCan) {
      // Logout: whatever was going on is forgotten.
      line_.clear();
      if (menu_) menu_->Abandon();
      menu_ = nullptr;
      access_ = {};
      level_ = Level::LoggedOut;
    } else if (b == '\r') {
      Line(now);
    } else if (b != '\n' && line_.size() < 1024) {
      line_ += b;
    }
  }
  FlushEcho(now);
  return bytes.size();
}

void Console::FlushEcho(TimePoint now) {
  wire_.Send(echo_, now);
  echo_.clear();
}

bool Console::Matches(const std::string& pattern, const std::string& text) {
  if (!pattern.empty() && pattern.back() == '*') return text.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
  return pattern == text;
}

bool Console::Listed(const std::vector<std::string>& patterns, const std::string& line) const {
  for (const auto& p : patterns)
    if (Matches(p, line)) return true;
  return false;
}

void Console::Line(TimePoint now) {
  std::string line = std::exchange(line_, {});
  if (Listed(opt_.dropEcho, line)) {
    if (!echo_.empty() && echo_.back() == '\r') echo_.pop_back();
    log_.Note("fault: CR of this line not echoed, line ignored");
    return;
  }
  FlushEcho(now);
  if (Listed(opt_.mute, line)) {
    log_.Note("fault: line ignored");
    return;
  }

  Reply reply;
  switch (level_) {
    case Level::LoggedOut:
      if (line == kAccess) {
        ++accesses_;
        level_ = Level::Password;
        PasswordPrompt(reply);
      }
      break;
    case Level::Password:
      Login(line, reply);
      break;
    case Level::Top:
      if (line == "PC") {
        level_ = Level::Pc;
        reply.Prompt("PC>");
      } else {
        if (!line.empty()) reply.Line("ERROR");
        reply.Prompt(">");
      }
      break;
    case Level::Pc: {
      if (line.empty()) {
        level_ = Level::Top;
        reply.Prompt(">");
        break;
      }
      for (auto& m : menus_) {
        if (m->Word() == line) {
          menu_ = m.get();
          level_ = Level::Menu;
          reply.Prompt(menu_->PromptText());
          break;
        }
      }
      if (level_ == Level::Pc) {
        reply.Line("ERROR");
        reply.Prompt("PC>");
      }
      break;
    }
    case Level::Menu:
      switch (menu_->Line(line, access_, reply)) {
        case Next::Dialog:
          break;
        case Next::Prompt:
          if (strayPending_ && !reply.pieces.empty()) {
            reply.Line(kStrayLine);
            strayPending_ = false;
          }
          reply.Prompt(menu_->PromptText());
          break;
        case Next::Leave:
          menu_ = nullptr;
          level_ = Level::Pc;
          reply.Prompt("PC>");
          break;
        case Next::Transfer:
          level_ = Level::Transfer;
          transfer_ = reply.transfer;
          running_ = reply.transfer;
          log_.Note("transfer " + std::string(transfer_->direction == TransferRequest::Direction::ToUnit ? "to" : "from") +
                    " the unit, " + transfer_->what);
          break;
      }
      break;
    case Level::Transfer:
      break;
  }
  Send(reply, now + std::chrono::milliseconds(opt_.delayMs));
}

void Console::Login(const std::string& line, Reply& reply) {
  if (line.empty() || line == kAccess) {
    PasswordPrompt(reply);
    return;
  }
  if (busyLeft_ != 0) {
    if (busyLeft_ > 0) --busyLeft_;
    reply.Line("BUSY");
    PasswordPrompt(reply);
    return;
  }
  if (line == unit_.params[0] || line == unit_.params[104]) {
    access_.system = line == unit_.params[0];
    reply.Line(access_.system ? "SYSTEM_MODE" : "ADMIN_MODE");
    level_ = Level::Top;
    reply.Prompt(">");
    return;
  }
  reply.Line("ERROR");
  PasswordPrompt(reply);
}

void Console::PasswordPrompt(Reply& reply) const {
  if (!Active(opt_.noPasswordPromptFrom)) reply.Prompt(kPasswordPrompt);
}

std::optional<std::string> Console::Shape(const std::string& text) const {
  std::string t = text;
  if (opt_.writeNoOk && t == "OK") t = "DONE";
  if (Listed(opt_.drop, t)) return std::nullopt;
  for (const auto& [from, to] : opt_.replace)
    if (Matches(from, t)) return to;
  return t;
}

void Console::Send(const Reply& reply, TimePoint notBefore) {
  std::string bytes;
  for (const Piece& p : reply.pieces) {
    auto text = Shape(p.text);
    if (!text) continue;
    bytes += *text;
    if (p.kind == Piece::Kind::Line) bytes += opt_.crlf ? "\r\n" : "\r";
  }
  wire_.Send(bytes, notBefore);
}

void Console::TransferEnded(const TransferResult& result, TimePoint now) {
  int error = opt_.transferError ? static_cast<int>(*opt_.transferError) : result.error;
  if (error == 0 && result.received && running_ && running_->file) {
    *running_->file = *result.received;
    unit_.Changed();
  }
  running_.reset();
  Reply reply;
  reply.Line(error == 0 ? std::string("TRANSFER_RESULT:OK") : "TRANSFER_RESULT:YMODEM_ERR(" + std::to_string(error) + ")");
  reply.Prompt(menu_->PromptText());
  level_ = Level::Menu;
  Send(reply, now + std::chrono::milliseconds(opt_.resultPauseMs + opt_.delayMs));
}

}  // namespace kvsim
