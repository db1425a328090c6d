// The engine against itself over kvline: YModem-G, and transfers through a
// line that flips bits, drops bytes and stalls.
#include <gtest/gtest.h>

#include <filesystem>

#include "TransferRig.h"

using namespace kvtest;
namespace fs = std::filesystem;

namespace {

struct Pair {
    explicit Pair(const std::vector<std::string>& lineArgs) : line(lineArgs), tx(line.A()), rx(line.B()) {}
    TKvLine line;
    TEngine tx, rx;

    // Sender first: its Start purges the port, which would swallow a
    // handshake the receiver had already sent.
    bool Run(const std::vector<std::string>& files, const std::string& folder, int ms)
    {
        tx.Upload(files);
        rx.Download(folder);
        return PumpUntil([&] { return tx.ends > 0 && rx.ends > 0; }, ms);
    }
};

std::vector<std::string> MakeFiles(const TTempDir& dir, const std::vector<size_t>& sizes, uint32_t seed)
{
    std::vector<std::string> paths;
    for (size_t n : sizes) {
        const std::string p = dir / ("f" + std::to_string(n) + ".bin");
        WriteFile(p, RandomBytes(n, seed + static_cast<uint32_t>(n)));
        paths.push_back(p);
    }
    return paths;
}

class Self : public ::testing::Test {
protected:
    TUiThread ui;
    TTempDir src, dst;
};

}  // namespace

TEST_F(Self, YModemGBatchArrivesWhole)
{
    const auto files = MakeFiles(src, {0, 1, 127, 128, 129, 1023, 1024, 1025, 100000}, 500);
    Pair p({"--baud", "115200"});
    p.rx.ym.SetProtocol(kv::YModemG);
    ASSERT_TRUE(p.Run(files, dst.Path(), 120000));
    EXPECT_EQ(p.tx.exitCode, 0);
    EXPECT_EQ(p.rx.exitCode, 0);
    EXPECT_TRUE(p.tx.errors.empty());
    EXPECT_TRUE(p.rx.errors.empty());
    std::vector<std::string> expected;
    for (const auto& f : files) {
        const std::string name = fs::path(f).filename();
        EXPECT_EQ(ReadFile(dst / name), ReadFile(f)) << name;
        expected.push_back(dst / name);
    }
    EXPECT_EQ(p.rx.ym.Files(), expected);
    // Streamed: the sender saw no acknowledgement between blocks, and every
    // block was reported once on both sides.
    EXPECT_EQ(p.tx.packets.size(), p.rx.packets.size());
}

TEST_F(Self, YModemGKeepsUpWithASlowLine)
{
    // At 19200 the port's write queue fills; the sender waits for it.
    const auto files = MakeFiles(src, {12000}, 600);
    Pair p({"--baud", "19200"});
    p.rx.ym.SetProtocol(kv::YModemG);
    ASSERT_TRUE(p.Run(files, dst.Path(), 60000));
    EXPECT_EQ(p.tx.exitCode, 0);
    EXPECT_EQ(p.rx.exitCode, 0);
    EXPECT_EQ(ReadFile(dst / "f12000.bin"), ReadFile(files[0]));
}

// ---------------------------------------------------------------------------
// Faults on the line. Whatever happens, a file the receiver reports as
// received is whole; a transfer either ends with 0 and identical files or
// with a failure code.

namespace {

struct FaultOutcome {
    int tx = 1, rx = 1;
    int rxBadBlocks = 0, txNaks = 0, timeouts = 0;
    bool allReceivedWhole = true;  // every file in Files matches its source
    std::string stats;
};

FaultOutcome RunFaulty(const std::vector<std::string>& files, const std::vector<std::string>& lineArgs,
                       int timeoutMs, int maxErrors = 10)
{
    FaultOutcome o;
    TTempDir out;
    TKvLine line(lineArgs);
    {
        TEngine tx(line.A()), rx(line.B());
        for (TEngine* e : {&tx, &rx}) {
            e->ym.SetTimeout(timeoutMs);
            e->ym.SetMaxErrors(maxErrors);
        }
        tx.Upload(files);
        rx.Download(out.Path());
        EXPECT_TRUE(PumpUntil([&] { return tx.ends > 0 || rx.ends > 0; }, 120000));
        // When one side has failed, the other may be left waiting for a
        // handshake (10 s each); give it a while, then cancel it.
        if (!PumpUntil([&] { return tx.ends > 0 && rx.ends > 0; }, 12 * timeoutMs + 1000)) {
            tx.ym.Cancel();
            rx.ym.Cancel();
            EXPECT_TRUE(PumpUntil([&] { return tx.ends > 0 && rx.ends > 0; }, 10000));
        }
        o.tx = tx.exitCode;
        o.rx = rx.exitCode;
        o.rxBadBlocks = rx.ErrorsWith(-15);
        o.txNaks = tx.ErrorsWith(-15);
        o.timeouts = tx.ErrorsWith(-1) + rx.ErrorsWith(-1);
        for (const auto& got : rx.ym.Files()) {
            const std::string src = fs::path(files[0]).parent_path() / fs::path(got).filename();
            o.allReceivedWhole &= ReadFile(got) == ReadFile(src);
        }
        if (o.rx == 0)
            o.allReceivedWhole &= rx.ym.Files().size() == files.size();
    }
    o.stats = line.Stop();
    return o;
}

std::string Show(const FaultOutcome& o)
{
    return "tx " + std::to_string(o.tx) + ", rx " + std::to_string(o.rx) + ", bad blocks " +
           std::to_string(o.rxBadBlocks) + ", time-outs " + std::to_string(o.timeouts) + "; " + o.stats;
}

}  // namespace

