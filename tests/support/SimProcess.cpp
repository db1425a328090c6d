#include "SimProcess.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace kv {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string UnescapeBytes(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (i + 1 >= text.size()) throw std::runtime_error("transcript: dangling backslash");
    char c = text[++i];
    if (c == '\\') {
      out += '\\';
    } else if (c == 'r') {
      out += '\r';
    } else if (c == 'n') {
      out += '\n';
    } else if (c == 'x' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      throw std::runtime_error("transcript: bad escape");
    }
  }
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

std::vector<TranscriptRecord> ParseTranscript(std::string_view text) {
  std::vector<TranscriptRecord> records;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) break;  // a record still being written
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.empty() || line[0] == '#') continue;
    if (line.size() < 4 || (line[0] != '>' && line[0] != '<') || line[1] != ' ')
      throw std::runtime_error("transcript: bad record: " + std::string(line));
    std::size_t blank = line.find(' ', 2);
    if (blank == std::string_view::npos) throw std::runtime_error("transcript: bad record: " + std::string(line));
    double ms = std::strtod(std::string(line.substr(2, blank - 2)).c_str(), nullptr);
    auto dir = line[0] == '>' ? TranscriptRecord::Dir::FromTool : TranscriptRecord::Dir::FromUnit;
    std::string bytes = UnescapeBytes(line.substr(blank + 1));
    if (!records.empty() && records.back().dir == dir)
      records.back().bytes += bytes;
    else
      records.push_back({dir, ms, std::move(bytes)});
  }
  return records;
}

std::string SimProcess::Executable() { return KVSIM_PATH; }

SimProcess::SimProcess(std::vector<std::string> args, int startTimeoutMs) {
  bool hasLog = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--log" && i + 1 < args.size()) hasLog = true, logPath_ = args[i + 1];
    if (args[i].rfind("--log=", 0) == 0) hasLog = true, logPath_ = args[i].substr(6);
  }
  if (!hasLog) {
    char dir[] = "/tmp/kvsim-test-XXXXXX";
    if (!mkdtemp(dir)) Fail("mkdtemp");
    tempDir_ = dir;
    logPath_ = tempDir_ + "/transcript.log";
    args.push_back("--log");
    args.push_back(logPath_);
  }
  args.push_back("--stdin-exit");

  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0) Fail("pipe");
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]), close(in[1]);
    Fail("pipe");
  }
  std::string exe = Executable();
  std::vector<char*> argv;
  argv.push_back(exe.data());
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&fa, 3);  // nothing else of the test leaks into it
  int rc = posix_spawn(&pid_, exe.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]);
  close(out[1]);
  stdinFd_ = in[1];
  stdoutFd_ = out[0];
  if (rc != 0) {
    pid_ = -1;
    errno = rc;
    Stop(0);
    Fail("cannot start " + exe);
  }

  // The first line is the terminal path.
  std::string line;
  auto deadline = Clock::now() + std::chrono::milliseconds(startTimeoutMs);
  while (line.find('\n') == std::string::npos) {
    pollfd p{stdoutFd_, POLLIN, 0};
    int n = poll(&p, 1, MsLeft(deadline));
    if (n < 0 && errno == EINTR) continue;
    char buf[256];
    ssize_t r = n > 0 ? read(stdoutFd_, buf, sizeof buf) : 0;
    if (r <= 0) {
      Stop(0);
      throw std::runtime_error(n == 0 ? "kvsim did not print its terminal path in time"
                                      : "kvsim ended before printing its terminal path");
    }
    line.append(buf, static_cast<std::size_t>(r));
  }
  path_ = line.substr(0, line.find('\n'));
}

SimProcess::~SimProcess() {
  Stop();
  if (!tempDir_.empty()) {
    unlink(logPath_.c_str());
    rmdir(tempDir_.c_str());
  }
}

