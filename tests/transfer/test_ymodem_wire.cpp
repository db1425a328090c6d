// The engine against a peer scripted byte by byte on a pseudo-terminal:
// what goes on the wire, how each answer is taken, and how every exit code
// is reached.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

#include "TransferRig.h"
#include "transfer/VaCrc.h"

using namespace kvtest;
using namespace kv::xy;
namespace fs = std::filesystem;

namespace {

const std::string kCanCan = "\x18\x18";

std::string S(uint8_t b)
{
    return std::string(1, static_cast<char>(b));
}

// Splits a received frame into its parts and checks its structure.
struct Parsed {
    uint8_t header = 0;
    int number = -1;
    std::string data;
    bool checkOk = false;
};

Parsed Parse(const std::string& f, bool crc)
{
    Parsed p;
    p.header = static_cast<uint8_t>(f[0]);
    const size_t len = p.header == SOH ? 128 : 1024;
    p.number = static_cast<uint8_t>(f[1]);
    EXPECT_EQ(static_cast<uint8_t>(f[2]), 255 - p.number);
    p.data = f.substr(3, len);
    const auto* d = reinterpret_cast<const uint8_t*>(p.data.data());
    if (crc) {
        const uint16_t c = kv::VaCrc16(d, len);
        p.checkOk = static_cast<uint8_t>(f[3 + len]) == (c >> 8) && static_cast<uint8_t>(f[4 + len]) == (c & 0xFF);
    } else {
        // The checksum worked out here, independently: the low byte of the sum.
        const unsigned sum = std::accumulate(p.data.begin(), p.data.end(), 0u,
                                             [](unsigned a, char c) { return a + static_cast<uint8_t>(c); });
        p.checkOk = static_cast<uint8_t>(f[3 + len]) == (sum & 0xFF);
    }
    return p;
}

double CpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

class Wire : public ::testing::Test {
protected:
    TUiThread ui;
    TTempDir dir;
    TRawPeer peer;
};

}  // namespace

// ---------------------------------------------------------------------------
// Block checks

TEST(Check, CrcMatchesTheXmodemCheckValueAndItsTable)
{
    const std::string nine = "123456789";
    EXPECT_EQ(kv::VaCrc16(reinterpret_cast<const uint8_t*>(nine.data()), nine.size()), 0x31C3);
    EXPECT_EQ(kv::VaCrc16Table()[1], 0x1021);
    EXPECT_EQ(kv::VaCrc16Table()[128], 0x9188);
    EXPECT_EQ(kv::VaCrc16Table()[255], 0x1EF0);
    // A block followed by its own CRC, high byte first, checks to zero.
    std::string block = RandomBytes(1024, 11);
    const uint16_t c = kv::VaCrc16(reinterpret_cast<const uint8_t*>(block.data()), block.size());
    block += static_cast<char>(c >> 8);
    block += static_cast<char>(c & 0xFF);
    EXPECT_EQ(kv::VaCrc16(reinterpret_cast<const uint8_t*>(block.data()), block.size()), 0);
    // Continuing a CRC over a second part equals the CRC of the whole.
    const auto* p = reinterpret_cast<const uint8_t*>(nine.data());
    EXPECT_EQ(kv::VaCrc16(p + 4, 5, kv::VaCrc16(p, 4)), 0x31C3);
}

TEST(Check, ChecksumIsTheLowByteOfTheSum)
{
    const uint8_t bytes[] = {0xFF, 0x02, 0x80, 0x80};
    EXPECT_EQ(kv::VaChecksum(bytes, 4), 0x01);
    EXPECT_EQ(kv::VaChecksum(bytes, 0), 0x00);
}

// ---------------------------------------------------------------------------
// Sending

