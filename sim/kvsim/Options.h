// Command line of kvsim.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Unit.h"

namespace kvsim {

struct Options {
  std::string link;
  std::string stateFile;
  std::string logFile;
  bool stdinExit = false;
  bool crlf = false;

  // Passwords and other start values (texts in code page 1251).
  std::optional<std::string> adminPassword;
  std::optional<std::string> systemPassword;
  std::optional<std::string> clock;
  long firmware = 10203;
  Limits limits;

  // Faults.
  // From the n-th reception of the access string on (0: from the start, -1: never).
  long noEchoFrom = -1;
  long noPasswordPromptFrom = -1;
  bool strayLine = false;
  bool writeNoOk = false;
  long delayMs = 0;
  long baud = 0;
  long busy = 0;  // password attempts answered "BUSY"; -1: all of them
  std::vector<std::string> mute;      // lines echoed and then ignored
  std::vector<std::string> dropEcho;  // lines whose CR is not echoed, ignored
  std::vector<std::string> drop;      // texts the unit does not send
  std::vector<std::pair<std::string, std::string>> replace;  // texts the unit sends differently
  std::optional<long> transferError;
  long resultPauseMs = 300;
};

// Parses argv. On --help prints the usage and exits 0; on an error prints it
// with the usage hint to stderr and exits 2.
Options ParseOptions(int argc, char** argv);

}  // namespace kvsim
