// The get/set exchanges against a scripted line: what goes on the wire, what
// comes back, and every error text word for word.
#include <gtest/gtest.h>

#include "session/Comm.h"
#include "session/Cp1251.h"
#include "tests/session/Harness.h"
#include "tests/session/PtyPeer.h"

using namespace kv;
using namespace kvtest;

namespace {

struct Primitives : ::testing::Test {
    TUiThread ui;
    TScriptedDialogs dialogs;
    TFormComm comm;
    TCOMServer server;
    TPtyPeer peer;

    void SetUp() override
    {
        comm.VaComm1.SetDeviceName(peer.Path());
        comm.VaComm1.Open();
    }
    // Runs fn as a job on the worker, as a setting object's getp/setp would.
    void OnWorker(std::function<void()> fn)
    {
        TStepJob job({{false, std::move(fn)}});
        RunJob(server, &job);
    }
    // The unit asks for the number after GET or SET, then answers the code.
    void Answer(const std::string& command, int code, const std::string& reply)
    {
        peer.On(command, "Parameter N: ");
        peer.On(std::to_string(code) + "\r", reply);
    }
    std::vector<std::string> Messages() const { return dialogs.Messages(); }
    bool AllErrors() const
    {
        for (const auto& s : dialogs.Shown())
            if (s.kind != TScriptedDialogs::TKind::Error)
                return false;
        return true;
    }
};

using Strings = std::vector<std::string>;

}  // namespace

TEST_F(Primitives, ReadsSendGetAndCodeAndTakeTheValueAfterTheEqualsSign)
{
    Answer("GET\r", 101, "=12345678\r\nPC SYS>");
    Answer("GET\r", 999, "=10203\rPC SYS>");
    std::string digits;
    int32_t version = 0;
    OnWorker([&] {
        digits = DirectoryGet(101);
        version = NumberGet(999);
    });
    EXPECT_EQ(digits, "12345678");
    EXPECT_EQ(version, 10203);
    EXPECT_EQ(peer.Received(), "GET\r101\rGET\r999\r");
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(comm.RxText(), "PC SYS>");  // the prompt stays for the next navigation
}

TEST_F(Primitives, EmptyValueIsAnEmptyDigitStringButNotANumber)
{
    Answer("GET\r", 102, "=\rPC SYS>");
    Answer("GET\r", 100, "=\rPC SYS>");
    Answer("GET\r", 110, "=12ab\rPC SYS>");
    std::string digits = "old";
    int32_t empty = -1, letters = -1;
    OnWorker([&] {
        digits = DirectoryGet(102);
        empty = NumberGet(100);
        letters = NumberGet(110);
    });
    EXPECT_EQ(digits, "");
    EXPECT_EQ(empty, 0);
    EXPECT_EQ(letters, 0);
    EXPECT_EQ(Messages(), Strings({"Incorrect number format, parameter: 100", "Incorrect number format, parameter: 110"}));
    EXPECT_TRUE(AllErrors());
}

TEST_F(Primitives, NumberTakesOneSignAndNoMore)
{
    Answer("GET\r", 120, "=+7\rPC SYS>");
    Answer("GET\r", 121, "=-3\rPC SYS>");
    Answer("GET\r", 122, "=+-5\rPC SYS>");
    int32_t plus = 0, minus = 0, both = -1;
    OnWorker([&] {
        plus = NumberGet(120);
        minus = NumberGet(121);
        both = NumberGet(122);
    });
    EXPECT_EQ(plus, 7);
    EXPECT_EQ(minus, -3);
    EXPECT_EQ(both, 0);
    EXPECT_EQ(Messages(), Strings({"Incorrect number format, parameter: 122"}));
}

TEST_F(Primitives, ReplyWithoutEqualsSignIsQuotedWithItsCodeAndCr)
{
    Answer("GET\r", 101, "ERROR\rPC SYS>");
    Answer("GET\r", 100, "Unknown\rPC SYS>");
    std::string digits = "old";
    int32_t n = -1;
    OnWorker([&] {
        digits = DirectoryGet(101);
        n = NumberGet(100);
    });
    EXPECT_EQ(digits, "");
    EXPECT_EQ(n, 0);
    EXPECT_EQ(Messages(), Strings({"DirectoryGet: parameter (101): ERROR\r", "NumberGet: parameter (100): Unknown\r"}));
}

TEST_F(Primitives, NoNumberPromptEndsTheJobAtTheGetWithOneMessage)
{
    // The unit echoes but never asks for the number: SendGet gives up after
    // its 5 s, and the silent line ends the job there, without a read that
    // could only time out again.
    int32_t n = -1;
    bool after = false;
    OnWorker([&] {
        n = NumberGet(100);
        after = true;
    });
    EXPECT_EQ(n, -1);
    EXPECT_FALSE(after);
    EXPECT_EQ(peer.Received(), "GET\r");
    EXPECT_EQ(Messages(), Strings({"SendGet: Bad Transactions"}));
    EXPECT_TRUE(AllErrors());
}

