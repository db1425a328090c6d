// YModem throughput over kvline at the unit's 19200 baud: the engine to
// itself, and lrzsz's sb -k to rb on a line with the same settings, in the
// same run. Prints bytes per second, the ratio to the line's 1920 bytes per
// second, the time beyond what the bytes on the line need (fixed cost), and
// the processor time the engine used.
//
//   bench_ymodem [--baud N] [--size BYTES] [--fifo N]
//
// --fifo is kvline's: the receiving end gets the bytes in groups of up to N
// (a UART's receive FIFO); 1 hands every byte over on its own.
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "TransferRig.h"

using namespace kvtest;

namespace {

std::vector<std::string> g_lineArgs;

double CpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

std::vector<std::string> LineArgs(long baud)
{
    std::vector<std::string> a = {"--baud", std::to_string(baud)};
    a.insert(a.end(), g_lineArgs.begin(), g_lineArgs.end());
    return a;
}

struct Figures {
    bool ok = false;
    double wall = 0;       // s, from start to the receiver's end
    double cpu = 0;        // s, this process (both engines, both ports)
    uint64_t lineBytes = 0;  // both directions, as kvline counted them
};

// The engine to itself: one file of size bytes.
Figures Ours(size_t size, long baud)
{
    Figures f;
    TTempDir src, dst;
    WriteFile(src / "voice.wav", RandomBytes(size, 1));
    TKvLine line(LineArgs(baud));
    {
        TEngine tx(line.A()), rx(line.B());
        const double cpu0 = CpuSeconds();
        const uint64_t t0 = kv::TickMs();
        tx.Upload({src / "voice.wav"});
        rx.Download(dst.Path());
        const bool ended = PumpUntil([&] { return tx.ends > 0 && rx.ends > 0; }, 600000);
        f.wall = double(kv::TickMs() - t0) / 1000.0;
        f.cpu = CpuSeconds() - cpu0;
        f.ok = ended && tx.exitCode == 0 && rx.exitCode == 0 &&
               ReadFile(dst / "voice.wav") == ReadFile(src / "voice.wav");
    }
    const std::string stats = line.Stop();
    f.lineBytes = TKvLine::Count(stats, "bytes in");
    return f;
}

// lrzsz: sb -k on one end, rb on the other.
Figures Lrzsz(size_t size, long baud)
{
    Figures f;
    TTempDir src, dst;
    WriteFile(src / "voice.wav", RandomBytes(size, 1));
    TKvLine line(LineArgs(baud));
    {
        TChild::Options r;
        r.argv = {"rb", "--ymodem"};
        r.cwd = dst.Path();
        r.tty = line.B();
        TChild::Options s;
        s.argv = {"sb", "--ymodem", "-k", "voice.wav"};
        s.cwd = src.Path();
        s.tty = line.A();
        const uint64_t t0 = kv::TickMs();
        TChild rb(r);
        TChild sb(s);
        const bool ended = rb.WaitExit(600000);
        f.wall = double(kv::TickMs() - t0) / 1000.0;
        // sb waits for the answer to the end of the batch, which rb may
        // not send; its own time-outs do not count here.
        sb.Kill(SIGTERM);
        sb.WaitExit(5000);
        f.ok = ended && rb.Status() == 0 && ReadFile(dst / "voice.wav") == ReadFile(src / "voice.wav");
    }
    const std::string stats = line.Stop();
    f.lineBytes = TKvLine::Count(stats, "bytes in");
    return f;
}

void Print(const char* what, size_t size, const Figures& f, double bytesPerSecond)
{
    const double rate = double(size) / f.wall;
    const double lineTime = double(f.lineBytes) / bytesPerSecond;
    std::printf("%-22s %s  %7.2f s  %7.1f B/s  ratio %.3f  line time %6.2f s  fixed cost %5.2f s",
                what, f.ok ? "ok    " : "FAILED", f.wall, rate, rate / bytesPerSecond, lineTime,
                f.wall - lineTime);
    if (f.cpu > 0)
        std::printf("  cpu %.3f s (%.2f%% of wall)", f.cpu, 100.0 * f.cpu / f.wall);
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv)
{
    long baud = 19200;
    size_t size = 100000;
    long fifo = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--baud"))
            baud = std::atol(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--size"))
            size = static_cast<size_t>(std::atol(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--fifo"))
            fifo = std::atol(argv[i + 1]);
    }
    g_lineArgs = {"--fifo", std::to_string(fifo)};
    TUiThread ui;
    const double bps = double(baud) / 10.0;
    // YModem-1K carries the file in 1029-byte frames; with block 0, the
    // EOT, the end of the batch and one answer byte per frame, the best a
    // stop-and-wait line can do.
    const size_t frames = (size + 1023) / 1024;
    const double ideal = double(frames * 1030 + 2 * 134 + 2 + 3) / bps;
    std::printf("YModem over kvline at %ld baud (%.0f bytes/s, receive groups of up to %ld), file of %zu bytes\n",
                baud, bps, fifo, size);
    std::printf("best possible with 1K blocks: %.2f s (%.1f B/s)\n\n", ideal, double(size) / ideal);

    const Figures ours = Ours(size, baud);
    Print("engine -> engine", size, ours, bps);
    const Figures lr = Lrzsz(size, baud);
    Print("lrzsz sb -k -> rb", size, lr, bps);
    const Figures one = Ours(1, baud);
    Print("engine, 1-byte file", 1, one, bps);
    const Figures lrOne = Lrzsz(1, baud);
    Print("lrzsz, 1-byte file", 1, lrOne, bps);

    std::printf("\nengine: %.2f%% over the best possible, %.2fx the speed of lrzsz, "
                "fixed cost per file %.2f s, cpu %.2f%% of wall\n",
                100.0 * (ours.wall / ideal - 1.0), lr.wall / ours.wall, one.wall - double(one.lineBytes) / bps,
                100.0 * ours.cpu / ours.wall);
    return ours.ok && lr.ok && one.ok && lrOne.ok ? 0 : 1;
}