TEST_F(Wire, UploadOf1025BytesToCrcReceiverIsBlock0TwoKBlocksEotAndEndOfBatch)
{
    const std::string content = RandomBytes(1025, 1);
    WriteFile(dir / "voice.wav", content);
    std::vector<std::string> frames;
    std::string eot;
    TEngine e(peer.Path());
    e.Upload({dir / "voice.wav"});
    peer.Run([&](TRawPeer& p) {
        p.Send(CRC);
        frames.push_back(p.Take(133));
        p.Send(ACK);
        p.Send(CRC);
        frames.push_back(p.Take(1029));
        p.Send(ACK);
        frames.push_back(p.Take(1029));
        p.Send(ACK);
        eot = p.Take(1);
        p.Send(ACK);
        p.Send(CRC);
        frames.push_back(p.Take(133));
        p.Send(ACK);
    });
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, 0);
    EXPECT_EQ(e.ym.ExitCode(), 0);
    EXPECT_EQ(e.starts, 1);
    EXPECT_EQ(e.ends, 1);
    EXPECT_FALSE(e.ym.Busy());
    EXPECT_TRUE(e.eventsOnUiThread);

    ASSERT_EQ(frames.size(), 4u);
    Parsed h = Parse(frames[0], true);
    EXPECT_EQ(h.header, SOH);
    EXPECT_EQ(h.number, 0);
    EXPECT_TRUE(h.checkOk);
    std::string expect0 = Header("voice.wav", "1025");
    expect0.resize(128, '\0');
    EXPECT_EQ(h.data, expect0);

    Parsed b1 = Parse(frames[1], true), b2 = Parse(frames[2], true);
    EXPECT_EQ(b1.header, STX);
    EXPECT_EQ(b1.number, 1);
    EXPECT_TRUE(b1.checkOk);
    EXPECT_EQ(b1.data, content.substr(0, 1024));
    EXPECT_EQ(b2.header, STX);
    EXPECT_EQ(b2.number, 2);
    EXPECT_TRUE(b2.checkOk);
    EXPECT_EQ(b2.data, content.substr(1024) + std::string(1023, '\0'));
    EXPECT_EQ(eot, S(EOT));

    Parsed end = Parse(frames[3], true);
    EXPECT_EQ(end.header, SOH);
    EXPECT_EQ(end.number, 0);
    EXPECT_TRUE(end.checkOk);
    EXPECT_EQ(end.data, std::string(128, '\0'));
    EXPECT_EQ(peer.Rest(100), "");

    ASSERT_EQ(e.infos.size(), 1u);
    EXPECT_EQ(e.infos[0].name, dir / "voice.wav");
    EXPECT_EQ(e.infos[0].size, 1025);
    ASSERT_EQ(e.packets.size(), 2u);
    EXPECT_EQ(e.packets[0].packet, 1);
    EXPECT_EQ(e.packets[0].bytes, 1024);
    EXPECT_EQ(e.packets[1].packet, 2);
    EXPECT_EQ(e.packets[1].bytes, 1025);
    EXPECT_TRUE(e.errors.empty());
}

TEST_F(Wire, NakReceiverGetsNine128ByteBlocksWithChecksums)
{
    const std::string content = RandomBytes(1025, 2);
    WriteFile(dir / "m.wav", content);
    std::vector<Parsed> blocks;
    TEngine e(peer.Path());
    e.Upload({dir / "m.wav"});
    peer.Run([&](TRawPeer& p) {
        p.Send(NAK);
        Parsed h = Parse(p.Take(132), false);
        if (h.number != 0 || !h.checkOk)
            throw std::runtime_error("bad block 0");
        p.Send(ACK);
        p.Send(NAK);
        for (;;) {
            std::string first = p.Take(1);
            if (first == S(EOT))
                break;
            blocks.push_back(Parse(first + p.Take(131), false));
            p.Send(ACK);
        }
        p.Send(ACK);
        p.Send(NAK);
        Parsed end = Parse(p.Take(132), false);
        if (end.number != 0 || end.data != std::string(128, '\0') || !end.checkOk)
            throw std::runtime_error("bad end of batch");
    });
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, 0);
    ASSERT_EQ(blocks.size(), 9u);
    std::string joined;
    for (size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(blocks[i].header, SOH);
        EXPECT_EQ(blocks[i].number, static_cast<int>(i + 1));
        EXPECT_TRUE(blocks[i].checkOk) << "block " << i + 1;
        joined += blocks[i].data;
    }
    EXPECT_EQ(joined, content + std::string(9 * 128 - 1025, '\0'));
    EXPECT_EQ(e.packets.back().bytes, 1025);
}

TEST_F(Wire, EmptyFileIsOneBlockOfZerosThenEot)
{
    WriteFile(dir / "empty", "");
    std::string header, block, eot;
    TEngine e(peer.Path());
    e.Upload({dir / "empty"});
    peer.Run([&](TRawPeer& p) {
        p.Send(CRC);
        header = p.Take(133);
        p.Send(ACK);
        p.Send(CRC);
        block = p.Take(1029);
        p.Send(ACK);
        eot = p.Take(1);
        p.Send(ACK);
        p.Send(CRC);
        p.Take(133);
    });
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, 0);
    EXPECT_EQ(Parse(header, true).data.substr(0, 8), Header("empty", "0") + std::string(1, '\0'));
    Parsed b = Parse(block, true);
    EXPECT_EQ(b.number, 1);
    EXPECT_EQ(b.data, std::string(1024, '\0'));
    EXPECT_TRUE(b.checkOk);
    EXPECT_EQ(eot, S(EOT));
    ASSERT_EQ(e.packets.size(), 1u);
    EXPECT_EQ(e.packets[0].bytes, 0);
}

TEST_F(Wire, FileOfExactlyOneBlockGetsNoExtraBlock)
{
    WriteFile(dir / "k", RandomBytes(1024, 3));
    std::string after;
    TEngine e(peer.Path());
    e.Upload({dir / "k"});
    peer.Run([&](TRawPeer& p) {
        p.Send(CRC);
        p.Take(133);
        p.Send(ACK);
        p.Send(CRC);
        p.Take(1029);
        p.Send(ACK);
        after = p.Take(1);
        p.Send(ACK);
        p.Send(CRC);
        p.Take(133);
    });
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(after, S(EOT));
    EXPECT_EQ(e.exitCode, 0);
}

