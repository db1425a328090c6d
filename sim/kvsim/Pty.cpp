#include "Pty.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace kvsim {
namespace {

[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

}  // namespace

Pty::Pty() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY);
  if (master_ < 0) Fail("posix_openpt");
  if (grantpt(master_) != 0) Fail("grantpt");
  if (unlockpt(master_) != 0) Fail("unlockpt");
  char name[256];
  if (ptsname_r(master_, name, sizeof name) != 0) Fail("ptsname_r");
  path_ = name;
  int flags = fcntl(master_, F_GETFL);
  if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) Fail("fcntl");
  fcntl(master_, F_SETFD, FD_CLOEXEC);

  keepOpen_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (keepOpen_ < 0) Fail("open terminal side");
  termios tio{};
  if (tcgetattr(keepOpen_, &tio) != 0) Fail("tcgetattr");
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, B19200);
  cfsetospeed(&tio, B19200);
  if (tcsetattr(keepOpen_, TCSANOW, &tio) != 0) Fail("tcsetattr");
}

Pty::~Pty() {
  if (keepOpen_ >= 0) ::close(keepOpen_);
  if (master_ >= 0) ::close(master_);
}

}  // namespace kvsim