bool SimProcess::Stop(int timeoutMs) {
  if (stopped_) return cleanExit_;
  stopped_ = true;
  if (stdinFd_ >= 0) close(stdinFd_), stdinFd_ = -1;
  if (pid_ > 0) {
    // Its standard output reaches end of file when it has ended.
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool ended = false;
    while (stdoutFd_ >= 0) {
      pollfd p{stdoutFd_, POLLIN, 0};
      int n = poll(&p, 1, MsLeft(deadline));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      char buf[256];
      ssize_t r = read(stdoutFd_, buf, sizeof buf);
      if (r == 0 || (r < 0 && errno != EINTR)) {
        ended = true;
        break;
      }
    }
    if (!ended) kill(pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    cleanExit_ = ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    pid_ = -1;
  }
  if (stdoutFd_ >= 0) close(stdoutFd_), stdoutFd_ = -1;
  return cleanExit_;
}

std::vector<TranscriptRecord> SimProcess::Transcript() const { return ParseTranscript(ReadFile(logPath_)); }

std::string SimProcess::BytesFromTool() const {
  std::string all;
  for (const auto& r : Transcript())
    if (r.dir == TranscriptRecord::Dir::FromTool) all += r.bytes;
  return all;
}

bool SimProcess::WaitFromTool(const std::string& text, size_t from, int timeoutMs) const {
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) Fail("inotify_init1");
  if (inotify_add_watch(fd, logPath_.c_str(), IN_MODIFY | IN_CLOSE_WRITE) < 0) {
    close(fd);
    Fail("inotify_add_watch " + logPath_);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  bool found = false;
  for (;;) {
    // Watched first, then read: a write between the two still wakes us.
    const std::string bytes = BytesFromTool();
    if (bytes.size() > from && bytes.find(text, from) != std::string::npos) {
      found = true;
      break;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) break;
    char events[4096];
    while (read(fd, events, sizeof events) > 0) {
    }
  }
  close(fd);
  return found;
}

std::string SimProcess::BytesFromUnit() const {
  std::string all;
  for (const auto& r : Transcript())
    if (r.dir == TranscriptRecord::Dir::FromUnit) all += r.bytes;
  return all;
}

// ---- RawLine ----

RawLine::RawLine(const std::string& path) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) Fail("open " + path);
  termios tio{};
  if (tcgetattr(fd_, &tio) != 0) Fail("tcgetattr " + path);
  cfmakeraw(&tio);
  if (tcsetattr(fd_, TCSANOW, &tio) != 0) Fail("tcsetattr " + path);
  tcflush(fd_, TCIOFLUSH);
}

RawLine::~RawLine() {
  if (fd_ >= 0) close(fd_);
}

void RawLine::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t w = write(fd_, bytes.data(), bytes.size());
    if (w < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 1000);
        continue;
      }
      Fail("write");
    }
    bytes.remove_prefix(static_cast<std::size_t>(w));
  }
}

bool RawLine::Fill(int timeoutMs) {
  pollfd p{fd_, POLLIN, 0};
  int n = poll(&p, 1, timeoutMs);
  if (n <= 0) return false;
  char buf[4096];
  ssize_t r = read(fd_, buf, sizeof buf);
  if (r < 0 && (errno == EAGAIN || errno == EINTR)) return false;
  if (r <= 0) {
    dead_ = true;
    return false;
  }
  buffer_.append(buf, static_cast<std::size_t>(r));
  return true;
}

RawLine::Read RawLine::Until(std::string_view pattern, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto at = buffer_.find(pattern);
    if (at != std::string::npos) {
      std::string text = buffer_.substr(0, at + pattern.size());
      buffer_.erase(0, at + pattern.size());
      return {true, text};
    }
    int left = MsLeft(deadline);
    if (left == 0 || dead_) return {false, buffer_};
    Fill(left);
  }
}

std::string RawLine::Drain(int ms) {
  auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (MsLeft(deadline) > 0 && !dead_) Fill(MsLeft(deadline));
  return std::exchange(buffer_, {});
}

}  // namespace kv