TEST_F(Wire, StreamingSenderWaitsForAReceiverThatStopsReading)
{
    // The receiver asks with 'G' and then stops reading for a while: the
    // terminal fills, the port's write queue fills, and the sender waits
    // for it to drain instead of failing or waiting for answers.
    const std::string content = RandomBytes(60000, 12);
    WriteFile(dir / "g.bin", content);
    TEngine e(peer.Path());
    e.Upload({dir / "g.bin"});
    std::string data;
    int badFrames = 0;
    size_t packetsDuringPause = 0;
    peer.Run([&](TRawPeer& p) {
        p.Send('G');
        p.Take(133);
        p.Pause();
        p.Send('G');
        kv::TVaWaitEvent().WaitMs(1500);
        p.Resume();
        for (;;) {
            const std::string head = p.Take(1, 10000);
            if (head == S(EOT))
                break;
            Parsed f = Parse(head + p.Take(1028, 10000), true);
            badFrames += !f.checkOk;
            data += f.data;
        }
        p.Send(ACK);
        p.Send('G');
        p.Take(133);
    });
    // While the receiver does not read, the sender cannot get far.
    PumpUntil([] { return false; }, 1000);
    packetsDuringPause = e.packets.size();
    ASSERT_TRUE(e.RunUntilEnd(60000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, 0);
    EXPECT_LT(packetsDuringPause, 40u);
    EXPECT_EQ(badFrames, 0);
    EXPECT_EQ(data.substr(0, content.size()), content);
    EXPECT_EQ(e.packets.size(), 59u);
}

TEST_F(Wire, NakAnswersAreRetriedAndCountedUntilMaxErrorsEndsWithCanCan)
{
    WriteFile(dir / "f", RandomBytes(300, 4));
    std::vector<std::string> sent;
    TEngine e(peer.Path());
    e.Upload({dir / "f"});
    peer.Run([&](TRawPeer& p) {
        p.Send(CRC);
        p.Take(133);
        p.Send(ACK);
        p.Send(CRC);
        // Refuse block 1 every time: nine resends, then the tenth NAK ends it.
        for (int i = 0; i < 10; ++i) {
            sent.push_back(p.Take(1029));
            p.Send(NAK);
        }
    });
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, -9);
    for (const auto& f : sent)
        EXPECT_EQ(f, sent[0]);
    ASSERT_EQ(e.errors.size(), 9u);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(e.errors[i].code, -15);
        EXPECT_EQ(e.errors[i].count, i + 1);
    }
    EXPECT_EQ(peer.Rest(300), kCanCan);
}

TEST_F(Wire, UnusableHandshakeCharactersAreCountedWithoutCan)
{
    // A NUL from the line is one of them: only a cancel here ends with -3.
    WriteFile(dir / "f", "abc");
    const std::string junk = std::string("xxxx") + '\0' + "xxxxx";
    TEngine e(peer.Path());
    e.Upload({dir / "f"});
    peer.Run([&](TRawPeer& p) { p.Send(junk); });
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, -9);
    EXPECT_EQ(e.ErrorsWith(-16), 9);
    EXPECT_EQ(peer.Rest(200), "");

    // With MaxErrors above 10, the tenth unusable character ends it.
    TRawPeer other;
    TEngine e2(other.Path());
    e2.ym.SetMaxErrors(50);
    e2.Upload({dir / "f"});
    other.Run([&](TRawPeer& p) { p.Send(junk); });
    ASSERT_TRUE(e2.RunUntilEnd(20000));
    ASSERT_EQ(other.Join(), "");
    EXPECT_EQ(e2.exitCode, -5);
    EXPECT_EQ(e2.ErrorsWith(-16), 10);
}

TEST_F(Wire, UnexpectedAnswerToBlockIsProtocolErrorAndEotIsRepeatedUntilAcked)
{
    WriteFile(dir / "f", "abc");
    std::string eots;
    TEngine e(peer.Path());
    e.Upload({dir / "f"});
    peer.Run([&](TRawPeer& p) {
        p.Send(CRC);
        p.Take(133);
        p.Send(ACK);
        p.Send(CRC);
        p.Take(1029);
        p.Send(ACK);
        // Two unusable answers to EOT, then the ACK.
        eots += p.Take(1);
        p.Send(NAK);
        eots += p.Take(1);
        p.Send('?');
        eots += p.Take(1);
        p.Send(ACK);
        p.Send(CRC);
        p.Take(133);
    });
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, 0);
    EXPECT_EQ(eots, std::string(3, EOT));
    EXPECT_EQ(e.ErrorsWith(-16), 2);

    TRawPeer other;
    TEngine e2(other.Path());
    e2.Upload({dir / "f"});
    other.Run([&](TRawPeer& p) {
        p.Send(CRC);
        p.Take(133);
        p.Send('Z');
    });
    ASSERT_TRUE(e2.RunUntilEnd(20000));
    ASSERT_EQ(other.Join(), "");
    EXPECT_EQ(e2.exitCode, -5);
    EXPECT_EQ(other.Rest(200), "");
}

