// The line transport: echo, prompt and line reading over a real port, the
// receive handler's buffer rules, and the arming of the wait.
#include <gtest/gtest.h>

#include <iconv.h>

#include <future>

#include "session/Comm.h"
#include "session/Cp1251.h"
#include "tests/session/Harness.h"
#include "tests/session/PtyPeer.h"

using namespace kv;
using namespace kvtest;

namespace {

struct Transport : ::testing::Test {
    TUiThread ui;
    TFormComm comm;

    void Feed(const std::string& bytes)
    {
        comm.VaComm1RxBuf(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    // Runs fn on another thread while this (UI) thread delivers what the
    // port receives; returns fn's result.
    bool Pump(std::function<bool()> fn)
    {
        auto f = std::async(std::launch::async, [&] {
            const bool r = fn();
            UiBridge().Wake();
            return r;
        });
        while (f.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            UiBridge().ProcessEvents(100);
        return f.get();
    }
};

struct OverPort : Transport {
    TPtyPeer peer;
    void SetUp() override
    {
        comm.VaComm1.SetDeviceName(peer.Path());
        comm.VaComm1.Open();
    }
};

}  // namespace

TEST_F(Transport, LineFeedsAreDroppedFromEverythingReceived)
{
    Feed("A\r\nB");
    EXPECT_EQ(comm.RxText(), "A\rB");
    Feed("\n\n");
    EXPECT_EQ(comm.RxText(), "A\rB");
}

TEST_F(Transport, PatternAlreadyInTheBufferIsTakenWithoutWaiting)
{
    // Nothing can arrive here (the port is closed and this thread would have
    // to deliver it), so success means no wait was needed.
    Feed("=123\r\nPC SYS>");
    std::string line;
    ASSERT_TRUE(comm.ReadUpTo("\r", 5000, line));
    EXPECT_EQ(line, "=123\r");
    EXPECT_EQ(comm.RxText(), "PC SYS>");
    EXPECT_TRUE(comm.WaitText("SYS", 5000));
    EXPECT_EQ(comm.RxText(), ">");
}

TEST_F(Transport, OnlyThe999BytesAfterAMatchStay)
{
    const std::string tail(1500, 'a');
    Feed("N" + std::string(999, 'b') + "X" + tail);
    std::string upTo;
    ASSERT_TRUE(comm.ReadUpTo("X", 0, upTo));
    EXPECT_EQ(upTo.size(), 1001u);
    EXPECT_EQ(comm.RxText(), std::string(999, 'a'));
}

TEST_F(Transport, ChatterBetweenPrimitivesKeepsOnlyTheNewest64KiB)
{
    std::string block(4096, 'x');
    for (int i = 0; i < 40; ++i) {
        block[0] = static_cast<char>('A' + i % 26);
        Feed(block);
    }
    Feed("END");
    const std::string kept = comm.RxText();
    ASSERT_EQ(kept.size(), TFormComm::kMaxBuffered);
    EXPECT_EQ(kept.substr(kept.size() - 3), "END");
    EXPECT_TRUE(comm.WaitText("END", 0));
}

TEST_F(Transport, TimeOutLeavesTheBufferAndALateMatchDoesNotEndTheNextWait)
{
    Feed("abc");
    EXPECT_FALSE(Pump([&] { return comm.WaitText("Z", 50); }));
    EXPECT_EQ(comm.RxText(), "abc");
    // "Z" comes after its wait gave up; the next wait must still wait its
    // whole time for its own pattern.
    Feed("Z");
    const uint64_t t0 = TickMs();
    EXPECT_FALSE(Pump([&] { return comm.WaitText("Q", 200); }));
    EXPECT_GE(TickMs() - t0, 199u);
    EXPECT_EQ(comm.RxText(), "abcZ");
}

TEST_F(Transport, WaitOnAClosedPortTimesOutAfterItsTimeOut)
{
    ASSERT_FALSE(comm.VaComm1.IsOpen());
    const uint64_t t0 = TickMs();
    EXPECT_FALSE(Pump([&] { return comm.SendEcho("GET\r", 300); }));
    const uint64_t waited = TickMs() - t0;
    EXPECT_GE(waited, 299u);
    EXPECT_LT(waited, 3000u);
}

TEST_F(Transport, EchoSplitAcrossNotificationsIsFoundOnItsLastByte)
{
    TPtyPeer silent(false);
    comm.VaComm1.SetDeviceName(silent.Path());
    comm.VaComm1.Open();
    auto f = std::async(std::launch::async, [&] { return comm.SendEcho("GET\r", 5000); });
    // The text reaches the line only after the wait is armed.
    ASSERT_TRUE(silent.WaitReceived("GET\r", 5000));
    Feed("G");
    Feed("ET");
    EXPECT_EQ(f.wait_for(std::chrono::milliseconds(30)), std::future_status::timeout);
    Feed("\r\nN?");
    EXPECT_TRUE(f.get());
    EXPECT_EQ(comm.RxText(), "N?");
}

TEST_F(OverPort, SendEchoDiscardsAnUnreadPromptBeforeItSends)
{
    Feed("PC SYS>");
    peer.On("GET\r", "Number?");
    EXPECT_TRUE(Pump([&] { return comm.SendEcho("GET\r", 5000) && comm.WaitText("?", 5000); }));
    EXPECT_EQ(peer.Received(), "GET\r");
    std::string prompt;
    // The old prompt is gone: a prompt read now would wait for a new one.
    EXPECT_FALSE(Pump([&] { return comm.ReadUpTo(">", 100, prompt); }));
}

TEST_F(OverPort, ReadUpToReturnsTheLineAndLeavesThePromptForTheNextRead)
{
    peer.On("GET\r", "N:");
    peer.On("101\r", "=555\r\nPC SYS>");
    std::string line, prompt;
    ASSERT_TRUE(Pump([&] {
        return comm.SendEcho("GET\r", 5000) && comm.WaitText("N", 5000) && comm.SendEcho("101\r", 5000) &&
               comm.ReadUpTo("\r", 5000, line) && comm.ReadUpTo(">", 5000, prompt);
    }));
    EXPECT_EQ(line, "=555\r");
    EXPECT_EQ(prompt, "PC SYS>");
    EXPECT_EQ(peer.Received(), "GET\r101\r");
}

TEST_F(OverPort, ManyQuickExchangesNeverLoseAWakeUp)
{
    // The echo may come back before the sender starts waiting; the check of
    // the buffer and the arming happen under one lock, so none is missed.
    int ok = 0;
    Pump([&] {
        for (int i = 0; i < 500; ++i)
            ok += comm.SendEcho(std::to_string(i) + "\r", 5000) ? 1 : 0;
        return true;
    });
    EXPECT_EQ(ok, 500);
}

// The code page against the system's own converter.
TEST(CodePage, EveryByteMatchesTheSystemConverterAndComesBack)
{
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    for (int b = 1; b < 256; ++b) {
        if (b == 0x98)
            continue;  // unassigned
        char in[1] = {static_cast<char>(b)};
        char out[8] = {};
        char* pin = in;
        char* pout = out;
        size_t inLeft = 1, outLeft = sizeof out;
        ASSERT_NE(iconv(cd, &pin, &inLeft, &pout, &outLeft), static_cast<size_t>(-1)) << b;
        const std::string expected(out, sizeof out - outLeft);
        const std::string byte(1, static_cast<char>(b));
        EXPECT_EQ(Cp1251ToUtf8(byte), expected) << b;
        EXPECT_EQ(Utf8ToCp1251(expected), byte) << b;
    }
    iconv_close(cd);
    EXPECT_EQ(Utf8ToCp1251("лмж"), "\xEB\xEC\xE6");
    EXPECT_EQ(Utf8ToCp1251("日本\xFF"), "???");  // no such characters, and a broken byte
}
