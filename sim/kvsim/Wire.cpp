#include "Wire.h"

#include <cerrno>
#include <unistd.h>

#include "Transcript.h"

namespace kvsim {

Wire::Wire(int fd, long baud, Transcript& log) : fd_(fd), log_(log) {
  if (baud > 0)
    byteTime_ = std::chrono::duration_cast<SteadyClock::duration>(std::chrono::nanoseconds(10'000'000'000LL / baud));
}

void Wire::Send(std::string_view bytes, TimePoint notBefore) {
  if (bytes.empty()) return;
  if (!queue_.empty()) {
    Chunk& last = queue_.back();
    if (last.notBefore > notBefore) notBefore = last.notBefore;
    if (!last.start && last.notBefore == notBefore) {  // not begun: one write for both
      last.bytes += bytes;
      return;
    }
  }
  queue_.push_back(Chunk{std::string(bytes), 0, 0, notBefore, std::nullopt});
}

TimePoint Wire::DueOf(const Chunk& c, std::size_t index) const {
  // A byte is delivered when its last bit has left the line.
  TimePoint start = c.start ? *c.start : std::max(lineFree_, c.notBefore);
  return start + byteTime_ * static_cast<long>(index + 1);
}

std::optional<TimePoint> Wire::NextDue() const {
  if (queue_.empty() || blocked_) return std::nullopt;
  const Chunk& c = queue_.front();
  return byteTime_.count() ? DueOf(c, c.sent) : c.notBefore;
}

void Wire::Pump(TimePoint now) {
  blocked_ = false;
  while (!queue_.empty()) {
    Chunk& c = queue_.front();
    if (!c.start) {
      if (c.notBefore > now) return;
      c.start = std::max(lineFree_, c.notBefore);
    }
    std::size_t n = c.bytes.size() - c.sent;
    if (byteTime_.count()) {
      auto elapsed = now - *c.start;
      auto due = static_cast<std::size_t>(elapsed / byteTime_);  // bytes complete by now
      if (due <= c.sent) return;
      n = std::min(n, due - c.sent);
    }
    // Logged before the write, so that whatever the tool has received is in
    // the transcript already (a partial write logs its rest only once).
    if (c.sent + n > c.logged) {
      log_.FromUnit(std::string_view(c.bytes).substr(c.logged, c.sent + n - c.logged));
      c.logged = c.sent + n;
    }
    ssize_t w = ::write(fd_, c.bytes.data() + c.sent, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      blocked_ = (errno == EAGAIN || errno == EWOULDBLOCK);
      if (!blocked_) queue_.clear();  // the line is gone; nothing can be delivered
      return;
    }
    c.sent += static_cast<std::size_t>(w);
    if (c.sent < c.bytes.size()) {
      if (static_cast<std::size_t>(w) < n) {
        blocked_ = true;
        return;
      }
      continue;
    }
    lineFree_ = *c.start + byteTime_ * static_cast<long>(c.bytes.size());
    queue_.pop_front();
  }
}

}  // namespace kvsim
