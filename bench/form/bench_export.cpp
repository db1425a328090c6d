// The settings export from a fresh connection in system mode, through the
// main window's form and its button, against kvsim at 19200 baud: every tab
// still to be read (the Numbers, Greetings, Time, Menu, Mail, System
// parameters and Message replacement loads, 129 reads), then the report
// written. The time from the click to the file in place is set against the
// wire time of the bytes exchanged meanwhile.
//
// Two wire times are printed: that of all the bytes of both directions, and
// that of the unit's bytes alone. The unit echoes every byte it receives, so
// on a real line most of the tool's bytes travel while their echoes come
// back; the unit's bytes alone are the stricter measure.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "ScriptedForm.h"
#include "SimProcess.h"
#include "bench/BenchSupport.h"
#include "tests/support/TempDir.h"
#include "tests/support/ScriptedCollectionDialogs.h"
#include "serial/UiBridge.h"
#include "serial/VaSync.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/ScriptedValueDialogs.h"
#include "ui/Unit1.h"

namespace {

using kvbench::kBaud;
using kvbench::WireMs;

}  // namespace

int main()
{
    kv::TQueueUiBridge bridge;
    kv::SetUiBridge(&bridge);
    kv::TScriptedDialogs dialogs;
    kv::TScriptedValueDialogs values;
    kv::TScriptedCollectionDialogs forms;
    dialogs.AnswerPassword("7777");

    const kvtest::TTempDir temp;
    const std::string& dir = temp.Path();
    const std::string path = dir + "/settings.txt";

    bool ok = false;
    {
        kv::SimProcess sim({"--baud", std::to_string(kBaud)});
        kv::TMemorySettingsStore store;
        store.values[kv::DeviceKey(1)] = sim.Path();
        kv::TScriptedForm1View view;
        kv::TForm1 form(view, store, "kv20rcfg");

        // Log in (the version and the tab on show are read); then every
        // mark is cleared, as after a connection that showed no tab.
        form.btnConnectClick();
        form.loaded.fill(false);

        const size_t toolBefore = sim.BytesFromTool().size();
        const size_t unitBefore = sim.BytesFromUnit().size();
        view.exportNames.push_back(path);
        const uint64_t start = kv::TickMs();
        form.btnExportClick();
        const uint64_t end = kv::TickMs();
        const size_t fromTool = sim.BytesFromTool().size() - toolBefore;
        const size_t fromUnit = sim.BytesFromUnit().size() - unitBefore;

        std::ifstream f(path, std::ios::binary);
        const std::string report((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        const double ms = static_cast<double>(end - start);
        const double all = WireMs(fromTool + fromUnit);
        const double unit = WireMs(fromUnit);
        std::printf("export from a fresh connection at %d baud (system mode): %.1f ms; report %zu bytes\n", kBaud, ms,
                    report.size());
        std::printf("  wire time of all %zu bytes exchanged (%zu from the tool, %zu from the unit) %.1f ms; ratio %.3f "
                    "(goal < 1.1)\n",
                    fromTool + fromUnit, fromTool, fromUnit, all, ms / all);
        std::printf("  wire time of the unit's %zu bytes alone %.1f ms; ratio %.3f\n", fromUnit, unit, ms / unit);
        for (const auto& m : dialogs.Messages())
            std::printf("  message: %s\n", m.c_str());
        ok = dialogs.Messages().empty() && report.size() > 0 && ms / all < 1.1;
        form.Close();
    }
    kv::SetUiBridge(nullptr);
    return ok ? 0 : 1;
}
