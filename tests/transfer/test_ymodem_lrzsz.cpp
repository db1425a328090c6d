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
    bool lossless = false;  // kvline delivered every byte as it took it
    uint64_t endQuietMs = 0;
};

// rb and sb empty their terminal's input at moments of their own: rb right
// after each answer, sb when it starts. On a loaded machine a block or a
// handshake that kvline has already delivered can be lost there; the peer
// then waits for its own time-out (10 s) before it asks again. On a line
// that lost nothing, a quiet spell that long before the peer's next request
// is the peer's own loss.
constexpr uint64_t kPeerTimeoutMs = 9000;

bool PeerLostDelivered(const Result& r, uint64_t quietMs)
{
    return r.lossless && quietMs >= kPeerTimeoutMs;
}

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
        r.endQuietMs = e.endQuietMs;
    }
    r.peerLog = ReadFile(logs / "peer.log");
    r.lineStats = line.Stop();
    r.lossless = TKvLine::Count(r.lineStats, "flips") == 0 && TKvLine::Count(r.lineStats, "drops") == 0 &&
                 TKvLine::Count(r.lineStats, "bytes in") == TKvLine::Count(r.lineStats, "out");
    return r;
}

std::string Describe(const Result& r)
{
    std::string s = "engine " + std::to_string(r.engine) + ", peer " + std::to_string(r.peer) + ", " +
                    std::to_string(r.seconds) + " s, errors:";
    for (const auto& e : r.errors)
        s += " " + std::to_string(e.code) + " (after " + std::to_string(e.quietMs) + " ms)";
    return s + (r.lossless ? "" : ", kvline lost or changed bytes");
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
    Result r;
    // A run that rb ends by losing a delivered block (it asks for block 0
    // again, which the engine takes as a protocol error) is run again.
    for (int attempt = 1; attempt <= 3; ++attempt) {
        TTempDir out;
        r = RunWithPeer(kv::tmUpload, files, "", {"rb", "--ymodem"}, out.Path(), {"--baud", "115200"});
        if (r.engine != 0 && PeerLostDelivered(r, r.endQuietMs)) {
            std::printf("attempt %d: rb lost a block it had been given (%s); again\n", attempt, Describe(r).c_str());
            continue;
        }
        EXPECT_EQ(r.engine, 0) << Describe(r);
        EXPECT_TRUE(r.peerEnded) << Describe(r);
        EXPECT_EQ(r.peer, 0) << Describe(r) << "\n" << r.peerLog;
        // rb's NAK after its own time-out is the only error allowed.
        for (const auto& e : r.errors)
            EXPECT_TRUE(e.code == -15 && PeerLostDelivered(r, e.quietMs)) << Describe(r);
        for (const auto& f : files) {
            const std::string name = fs::path(f).filename();
            if (fs::file_size(f) == 0) {
                // An empty file goes as one block of zeros announced as 0
                // bytes; rb takes a size of 0 for "unknown" and keeps the
                // block (shown without the engine by
                // RbKeepsTheBlockOfAFileAnnouncedAsEmpty).
                EXPECT_EQ(ReadFile(out / name), std::string(1024, '\0')) << name;
                continue;
            }
            EXPECT_EQ(ReadFile(out / name), ReadFile(f)) << name;
        }
        return;
    }
    ADD_FAILURE() << "rb lost a delivered block in every attempt: " << Describe(r);
}

TEST_F(Lrzsz, RbKeepsTheBlockOfAFileAnnouncedAsEmpty)
{
    // A sender played here sends two files, each as one 128-byte block:
    // announced as 1 byte, rb writes 1 byte; announced as 0, all 128.
    // Over kvline at a line rate: rb empties its input right after each
    // ACK, and a block sent back at once on a bare terminal can be lost.
    TKvLine kvline({"--baud", "115200"});
    TRawPeer line(kvline.A());
    line.Run([](TRawPeer& p) {
        // Sends a frame until rb acknowledges it: rb asks again (C or NAK)
        // after its time-out when it lost the frame in its own purge.
        auto send = [&p](const std::string& frame) {
            for (int i = 0; i < 3; ++i) {
                p.Send(frame);
                const std::string a = p.Take(1, 15000);
                if (a == "\x06")
                    return;
                if (a != "C" && a != "\x15")
                    throw std::runtime_error("rb answered " + std::to_string(static_cast<uint8_t>(a[0])));
            }
            throw std::runtime_error("rb never took the frame");
        };
        auto expect = [&p](const std::string& what) {
            const std::string got = p.Take(what.size(), 15000);
            if (got != what)
                throw std::runtime_error("rb answered " + std::to_string(static_cast<uint8_t>(got[0])));
        };
        for (const std::string size : {"1", "0"}) {
            expect("C");
            send(Frame(0, Header("size" + size, size), 128));
            expect("C");
            send(Frame(1, "x", 128));
            send("\x04");
        }
        expect("C");
        p.Send(Frame(0, "", 128));
    });
    TChild::Options o;
    o.argv = {"rb", "--ymodem"};
    o.cwd = dst.Path();
    o.tty = kvline.B();
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
    // sb's purge of a delivered 'C' costs the receiver one handshake
    // time-out; nothing else may go wrong.
    for (const auto& e : r.errors)
        EXPECT_TRUE(e.code == -1 && PeerLostDelivered(r, e.quietMs)) << Describe(r);
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
    // sb's purge of a delivered 'C' costs the receiver one handshake
    // time-out; nothing else may go wrong.
    for (const auto& e : r.errors)
        EXPECT_TRUE(e.code == -1 && PeerLostDelivered(r, e.quietMs)) << Describe(r);
}

TEST_F(Lrzsz, SbAskedWithNakSendsChecksumsTheEngineComputesAlike)
{
    // lrzsz's YModem receiver always asks for CRC, and the engine's receiver
    // too; the checksum is checked against sb with a receiver played here.
    const std::string content = RandomBytes(1500, 400);
    WriteFile(src / "sum.bin", content);
    TKvLine kvline({"--baud", "115200"});
    TRawPeer line(kvline.A());
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
        // sb empties its input when it starts: ask until it answers.
        for (int i = 0; i < 10; ++i) {
            p.Send("\x15");
            if (p.WaitAny(1000))
                break;
        }
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
    o.tty = kvline.B();
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
    for (int seed = 1; seed <= 3 && recovered == 0; ++seed) {
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
