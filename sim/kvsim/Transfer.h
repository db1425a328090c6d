// The hand-over of the line to a file transfer in the unit's role. A command
// (SET of a service-message slot, ULMSG, DLMSG) asks for a transfer; the main
// loop then feeds every received byte to the Transfer instead of the console
// until it has a result, and the console answers "TRANSFER_RESULT:".
//
// Timing a real peer relies on: the tool's engine purges its input when it
// starts, after the command's echo. So a receiving unit must repeat its
// handshake character at short intervals until the first block comes (one
// sent at once is usually purged), and a sending unit (after "START") must
// already listen for the tool's handshake when the announcement leaves.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "Menu.h"
#include "Wire.h"

namespace kvsim {

struct TransferResult {
  int error = 0;  // 0: the file arrived or was delivered; otherwise YMODEM_ERR(error)
  std::optional<VoiceFile> received;  // the file a receive brought (stored only on success)
};

class Transfer {
 public:
  virtual ~Transfer() = default;
  // Bytes from the tool while the transfer runs.
  virtual void Received(std::string_view bytes, TimePoint now) = 0;
  // Called when Deadline() has passed.
  virtual void Tick(TimePoint now) = 0;
  virtual std::optional<TimePoint> Deadline() const = 0;
  // Set once the transfer has ended.
  virtual std::optional<TransferResult> Result() const = 0;
  // A descriptor the main loop also waits on; when it is readable the loop
  // calls Tick. -1: none.
  virtual int PollFd() const { return -1; }
};

// The unit's error numbers in "YMODEM_ERR(n)".
namespace transfer_error {
inline constexpr int kCancelled = 1;    // the other side cancelled
inline constexpr int kTimeout = 2;      // nothing arrived in time
inline constexpr int kTooMany = 3;      // too many bad blocks
inline constexpr int kProtocol = 4;     // unexpected byte or block number
inline constexpr int kUnavailable = 5;  // this unit cannot transfer files
}  // namespace transfer_error

using TransferFactory = std::function<std::unique_ptr<Transfer>(const TransferRequest&, Wire&, TimePoint now)>;

// A unit without a transfer engine: it cancels at once (CAN bytes) and
// reports kUnavailable.
std::unique_ptr<Transfer> MakeUnavailableTransfer(const TransferRequest& request, Wire& wire, TimePoint now);

}  // namespace kvsim