TEST_F(Wire, CanAsAnswerEndsWithMinus4AndNothingIsSentBack)
{
    WriteFile(dir / "f", RandomBytes(2000, 5));
    TEngine e(peer.Path());
    e.Upload({dir / "f"});
    peer.Run([&](TRawPeer& p) {
        p.Send(CRC);
        p.Take(133);
        p.Send(ACK);
        p.Send(CRC);
        p.Take(1029);
        p.Send(CAN);
    });
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, -4);
    EXPECT_EQ(peer.Rest(200), "");
}

TEST_F(Wire, CancelDuringUploadDataPhaseSendsCanCanAndEndsWithMinus3)
{
    WriteFile(dir / "f", RandomBytes(5000, 6));
    kv::TVaWaitEvent blockSeen;
    TEngine e(peer.Path());
    e.Upload({dir / "f"});
    peer.Run([&](TRawPeer& p) {
        p.Send(CRC);
        p.Take(133);
        p.Send(ACK);
        p.Send(CRC);
        p.Take(1029);
        blockSeen.Signal();  // and never answer
    });
    ASSERT_TRUE(PumpUntil([&] { return blockSeen.IsSignaled(); }, 10000));
    e.ym.Cancel();
    ASSERT_TRUE(e.RunUntilEnd(10000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, -3);
    EXPECT_EQ(peer.Rest(300), kCanCan);
    // Cancel once idle does nothing.
    e.ym.Cancel();
    EXPECT_EQ(e.ends, 1);
}

TEST_F(Wire, CancelWhileWaitingForTheReceiverEndsWithMinus3)
{
    WriteFile(dir / "f", "x");
    TEngine e(peer.Path());
    e.Upload({dir / "f"});
    PumpUntil([] { return false; }, 100);
    e.ym.Cancel();
    ASSERT_TRUE(e.RunUntilEnd(10000));
    EXPECT_EQ(e.exitCode, -3);
    EXPECT_EQ(peer.Rest(300), kCanCan);
}

TEST_F(Wire, ReadTimeoutsAreCountedWithoutCan)
{
    WriteFile(dir / "f", "x");
    TEngine e(peer.Path());
    e.ym.SetTimeout(150);
    e.ym.SetMaxErrors(3);
    e.Upload({dir / "f"});
    ASSERT_TRUE(e.RunUntilEnd(20000));
    EXPECT_EQ(e.exitCode, -9);
    ASSERT_EQ(e.errors.size(), 2u);
    EXPECT_EQ(e.errors[0].code, -1);
    EXPECT_EQ(e.errors[1].count, 2);
    EXPECT_EQ(peer.Rest(200), "");
}

TEST_F(Wire, MissingFileIsAnnouncedWithSizeMinus1ThenCancelledWithMinus12)
{
    std::string header;
    TEngine e(peer.Path());
    e.Upload({dir / "nothing.wav"});
    peer.Run([&](TRawPeer& p) {
        p.Send(CRC);
        header = p.Take(133);
        p.Send(ACK);
    });
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, -12);
    EXPECT_EQ(Parse(header, true).data.substr(0, 15), Header("nothing.wav", "-1") + std::string(1, '\0'));
    EXPECT_EQ(peer.Rest(300), kCanCan);
}

TEST_F(Wire, EmptyFileListEndsAtOnceWithoutTouchingTheLine)
{
    TEngine e(peer.Path());
    e.Upload({});
    ASSERT_TRUE(e.RunUntilEnd(5000));
    EXPECT_EQ(e.exitCode, 0);
    EXPECT_EQ(e.ends, 1);
    EXPECT_EQ(peer.Rest(200), "");
}

TEST_F(Wire, BytesAndCancelArrivingBeforeTheWorkerRunsAreKept)
{
    // OnTransferStart runs before the worker thread starts: what arrives
    // then must not be lost when the worker begins.
    WriteFile(dir / "f", "abc");
    TEngine e(peer.Path());
    e.ym.OnTransferStart = [&](kv::TVaComponent*) {
        const uint8_t c = CRC;
        e.ym.AcceptData(&c, 1);
    };
    e.Upload({dir / "f"});
    std::string header;
    peer.Run([&](TRawPeer& p) { header = p.Take(133); });
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(Parse(header, true).data.substr(0, 4), Header("f", "3") + std::string(1, '\0'));
    e.ym.Cancel();
    ASSERT_TRUE(e.RunUntilEnd(10000));
    EXPECT_EQ(e.exitCode, -3);

    TRawPeer other;
    TEngine e2(other.Path());
    e2.ym.OnTransferStart = [&](kv::TVaComponent*) { e2.ym.Cancel(); };
    e2.Download(dir.Path());
    ASSERT_TRUE(e2.RunUntilEnd(5000));
    EXPECT_EQ(e2.exitCode, -10);
    EXPECT_EQ(other.Rest(200), "");
}

