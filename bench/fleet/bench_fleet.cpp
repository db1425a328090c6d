// One fleet run backing up 8 units at 19200 baud, against the run of one of
// them alone: the units' backups run side by side, each in its own kvbackup
// process, so the fleet should take little longer than its slowest unit
// (goal: under 1.3 times one unit's time).
//
//   bench_fleet [UNITS] [ROUNDS]     (default 8 units, 2 rounds)
//
// Each round backs up into a fresh repository, so every unit is committed
// (the work of a first run); both figures are measured in the same run of
// this program, one unit first, then the fleet.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "SimProcess.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

std::string quoted(const std::string& arg)
{
    std::string q = "'";
    for (char c : arg)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

void writeFile(const std::string& path, const std::string& text, mode_t mode)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    ::chmod(path.c_str(), mode);
}

// Seconds one `kvbackup fleet FILE run` took; exits when it failed.
double run(const kvtest::TTempDir& dir, const std::string& fleetFile)
{
    const std::string command = std::string(quoted(KVBACKUP_PATH)) + " fleet " + quoted(fleetFile) +
                                " run </dev/null >" + quoted(dir / "out") + " 2>&1";
    const auto t0 = std::chrono::steady_clock::now();
    const int raw = std::system(command.c_str());
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!WIFEXITED(raw) || WEXITSTATUS(raw) != 0) {
        std::ifstream in(dir / "out");
        std::fprintf(stderr, "bench_fleet: the run failed:\n%s\n",
                     std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()).c_str());
        std::exit(1);
    }
    return s;
}

std::string fleetText(const kvtest::TTempDir& dir, const std::string& repository, int units)
{
    std::string text = "repository = \"" + repository + "\"\nparallel = " + std::to_string(units) + "\n";
    for (int i = 1; i <= units; ++i)
        text += "\n[[unit]]\nname = \"unit-" + std::to_string(i) + "\"\ndevice = \"" + (dir / ("unit-" + std::to_string(i))) +
                "\"\npassword-file = \"system.pw\"\n";
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    const int units = argc > 1 ? std::atoi(argv[1]) : 8;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 2;
    if (units < 1 || rounds < 1) {
        std::fprintf(stderr, "usage: bench_fleet [UNITS] [ROUNDS]\n");
        return 2;
    }
    kvtest::TTempDir dir;
    writeFile(dir / "system.pw", "7777\n", 0600);
    std::vector<std::unique_ptr<kv::SimProcess>> sims;
    for (int i = 1; i <= units; ++i) {
        const std::string name = "unit-" + std::to_string(i);
        writeFile(dir / (name + ".state"), "kvsim-state 1\nlist 201\nlist 220\nmailbox 999 600\n", 0644);
        sims.push_back(std::make_unique<kv::SimProcess>(std::vector<std::string>{
            "--link", dir / name, "--state", dir / (name + ".state"), "--baud", std::to_string(kvbench::kBaud)}));
    }
    std::printf("kvbackup fleet run, %d units at %d baud (kvsim), fresh repository each round\n", units, kvbench::kBaud);
    double oneBest = 1e9, fleetBest = 1e9;
    for (int round = 1; round <= rounds; ++round) {
        const std::string oneRepo = "one-" + std::to_string(round);
        const std::string allRepo = "all-" + std::to_string(round);
        writeFile(dir / "one.toml", fleetText(dir, oneRepo, 1), 0644);
        writeFile(dir / "all.toml", fleetText(dir, allRepo, units), 0644);
        const double one = run(dir, dir / "one.toml");
        const double all = run(dir, dir / "all.toml");
        std::printf("round %d: one unit %.2f s, %d units %.2f s, ratio %.2f\n", round, one, units, all, all / one);
        oneBest = std::min(oneBest, one);
        fleetBest = std::min(fleetBest, all);
    }
    const double ratio = fleetBest / oneBest;
    std::printf("best: one unit %.2f s, %d units %.2f s, ratio %.2f (goal under 1.30) %s\n", oneBest, units, fleetBest,
                ratio, ratio < 1.3 ? "met" : "NOT MET");
    return 0;
}
