// File transfers in the unit's role, carried out by the program's own YModem
// engine (transfer/).
//
// The engine works on a serial port, so each transfer gets a pseudo-terminal
// pair of its own: the engine's port opens the inner side, and the transfer
// relays bytes between the outer side and the unit's line (the Wire), at the
// line's rate in both directions when --baud is given. The engine's events
// run on one helper thread of kvsim that stands in for a user-interface
// thread.
//
// Timing: a receiving unit starts its engine (and so sends its first
// handshake character) a short while after the command's echo, once the
// tool's own engine has started and purged its input; a sending unit starts
// its engine before "START" leaves, so it already listens for the tool's
// handshake.
#pragma once

#include <memory>

#include "Transfer.h"

namespace kvsim {

// How long a receiving unit waits after the command before its engine
// starts.
inline constexpr std::chrono::milliseconds kReceiveStartDelay{250};
// After the engine has ended, the line stays with the transfer until it has
// been quiet this long in both directions, counted from the moment the
// engine's last byte has left the line: a sending engine does not wait for
// the answer to the end of the batch, and that answer must not reach the
// command line.
inline constexpr std::chrono::milliseconds kEndQuiet{100};

// The unit's error number in "YMODEM_ERR(n)" for an engine exit code.
int UnitTransferError(int exitCode);

std::unique_ptr<Transfer> MakeEngineTransfer(const TransferRequest& request, Wire& wire, TimePoint now, long baud);

}  // namespace kvsim
