// kvline: a serial line between two pseudo-terminals.
//
// Creates two pseudo-terminals, prints the paths of their slave sides as the
// first two lines of standard output and relays bytes between them, paced to
// a baud rate if asked (ten bits per byte, as 8N1 on a real line) and with
// faults injected on a seed: flipped bits, dropped bytes, stalls. Each master
// and one slave descriptor stay open for the whole run, so a program that
// closes and reopens its side does not end the line.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <random>
#include <string>
#include <string_view>

namespace {

const char* const kUsage =
    "usage: kvline [options]\n"
    "\n"
    "Creates two pseudo-terminals, prints the paths of their slave sides on the\n"
    "first two lines of standard output and relays bytes between them.\n"
    "\n"
    "  --baud N          pace each direction to N/10 bytes per second (default: unpaced)\n"
    "  --seed S          seed of the fault injection (default 1)\n"
    "  --flip-every N    flip one bit in about every N-th byte\n"
    "  --drop-every N    drop about every N-th byte\n"
    "  --stall-ms M      stall the line for M ms ...\n"
    "  --stall-every N   ... after about every N bytes (default 4096 when --stall-ms is given)\n"
    "  --fault-dir D     where faults are injected: both (default), ab (first to second)\n"
    "                    or ba (second to first)\n"
    "  --skip N          leave the first N bytes of each direction free of faults\n"
    "  --fifo N          hand bytes over in groups of up to N, as a UART's receive FIFO:\n"
    "                    when N have arrived or after 4 character times without one\n"
    "                    (paced lines only; default 1, every byte as it arrives)\n"
    "  --stdin-exit      end when standard input reaches end of file\n"
    "  --stats           print byte and fault counts on standard error at the end\n"
    "  --trace           print every byte read, in hexadecimal, on standard error\n"
    "  --help            this text\n"
    "\n"
    "Fault positions are drawn from the seed, uniformly between 1 and 2N-1 bytes\n"
    "apart (N on average), separately for each direction.\n";

volatile sig_atomic_t g_stop = 0;

void OnSignal(int)
{
    g_stop = 1;
}

int64_t NowNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Options {
    long baud = 0;
    uint64_t seed = 1;
    long flipEvery = 0;
    long dropEvery = 0;
    long stallMs = 0;
    long stallEvery = 0;
    bool faultAb = true;
    bool faultBa = true;
    long skip = 0;
    long fifo = 1;
    bool stdinExit = false;
    bool stats = false;
    bool trace = false;
};

// One direction of the line: bytes read from one master, each with the time
// at which it has crossed the line, waiting to be written to the other master.
struct Direction {
    const char* name = "";
    int from = -1;
    int to = -1;
    bool faults = false;
    std::deque<uint8_t> bytes;
    std::deque<int64_t> due;
    int64_t lineFree = 0;  // when the line has sent the last accepted byte
    uint64_t count = 0;    // bytes taken from the source
    uint64_t delivered = 0;
    uint64_t flips = 0, drops = 0, stalls = 0;
    uint64_t nextFlip = 0, nextDrop = 0, nextStall = 0;
    std::mt19937_64 rng;
};

constexpr size_t kPendingLimit = 4096;  // what a driver buffers for the line

uint64_t NextGap(std::mt19937_64& rng, long every)
{
    if (every <= 1)
        return 1;
    std::uniform_int_distribution<uint64_t> d(1, uint64_t(2 * every - 1));
    return d(rng);
}

bool ParseLong(const char* s, long& out)
{
    if (!s || !*s)
        return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s, &end, 10);
    if (errno || *end || v < 0)
        return false;
    out = v;
    return true;
}

int OpenPty(std::string& slavePath, int& slaveFd)
{
    int m = posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0) {
        std::perror("kvline: posix_openpt");
        return -1;
    }
    const char* name = ptsname(m);
    if (!name) {
        std::perror("kvline: ptsname");
        return -1;
    }
    slavePath = name;
    slaveFd = open(name, O_RDWR | O_NOCTTY);
    if (slaveFd < 0) {
        std::perror("kvline: open slave");
        return -1;
    }
    termios t{};
    if (tcgetattr(slaveFd, &t) == 0) {
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        cfsetispeed(&t, B19200);
        cfsetospeed(&t, B19200);
        tcsetattr(slaveFd, TCSANOW, &t);
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    return m;
}

class Line {
public:
    explicit Line(const Options& o) : opt_(o)
    {
        if (o.baud > 0)
            byteNs_ = int64_t(10) * 1000000000 / o.baud;
    }

