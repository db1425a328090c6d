// An upload and a download of an 80 000-byte voice file through the voice
// file object, the transfer dialog's controller and kvsim at 19200 baud,
// each from the start action to the slot read back, against the wire time
// of the bytes moved.
//
// The unit paces what it sends and, during a transfer, what it receives, to
// the line's rate; the transfer protocol waits for each block's answer
// before the next block, so the line carries the two directions one after
// the other and the wire time is that of the bytes of both directions.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "SimProcess.h"
#include "bench/BenchSession.h"
#include "bench/BenchSupport.h"
#include "tests/support/TempDir.h"
#include "collections/File.h"
#include "tests/support/ScriptedCollectionDialogs.h"
#include "collections/YModemU.h"
#include "serial/UiBridge.h"
#include "session/Comm.h"
#include "session/KvMenu.h"
#include "tests/support/ScriptedDialogs.h"
#include "session/Server.h"
#include "settings/View.h"

namespace {

using kvbench::kBaud;
using kvbench::WireMs;
constexpr size_t kFileSize = 80000;

struct TCounts {
    size_t fromTool;
    size_t fromUnit;
};

TCounts Counts(const kv::SimProcess& sim)
{
    return {sim.BytesFromTool().size(), sim.BytesFromUnit().size()};
}

struct TRun {
    double ms;
    TCounts bytes;
    bool ok;
};

// One transfer from its start action to the read back of the slot.
TRun Transfer(kv::TKvMenu& session, kv::TFormComm& comm, kv::SimProcess& sim, kv::TFile& slot, int action,
              const std::string& chosen, const std::string& temp)
{
    const TCounts before = Counts(sim);
    const uint64_t start = kv::TickMs();
    slot.action = action;
    kv::TFormYMU dialog(session, comm, slot, chosen, temp);
    bool ok = dialog.Show();
    while (ok && !dialog.Closed() && kv::TickMs() - start < 300000)
        kv::UiBridge().ProcessEvents(100);
    session.WaitIdle();
    const uint64_t end = kv::TickMs();
    const TCounts after = Counts(sim);
    ok = ok && dialog.Closed() && dialog.ExitCode() == 0;
    return {static_cast<double>(end - start), {after.fromTool - before.fromTool, after.fromUnit - before.fromUnit}, ok};
}

double Report(const char* what, const TRun& r)
{
    const size_t bytes = r.bytes.fromTool + r.bytes.fromUnit;
    const double wireMs = WireMs(bytes);
    const double ratio = r.ms / wireMs;
    std::printf("%s of %zu bytes at %d baud: %.1f ms; wire time of the %zu bytes moved (%zu from the tool, %zu from the "
                "unit) %.1f ms; ratio %.3f (goal < 1.05)%s\n",
                what, kFileSize, kBaud, r.ms, bytes, r.bytes.fromTool, r.bytes.fromUnit, wireMs, ratio,
                r.ok ? "" : "  FAILED");
    return ratio;
}

}  // namespace

int main()
{
    kv::TQueueUiBridge bridge;
    kv::SetUiBridge(&bridge);
    kv::TScriptedDialogs dialogs;
    kv::TScriptedCollectionDialogs forms;
    dialogs.AnswerPassword("7777");

    const kvtest::TTempDir temp;
    const std::string& dir = temp.Path();
    const std::string source = dir + "/bench.pcm";
    const std::string data = kvbench::WriteRandomFile(source, kFileSize, 42);

    bool ok = true;
    {
        kv::SimProcess sim({"--baud", std::to_string(kBaud)});
        kv::TFormComm comm;
        comm.VaComm1.SetDeviceName(sim.Path());
        kv::TCOMServer server;
        kv::TKvMenu session(comm, server);
        kv::TGridModel grid("sgMessages", 4, 15);
        kv::TFile slot;
        // Log in and read the slot once, outside the measurement.
        kvbench::ReadMessageSlot(session, slot, grid);

        slot.localPath = source;
        const TRun up = Transfer(session, comm, sim, slot, 30, "", dir);
        const TRun down = Transfer(session, comm, sim, slot, 40, dir + "/back.pcm", dir);

        std::ifstream f(dir + "/back.pcm", std::ios::binary);
        const std::string back((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        const bool same = back == data && grid.Cell(1, 1) == "bench.pcm" && grid.Cell(3, 1) == "80000";
        const bool quiet = dialogs.Messages().empty();

        const double r1 = Report("upload  ", up);
        const double r2 = Report("download", down);
        std::printf("round trip byte-identical: %s; slot read back: %s %s %s; messages: %zu\n", same ? "yes" : "NO",
                    grid.Cell(1, 1).c_str(), grid.Cell(2, 1).c_str(), grid.Cell(3, 1).c_str(),
                    dialogs.Messages().size());
        for (const auto& m : dialogs.Messages())
            std::printf("  message: %s\n", m.c_str());
        ok = up.ok && down.ok && same && quiet && r1 < 1.05 && r2 < 1.05;

        session.Disconnect();
        session.WaitIdle();
        server.Terminate();
    }
    kv::SetUiBridge(nullptr);
    return ok ? 0 : 1;
}
