// The engine against an independent implementation, lrzsz's sb and rb,
// over kvline.
#include <gtest/gtest.h>

#include <filesystem>

#include "TransferRig.h"
#include "transfer/VaCrc.h"

using namespace kvtest;
namespace fs = std::filesystem;

namespace {

const std::vector<size_t> kSizes = {0, 1, 127, 128, 129, 1023, 1024, 1025, 100000};

struct Result {
    int engine = 1;        // our exit code
    int peer = -1;         // the peer's exit status
    bool peerEnded = false;
    double seconds = 0;
    std::vector<TEngine::Error> errors;
    std::string peerLog;
    std::string lineStats;  // kvline's counts
};

// Writes one file of each size into dir; returns their paths.
std::vector<std::string> MakeFiles(const TTempDir& dir, uint32_t seed)
{
    std::vector<std::string> paths;
    for (size_t n : kSizes) {
        const std::string p = dir / ("file-" + std::to_string(n) + ".bin");
        WriteFile(p, RandomBytes(n, seed + static_cast<uint32_t>(n)));
        paths.push_back(p);
    }
    return paths;
}

// Our sender to the peer's receiver (or the other way round); the peer runs
// with its terminal on kvline's second end, in folder cwd.
Result RunWithPeer(kv::TVaTransferMode mode, const std::vector<std::string>& files, const std::string& target,
           const std::vector<std::string>& peerArgv, const std::string& cwd,
           const std::vector<std::string>& lineArgs)
{
    Result r;
    TTempDir logs;
    TKvLine line(lineArgs);
    {
        TEngine e(line.A());
        const uint64_t t0 = kv::TickMs();
        if (mode == kv::tmUpload)
            e.Upload(files);
        else
            e.Download(target);
        TChild::Options o;
        o.argv = peerArgv;
        o.cwd = cwd;
        o.tty = line.B();
        o.stderrFile = logs / "peer.log";
        TChild peer(o);
        EXPECT_TRUE(e.RunUntilEnd(240000)) << "the transfer did not end";
        // The port stays open (and its events handled) until the peer has
        // taken the last bytes and ended.
        r.peerEnded = PumpUntil([&] { return peer.Exited().IsSignaled(); }, 60000);
        r.seconds = double(kv::TickMs() - t0) / 1000.0;
        if (!r.peerEnded)
            peer.Kill(SIGKILL);
        peer.WaitExit(5000);
        r.peer = peer.Status();
        r.engine = e.exitCode;
        r.errors = e.errors;
    }
    r.peerLog = ReadFile(logs / "peer.log");
    r.lineStats = line.Stop();
    return r;
}

std::string Describe(const Result& r)
{
    std::string s = "engine " + std::to_string(r.engine) + ", peer " + std::to_string(r.peer) + ", " +
                    std::to_string(r.seconds) + " s, errors:";
    for (const auto& e : r.errors)
        s += " " + std::to_string(e.code);
    return s;
}

class Lrzsz : public ::testing::Test {
protected:
    TUiThread ui;
    TTempDir src, dst;
};

}  // namespace

TEST_F(Lrzsz, UploadBatchToRb)
{
    const auto files = MakeFiles(src, 100);
    Result r = RunWithPeer(kv::tmUpload, files, "", {"rb", "--ymodem"}, dst.Path(), {"--baud", "115200"});
    EXPECT_EQ(r.engine, 0) << Describe(r);
    EXPECT_TRUE(r.peerEnded) << Describe(r);
    EXPECT_EQ(r.peer, 0) << Describe(r) << "\n" << r.peerLog;
    EXPECT_TRUE(r.errors.empty()) << Describe(r);
    for (const auto& f : files) {
        const std::string name = fs::path(f).filename();
        if (fs::file_size(f) == 0) {
            // An empty file goes as one block of zeros announced as 0 bytes;
            // rb takes a size of 0 for "unknown" and keeps the block (shown
            // without the engine by RbKeepsTheBlockOfAFileAnnouncedAsEmpty).
            EXPECT_EQ(ReadFile(dst / name), std::string(1024, '\0')) << name;
            continue;
        }
        EXPECT_EQ(ReadFile(dst / name), ReadFile(f)) << name;
    }
}

TEST_F(Lrzsz, RbKeepsTheBlockOfAFileAnnouncedAsEmpty)
{
    // A sender played here sends two files, each as one 128-byte block:
    // announced as 1 byte, rb writes 1 byte; announced as 0, all 128.
    TRawPeer line;
    line.Run([](TRawPeer& p) {
        auto expect = [&p](const std::string& what) {
            if (p.Take(what.size(), 15000) != what)
                throw std::runtime_error("rb did not answer as expected");
        };
        for (const std::string size : {"1", "0"}) {
            expect("C");
            p.Send(Frame(0, Header("size" + size, size), 128));
            expect("\x06" "C");
            p.Send(Frame(1, "x", 128));
            expect("\x06");
            p.Send("\x04");
            expect("\x06");
        }
        expect("C");
        p.Send(Frame(0, "", 128));
    });
    TChild::Options o;
    o.argv = {"rb", "--ymodem"};
    o.cwd = dst.Path();
    o.tty = line.Path();
    TChild rb(o);
    ASSERT_EQ(line.Join(), "");
    ASSERT_TRUE(rb.WaitExit(30000));
    EXPECT_EQ(ReadFile(dst / "size1"), "x");
    EXPECT_EQ(ReadFile(dst / "size0"), "x" + std::string(127, '\0'));
}