TEST_F(Wire, StartWhileBusyIsRefusedAndChangesNothing)
{
    WriteFile(dir / "f", RandomBytes(10, 7));
    kv::TVaWaitEvent go;
    TEngine e(peer.Path());
    e.Upload({dir / "f"});
    peer.Run([&](TRawPeer& p) {
        if (go.WaitMs(10000) != kv::wrSignaled)
            throw std::runtime_error("never released");
        p.Send(CRC);
        p.Take(133);
        p.Send(ACK);
        p.Send(CRC);
        p.Take(1029);
        p.Send(ACK);
        p.Take(1);
        p.Send(ACK);
        p.Send(CRC);
        p.Take(133);
    });
    EXPECT_TRUE(e.ym.Busy());
    e.ym.SetMode(kv::tmDownload);  // what a second Start would have run
    try {
        e.ym.Start();
        ADD_FAILURE() << "Start while busy was accepted";
    } catch (const std::exception& ex) {
        EXPECT_STREQ(ex.what(), "Transfer already in progress...");
    }
    EXPECT_TRUE(e.ym.Busy());
    EXPECT_EQ(e.starts, 1);
    go.Signal();
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, 0);
    EXPECT_EQ(e.ends, 1);
}

// ---------------------------------------------------------------------------
// Receiving

class WireDownload : public Wire {
protected:
    // Plays a sender: waits for the handshake, sends the header, and so on.
    void SendFile(TRawPeer& p, const std::string& header, const std::vector<std::string>& frames)
    {
        Expect(p, CRC);
        p.Send(Frame(0, header, 128));
        Expect(p, ACK);
        Expect(p, CRC);
        for (const auto& f : frames) {
            p.Send(f);
            Expect(p, ACK);
        }
        p.Send(EOT);
        Expect(p, ACK);
    }
    void EndBatch(TRawPeer& p)
    {
        Expect(p, CRC);
        p.Send(Frame(0, "", 128));
        Expect(p, ACK);
    }
    static void Expect(TRawPeer& p, uint8_t b)
    {
        const std::string got = p.Take(1);
        if (got != S(b))
            throw std::runtime_error("expected byte " + std::to_string(b) + ", got " +
                                     std::to_string(static_cast<uint8_t>(got[0])));
    }
};

TEST_F(WireDownload, AnnouncedSizeIsHonouredAndHeaderWithoutSizeWritesWholeBlocks)
{
    const std::string a = RandomBytes(1025, 8), b = RandomBytes(1500, 9);
    peer.Run([&](TRawPeer& p) {
        SendFile(p, Header("a.wav", "1025"), {Frame(1, a, 1024), Frame(2, a.substr(1024), 1024, true, 0x1A)});
        // No size: both blocks whole, and a 128-byte block mixed in.
        SendFile(p, std::string("b.wav") + '\0',
                 {Frame(1, b, 1024), Frame(2, b.substr(1024), 128), Frame(3, b.substr(1152), 1024)});
        EndBatch(p);
    });
    TEngine e(peer.Path());
    e.Download(dir.Path());
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, 0);
    EXPECT_EQ(ReadFile(dir / "a.wav"), a);
    EXPECT_EQ(ReadFile(dir / "b.wav"), b.substr(0, 1024 + 128) + b.substr(1152) + std::string(2048 + 128 - 1500, '\0'));
    EXPECT_EQ(e.ym.Files(), (std::vector<std::string>{dir / "a.wav", dir / "b.wav"}));
    ASSERT_EQ(e.infos.size(), 2u);
    EXPECT_EQ(e.infos[0].size, 1025);
    EXPECT_EQ(e.infos[1].size, 0x7FFFFFFF);
    ASSERT_EQ(e.packets.size(), 5u);
    EXPECT_EQ(e.packets[1].bytes, 1025);
    EXPECT_EQ(e.packets[4].bytes, 2048 + 128);
    EXPECT_TRUE(e.errors.empty());
}

TEST_F(WireDownload, AnnouncedZeroSizeWritesNothing)
{
    peer.Run([&](TRawPeer& p) {
        SendFile(p, Header("z", "0"), {Frame(1, "", 1024)});
        EndBatch(p);
    });
    TEngine e(peer.Path());
    e.Download(dir.Path());
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, 0);
    EXPECT_TRUE(fs::exists(dir / "z"));
    EXPECT_EQ(fs::file_size(dir / "z"), 0u);
}

