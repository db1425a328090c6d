// The exchange trace: lines, masking of every secret, the bound, readers.
#include <gtest/gtest.h>

#include <string>

#include "session/Cp1251.h"
#include "tests/support/TextAssert.h"
#include "transfer/VaProtocol.h"
#include "trace/Trace.h"

using namespace kv;
using namespace kvtest;

namespace {

// A trace with a clock the test moves.
struct TClockedLog {
    int64_t now = 1000;
    TTraceLog log;
    explicit TClockedLog(size_t limit = TTraceLog::kLimit) : log(limit, [this] { return now; }) {}

    void rx(const std::string& bytes) { log.LineReceived(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()); }
    void tx(const std::string& bytes, bool secret = false) { log.LineSent(bytes, secret); }
    // One exchange as the session makes it: send, the echo comes back.
    void echo(const std::string& bytes)
    {
        tx(bytes);
        rx(bytes);
    }
    std::string text() const { return log.Text(); }
};

}  // namespace

TEST(Trace, ALoginAsTheSessionMakesItWithThePasswordMasked)
{
    TClockedLog t;
    t.log.LineOpened("/dev/ttyUSB0");
    // Nine CAN and sixteen CR, one byte at a time: one line.
    for (int i = 0; i < 9; ++i)
        t.tx("\x18");
    for (int i = 0; i < 16; ++i)
        t.tx("\r");
    // The access string follows at once and joins them.
    t.echo(Utf8ToCp1251("лмж") + "\r");
    t.echo("\r");
    t.rx("Password:");
    t.now += 20;
    // The password goes out as a secret; its echo arrives split, part of it
    // before the CR that follows is even sent.
    t.tx("4711", true);
    t.rx("47");
    t.tx("\r");
    t.rx("11\r");
    t.rx("\r\nADMIN_MODE\r\n>");

    std::string wake;
    for (int i = 0; i < 9; ++i)
        wake += "\\x18";
    for (int i = 0; i < 16; ++i)
        wake += "\\r";
    const std::vector<std::string> expected = {
        "    0.000 · Порт /dev/ttyUSB0 открыт",
        "    0.000 → " + wake + "лмж\\r",
        "    0.000 ← лмж\\r",
        "    0.000 → \\r",
        "    0.000 ← \\r",
        "    0.000 ← Password:",
        "    0.020 → ****",
        "    0.020 → \\r",
        "    0.020 ← ****\\r",
        "    0.020 ← \\r\\n",
        "    0.020 ← ADMIN_MODE\\r\\n",
        "    0.020 ← >",
    };
    EXPECT_EQ(t.log.Lines(), expected);
    const std::string text = t.text();
    EXPECT_TRUE(Hides(text, "4711"));
    EXPECT_TRUE(Hides(text, "47"));
    EXPECT_TRUE(Hides(text, "11"));
}

TEST(Trace, AnEchoThatOnlyBeginsLikeThePasswordShowsWhatIsNotThePassword)
{
    TClockedLog t;
    t.log.LineOpened("/dev/pts/3");
    t.tx("1212", true);
    t.rx("121");
    t.rx("1212\r");
    const std::string text = t.text();
    EXPECT_TRUE(Shows(text, "← 121****\\r"));
    EXPECT_TRUE(Hides(text, "1212"));

    // A closed port hides what matched the beginning of a secret whose echo
    // never ended.
    t.tx("9876", true);
    t.rx("98");
    t.log.LineClosed();
    EXPECT_TRUE(Hides(t.text(), "98"));
    EXPECT_TRUE(Shows(t.text(), "← **\n"));
}

