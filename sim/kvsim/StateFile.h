// The unit's settings in a text file (--state), loaded at start and saved
// after every change. Format: see kvsim --help.
#pragma once

#include <string>

#include "Unit.h"

namespace kvsim {

class StateFile {
 public:
  explicit StateFile(std::string path) : path_(std::move(path)) {}

  // Replaces what the file holds in `unit`; a missing file leaves the factory
  // settings. Returns an error text, empty on success.
  std::string Load(Unit& unit) const;
  // Writes the whole state (to a temporary file, then renamed over the old one).
  std::string Save(const Unit& unit) const;

  static std::string Serialize(const Unit& unit);
  static std::string Parse(const std::string& text, Unit& unit);

 private:
  std::string path_;
};

std::string Base64(std::string_view bytes);
std::optional<std::string> FromBase64(std::string_view text);

}  // namespace kvsim