TEST_F(WireDownload, ExistingNamesLeadToTheFirstFreeNumberedName)
{
    WriteFile(dir / "greeting.wav", "old");
    WriteFile(dir / "greeting-1.wav", "old1");
    const std::string body = RandomBytes(200, 10);
    peer.Run([&](TRawPeer& p) {
        SendFile(p, Header("greeting.wav", "200"), {Frame(1, body, 1024)});
        EndBatch(p);
    });
    TEngine e(peer.Path());
    e.Download(dir.Path() + "/");
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, 0);
    EXPECT_EQ(ReadFile(dir / "greeting.wav"), "old");
    EXPECT_EQ(ReadFile(dir / "greeting-1.wav"), "old1");
    EXPECT_EQ(ReadFile(dir / "greeting-2.wav"), body);
    ASSERT_EQ(e.infos.size(), 1u);
    EXPECT_EQ(e.infos[0].name, dir / "greeting-2.wav");
    EXPECT_EQ(e.ym.Files(), std::vector<std::string>{dir / "greeting.wav"});
}

TEST_F(WireDownload, NamesAreReducedToTheirLastComponent)
{
    fs::create_directory(dir / "in");
    peer.Run([&](TRawPeer& p) {
        SendFile(p, Header("../../escape.wav", "3"), {Frame(1, "abc", 128)});
        SendFile(p, Header("C:\\voice\\..\\menu.wav", "2"), {Frame(1, "de", 128)});
        EndBatch(p);
    });
    TEngine e(peer.Path());
    e.Download(dir / "in");
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, 0);
    EXPECT_EQ(ReadFile(dir / "in/escape.wav"), "abc");
    EXPECT_EQ(ReadFile(dir / "in/menu.wav"), "de");
    EXPECT_FALSE(fs::exists(dir / "escape.wav"));
    EXPECT_EQ(e.ym.Files(), (std::vector<std::string>{dir / "in/escape.wav", dir / "in/menu.wav"}));
}

TEST_F(WireDownload, UnusableNamesAndHeadersWithoutNulAreRefusedWithCanCan)
{
    const std::vector<std::string> headers = {
        Header("..", "3"), Header(".", "3"), Header("dir/", "3"), Header("a\\..", "1"),
        Header("bad\x01name", "3"), Header("tab\tname", "3"), std::string(128, 'n'),
    };
    for (const auto& header : headers) {
        TRawPeer p;
        p.Run([&](TRawPeer& q) {
            Expect(q, CRC);
            q.Send(Frame(0, header, 128));
        });
        TEngine e(p.Path());
        e.Download(dir.Path());
        ASSERT_TRUE(e.RunUntilEnd(20000));
        ASSERT_EQ(p.Join(), "");
        EXPECT_EQ(e.exitCode, -5) << header;
        EXPECT_EQ(p.Rest(200), kCanCan) << header;
        EXPECT_TRUE(e.ym.Files().empty());
    }
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

TEST_F(WireDownload, RepeatedBlockEndsWithCanCanAndMinus5)
{
    peer.Run([&](TRawPeer& p) {
        Expect(p, CRC);
        p.Send(Frame(0, Header("r", "3000"), 128));
        Expect(p, ACK);
        Expect(p, CRC);
        p.Send(Frame(1, "one", 1024));
        Expect(p, ACK);
        p.Send(Frame(1, "one", 1024));
    });
    TEngine e(peer.Path());
    e.Download(dir.Path());
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, -5);
    EXPECT_EQ(peer.Rest(200), kCanCan);
    EXPECT_TRUE(e.ym.Files().empty());
}

TEST_F(WireDownload, CrcErrorsAreNakedAndCountedAndTheTenthEndsWithCanCan)
{
    std::string bad = Frame(1, "data", 1024);
    bad[10] ^= 0x20;
    peer.Run([&](TRawPeer& p) {
        Expect(p, CRC);
        p.Send(Frame(0, Header("c", "4"), 128));
        Expect(p, ACK);
        Expect(p, CRC);
        // Two bad copies, then a good one: recovered.
        p.Send(bad);
        Expect(p, NAK);
        p.Send(bad);
        Expect(p, NAK);
        p.Send(Frame(1, "data", 1024));
        Expect(p, ACK);
        p.Send(EOT);
        Expect(p, ACK);
        Expect(p, CRC);
        p.Send(Frame(0, Header("d", "4"), 128));
        Expect(p, ACK);
        Expect(p, CRC);
        // The count goes on across files: seven more NAKs, then CAN CAN.
        for (int i = 0; i < 7; ++i) {
            p.Send(bad);
            Expect(p, NAK);
        }
        p.Send(bad);
    });
    TEngine e(peer.Path());
    e.Download(dir.Path());
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, -9);
    EXPECT_EQ(peer.Rest(200), kCanCan);
    ASSERT_EQ(e.errors.size(), 9u);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(e.errors[i].code, -15);
        EXPECT_EQ(e.errors[i].count, i + 1);
    }
    EXPECT_EQ(ReadFile(dir / "c"), "data");
    EXPECT_EQ(e.ym.Files(), std::vector<std::string>{dir / "c"});
}

// A sender that stops early, repeats itself or loses a byte: the receiver
// never reports as received what it did not get.