TEST(Trace, ThePasswordParametersValuesAreMaskedInRepliesAndWrites)
{
    TClockedLog t;
    t.log.LineOpened("/dev/ttyUSB0");
    t.rx("PC SYS>");
    auto get = [&](const std::string& code, const std::string& reply, const std::string& prompt) {
        t.echo("GET\r");
        t.rx("N:");
        t.echo(code + "\r");
        t.rx(reply);
        t.rx(prompt);
    };
    get("104", "=4711\r", "PC SYS>");
    get("0", "=7777\r\n", "PC SYS>");
    get("101", "=200\r", "PC SYS>");
    std::string text = t.text();
    EXPECT_TRUE(Hides(text, "4711"));
    EXPECT_TRUE(Hides(text, "7777"));
    EXPECT_TRUE(Shows(text, "← =****\\r\n"));
    EXPECT_TRUE(Shows(text, "← =****\\r\\n\n"));
    EXPECT_TRUE(Shows(text, "← =200\\r\n"));
    EXPECT_TRUE(Shows(text, "→ 104\\r\n"));

    // A write: the value sent, its echo; the unit's OK stays readable.
    t.echo("SET\r");
    t.rx("N:");
    t.echo("104\r");
    t.rx("V=");
    t.tx("5678\r");
    t.rx("56");
    t.rx("78\r");
    t.rx("OK\r");
    t.rx("PC SYS>");
    text = t.text();
    EXPECT_TRUE(Hides(text, "5678"));
    EXPECT_TRUE(Hides(text, "56"));
    EXPECT_TRUE(Shows(text, "→ ****\\r\n"));
    EXPECT_TRUE(Shows(text, "← ****\\r\n"));
    EXPECT_TRUE(Shows(text, "← OK\\r\n"));

    // A refused write leaves no masking behind: the next reads show.
    t.echo("SET\r");
    t.rx("N:");
    t.echo("0\r");
    t.rx("ERROR\r");
    t.rx("PC SYS>");
    get("102", "=201\r", "PC SYS>");
    EXPECT_TRUE(Shows(t.text(), "← =201\\r\n"));
    // ... and the password parameter after it is still masked.
    get("104", "=4711\r", "PC SYS>");
    EXPECT_TRUE(Hides(t.text(), "4711"));

    // Mailbox 104 in the mail menu is no password.
    t.echo("\r");
    t.rx("PC>");
    t.echo("MAIL\r");
    t.rx("PC MAIL>");
    get("104", "=600\r", "PC MAIL>");
    EXPECT_TRUE(Shows(t.text(), "← =600\\r\n"));
}

TEST(Trace, TextIsDecodedAndEscaped)
{
    TClockedLog t;
    t.log.LineOpened("/dev/ttyS0");
    t.rx(Utf8ToCp1251("Привет") + "\x18\x01\t\\\x7F\r");
    EXPECT_TRUE(Shows(t.text(), "← Привет\\x18\\x01\\t\\\\\\x7F\\r\n"));

    // A reply without a CR is the open last line until the next send.
    t.rx("PC SYS>");
    TTraceDelta d = t.log.Since(0);
    EXPECT_EQ(d.open, "    0.000 ← PC SYS>");
    t.now += 1234;
    t.tx("GET\r");
    d = t.log.Since(0);
    ASSERT_FALSE(d.lines.empty());
    EXPECT_EQ(d.lines.back().Format(), "    0.000 ← PC SYS>");
    EXPECT_EQ(d.open, "    1.234 → GET\\r");

    // Sends further apart than a moment get lines of their own.
    t.now += TTraceLog::kSendJoinMs + 1;
    t.tx("\r");
    EXPECT_EQ(t.log.Lines().back(), "    1.285 → \\r");
    EXPECT_EQ(t.log.Lines()[t.log.Lines().size() - 2], "    1.234 → GET\\r");

    // A reply that never ends is cut.
    t.rx(std::string(TTraceLog::kLongLine + 10, 'x'));
    const auto lines = t.log.Lines();
    EXPECT_EQ(lines[lines.size() - 2].size(), std::string("    1.285 ← ").size() + TTraceLog::kLongLine);
    EXPECT_EQ(lines.back(), "    1.285 ← xxxxxxxxxx");
}

TEST(Trace, KeepsTheNewestBytesOnly)
{
    TClockedLog t;
    t.log.LineOpened("/dev/ttyUSB0");
    const std::string reply = std::string(100, 'a') + "\r";
    for (int i = 0; i < 30000; ++i) {
        t.rx(std::to_string(i) + reply);
        t.now += 1;
    }
    EXPECT_LE(t.log.Size(), TTraceLog::kLimit);
    EXPECT_GT(t.log.Size(), TTraceLog::kLimit - 200);
    const std::string text = t.text();
    // The open last line (the last reply awaits a possible LF) comes on top.
    EXPECT_EQ(text.size(), t.log.Size() + t.log.Lines().back().size() + 1);
    EXPECT_TRUE(Shows(text, "← 29999" + std::string(100, 'a') + "\\r\n"));
    EXPECT_TRUE(Hides(text, "Порт /dev/ttyUSB0 открыт"));
    EXPECT_TRUE(Hides(text, "← 1" + std::string(100, 'a')));
}

