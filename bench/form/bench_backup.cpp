// A full snapshot of a unit without voice files, through the main window's
// form, against kvsim at 19200 baud: every tab read again (the Numbers,
// Greetings, Time, Menu, Mail, System parameters and Message replacement
// loads) and the snapshot file written. The time from the start of the
// reading to the file in place is set against the wire time of the bytes
// exchanged meanwhile: that of both directions, and, stricter, that of the
// unit's bytes alone (the unit echoes every byte it receives, so on a real
// line most of the tool's bytes travel while their echoes come back).
//
//   bench_backup [--runs N]
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ScriptedForm.h"
#include "SimProcess.h"
#include "bench/BenchSupport.h"
#include "tests/support/TempDir.h"
#include "serial/UiBridge.h"
#include "serial/VaSync.h"
#include "session/KvMenu.h"
#include "tests/support/ScriptedCollectionDialogs.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/ScriptedValueDialogs.h"
#include "backup/Backup.h"
#include "ui/Unit1.h"

namespace {

using kvbench::kBaud;
using kvbench::WireMs;

}  // namespace

int main(int argc, char** argv)
{
    int runs = 3;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0)
        runs = std::max(1, std::atoi(argv[2]));

    kv::TQueueUiBridge bridge;
    kv::SetUiBridge(&bridge);
    kv::TScriptedDialogs dialogs;
    kv::TScriptedValueDialogs values;
    kv::TScriptedCollectionDialogs forms;
    dialogs.AnswerPassword("7777");

    const kvtest::TTempDir temp;
    const std::string& dir = temp.Path();
    const std::string path = dir + "/unit.kvs";

    std::vector<double> ratios;
    bool ok = true;
    {
        kv::SimProcess sim({"--baud", std::to_string(kBaud)});
        kv::TMemorySettingsStore store;
        store.values[kv::DeviceKey(1)] = sim.Path();
        kv::TScriptedForm1View view;
        kv::TForm1 form(view, store, "kv20rcfg");
        kv::TBackup backup(form.Unit());
        form.btnConnectClick();
        if (form.Session().mode != kv::kModeSystem) {
            std::printf("no connection in system mode\n");
            ok = false;
        }
        for (int run = 0; ok && run < runs; ++run) {
            const size_t toolBefore = sim.BytesFromTool().size();
            const size_t unitBefore = sim.BytesFromUnit().size();
            const uint64_t start = kv::TickMs();
            kv::TSnapshot snapshot;
            std::string error;
            ok = backup.ReadUnit(snapshot, true, error) && backup.Save(snapshot, path, false, error);
            const uint64_t end = kv::TickMs();
            if (!ok) {
                std::printf("snapshot failed: %s\n", error.c_str());
                break;
            }
            const size_t fromTool = sim.BytesFromTool().size() - toolBefore;
            const size_t fromUnit = sim.BytesFromUnit().size() - unitBefore;
            const double ms = static_cast<double>(end - start);
            const double all = WireMs(fromTool + fromUnit);
            const double unit = WireMs(fromUnit);
            std::printf("snapshot %d at %d baud (system mode, %zu values): %.1f ms; file %ju bytes\n", run + 1, kBaud,
                        snapshot.params.size() + snapshot.list.size() + snapshot.menus.size() * 11 +
                            snapshot.boxes.size(),
                        ms, static_cast<uintmax_t>(std::filesystem::file_size(path)));
            std::printf("  wire time of all %zu bytes exchanged (%zu from the tool, %zu from the unit) %.1f ms; "
                        "ratio %.3f (goal < 1.1)\n",
                        fromTool + fromUnit, fromTool, fromUnit, all, ms / all);
            std::printf("  wire time of the unit's %zu bytes alone %.1f ms; ratio %.3f\n", fromUnit, unit, ms / unit);
            ratios.push_back(ms / all);
        }
        for (const auto& m : dialogs.Messages())
            std::printf("  message: %s\n", m.c_str());
        form.Close();
    }
    kv::SetUiBridge(nullptr);
    if (!ratios.empty()) {
        std::sort(ratios.begin(), ratios.end());
        std::printf("median ratio of %zu runs: %.3f (goal < 1.1)\n", ratios.size(), ratios[ratios.size() / 2]);
    }
    return ok && !ratios.empty() && ratios[ratios.size() / 2] < 1.1 ? 0 : 1;
}