TEST_F(Lrzsz, DownloadBatchFromSb1K)
{
    const auto files = MakeFiles(src, 200);
    std::vector<std::string> argv = {"sb", "--ymodem", "-k"};
    argv.insert(argv.end(), files.begin(), files.end());
    Result r = RunWithPeer(kv::tmDownload, {}, dst.Path(), argv, src.Path(), {"--baud", "115200"});
    EXPECT_EQ(r.engine, 0) << Describe(r);
    EXPECT_TRUE(r.peerEnded) << Describe(r);
    EXPECT_EQ(r.peer, 0) << Describe(r) << "\n" << r.peerLog;
    for (const auto& f : files) {
        const std::string name = fs::path(f).filename();
        EXPECT_EQ(ReadFile(dst / name), ReadFile(f)) << name;
    }
    EXPECT_EQ(r.errors.size(), 0u) << Describe(r);
}

TEST_F(Lrzsz, DownloadBatchFromSb128)
{
    const auto files = MakeFiles(src, 300);
    std::vector<std::string> argv = {"sb", "--ymodem"};
    argv.insert(argv.end(), files.begin(), files.end());
    Result r = RunWithPeer(kv::tmDownload, {}, dst.Path(), argv, src.Path(), {"--baud", "115200"});
    EXPECT_EQ(r.engine, 0) << Describe(r);
    EXPECT_TRUE(r.peerEnded) << Describe(r);
    EXPECT_EQ(r.peer, 0) << Describe(r) << "\n" << r.peerLog;
    for (const auto& f : files) {
        const std::string name = fs::path(f).filename();
        EXPECT_EQ(ReadFile(dst / name), ReadFile(f)) << name;
    }
    EXPECT_EQ(r.errors.size(), 0u) << Describe(r);
}

TEST_F(Lrzsz, SbAskedWithNakSendsChecksumsTheEngineComputesAlike)
{
    // lrzsz's YModem receiver always asks for CRC, and the engine's receiver
    // too; the checksum is checked against sb with a receiver played here.
    const std::string content = RandomBytes(1500, 400);
    WriteFile(src / "sum.bin", content);
    TRawPeer line;
    std::string received;
    int blocks = 0, badChecks = 0;
    line.Run([&](TRawPeer& p) {
        auto frame = [&p, &badChecks]() -> std::string {
            const std::string head = p.Take(1, 15000);
            if (head == "\x04")
                return head;
            const size_t len = head[0] == '\x01' ? 128 : 1024;
            const std::string rest = p.Take(2 + len + 1, 15000);
            const std::string data = rest.substr(2, len);
            if (kv::VaChecksum(reinterpret_cast<const uint8_t*>(data.data()), len) != static_cast<uint8_t>(rest.back()))
                ++badChecks;
            return data;
        };
        p.Send("\x15");
        const std::string header = frame();
        const size_t size = std::stoul(header.substr(header.find('\0') + 1));
        p.Send("\x06\x15");
        for (std::string d = frame(); d != "\x04"; d = frame()) {
            received += d;
            ++blocks;
            p.Send("\x06");
        }
        p.Send("\x06\x15");
        frame();  // the end of the batch
        p.Send("\x06");
        received.resize(size);
    });
    TChild::Options o;
    o.argv = {"sb", "--ymodem", "sum.bin"};
    o.cwd = src.Path();
    o.tty = line.Path();
    TChild sb(o);
    ASSERT_EQ(line.Join(), "");
    EXPECT_TRUE(sb.WaitExit(30000));
    EXPECT_EQ(sb.Status(), 0);
    EXPECT_GE(blocks, 2);
    EXPECT_EQ(badChecks, 0);
    EXPECT_EQ(received, content);
}

TEST_F(Lrzsz, UploadToRbRecoversFromDroppedBytesThroughItsNaks)
{
    // rb answers a block cut short by a lost byte with NAK once its own
    // time-out passes; the engine sends the block again.
    WriteFile(src / "drop.bin", RandomBytes(40000, 500));
    int recovered = 0;
    for (int seed = 1; seed <= 2; ++seed) {
        TTempDir out;
        Result r = RunWithPeer(kv::tmUpload, {src / "drop.bin"}, "", {"rb", "--ymodem", "-t", "20"}, out.Path(),
                               {"--baud", "115200", "--fault-dir", "ab", "--seed", std::to_string(seed),
                                "--drop-every", "15000"});
        EXPECT_GT(TKvLine::Count(r.lineStats, "drops"), 0u);
        if (r.peer == 0) {
            // rb says it has the file: it must be whole.
            EXPECT_EQ(ReadFile(out / "drop.bin"), ReadFile(src / "drop.bin")) << Describe(r);
        }
        if (r.engine == 0 && r.peer == 0 && !r.errors.empty())
            ++recovered;
    }
    EXPECT_GT(recovered, 0);
}