TEST_F(WireDownload, EotBeforeTheAnnouncedSizeEndsWithCanCanAndMinus6AndListsNoFile)
{
    const std::string body = RandomBytes(2048, 11);
    peer.Run([&](TRawPeer& p) {
        Expect(p, CRC);
        p.Send(Frame(0, Header("short.wav", "5000"), 128));
        Expect(p, ACK);
        Expect(p, CRC);
        p.Send(Frame(1, body, 1024));
        Expect(p, ACK);
        p.Send(Frame(2, body.substr(1024), 1024));
        Expect(p, ACK);
        p.Send(EOT);
    });
    TEngine e(peer.Path());
    e.Download(dir.Path());
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, kv::vtShortFile);
    EXPECT_EQ(peer.Rest(200), kCanCan) << "the EOT is not acknowledged";
    EXPECT_TRUE(e.ym.Files().empty());
}

TEST_F(WireDownload, RepeatedEotWhereAHeaderIsAwaitedIsAnsweredAgainAndTheBatchGoesOn)
{
    const std::string a = RandomBytes(700, 12), b = RandomBytes(300, 13);
    peer.Run([&](TRawPeer& p) {
        SendFile(p, Header("a", "700"), {Frame(1, a, 1024)});
        // As if our ACK had been lost: the sender sends its EOT again.
        Expect(p, CRC);
        p.Send(EOT);
        Expect(p, ACK);
        SendFile(p, Header("b", "300"),
                 {Frame(1, b.substr(0, 128), 128), Frame(2, b.substr(128, 128), 128), Frame(3, b.substr(256), 128)});
        EndBatch(p);
    });
    TEngine e(peer.Path());
    e.Download(dir.Path());
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, 0);
    EXPECT_EQ(e.ym.Files(), (std::vector<std::string>{dir / "a", dir / "b"}));
    EXPECT_EQ(ReadFile(dir / "a"), a);
    EXPECT_EQ(ReadFile(dir / "b"), b);
    ASSERT_EQ(e.errors.size(), 1u);
    EXPECT_EQ(e.errors[0].code, -16);
}

TEST_F(WireDownload, NulInPlaceOfABlockHeaderIsABadBlockNotAnEmptyOne)
{
    const std::string data = RandomBytes(3072, 14);
    peer.Run([&](TRawPeer& p) {
        Expect(p, CRC);
        p.Send(Frame(0, Header("n", "3072"), 128));
        Expect(p, ACK);
        Expect(p, CRC);
        p.Send(Frame(1, data, 1024));
        Expect(p, ACK);
        // A header byte of 0, block number 2, its complement, and a CRC of 0,
        // which is the CRC of no data at all.
        p.Send(std::string("\x00\x02\xFD\x00\x00", 5));
        Expect(p, NAK);
        p.Send(Frame(2, data.substr(1024, 1024), 1024));
        Expect(p, ACK);
        p.Send(Frame(3, data.substr(2048), 1024));
        Expect(p, ACK);
        p.Send(EOT);
        Expect(p, ACK);
        EndBatch(p);
    });
    TEngine e(peer.Path());
    e.Download(dir.Path());
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, 0);
    EXPECT_EQ(ReadFile(dir / "n"), data);
    ASSERT_EQ(e.errors.size(), 1u);
    EXPECT_EQ(e.errors[0].code, -15);
}

