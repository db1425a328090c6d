// The session's own cost on the line.
//
// 1. Own cost per GET exchange against kvsim without pacing: for each
//    NumberGet, the time the tool takes between the unit's last bytes and
//    the tool's next bytes, summed over the exchange (after "N:" until the
//    code goes out, after the reply until the next "GET" goes out). Taken
//    from kvsim's transcript, so it includes the pseudo-terminal both ways.
// 2. 40 reads in a row with kvsim at --baud 19200, against the pure wire
//    time of the bytes the unit sent meanwhile (the tool's bytes travel in
//    the other direction while they are echoed, so each is counted once,
//    through its echo; the last prompt is not waited for and not counted).
//
// With --trace both run with the window's exchange trace recording the line,
// so that the figures can be compared with a run without it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "SimProcess.h"
#include "bench/BenchSession.h"
#include "bench/BenchSupport.h"
#include "serial/UiBridge.h"
#include "serial/VaComm.h"
#include "session/Comm.h"
#include "session/KvMenu.h"
#include "tests/support/ScriptedDialogs.h"
#include "session/Server.h"
#include "trace/Trace.h"

using namespace kv;
using kvbench::TBatch;

namespace {

// The exchange trace the line is recorded into (--trace), with the time
// spent in it counted; or none.
class TTimedTrace : public TLineObserver {
public:
    void LineOpened(const std::string& device) override { timed([&] { log.LineOpened(device); }); }
    void LineClosed() override { timed([&] { log.LineClosed(); }); }
    void LineSent(const std::string& bytes, bool secret) override { timed([&] { log.LineSent(bytes, secret); }); }
    void LineReceived(const uint8_t* data, size_t count) override { timed([&] { log.LineReceived(data, count); }); }
    void TransferStarted() override { timed([&] { log.TransferStarted(); }); }
    void TransferEnded(const TTransferRecord& r) override { timed([&] { log.TransferEnded(r); }); }

    TTraceLog log;
    std::atomic<int64_t> ns{0};
    std::atomic<int64_t> calls{0};

private:
    template <typename F>
    void timed(F f)
    {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        ns += std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - t0).count();
        ++calls;
    }
};
TTimedTrace* g_trace = nullptr;

// One transcript line: direction, time in ms, byte count.
struct TRecord {
    char dir;
    double ms;
    size_t bytes;
};

size_t countEscaped(const std::string& text)
{
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++i, ++n) {
        if (text[i] != '\\')
            continue;
        if (i + 1 < text.size() && text[i + 1] == 'x')
            i += 3;
        else
            i += 1;
    }
    return n;
}

std::vector<TRecord> readTranscript(const std::string& path)
{
    std::ifstream in(path);
    std::vector<TRecord> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 3 || (line[0] != '<' && line[0] != '>'))
            continue;
        std::istringstream s(line.substr(2));
        double ms = 0;
        std::string bytes;
        s >> ms >> bytes;
        out.push_back({line[0], ms, countEscaped(bytes)});
    }
    return out;
}

struct TLoggedIn {
    TScriptedDialogs dialogs;
    TFormComm comm;
    TCOMServer server;
    TKvMenu session{comm, server};
    bool ok = false;

    explicit TLoggedIn(const std::string& path)
    {
        comm.VaComm1.SetDeviceName(path);
        comm.SetLineObserver(g_trace);
        dialogs.AnswerPassword("1234");
        TBatch first([] { NumberGet(999); });
        first.action = 3;
        session.Run(&first);
        session.WaitIdle();
        ok = session.mode == kModeAdmin && dialogs.Messages().empty();
    }
    void Run(TBatch& batch)
    {
        batch.action = 3;
        session.Run(&batch);
        session.WaitIdle();
    }
    ~TLoggedIn()
    {
        session.Disconnect();
        session.WaitIdle();
    }
};

// The gaps before each of the tool's records from `start` on, paired: the
// code after "N:" and the next GET after the reply make one exchange.
std::vector<double> exchangeGaps(const std::vector<TRecord>& rec, size_t start, size_t exchanges)
{
    std::vector<double> gaps;
    double lastUnit = -1;
    for (size_t i = start; i < rec.size(); ++i) {
        if (rec[i].dir == '<') {
            lastUnit = rec[i].ms;
        } else if (lastUnit >= 0) {
            gaps.push_back(rec[i].ms - lastUnit);
            lastUnit = -1;
        }
    }
    std::vector<double> perExchange;
    for (size_t i = 0; i + 1 < gaps.size() && perExchange.size() < exchanges; i += 2)
        perExchange.push_back(gaps[i] + gaps[i + 1]);
    return perExchange;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
    return v[i];
}