    void Setup(Direction& d, const char* name, int from, int to, bool faults, uint64_t seedSalt)
    {
        d.name = name;
        d.from = from;
        d.to = to;
        d.faults = faults;
        d.rng.seed(opt_.seed * 0x9E3779B97F4A7C15ull + seedSalt);
        uint64_t base = uint64_t(opt_.skip);
        if (opt_.flipEvery > 0)
            d.nextFlip = base + NextGap(d.rng, opt_.flipEvery);
        if (opt_.dropEvery > 0)
            d.nextDrop = base + NextGap(d.rng, opt_.dropEvery);
        if (opt_.stallMs > 0)
            d.nextStall = base + NextGap(d.rng, opt_.stallEvery);
    }

    // Takes what the source offers, as far as the driver buffer has room.
    bool Read(Direction& d)
    {
        uint8_t buf[4096];
        size_t room = kPendingLimit - d.bytes.size();
        if (room == 0)
            return true;
        ssize_t n = read(d.from, buf, room < sizeof buf ? room : sizeof buf);
        if (n < 0)
            return errno == EAGAIN || errno == EINTR || errno == EIO;
        int64_t now = NowNs();
        if (opt_.trace && n > 0) {
            std::fprintf(stderr, "%s %10.3f ms:", d.name, double(now - start_) / 1e6);
            for (ssize_t i = 0; i < n; ++i)
                std::fprintf(stderr, " %02x", buf[i]);
            std::fputc('\n', stderr);
        }
        if (d.lineFree < now)
            d.lineFree = now;
        for (ssize_t i = 0; i < n; ++i) {
            uint8_t b = buf[i];
            ++d.count;
            if (d.faults) {
                if (d.nextStall && d.count == d.nextStall) {
                    d.lineFree += int64_t(opt_.stallMs) * 1000000;
                    ++d.stalls;
                    d.nextStall += NextGap(d.rng, opt_.stallEvery);
                }
                if (d.nextDrop && d.count == d.nextDrop) {
                    ++d.drops;
                    d.nextDrop += NextGap(d.rng, opt_.dropEvery);
                    continue;
                }
                if (d.nextFlip && d.count == d.nextFlip) {
                    b ^= uint8_t(1u << (d.rng() % 8));
                    ++d.flips;
                    d.nextFlip += NextGap(d.rng, opt_.flipEvery);
                }
            }
            d.lineFree += byteNs_;
            d.bytes.push_back(b);
            d.due.push_back(d.lineFree);
        }
        return true;
    }

    // Writes every byte that has crossed the line by now. Returns false
    // when the destination would block.
    bool Deliver(Direction& d)
    {
        int64_t now = NowNs();
        size_t ready = 0;
        while (ready < d.due.size() && d.due[ready] <= now)
            ++ready;
        // A receive FIFO raises its interrupt at its trigger level, or when
        // the line has been quiet for four character times.
        if (byteNs_ > 0 && ready > 0 && ready < size_t(opt_.fifo) && now < d.due[ready - 1] + 4 * byteNs_)
            ready = 0;
        while (ready > 0) {
            uint8_t buf[4096];
            size_t n = ready < sizeof buf ? ready : sizeof buf;
            for (size_t i = 0; i < n; ++i)
                buf[i] = d.bytes[i];
            ssize_t w = write(d.to, buf, n);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            d.bytes.erase(d.bytes.begin(), d.bytes.begin() + w);
            d.due.erase(d.due.begin(), d.due.begin() + w);
            d.delivered += uint64_t(w);
            ready -= size_t(w);
            if (size_t(w) < n)
                return false;
        }
        return true;
    }

    int64_t byteNs() const { return byteNs_; }

    // When Deliver has something to do next for this direction; -1: never
    // until more bytes are read.
    int64_t NextWake(const Direction& d) const
    {
        if (d.due.empty())
            return -1;
        if (byteNs_ == 0 || opt_.fifo <= 1)
            return d.due.front();
        int64_t now = NowNs();
        size_t ready = 0;
        while (ready < d.due.size() && d.due[ready] <= now)
            ++ready;
        if (ready == 0)
            return d.due.front();
        int64_t quiet = d.due[ready - 1] + 4 * byteNs_;
        if (ready < d.due.size() && d.due[ready] < quiet)
            return d.due[ready];
        return quiet;
    }

private:
    const Options& opt_;
    int64_t byteNs_ = 0;
    int64_t start_ = NowNs();
};