TEST_F(Self, FlippedBitsAreRetriedOrEndTheTransferButNeverCorruptAFile)
{
    const auto files = MakeFiles(src, {20000, 5000}, 700);
    int recovered = 0, failed = 0;
    uint64_t flips = 0;
    for (int seed = 1; seed <= 6; ++seed) {
        FaultOutcome o = RunFaulty(files, {"--seed", std::to_string(seed), "--flip-every", "7000"}, 500);
        flips += TKvLine::Count(o.stats, "flips");
        EXPECT_TRUE(o.allReceivedWhole) << "seed " << seed << ": " << Show(o);
        if (o.rx == 0) {
            EXPECT_EQ(o.tx, 0) << "seed " << seed << ": " << Show(o);
            recovered += o.rxBadBlocks > 0;
        } else {
            ++failed;
        }
    }
    EXPECT_GT(flips, 0u);
    // The seeds are chosen so that faults were met and overcome.
    EXPECT_GT(recovered, 0);
    std::printf("flip runs: %d recovered through retries, %d ended with a failure code\n", recovered, failed);
}

TEST_F(Self, FlippedAnswersEndWithAFailureCode)
{
    const auto files = MakeFiles(src, {8000}, 800);
    for (int seed = 1; seed <= 3; ++seed) {
        FaultOutcome o =
            RunFaulty(files, {"--seed", std::to_string(seed), "--fault-dir", "ba", "--flip-every", "4"}, 500);
        EXPECT_GT(TKvLine::Count(o.stats, "flips"), 0u);
        EXPECT_TRUE(o.allReceivedWhole) << Show(o);
        EXPECT_NE(o.tx, 0) << Show(o);
        EXPECT_NE(o.rx, 0) << Show(o);
    }
}

TEST_F(Self, BytesDroppedInsideBlocksAreAskedForAgainAndTheFileArrivesWhole)
{
    // A block that stops short is given up after the pause allowed between
    // its bytes and asked for again; the seeds drop bytes inside blocks.
    const auto files = MakeFiles(src, {20000}, 900);
    for (int seed = 1; seed <= 2; ++seed) {
        FaultOutcome o = RunFaulty(files, {"--seed", std::to_string(seed), "--drop-every", "9000"}, 300);
        EXPECT_GT(TKvLine::Count(o.stats, "drops"), 0u);
        EXPECT_TRUE(o.allReceivedWhole) << Show(o);
        EXPECT_EQ(o.rx, 0) << Show(o);
        EXPECT_EQ(o.tx, 0) << Show(o);
        EXPECT_GT(o.timeouts, 0) << Show(o);
    }
}

TEST_F(Self, StallsLongerThanTheTimeoutAreCountedAndSurvived)
{
    const auto files = MakeFiles(src, {20000, 5000}, 1000);
    FaultOutcome o =
        RunFaulty(files, {"--baud", "115200", "--seed", "3", "--stall-ms", "1300", "--stall-every", "9000"}, 1000, 20);
    EXPECT_GT(TKvLine::Count(o.stats, "stalls"), 0u);
    EXPECT_EQ(o.tx, 0) << Show(o);
    EXPECT_EQ(o.rx, 0) << Show(o);
    EXPECT_TRUE(o.allReceivedWhole) << Show(o);
    EXPECT_GT(o.timeouts, 0) << Show(o);
}