TEST_F(WireDownload, ByteLostInsideABlockIsNakedAfterASecondNotAfterTheTimeout)
{
    // The receiver keeps its 60 s time-out: only the pause inside a block
    // is short. The whole test ends well within one such time-out.
    const std::string data = RandomBytes(2000, 15);
    std::string lost = Frame(2, data.substr(1024), 1024);
    lost.erase(500, 1);
    std::string early;
    peer.Run([&](TRawPeer& p) {
        Expect(p, CRC);
        p.Send(Frame(0, Header("l", "2000"), 128));
        Expect(p, ACK);
        Expect(p, CRC);
        // Before a block has begun the receiver waits its full time-out.
        if (p.WaitAny(1500))
            early = p.Rest(0);
        p.Send(Frame(1, data, 1024));
        Expect(p, ACK);
        p.Send(lost);
        Expect(p, NAK);
        p.Send(Frame(2, data.substr(1024), 1024));
        Expect(p, ACK);
        p.Send(EOT);
        Expect(p, ACK);
        EndBatch(p);
    });
    TEngine e(peer.Path());
    EXPECT_EQ(e.ym.Timeout(), 60000);
    e.Download(dir.Path());
    ASSERT_TRUE(e.RunUntilEnd(30000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(early, "") << "nothing is sent while the first byte of a block is awaited";
    EXPECT_EQ(e.exitCode, 0);
    EXPECT_EQ(ReadFile(dir / "l"), data);
    ASSERT_EQ(e.errors.size(), 1u);
    EXPECT_EQ(e.errors[0].code, -1);
}

TEST_F(WireDownload, CanAsBlockHeaderEndsWithMinus4WithoutAnswer)
{
    peer.Run([&](TRawPeer& p) {
        Expect(p, CRC);
        p.Send(Frame(0, Header("x", "10"), 128));
        Expect(p, ACK);
        Expect(p, CRC);
        p.Send(CAN);
    });
    TEngine e(peer.Path());
    e.Download(dir.Path());
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, -4);
    EXPECT_EQ(peer.Rest(200), "");
}

TEST_F(WireDownload, UnexpectedHeaderByteIsProtocolError)
{
    peer.Run([&](TRawPeer& p) {
        Expect(p, CRC);
        p.Send("+");
    });
    TEngine e(peer.Path());
    e.Download(dir.Path());
    ASSERT_TRUE(e.RunUntilEnd(20000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, -5);
}

TEST_F(WireDownload, CancelInDataPhaseEndsWithCanCanAndMinus3)
{
    kv::TVaWaitEvent inData;
    peer.Run([&](TRawPeer& p) {
        Expect(p, CRC);
        p.Send(Frame(0, Header("x", "5000"), 128));
        Expect(p, ACK);
        Expect(p, CRC);
        p.Send(Frame(1, "part", 1024));
        Expect(p, ACK);
        inData.Signal();
    });
    TEngine e(peer.Path());
    e.Download(dir.Path());
    ASSERT_TRUE(PumpUntil([&] { return inData.IsSignaled(); }, 10000));
    e.ym.Cancel();
    ASSERT_TRUE(e.RunUntilEnd(10000));
    ASSERT_EQ(peer.Join(), "");
    EXPECT_EQ(e.exitCode, -3);
    EXPECT_EQ(peer.Rest(300), kCanCan);
    EXPECT_TRUE(e.ym.Files().empty());
}

TEST_F(WireDownload, CancelDuringFirstHandshakesEndsWithMinus10)
{
    TEngine e(peer.Path());
    e.Download(dir.Path());
    ASSERT_EQ(peer.Take(1), S(CRC));
    e.ym.Cancel();
    ASSERT_TRUE(e.RunUntilEnd(5000));
    EXPECT_EQ(e.exitCode, -10);
    EXPECT_TRUE(e.errors.empty());
    EXPECT_EQ(peer.Rest(200), "");
}

TEST_F(WireDownload, SilentSenderCountsATimeoutPerHandshakeWithoutUsingTheProcessor)
{
    TEngine e(peer.Path());
    e.ym.SetMaxErrors(2);
    const uint64_t t0 = kv::TickMs();
    const double cpu0 = CpuSeconds();
    e.Download(dir.Path());
    ASSERT_TRUE(e.RunUntilEnd(40000));
    const double wall = double(kv::TickMs() - t0) / 1000.0;
    const double cpu = CpuSeconds() - cpu0;
    EXPECT_EQ(e.exitCode, -9);
    ASSERT_EQ(e.errors.size(), 1u);
    EXPECT_EQ(e.errors[0].code, -1);
    EXPECT_EQ(e.errors[0].count, 1);
    EXPECT_EQ(peer.Rest(100), "CC");
    // Two waits of 10 s each; a poll that spins would burn all of it.
    EXPECT_GE(wall, 19.0);
    EXPECT_LT(cpu, 0.1 * wall) << "cpu " << cpu << " s in " << wall << " s";
}

TEST_F(WireDownload, MoreThan4096QueuedBytesEndWithMinus14ButExactly4096DoNot)
{
    {
        TEngine e(peer.Path());
        e.Download(dir.Path());
        ASSERT_EQ(peer.Take(1), S(CRC));
        const std::string junk(4097, '\x7f');
        e.ym.AcceptData(reinterpret_cast<const uint8_t*>(junk.data()), 4097);
        ASSERT_TRUE(e.RunUntilEnd(5000));
        EXPECT_EQ(e.exitCode, -14);
        EXPECT_EQ(peer.Rest(200), kCanCan);
    }
    {
        TRawPeer p;
        TEngine e(p.Path());
        e.Download(dir.Path());
        ASSERT_EQ(p.Take(1), S(CRC));
        const std::string junk(4096, '\x7f');
        e.ym.AcceptData(reinterpret_cast<const uint8_t*>(junk.data()), 4096);
        ASSERT_TRUE(e.RunUntilEnd(5000));
        EXPECT_EQ(e.exitCode, -5);  // read as an unusable block header
    }
}

TEST_F(WireDownload, DestroyingABusyComponentStopsItsWorkerWithoutEndEvent)
{
    int ends = 0;
    {
        kv::TVaComm port;
        port.SetDeviceName(peer.Path());
        port.Open();
        kv::TVaYModem ym;
        ym.SetComm(&port);
        ym.OnTransferEnd = [&](kv::TVaComponent*, int) { ++ends; };
        ym.OnPacketEvent = [&](kv::TVaComponent*, int, int) {};
        ym.SetMode(kv::tmDownload);
        ym.SetTargetFolder(dir.Path());
        ym.Start();
        ASSERT_EQ(peer.Take(1), S(CRC));
        EXPECT_TRUE(ym.Busy());
    }
    PumpUntil([] { return false; }, 50);
    EXPECT_EQ(ends, 0);
}
