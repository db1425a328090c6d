// The pseudo-terminal the unit sits on.
#pragma once

#include <string>

namespace kvsim {

class Pty {
 public:
  // Creates the pair; throws std::runtime_error on failure. The master side
  // is non-blocking; the terminal side is put into raw mode (no echo, no
  // translation) and one descriptor of it stays open for the life of the
  // object, so the master never sees a hang-up while the tool closes and
  // reopens the terminal.
  Pty();
  ~Pty();
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  int Master() const { return master_; }
  const std::string& Path() const { return path_; }

 private:
  int master_ = -1;
  int keepOpen_ = -1;
  std::string path_;
};

}  // namespace kvsim
