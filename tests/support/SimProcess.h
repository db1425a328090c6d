// Starts the simulated unit (kvsim) for a test and reads its transcript.
//
//   kv::SimProcess sim({"--admin-password", "4321"});
//   port.Open(sim.Path());                  // the terminal the tool opens
//   ...
//   EXPECT_NE(sim.BytesFromTool().find("GET\r999\r"), std::string::npos);
//
// The simulator always runs with --stdin-exit (it ends when this object or
// the whole test process goes away) and, unless the arguments name a --log
// file themselves, with a transcript in a temporary folder removed by the
// destructor.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace kv {

struct TranscriptRecord {
  enum class Dir { FromTool, FromUnit };
  Dir dir;
  double ms;          // since the simulator started
  std::string bytes;  // raw bytes (code page 1251 where not ASCII)
};

// Parses a kvsim transcript. Consecutive records of one direction are merged
// into one (with the time of the first). Throws std::runtime_error on a
// malformed record.
std::vector<TranscriptRecord> ParseTranscript(std::string_view text);

class SimProcess {
 public:
  // Starts kvsim with `args` and waits at most `startTimeoutMs` for the
  // terminal path. Throws std::runtime_error when it cannot start.
  explicit SimProcess(std::vector<std::string> args = {}, int startTimeoutMs = 5000);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Absolute path of the terminal the tool opens (e.g. /dev/pts/7).
  const std::string& Path() const { return path_; }
  pid_t Pid() const { return pid_; }
  const std::string& LogPath() const { return logPath_; }

  // The transcript as written so far (each record is flushed as it happens).
  std::vector<TranscriptRecord> Transcript() const;
  // Every byte the unit received from the tool, in order.
  std::string BytesFromTool() const;
  // Every byte the unit sent, in order (each is logged just before it is
  // written, so whatever the tool has received is already here).
  std::string BytesFromUnit() const;
  // Waits until the bytes from the tool hold `text` at or after `from`, or
  // `timeoutMs` has passed; woken by each write to the transcript. True
  // when the text came.
  bool WaitFromTool(const std::string& text, size_t from, int timeoutMs) const;

  // Ends the simulator (closes its standard input; kills it when it has not
  // ended within `timeoutMs`). Returns true when it ended by itself with
  // exit status 0. Called by the destructor; later calls return the first result.
  bool Stop(int timeoutMs = 3000);

  // The kvsim executable this library was built with.
  static std::string Executable();

 private:
  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int stdoutFd_ = -1;
  std::string path_;
  std::string logPath_;
  std::string tempDir_;
  bool stopped_ = false;
  bool cleanExit_ = false;
};

// A plain raw-mode connection to a terminal path, for tests that talk to the
// unit without the tool's serial component.
class RawLine {
 public:
  explicit RawLine(const std::string& path);  // throws std::runtime_error
  ~RawLine();
  RawLine(const RawLine&) = delete;
  RawLine& operator=(const RawLine&) = delete;

  void Write(std::string_view bytes);
  // Reads until `pattern` has arrived (counting from the last cut) or
  // `timeoutMs` passed. On success `text` is everything received up to and
  // including the pattern, and the rest stays for the next read. On time-out
  // (or when the line is gone) ok is false, `text` is what did arrive, and it
  // stays buffered.
  struct Read {
    bool ok;
    std::string text;
  };
  Read Until(std::string_view pattern, int timeoutMs = 2000);
  // Waits `ms` and returns (and drops) everything that arrived meanwhile plus
  // what was already buffered.
  std::string Drain(int ms);
  // Writes `bytes` and reads until `pattern`.
  Read Exchange(std::string_view bytes, std::string_view pattern, int timeoutMs = 2000) {
    Write(bytes);
    return Until(pattern, timeoutMs);
  }
  int Fd() const { return fd_; }

 private:
  bool Fill(int timeoutMs);
  int fd_ = -1;
  bool dead_ = false;
  std::string buffer_;
};

}  // namespace kv
