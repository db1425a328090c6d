#include "Options.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "Text.h"
#include "session/Cp1251.h"

namespace kvsim {
namespace {

const char* kUsage = R"(Usage: kvsim [options]

Plays the automatic-attendant and voice-mail unit on a pseudo-terminal. The
first line on standard output is the path of the terminal side the tool opens
(printed and flushed at once). Runs until killed (SIGTERM, SIGINT) or, with
--stdin-exit, until its standard input is closed.

The unit: echo of every byte received; lines end in CR; "лмж" and CR (code
page 1251) gives "Password:"; the administrator password (parameter 104) gives
ADMIN_MODE, the system password (parameter 00) SYSTEM_MODE, anything else
ERROR; ">" then "PC" gives "PC>"; SYS, LIST, MAIL, MENU, TIME enter
"PC SYS>", "PC LIST>", "PC MAIL>", "PC MENU>", "PC TIME>"; an empty line goes
back one level; a CAN byte (24) logs out at once. Questions inside commands:
"N:" (number, entry or owner), "V=" (new value), "S:" (mailbox seconds),
"TC:" and "0:".."9:" (voice menu), "T:" (clock), "START" (a file follows).

Line and process:
  --link PATH            also make PATH a symbolic link to the terminal
  --stdin-exit           exit when standard input closes
  --log FILE             transcript of both directions (see below)
  --state FILE           load the unit's settings from FILE (if it exists) and
                         save them back after every change
  --crlf                 end lines with CR LF instead of CR
  --baud N               pace everything sent to N/10 bytes per second

Start values:
  --admin-password P     administrator password, parameter 104 (factory 1234)
  --system-password P    system password, parameter 00 (factory 7777)
  --clock DDMMYYhhmmss   the unit's clock at start (default: local time)
  --firmware N           firmware version, parameter 999 (default 10203 = 1.2.3)
  --list-size N          extension list entries before NO_FREE_MEM (default 100)
  --mailboxes N          mailboxes before NO_FREE_BOX (default 20)
  --mail-memory SEC      recording seconds for all mailboxes (default 7200)

Faults:
  --no-echo              echo nothing
  --no-echo=N            echo normally until the N-th reception of the access
                         string, nothing from then on (a failing re-login)
  --no-password-prompt   never show "Password:"
  --no-password-prompt=N the same from the N-th access string on
  --stray-line           once, a stray line ("RING 1") before the menu prompt
                         that follows the first reply in a command menu
  --delay MS             send every reply MS milliseconds late (echo is not delayed)
  --write-no-ok          answer accepted writes with "DONE" instead of "OK"
  --busy                 answer every password with "BUSY"
  --busy=N               answer the first N passwords with "BUSY"
  --mute LINE            echo LINE but give no answer at all (repeatable)
  --drop-echo LINE       do not echo the CR of LINE and ignore it (repeatable)
  --drop TEXT            never send the line or prompt TEXT (repeatable)
  --replace FROM TO      send the line or prompt FROM as TO (repeatable)
                         (TEXT and FROM match whole texts without the line end;
                         a trailing * matches any text with that beginning)
  --transfer-error N     end every file transfer with YMODEM_ERR(N)
  --result-pause MS      pause before TRANSFER_RESULT (default 300)

  --help                 this text

Transcript (--log): first line "# kvsim transcript", then one record per read
or write: "> MS BYTES" for bytes received from the tool, "< MS BYTES" for bytes
sent, MS since start (3 decimals), BYTES escaped: printable ASCII as is, \\ for
backslash, \r, \n, \xHH for every other byte (no blanks). "#" lines are notes.

State file (--state): UTF-8 text, one item per line:
  kvsim-state 1
  param CODE [VALUE]              clock-offset-ns N
  list ENTRY                      mailbox OWNER SECONDS
  menu N TC KEY0 .. KEY9
  file slot|menu N NAME SIZE tone|BASE64
Blanks, backslashes and control bytes in texts are escaped as in transcripts.
)";

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "kvsim: %s\nTry kvsim --help.\n", message.c_str());
  std::exit(2);
}

long Number(std::string_view flag, const std::string& text) {
  auto v = ParseDecimal(text, 9);
  if (!v) Fail(std::string(flag) + " needs a number, not '" + text + "'");
  return *v;
}

}  // namespace

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::optional<std::string> inlineValue;
    if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = arg.substr(eq + 1);
      arg.resize(eq);
    }
    auto value = [&]() -> std::string {
      if (inlineValue) return *std::exchange(inlineValue, std::nullopt);
      if (i + 1 >= argc) Fail(arg + " needs a value");
      return argv[++i];
    };
    auto text = [&]() { return kv::Utf8ToCp1251(value()); };

    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == "--link") {
      o.link = value();
    } else if (arg == "--stdin-exit") {
      o.stdinExit = true;
    } else if (arg == "--log") {
      o.logFile = value();
    } else if (arg == "--state") {
      o.stateFile = value();
    } else if (arg == "--crlf") {
      o.crlf = true;
    } else if (arg == "--baud") {
      o.baud = Number(arg, value());
      if (o.baud == 0) Fail("--baud must be above 0");
    } else if (arg == "--admin-password") {
      o.adminPassword = text();
    } else if (arg == "--system-password") {
      o.systemPassword = text();
    } else if (arg == "--clock") {
      o.clock = value();
      if (!UnitClock().Set(*o.clock)) Fail("--clock needs DDMMYYhhmmss of a real date and time");
    } else if (arg == "--firmware") {
      o.firmware = Number(arg, value());
    } else if (arg == "--list-size") {
      o.limits.listEntries = static_cast<std::size_t>(Number(arg, value()));
    } else if (arg == "--mailboxes") {
      o.limits.mailboxes = static_cast<std::size_t>(Number(arg, value()));
    } else if (arg == "--mail-memory") {
      o.limits.mailMemory = Number(arg, value());
    } else if (arg == "--no-echo") {
      o.noEchoFrom = inlineValue ? Number(arg, value()) : 0;
    } else if (arg == "--no-password-prompt") {
      o.noPasswordPromptFrom = inlineValue ? Number(arg, value()) : 0;
    } else if (arg == "--stray-line") {
      o.strayLine = true;
    } else if (arg == "--delay") {
      o.delayMs = Number(arg, value());
    } else if (arg == "--write-no-ok") {
      o.writeNoOk = true;
    } else if (arg == "--busy") {
      o.busy = inlineValue ? Number(arg, value()) : -1;
    } else if (arg == "--mute") {
      o.mute.push_back(text());
    } else if (arg == "--drop-echo") {
      o.dropEcho.push_back(text());
    } else if (arg == "--drop") {
      o.drop.push_back(text());
    } else if (arg == "--replace") {
      std::string from = text();
      o.replace.emplace_back(from, text());
    } else if (arg == "--transfer-error") {
      o.transferError = Number(arg, value());
    } else if (arg == "--result-pause") {
      o.resultPauseMs = Number(arg, value());
    } else {
      Fail("unknown option " + arg);
    }
    if (inlineValue) Fail(arg + " takes no value");
  }
  return o;
}

}  // namespace kvsim
