// Line settings of a tty on Linux, through the kernel's termios2 interface
// so that any speed can be set. Internal to the port.
#pragma once

#include <cstdint>

namespace kv::termio {

struct TLineSettings {
    int speed = 19200;       // bits per second
    int dataBits = 8;        // 5 to 8
    int parity = 0;          // 0 none, 1 odd, 2 even, 3 mark, 4 space
    bool twoStopBits = false;
    bool parityCheck = false;
    bool ctsFlow = false;    // hardware handshake
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    uint8_t xonChar = 17;
    uint8_t xoffChar = 19;
};

// Puts the tty in raw mode with the given settings. Returns 0 or an errno.
int ApplyLine(int fd, const TLineSettings& s);
// Reads the settings back. Returns 0 when the driver holds them (the speed
// within 2 %, what a UART divisor may round to), EINVAL when it changed
// something, or the errno of the read.
int VerifyLine(int fd, const TLineSettings& s);

// Raises or drops DTR and RTS. Returns 0 or an errno.
int SetModemLines(int fd, bool dtr, bool rts);

// Asks the driver for low latency; failures are ignored.
void RequestLowLatency(int fd);

// The driver's error counters (frame, overrun, parity, break, buffer
// overrun). Returns false when the driver keeps none.
struct TErrorCounters {
    uint32_t frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};
bool ReadErrorCounters(int fd, TErrorCounters& out);

// True for the slave side of a pseudo-terminal.
bool IsPseudoTerminal(int fd);

}  // namespace kv::termio