TEST_F(Primitives, ReadWithoutReplyLineReportsReceptionError)
{
    Answer("GET\r", 101, "=12");  // no CR ever
    std::string digits = "old";
    OnWorker([&] { digits = DirectoryGet(101); });
    EXPECT_EQ(digits, "old") << "nothing read, nothing returned: the job ended";
    EXPECT_EQ(Messages(), Strings({"DirectoryGet: Reception error"}));
}

TEST_F(Primitives, MessageSlotsGiveNameAndLengthOrLeaveThemAlone)
{
    Answer("GET\r", 1, "MSG=\rPC SYS>");
    Answer("GET\r", 2, "MSG=greeting 16000\rPC SYS>");
    Answer("GET\r", 3, "MSG=greeting\rPC SYS>");
    Answer("GET\r", 4, "NAME=x 1\rPC SYS>");
    Answer("GET\r", 5, Utf8ToCp1251("MSG=привет 8000\r") + "PC SYS>");
    std::string name1 = "keep", name2, name3 = "keep", name4 = "keep", name5;
    int32_t len1 = 7, len2 = 0, len3 = 9, len4 = 11, len5 = 0;
    OnWorker([&] {
        MessageGet(1, name1, len1);
        MessageGet(2, name2, len2);
        MessageGet(3, name3, len3);
        MessageGet(4, name4, len4);
        MessageGet(5, name5, len5);
    });
    EXPECT_EQ(name1, "");
    EXPECT_EQ(len1, 7);
    EXPECT_EQ(name2, "greeting");
    EXPECT_EQ(len2, 16000);
    EXPECT_EQ(name3, "");
    EXPECT_EQ(len3, 9);
    EXPECT_EQ(name4, "keep");
    EXPECT_EQ(len4, 11);
    EXPECT_EQ(name5, "привет");
    EXPECT_EQ(len5, 8000);
    EXPECT_EQ(Messages(), Strings({"MessageGet: Incorrect length format, parameter: 3",
                                   "MessageGet: parameter (4): error parsing name: NAME=x 1\r"}));
}

TEST_F(Primitives, MessageWithoutReplyLineReportsReceptionError)
{
    Answer("GET\r", 6, "");
    std::string name = "keep";
    int32_t len = 5;
    OnWorker([&] { MessageGet(6, name, len); });
    EXPECT_EQ(name, "keep");
    EXPECT_EQ(len, 5);
    EXPECT_EQ(Messages(), Strings({"MessageGet: Reception error"}));
}

TEST_F(Primitives, WritesSendSetCodeAndValueAndAcceptAnyReplyWithOk)
{
    Answer("SET\r", 103, "New value=");
    peer.On("5551234\r", "--OK--\rPC SYS>");
    Answer("SET\r", 500, "Value=");
    peer.On("42\r", "OK\rPC SYS>");
    Answer("SET\r", 501, "Value=");
    peer.On("-7\r", "SAVED OK\rPC SYS>");
    OnWorker([&] {
        DirectorySet(103, "5551234");
        NumberSet(500, 42);
        NumberSet(501, -7);
    });
    EXPECT_EQ(peer.Received(), "SET\r103\r5551234\rSET\r500\r42\rSET\r501\r-7\r");
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(comm.RxText(), "PC SYS>");
}

TEST_F(Primitives, RefusedWritesShowTheUnitsLine)
{
    Answer("SET\r", 104, "ERROR: too long\rPC SYS>");  // no "=" prompt, a line instead
    Answer("SET\r", 105, "Value=");
    peer.On("1\r", "FAILED\rPC SYS>");
    Answer("SET\r", 510, "RANGE\rPC SYS>");
    Answer("SET\r", 511, "Value=");
    peer.On("2\r", "NO\rPC SYS>");
    OnWorker([&] {
        DirectorySet(104, "123456789");
        DirectorySet(105, "1");
        NumberSet(510, 99999);
        NumberSet(511, 2);
    });
    EXPECT_EQ(peer.Received(), "SET\r104\rSET\r105\r1\rSET\r510\rSET\r511\r2\r");
    EXPECT_EQ(Messages(), Strings({"DirectorySet: parameter (104): ERROR: too long\r", "DirectorySet: reply: FAILED\r",
                                   "NumberSet: parameter (510): RANGE\r", "NumberSet: reply: NO\r"}));
    EXPECT_TRUE(AllErrors());
}