bool ownCost(int exchanges)
{
    SimProcess sim;
    std::vector<TRecord> rec;
    size_t start = 0;
    int errors = 0;
    {
        TLoggedIn unit(sim.Path());
        if (!unit.ok) {
            std::printf("own cost: login failed\n");
            return false;
        }
        start = readTranscript(sim.LogPath()).size();
        TBatch batch([&] {
            for (int i = 0; i < exchanges; ++i)
                if (NumberGet(999) != 10203)
                    ++errors;
        });
        unit.Run(batch);
    }
    rec = readTranscript(sim.LogPath());
    // The first GET of the batch has no gap before it, the logout after the
    // last reply is no exchange.
    const std::vector<double> perExchange = exchangeGaps(rec, start, static_cast<size_t>(exchanges) - 1);
    if (errors || perExchange.size() < 10) {
        std::printf("own cost: %d failed reads, %zu exchanges measured\n", errors, perExchange.size());
        return false;
    }
    const double median = percentile(perExchange, 0.5);
    const double p95 = percentile(perExchange, 0.95);

    // The same exchanges by a bare client that blocks in read() on the
    // line: what the line and kvsim's own wake-ups cost on this machine now.
    SimProcess bareSim;
    std::vector<double> bare;
    {
        RawLine line(bareSim.Path());
        bool ok = line.Exchange("\xEB\xEC\xE6\r", "Password:").ok && line.Exchange("1234\r", "\r>").ok &&
                  line.Exchange("PC\r", "PC>").ok && line.Exchange("SYS\r", "PC SYS>").ok;
        const size_t bareStart = readTranscript(bareSim.LogPath()).size();
        for (int i = 0; ok && i < exchanges; ++i)
            ok = line.Exchange("GET\r", "N:").ok && line.Exchange("999\r", "=10203\r").ok;
        line.Write(std::string(5, '\x18'));
        bare = exchangeGaps(readTranscript(bareSim.LogPath()), bareStart, static_cast<size_t>(exchanges) - 1);
    }
    std::printf("own cost per GET exchange (kvsim unpaced, %zu exchanges): median %.3f ms, p95 %.3f ms (goal < 0.2 ms)\n",
                perExchange.size(), median, p95);
    if (bare.size() >= 10) {
        const double bareMedian = percentile(bare, 0.5);
        std::printf("  the same gaps for a bare blocking client on the line: median %.3f ms, p95 %.3f ms;"
                    " the session's part: median %.3f ms\n",
                    bareMedian, percentile(bare, 0.95), median - bareMedian);
    }
    return true;
}

bool pacedReads(int reads)
{
    SimProcess sim({"--baud", "19200"});
    std::vector<TRecord> rec;
    size_t start = 0;
    double elapsedMs = 0;
    int errors = 0;
    {
        TLoggedIn unit(sim.Path());
        if (!unit.ok) {
            std::printf("paced reads: login failed\n");
            return false;
        }
        start = readTranscript(sim.LogPath()).size();
        TBatch batch([&] {
            const auto t0 = std::chrono::steady_clock::now();
            for (int i = 0; i < reads; ++i)
                if (NumberGet(999) != 10203)
                    ++errors;
            elapsedMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        });
        unit.Run(batch);
    }
    rec = readTranscript(sim.LogPath());
    // The unit's bytes of the batch: everything it sent before the logout
    // (the tool's record after its 2 x reads records of the batch).
    size_t unitBytes = 0;
    int toolRecords = 0;
    for (size_t i = start; i < rec.size(); ++i) {
        if (rec[i].dir == '>' && ++toolRecords > 2 * reads)
            break;
        if (rec[i].dir == '<')
            unitBytes += rec[i].bytes;
    }
    unitBytes -= std::string("PC SYS>").size();
    const double wireMs = kvbench::WireMs(unitBytes);
    if (errors) {
        std::printf("paced reads: %d failed reads\n", errors);
        return false;
    }
    std::printf("%d reads at 19200 baud: %.1f ms; wire time of the %zu bytes the unit sent %.1f ms; ratio %.3f (goal < 1.1)\n",
                reads, elapsedMs, unitBytes, wireMs, elapsedMs / wireMs);
    const std::vector<double> gaps = exchangeGaps(rec, start, static_cast<size_t>(reads) - 1);
    if (!gaps.empty()) {
        double sum = 0;
        for (double g : gaps)
            sum += g;
        std::printf("  the tool's own gaps on that line: median %.3f ms, largest %.3f ms, %.1f ms in all;"
                    " the unit's side took the other %.1f ms\n",
                    percentile(gaps, 0.5), percentile(gaps, 1.0), sum, elapsedMs - sum);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    int exchanges = 2000;
    TTimedTrace trace;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--trace")
            g_trace = &trace;
        else
            exchanges = std::atoi(argv[i]);
    }
    if (g_trace)
        std::printf("recording the exchange trace\n");
    TQueueUiBridge ui;
    SetUiBridge(&ui);
    bool ok = ownCost(exchanges);
    ok = pacedReads(40) && ok;
    if (g_trace && exchanges > 0)
        std::printf("the trace's own time: %.1f us per GET exchange (%lld calls, %.2f us each), %zu bytes kept\n",
                    static_cast<double>(trace.ns) / 1000.0 / (exchanges + 40), static_cast<long long>(trace.calls.load()),
                    static_cast<double>(trace.ns) / 1000.0 / static_cast<double>(std::max<int64_t>(1, trace.calls)),
                    trace.log.Size());
    ui.Shutdown();
    TVaCustomComm::WaitThreadsEnded(5000);
    SetUiBridge(nullptr);
    return ok ? 0 : 1;
}
