// What the unit sends, in order, at the right moments: echo at once, replies
// after the reply delay, and with a baud rate every byte no earlier than a
// real line would have delivered it (one byte per 10 bit times).
#pragma once

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace kvsim {

class Transcript;

using SteadyClock = std::chrono::steady_clock;
using TimePoint = SteadyClock::time_point;

class Wire {
 public:
  // fd: the non-blocking master side of the pseudo-terminal; baud 0 sends
  // without pacing.
  Wire(int fd, long baud, Transcript& log);

  // Queues bytes that must not leave before `notBefore`. Order is kept: a
  // chunk never overtakes an earlier one.
  void Send(std::string_view bytes, TimePoint notBefore);

  // Writes every byte that is due at `now`.
  void Pump(TimePoint now);

  // The moment the next queued byte becomes due; nullopt when nothing waits
  // or when the pseudo-terminal is full (then WantWritable() is true).
  std::optional<TimePoint> NextDue() const;
  bool WantWritable() const { return blocked_ && !queue_.empty(); }
  bool Idle() const { return queue_.empty(); }

  // Drops everything not yet sent.
  void Discard() { queue_.clear(); }

 private:
  struct Chunk {
    std::string bytes;
    std::size_t sent = 0;
    std::size_t logged = 0;  // bytes already in the transcript
    TimePoint notBefore;
    std::optional<TimePoint> start;  // when its first byte started on the line
  };

  TimePoint DueOf(const Chunk& c, std::size_t index) const;

  int fd_;
  SteadyClock::duration byteTime_{};
  Transcript& log_;
  std::deque<Chunk> queue_;
  TimePoint lineFree_{};  // end of the last byte put on the line
  bool blocked_ = false;
};

}  // namespace kvsim
