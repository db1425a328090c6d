// The transcript of both directions on the line (--log).
//
// Format: the first line is "# kvsim transcript". Then one record per line:
//   <dir> <ms> <bytes>
// <dir> is ">" for bytes the unit received from the tool and "<" for bytes
// the unit sent; <ms> is the time since start in milliseconds with three
// decimals; <bytes> are the bytes as Escape() writes them (no blanks). One
// record is written per read or write, so consecutive records of the same
// direction belong together. Lines starting with "#" are notes. Every record
// is flushed at once.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

namespace kvsim {

class Transcript {
 public:
  Transcript() = default;
  ~Transcript();
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;

  // Creates (truncates) the file; false when it cannot be opened.
  bool Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }

  void FromTool(std::string_view bytes) { Record('>', bytes); }
  void FromUnit(std::string_view bytes) { Record('<', bytes); }
  void Note(std::string_view text);

 private:
  void Record(char dir, std::string_view bytes);

  std::FILE* file_ = nullptr;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace kvsim
