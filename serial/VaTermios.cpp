// Only the kernel's own termios headers here: <termios.h> defines a struct
// of the same name without the separate speed fields.
#include "serial/VaTermios.h"

#include <asm/ioctls.h>
#include <asm/termios.h>  // also the termios2 layout and the modem-line bits
#include <cerrno>
#include <cstdlib>
#include <linux/serial.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace kv::termio {

namespace {

struct SpeedCode {
    int speed;
    tcflag_t code;
};

constexpr SpeedCode kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},
    {150, B150},       {200, B200},       {300, B300},       {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000},
};

tcflag_t CodeFor(int speed)
{
    for (const auto& s : kSpeeds)
        if (s.speed == speed)
            return s.code;
    return BOTHER;
}

int SpeedOf(tcflag_t code, speed_t field)
{
    if (code == BOTHER)
        return static_cast<int>(field);
    for (const auto& s : kSpeeds)
        if (s.code == code)
            return s.speed;
    return -1;
}

tcflag_t SizeFlag(int bits)
{
    switch (bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

tcflag_t ParityFlags(int parity)
{
    switch (parity) {
    case 1: return PARENB | PARODD;
    case 2: return PARENB;
    case 3: return PARENB | CMSPAR | PARODD;  // mark
    case 4: return PARENB | CMSPAR;           // space
    default: return 0;
    }
}

constexpr tcflag_t kInputCleared = IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR |
                                   IGNCR | ICRNL | IUCLC | IXON | IXANY | IXOFF | IMAXBEL | IUTF8;
constexpr tcflag_t kLocalCleared = ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL |
                                   ECHOPRT | ECHOKE | IEXTEN | TOSTOP | XCASE;
constexpr tcflag_t kControlSet = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CREAD |
                                 CLOCAL;

tcflag_t WantedInput(const TLineSettings& s)
{
    tcflag_t f = 0;
    if (s.parityCheck)
        f |= INPCK;
    if (s.xonXoffOut)
        f |= IXON;
    if (s.xonXoffIn)
        f |= IXOFF;
    return f;
}

tcflag_t WantedControl(const TLineSettings& s)
{
    tcflag_t f = SizeFlag(s.dataBits) | ParityFlags(s.parity) | CREAD | CLOCAL;
    if (s.twoStopBits)
        f |= CSTOPB;
    if (s.ctsFlow)
        f |= CRTSCTS;
    return f;
}

bool SpeedClose(int got, int want)
{
    if (got <= 0)
        return false;
    return std::abs(got - want) * 50 <= want;  // within 2 %
}

}  // namespace

int ApplyLine(int fd, const TLineSettings& s)
{
    if (s.dataBits < 5 || s.dataBits > 8 || s.speed <= 0)
        return EINVAL;
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    t.c_iflag = (t.c_iflag & ~kInputCleared) | WantedInput(s);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~kLocalCleared;
    t.c_cflag = (t.c_cflag & ~(kControlSet | CBAUD | (CBAUD << IBSHIFT))) | WantedControl(s);
    const tcflag_t code = CodeFor(s.speed);
    t.c_cflag |= code;  // input speed follows the output speed (CIBAUD zero)
    t.c_ispeed = static_cast<speed_t>(s.speed);
    t.c_ospeed = static_cast<speed_t>(s.speed);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = s.xonChar;
    t.c_cc[VSTOP] = s.xoffChar;
    if (ioctl(fd, TCSETS2, &t) != 0)
        return errno;
    return 0;
}

int VerifyLine(int fd, const TLineSettings& s)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    if ((t.c_iflag & kInputCleared) != WantedInput(s))
        return EINVAL;
    if (t.c_oflag & OPOST)
        return EINVAL;
    if (t.c_lflag & kLocalCleared)
        return EINVAL;
    if ((t.c_cflag & kControlSet) != WantedControl(s))
        return EINVAL;
    const int out = SpeedOf(t.c_cflag & CBAUD, t.c_ospeed);
    const tcflag_t inCode = (t.c_cflag >> IBSHIFT) & CBAUD;
    const int in = inCode == 0 ? out : SpeedOf(inCode, t.c_ispeed);
    if (!SpeedClose(out, s.speed) || !SpeedClose(in, s.speed))
        return EINVAL;
    return 0;
}

int SetModemLines(int fd, bool dtr, bool rts)
{
    int raise = (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
    int drop = (dtr ? 0 : TIOCM_DTR) | (rts ? 0 : TIOCM_RTS);
    if (drop && ioctl(fd, TIOCMBIC, &drop) != 0)
        return errno;
    if (raise && ioctl(fd, TIOCMBIS, &raise) != 0)
        return errno;
    return 0;
}

void RequestLowLatency(int fd)
{
    struct serial_struct ss {};
    if (ioctl(fd, TIOCGSERIAL, &ss) != 0)
        return;
    if (ss.flags & ASYNC_LOW_LATENCY)
        return;
    ss.flags |= ASYNC_LOW_LATENCY;
    (void)ioctl(fd, TIOCSSERIAL, &ss);
}

bool ReadErrorCounters(int fd, TErrorCounters& out)
{
    struct serial_icounter_struct ic {};
    if (ioctl(fd, TIOCGICOUNT, &ic) != 0)
        return false;
    out.frame = static_cast<uint32_t>(ic.frame);
    out.overrun = static_cast<uint32_t>(ic.overrun);
    out.parity = static_cast<uint32_t>(ic.parity);
    out.brk = static_cast<uint32_t>(ic.brk);
    out.bufOverrun = static_cast<uint32_t>(ic.buf_overrun);
    return true;
}

bool IsPseudoTerminal(int fd)
{
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned maj = major(st.st_rdev);
    // Unix98 slaves (136-143), BSD-style slaves (3), the multiplexer (5:2).
    return (maj >= 136 && maj <= 143) || maj == 3 || (maj == 5 && minor(st.st_rdev) == 2);
}

}  // namespace kv::termio