void PrintStats(const Direction& d)
{
    std::fprintf(stderr, "kvline: %s %llu bytes in, %llu out, %llu flips, %llu drops, %llu stalls\n",
                 d.name, (unsigned long long)d.count, (unsigned long long)d.delivered,
                 (unsigned long long)d.flips, (unsigned long long)d.drops,
                 (unsigned long long)d.stalls);
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string_view a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        long n = 0;
        auto num = [&](long& out) {
            if (!ParseLong(v, out)) {
                std::fprintf(stderr, "kvline: %s needs a non-negative number\n", argv[i]);
                std::exit(2);
            }
            ++i;
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--baud") {
            num(o.baud);
        } else if (a == "--seed") {
            num(n);
            o.seed = uint64_t(n);
        } else if (a == "--flip-every") {
            num(o.flipEvery);
        } else if (a == "--drop-every") {
            num(o.dropEvery);
        } else if (a == "--stall-ms") {
            num(o.stallMs);
        } else if (a == "--stall-every") {
            num(o.stallEvery);
        } else if (a == "--fifo") {
            num(o.fifo);
            if (o.fifo < 1)
                o.fifo = 1;
        } else if (a == "--skip") {
            num(o.skip);
        } else if (a == "--fault-dir") {
            std::string_view d = v ? v : "";
            ++i;
            if (d == "both") {
                o.faultAb = o.faultBa = true;
            } else if (d == "ab") {
                o.faultAb = true;
                o.faultBa = false;
            } else if (d == "ba") {
                o.faultAb = false;
                o.faultBa = true;
            } else {
                std::fprintf(stderr, "kvline: --fault-dir takes both, ab or ba\n");
                return 2;
            }
        } else if (a == "--stdin-exit") {
            o.stdinExit = true;
        } else if (a == "--trace") {
            o.trace = true;
        } else if (a == "--stats") {
            o.stats = true;
        } else {
            std::fprintf(stderr, "kvline: unknown option %s\n%s", argv[i], kUsage);
            return 2;
        }
    }
    if (o.stallMs > 0 && o.stallEvery == 0)
        o.stallEvery = 4096;

    signal(SIGPIPE, SIG_IGN);
    struct sigaction sa{};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);

    std::string pathA, pathB;
    int slaveA = -1, slaveB = -1;
    int ma = OpenPty(pathA, slaveA);
    int mb = OpenPty(pathB, slaveB);
    if (ma < 0 || mb < 0)
        return 1;
    std::printf("%s\n%s\n", pathA.c_str(), pathB.c_str());
    std::fflush(stdout);

    Line line(o);
    Direction ab, ba;
    line.Setup(ab, "a->b", ma, mb, o.faultAb, 1);
    line.Setup(ba, "b->a", mb, ma, o.faultBa, 2);

    while (!g_stop) {
        bool blockedAb = !line.Deliver(ab);
        bool blockedBa = !line.Deliver(ba);

        pollfd fds[3];
        fds[0] = {ma, short((ab.bytes.size() < kPendingLimit ? POLLIN : 0) | (blockedBa ? POLLOUT : 0)), 0};
        fds[1] = {mb, short((ba.bytes.size() < kPendingLimit ? POLLIN : 0) | (blockedAb ? POLLOUT : 0)), 0};
        nfds_t nfds = 2;
        if (o.stdinExit) {
            fds[2] = {0, POLLIN, 0};
            nfds = 3;
        }

        // Sleep until the next byte has crossed the line, if one is on its way.
        int64_t wake = -1;
        for (Direction* d : {&ab, &ba}) {
            bool blocked = d == &ab ? blockedAb : blockedBa;
            int64_t w = line.NextWake(*d);
            if (w >= 0 && !blocked && (wake < 0 || w < wake))
                wake = w;
        }
        timespec ts{}, *tsp = nullptr;
        if (wake >= 0) {
            int64_t left = wake - NowNs();
            if (left < 0)
                left = 0;
            ts.tv_sec = left / 1000000000;
            ts.tv_nsec = left % 1000000000;
            tsp = &ts;
        }
        int r = ppoll(fds, nfds, tsp, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            std::perror("kvline: poll");
            break;
        }
        if (o.stdinExit && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            char c[256];
            ssize_t n = read(0, c, sizeof c);
            if (n <= 0)
                break;
        }
        if (fds[0].revents & POLLIN)
            line.Read(ab);
        if (fds[1].revents & POLLIN)
            line.Read(ba);
    }
    if (o.stats) {
        PrintStats(ab);
        PrintStats(ba);
    }
    close(slaveA);
    close(slaveB);
    close(ma);
    close(mb);
    return 0;
}