TEST(Trace, ReadersGetWhatIsNewAndStartAgainWhenTheyMustAndTheChangeIsToldOnce)
{
    TClockedLog t(400);
    int told = 0;
    t.log.SetOnChange([&] { ++told; });
    t.log.LineOpened("/dev/ttyUSB0");
    t.echo("GET\r");
    t.echo("GET\r");
    EXPECT_EQ(told, 1);
    TTraceDelta d = t.log.Since(0);
    ASSERT_EQ(d.lines.size(), 4u);  // the event, GET, its echo, GET; its echo is open
    EXPECT_EQ(d.open, "    0.000 ← GET\\r");
    const uint64_t seen = d.lastSeq;

    t.echo("SET\r");
    EXPECT_EQ(told, 2);
    d = t.log.Since(seen);
    EXPECT_FALSE(d.reset);
    ASSERT_EQ(d.lines.size(), 2u);
    EXPECT_EQ(d.lines[0].text, "GET\\r");
    EXPECT_EQ(d.lines[1].text, "SET\\r");

    // Lines dropped that the reader never saw: it starts again.
    for (int i = 0; i < 40; ++i)
        t.echo("GET\r");
    d = t.log.Since(d.lastSeq);
    EXPECT_TRUE(d.reset);
    EXPECT_GT(d.firstSeq, seen + 10);

    // "Очистить": a reader that saw anything starts again, with nothing.
    t.log.Clear();
    EXPECT_EQ(t.log.Size(), 0u);
    EXPECT_TRUE(t.log.Lines().empty());
    d = t.log.Since(d.lastSeq);
    EXPECT_TRUE(d.reset);
    EXPECT_TRUE(d.lines.empty());
    EXPECT_TRUE(d.open.empty());
    EXPECT_FALSE(t.log.Since(d.lastSeq).reset);
}

TEST(Trace, ATransferIsOneLineWithoutItsPayload)
{
    TClockedLog t;
    t.log.LineOpened("/dev/ttyUSB0");
    t.echo("ULMSG\r");
    t.rx("START\r");
    t.log.TransferStarted();
    t.tx(std::string("\x01\x00\xFF", 3) + "greeting.wav");
    t.rx("C\x06\x06\x15\x06");
    t.log.TransferEnded({true, "greeting.wav", 80000, 79, 1, 0});
    t.log.TransferStarted();
    t.log.TransferEnded({false, "menu.wav", 5000, 3, 10, -9});
    t.log.TransferStarted();
    t.log.TransferEnded({true, "night.wav", 16000, 4, 0, vtLineLost});
    t.rx("TRANSFER_RESULT:0\r");
    const std::string text = t.text();
    EXPECT_TRUE(Hides(text, "\\x01"));
    EXPECT_TRUE(Hides(text, "\\x06"));
    EXPECT_TRUE(Shows(text, "· YModem: отправлен файл greeting.wav, 80000 байт, блоков 79, ошибок 1: готово\n"));
    EXPECT_TRUE(Shows(text, "· YModem: принят файл menu.wav, 5000 байт, блоков 3, ошибок 10: не удалось (код -9, "
                            "слишком много ошибок)\n"));
    EXPECT_TRUE(Shows(text, "· YModem: отправлен файл night.wav, 16000 байт, блоков 4, ошибок 0: не удалось (код -13, "
                            "линия оборвалась)\n"));
    EXPECT_TRUE(Shows(text, "← TRANSFER_RESULT:0\\r\n"));
}

TEST(Trace, TellsTheDoctorWhatArrivedSinceTheLineOpened)
{
    TClockedLog t;
    t.rx("old");
    t.log.LineOpened("/dev/ttyUSB0");
    EXPECT_EQ(t.log.ReceivedSinceOpen(), 0u);
    t.tx("7777", true);
    t.rx("\xF0\x80" "7777\r");
    EXPECT_EQ(t.log.ReceivedSinceOpen(), 7u);
    EXPECT_EQ(t.log.ReceivedTextSinceOpen(), "рЂ****\\r");
}
