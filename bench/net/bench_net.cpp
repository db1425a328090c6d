// The unit behind ser2net on loopback against the same unit on its
// pseudo-terminal, in one run: 40 reads and a 100 000-byte upload with kvsim
// at 19200 baud, each against the wire time of the bytes it moved.
//
// Reads: the unit echoes the tool's bytes, so the wire time is that of the
// bytes the unit sent. Upload: the transfer waits for each block's answer
// before the next, so the line carries both directions one after the other
// and the wire time is that of the bytes of both.
//
//   bench_net [--size BYTES] [--reads N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "SimProcess.h"
#include "bench/BenchSession.h"
#include "bench/BenchSupport.h"
#include "collections/File.h"
#include "collections/YModemU.h"
#include "serial/UiBridge.h"
#include "session/Comm.h"
#include "session/KvMenu.h"
#include "session/Server.h"
#include "settings/View.h"
#include "tests/support/ScriptedCollectionDialogs.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/Ser2Net.h"
#include "tests/support/TempDir.h"

using namespace kv;
using kvbench::TBatch;
using kvbench::WireMs;

namespace {

struct TFigures {
    double readsMs = 0, readsWireMs = 0;
    double uploadMs = 0, uploadWireMs = 0;
    bool ok = false;
    std::string why;
};

// One unit on `how` ("pty", "rfc2217", "tcp"); serverOptions go into
// ser2net's connection options.
TFigures Measure(const std::string& how, int reads, const std::string& file, const std::string& dir,
                 const std::string& serverOptions = {})
{
    TFigures f;
    SimProcess sim({"--baud", std::to_string(kvbench::kBaud)});
    std::unique_ptr<kvtest::TSer2Net> server;
    std::string device = sim.Path();
    if (how != "pty") {
        try {
            server = std::make_unique<kvtest::TSer2Net>(
                sim.Path(), how == "rfc2217" ? kvtest::TSer2Net::Kind::Rfc2217 : kvtest::TSer2Net::Kind::Tcp,
                serverOptions);
        } catch (const std::exception& e) {
            f.why = e.what();
            return f;
        }
        device = server->Address();
    }
    TScriptedDialogs dialogs;
    TScriptedCollectionDialogs forms;
    dialogs.AnswerPassword("7777");
    TFormComm comm;
    comm.VaComm1.SetDeviceName(device);
    TCOMServer worker;
    TKvMenu session(comm, worker);
    TGridModel grid("sgMessages", 4, 15);
    TFile slot;
    // Logged in and the slot read once, outside the measurements.
    kvbench::ReadMessageSlot(session, slot, grid);

    int errors = 0;
    size_t unitBefore = sim.BytesFromUnit().size();
    TBatch batch([&] {
        const uint64_t t0 = TickMs();
        for (int i = 0; i < reads; ++i)
            if (NumberGet(999) != 10203)
                ++errors;
        f.readsMs = static_cast<double>(TickMs() - t0);
    });
    batch.action = 3;
    session.Run(&batch);
    session.WaitIdle();
    f.readsWireMs = WireMs(sim.BytesFromUnit().size() - unitBefore);

    unitBefore = sim.BytesFromUnit().size();
    const size_t toolBefore = sim.BytesFromTool().size();
    slot.localPath = file;
    slot.action = 30;
    const uint64_t start = TickMs();
    TFormYMU dialog(session, comm, slot, "", dir);
    bool ok = dialog.Show();
    while (ok && !dialog.Closed() && TickMs() - start < 300000)
        UiBridge().ProcessEvents(100);
    session.WaitIdle();
    f.uploadMs = static_cast<double>(TickMs() - start);
    f.uploadWireMs = WireMs(sim.BytesFromUnit().size() - unitBefore + sim.BytesFromTool().size() - toolBefore);
    f.ok = ok && dialog.Closed() && dialog.ExitCode() == 0 && errors == 0 && dialogs.Messages().empty();
    if (!f.ok)
        f.why = "errors " + std::to_string(errors) + ", exit " + std::to_string(dialog.ExitCode()) + ", messages " +
                std::to_string(dialogs.Messages().size());
    session.Disconnect();
    session.WaitIdle();
    worker.Terminate();
    return f;
}

}  // namespace

int main(int argc, char** argv)
{
    size_t size = 100000;
    int reads = 40;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--size"))
            size = static_cast<size_t>(std::atol(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--reads"))
            reads = std::atoi(argv[i + 1]);
    }
    TQueueUiBridge bridge;
    SetUiBridge(&bridge);
    const kvtest::TTempDir temp;
    const std::string file = temp.Path() + "/bench.pcm";
    kvbench::WriteRandomFile(file, size, 42);

    std::printf("kvsim at %d baud; %d reads, an upload of %zu bytes; ratio = time / wire time\n", kvbench::kBaud, reads,
                size);
    std::printf("%-22s %10s %10s %8s %10s %10s %8s\n", "", "reads ms", "wire ms", "ratio", "upload ms", "wire ms",
                "ratio");
    bool ok = true;
    // ser2net holds what it reads from the line until the line has been
    // quiet for a while (its character delay, on by default); the last row
    // is the server without it.
    struct TWay {
        const char* how;
        const char* label;
        const char* options;
    };
    const TWay ways[] = {
        {"pty", "pty", ""},
        {"rfc2217", "rfc2217 (ser2net)", ""},
        {"tcp", "tcp (ser2net)", ""},
        {"rfc2217", "rfc2217, no chardelay", "chardelay: false"},
    };
    for (const TWay& w : ways) {
        const TFigures f = Measure(w.how, reads, file, temp.Path(), w.options);
        if (!f.ok) {
            std::printf("%-22s FAILED: %s\n", w.label, f.why.c_str());
            ok = false;
            continue;
        }
        std::printf("%-22s %10.1f %10.1f %8.3f %10.1f %10.1f %8.3f\n", w.label, f.readsMs, f.readsWireMs,
                    f.readsMs / f.readsWireMs, f.uploadMs, f.uploadWireMs, f.uploadMs / f.uploadWireMs);
        ok = ok && f.uploadMs / f.uploadWireMs < 1.05;
        if (std::strcmp(w.how, "pty") == 0 || *w.options)
            ok = ok && f.readsMs / f.readsWireMs < 1.1;
    }
    std::printf("goals: reads < 1.1, upload < 1.05\n");
    SetUiBridge(nullptr);
    return ok ? 0 : 1;
}