TEST_F(Primitives, LongQuotedRepliesAreCutTo200CharactersAndAnEllipsis)
{
    // Letters and Cyrillic letters in turn: one byte each on the line, one
    // or two in the message. The cut counts the unit's characters and never
    // splits a letter.
    auto alternating = [](int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += i % 2 ? "Ж" : "z";
        return s;
    };
    const std::string longLine = Utf8ToCp1251(alternating(300));
    const std::string cut = alternating(200) + "...";
    const std::string exact(200, 'q');  // at the limit: whole, with its CR
    Answer("GET\r", 101, longLine + "\rPC SYS>");
    Answer("GET\r", 102, exact + "\rPC SYS>");
    Answer("GET\r", 4, "NAME" + longLine + "\rPC SYS>");
    Answer("SET\r", 104, longLine + "\rPC SYS>");
    Answer("SET\r", 105, "Value=");
    peer.On("1\r", longLine + "\rPC SYS>");
    OnWorker([&] {
        DirectoryGet(101);
        NumberGet(102);
        std::string name;
        int32_t length = 0;
        MessageGet(4, name, length);
        DirectorySet(104, "1");
        NumberSet(105, 1);
    });
    EXPECT_EQ(Messages(), Strings({"DirectoryGet: parameter (101): " + cut,
                                   "NumberGet: parameter (102): " + exact + "\r",
                                   "MessageGet: parameter (4): error parsing name: NAME" + alternating(196) + "...",
                                   "DirectorySet: parameter (104): " + cut, "NumberSet: reply: " + cut}));
}

TEST_F(Primitives, WriteWhosePromptNeverComesTimesOutAfterASecond)
{
    Answer("SET\r", 101, "");
    Answer("SET\r", 500, "");
    uint64_t dirMs = 0, numMs = 0;
    bool after = false;
    OnWorker([&] {
        const uint64_t t0 = TickMs();
        try {
            DirectorySet(101, "1");
        } catch (...) {
            dirMs = TickMs() - t0;
            throw;  // the silent line ends the job
        }
        after = true;
    });
    OnWorker([&] {
        const uint64_t t0 = TickMs();
        try {
            NumberSet(500, 1);
        } catch (...) {
            numMs = TickMs() - t0;
            throw;
        }
    });
    EXPECT_FALSE(after);
    EXPECT_EQ(Messages(), Strings({"DirectorySet: parameter (101): unknown error or timeout",
                                   "NumberSet: parameter (500): unknown error"}));
    EXPECT_GE(dirMs, 999u);
    EXPECT_LT(dirMs, 4000u);
    EXPECT_GE(numMs, 999u);
    EXPECT_LT(numMs, 4000u);
    EXPECT_EQ(peer.Received(), "SET\r101\rSET\r500\r");  // the value is never sent
}

TEST_F(Primitives, WriteWithoutReplyLineReportsReplyReceptError)
{
    Answer("SET\r", 101, "Value=");
    Answer("SET\r", 500, "Value=");
    OnWorker([&] { DirectorySet(101, "77"); });
    OnWorker([&] {
        NumberSet(500, 3);
        NumberSet(500, 4);  // not reached
    });
    EXPECT_EQ(Messages(), Strings({"DirectorySet: reply recept error ", "NumberSet: reply recept error "}));
    EXPECT_EQ(peer.Received(), "SET\r101\r77\rSET\r500\r3\r");
}

TEST(PrimitivesNoEcho, ValueWithoutEchoReportsSendError)
{
    // A line that answers the prompts but stops echoing once the value is
    // sent.
    TUiThread ui;
    TScriptedDialogs dialogs;
    TFormComm comm;
    TCOMServer server;
    TPtyPeer peer(false);
    peer.On("SET\r", "SET\rN:");
    peer.On("101\r", "101\rValue=");
    peer.On("SET\r", "SET\rN:");
    peer.On("500\r", "500\rValue=");
    comm.VaComm1.SetDeviceName(peer.Path());
    comm.VaComm1.Open();
    TStepJob job({{false, [] { DirectorySet(101, "77"); }}});
    RunJob(server, &job);
    TStepJob job2({{false, [] { NumberSet(500, 3); }}});
    RunJob(server, &job2);
    EXPECT_EQ(dialogs.Messages(), Strings({"DirectorySet: parameter send error ", "NumberSet: parameter send error "}));
    EXPECT_EQ(peer.Received(), "SET\r101\r77\rSET\r500\r3\r");
}

TEST_F(Primitives, CyrillicValuesTravelInTheUnitsCodePage)
{
    Answer("SET\r", 120, "Value=");
    peer.On(Utf8ToCp1251("Ёж\r"), "OK\rPC SYS>");
    Answer("GET\r", 120, Utf8ToCp1251("=Ёж\r") + "PC SYS>");
    std::string back;
    OnWorker([&] {
        DirectorySet(120, "Ёж");
        back = DirectoryGet(120);
    });
    EXPECT_EQ(back, "Ёж");
    EXPECT_EQ(peer.Received(), "SET\r120\r\xA8\xE6\rGET\r120\r");
    EXPECT_TRUE(Messages().empty());
}
