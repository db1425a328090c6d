// Whole voice-file transfers through the transfer dialog's controller, the
// program's YModem engine and the simulated unit (whose side runs the same
// engine): round trips byte for byte, cancelling, the unit's transfer
// results, and how a received file replaces the chosen one.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "PtyPeer.h"
#include "tests/support/UnitSession.h"
#include "collections/File.h"
#include "collections/MenuDlg.h"
#include "collections/ReportFile.h"
#include "collections/YModemU.h"
#include "settings/View.h"
#include "transfer/VaCrc.h"

using namespace kvtest;
using kv::TFile;
using kv::TFormYMU;
using kv::TMenuDlg;
namespace fs = std::filesystem;

namespace {

std::string Pattern(size_t size, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (char& c : s)
        c = static_cast<char>(gen() & 0xFF);
    return s;
}

void WriteFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary) << data;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::vector<std::string> Names(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct TTransferFixture {
    explicit TTransferFixture(std::vector<std::string> args = {}) : unit(std::move(args))
    {
        slot.code = 60;
        slot.menu = 6;
        slot.grid = &messages;
        slot.col = 1;
        slot.row = 1;
        menu.code = 1;
        menu.menu = 9;
        menu.grid = &menus;
        menu.row = 2;
    }

    // Shows the dialog as the screen does, lets everything run until the
    // dialog has closed itself and the result job has ended. `during` is
    // called on every change of the dialog's controls.
    bool Transfer(TFormYMU& dialog, const std::function<void(TFormYMU&)>& during = {}, int limitMs = 120000)
    {
        if (during)
            dialog.onChange = [&dialog, during] { during(dialog); };
        if (!dialog.Show())
            return false;
        const uint64_t end = kv::TickMs() + static_cast<uint64_t>(limitMs);
        while (!dialog.Closed() && kv::TickMs() < end)
            kv::UiBridge().ProcessEvents(100);
        unit.session.WaitIdle();
        return dialog.Closed();
    }
    bool Upload(TFile& object, const std::string& path)
    {
        object.localPath = path;
        object.action = 30;
        TFormYMU dialog(unit.session, unit.comm, object);
        return Transfer(dialog);
    }
    bool Download(TFile& object, const std::string& path)
    {
        object.action = 40;
        TFormYMU dialog(unit.session, unit.comm, object, path, temp.Path());
        return Transfer(dialog);
    }

    TUnitSession unit;
    kv::TGridModel messages{"sgMessages", 4, 15};
    kv::TGridModel menus{"sgMenu", 12, 21};
    TFile slot;
    TMenuDlg menu;
    TTempDir files;  // the user's files
    TTempDir temp;   // where downloads are received first
};

}  // namespace

TEST(Transfer, SlotRoundTripIsByteIdentical)
{
    TTransferFixture t;
    const std::string data = Pattern(20000, 1);
    WriteFile(t.files / "greeting.pcm", data);
    t.unit.Read(t.slot);
    t.unit.Sent();

    t.slot.localPath = t.files / "greeting.pcm";
    t.slot.action = 30;
    TFormYMU up(t.unit.session, t.unit.comm, t.slot);
    ASSERT_TRUE(t.Transfer(up));
    EXPECT_EQ(up.ExitCode(), 0);
    EXPECT_EQ(up.Title(), "Отправка файла greeting.pcm");
    EXPECT_EQ(up.ProgressMax(), 20000);
    EXPECT_EQ(up.ProgressPos(), 20000);
    EXPECT_EQ(up.Total(), "20000");
    EXPECT_EQ(up.Bytes(), "20000");
    EXPECT_EQ(up.Packet(), "20");
    EXPECT_TRUE(t.unit.Messages().empty());
    EXPECT_EQ(t.messages.Cell(1, 1), "greeting.pcm");
    EXPECT_EQ(t.messages.Cell(2, 1), "00:02");
    EXPECT_EQ(t.messages.Cell(3, 1), "20000");
    std::string sent = t.unit.Sent();
    EXPECT_EQ(sent.substr(0, 7), "SET\r60\r");
    EXPECT_TRUE(Has(sent, "GET\r60\r")) << "the slot is read back";

    // Back into a file the user already has: it is replaced whole.
    const std::string copy = t.files / "copy.pcm";
    WriteFile(copy, "an older recording");
    t.slot.action = 40;
    TFormYMU down(t.unit.session, t.unit.comm, t.slot, copy, t.temp.Path());
    std::string folder;
    ASSERT_TRUE(t.Transfer(down, [&folder](TFormYMU& d) {
        if (folder.empty())
            folder = d.DownloadFolder();
    }));
    EXPECT_EQ(down.ExitCode(), 0);
    EXPECT_EQ(down.Title(), "Прием файла greeting.pcm");
    EXPECT_EQ(down.ProgressPos(), 20000);
    EXPECT_TRUE(t.unit.Messages().empty());
    EXPECT_TRUE(ReadFile(copy) == data) << "byte-identical";
    EXPECT_EQ(Names(t.files.Path()), (Strings{"copy.pcm", "greeting.pcm"}));
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(fs::path(folder).parent_path(), fs::path(t.temp.Path())) << "received into a private folder";
    EXPECT_FALSE(fs::exists(folder)) << "and that folder is gone";
    sent = t.unit.Sent();
    EXPECT_EQ(sent.substr(0, 9), "DLMSG\r60\r");
    EXPECT_TRUE(Has(sent, "GET\r60\r"));
}

TEST(Transfer, VoiceMenuRoundTripOfOddSizes)
{
    TTransferFixture t;
    for (size_t size : {1u, 1024u, 1025u}) {
        const std::string data = Pattern(size, static_cast<unsigned>(size));
        const std::string name = "m" + std::to_string(size) + ".pcm";
        WriteFile(t.files / name, data);
        ASSERT_TRUE(t.Upload(t.menu, t.files / name)) << size;
        EXPECT_EQ(t.menus.Cell(1, 2), name);
        EXPECT_EQ(t.menu.fileSize, static_cast<int32_t>(size));
        const std::string back = t.files / ("back" + std::to_string(size));
        ASSERT_TRUE(t.Download(t.menu, back)) << size;
        EXPECT_TRUE(ReadFile(back) == data) << size;
    }
    EXPECT_TRUE(t.unit.Messages().empty());
    const std::string sent = t.unit.Sent();
    EXPECT_TRUE(Has(sent, "ULMSG\r1\r"));
    EXPECT_TRUE(Has(sent, "DLMSG\r1\r"));
    EXPECT_EQ(Names(t.temp.Path()), Strings{}) << "nothing left of the downloads";
}

TEST(Transfer, RoundTripOnALineAtItsRealRate)
{
    // At 19200 baud both directions take their line time; the answer to the
    // end of a download's batch must not reach the unit's command line.
    TTransferFixture t({"--baud", "19200"});
    const std::string data = Pattern(6000, 9);
    WriteFile(t.files / "paced.pcm", data);
    t.unit.Read(t.slot);
    const uint64_t start = kv::TickMs();
    ASSERT_TRUE(t.Upload(t.slot, t.files / "paced.pcm"));
    const uint64_t uploadMs = kv::TickMs() - start;
    EXPECT_GE(uploadMs, 6000u * 10 * 1000 / 19200) << "the unit takes the file at the line's rate";
    ASSERT_TRUE(t.Download(t.slot, t.files / "back.pcm"));
    EXPECT_TRUE(ReadFile(t.files / "back.pcm") == data);
    EXPECT_TRUE(t.unit.Messages().empty());
    EXPECT_EQ(t.messages.Cell(1, 1), "paced.pcm");
    // The unit still answers commands.
    t.unit.Sent();
    t.unit.Read(t.slot);
    EXPECT_EQ(t.unit.Sent(), "GET\r60\r");
    EXPECT_TRUE(t.unit.Messages().empty());
    EXPECT_EQ(t.messages.Cell(3, 1), "6000");
}

TEST(Transfer, CancelledDownloadLeavesTheOldFileAsItWas)
{
    TStateFile state({"file slot 61 long.pcm 60000 tone"});
    TTransferFixture t({"--state", state.Path(), "--baud", "19200"});
    TFile& s = t.slot;
    s.code = 61;
    t.unit.Read(s);
    const std::string chosen = t.files / "keep.pcm";
    WriteFile(chosen, "precious");
    ::chmod(chosen.c_str(), 0640);

    // "Нет" lets it go on; "Да" cancels.
    t.unit.forms.AnswerYesNo(false);
    t.unit.forms.AnswerYesNo(true);
    int asked = 0;
    bool closedEarly = false;
    s.action = 40;
    TFormYMU dialog(t.unit.session, t.unit.comm, s, chosen, t.temp.Path());
    ASSERT_TRUE(t.Transfer(dialog, [&](TFormYMU& d) {
        if (d.ProgressPos() >= 4096 && asked < 2 && !d.Closed()) {
            ++asked;
            closedEarly |= d.CloseQuery();
        }
    }));
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(closedEarly) << "the dialog stays open until the engine ends";
    const auto shown = t.unit.Shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, "Хотите прервать передачу ?");
    EXPECT_EQ(dialog.ExitCode(), kv::vtCancelled);
    EXPECT_EQ(t.unit.Messages(), (Strings{"YMODEM: error 1"})) << "the unit saw the cancel";
    EXPECT_EQ(ReadFile(chosen), "precious");
    struct stat st {};
    ASSERT_EQ(::stat(chosen.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Names(t.files.Path()), Strings{"keep.pcm"}) << "no partial file next to it";
    EXPECT_EQ(Names(t.temp.Path()), Strings{}) << "nor in the receiving folder";
    EXPECT_EQ(t.messages.Cell(1, 1), "long.pcm") << "the slot is read back";
}

TEST(Transfer, DialogReleasedByItsCloseHandlerFromInsideTheEnginesEnd)
{
    TTransferFixture t;
    // Twice: the second dialog finds the port and the session as the first
    // one, released from inside its own end, left them.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const std::string name = "short" + std::to_string(round) + ".pcm";
        WriteFile(t.files / name, Pattern(3000 + round, 7));
        t.slot.localPath = t.files / name;
        t.slot.action = 30;
        auto* dialog = new TFormYMU(t.unit.session, t.unit.comm, t.slot);
        bool released = false;
        int exitCode = -100;
        dialog->onClose = [&] {
            exitCode = dialog->ExitCode();
            delete dialog;
            dialog = nullptr;
            released = true;
        };
        ASSERT_TRUE(dialog->Show());
        const uint64_t end = kv::TickMs() + 120000;
        while (!released && kv::TickMs() < end)
            kv::UiBridge().ProcessEvents(100);
        ASSERT_TRUE(released);
        t.unit.session.WaitIdle();
        EXPECT_EQ(exitCode, 0);
        EXPECT_TRUE(t.unit.Messages().empty());
        // The result job that the end started ran to its read-back.
        EXPECT_EQ(t.messages.Cell(1, 1), name);
        EXPECT_EQ(t.messages.Cell(3, 1), std::to_string(3000 + round));
    }
}

TEST(Transfer, LineThatHangsUpEndsTheTransferAtOnceAndTheSessionWithOneMessage)
{
    // The unit goes away a few blocks into the transfer, both ways. The test
    // waits less than one of the engine's time-outs.
    TStateFile state({"file slot 61 long.pcm 60000 tone"});
    for (int action : {40, 30}) {
        TTransferFixture t({"--state", state.Path(), "--baud", "19200"});
        TFile& s = t.slot;
        s.code = 61;
        t.unit.Read(s);
        const std::string chosen = t.files / "keep.pcm";
        WriteFile(chosen, "precious");
        s.localPath = chosen;
        if (action == 30)
            WriteFile(chosen, Pattern(60000, 31));
        s.action = action;
        TFormYMU dialog(t.unit.session, t.unit.comm, s, action == 40 ? chosen : "", t.temp.Path());
        bool killed = false;
        ASSERT_TRUE(t.Transfer(
            dialog,
            [&](TFormYMU& d) {
                if (!killed && d.ProgressPos() >= 4096) {
                    killed = true;
                    ::kill(t.unit.sim.Pid(), SIGKILL);
                }
            },
            20000))
            << action;
        EXPECT_TRUE(killed) << action;
        EXPECT_EQ(dialog.ExitCode(), kv::vtLineLost) << action;
        EXPECT_EQ(t.unit.Messages(), Strings{"COM1: Устройство отключено."}) << action;
        EXPECT_EQ(t.unit.session.mode, kv::kModeDisconnected) << action;
        EXPECT_FALSE(t.unit.comm.VaComm1.IsOpen()) << action;
        if (action == 40) {
            EXPECT_EQ(ReadFile(chosen), "precious");
        }
        EXPECT_EQ(Names(t.temp.Path()), Strings{}) << action;
    }
}

TEST(Transfer, FailureBeforeTheEngineClosesTheDialogAndKeepsTheChosenFile)
{
    TTransferFixture t;
    TFile& empty = t.slot;
    empty.code = 73;
    empty.fileName = "gone.pcm";  // what the screen still showed
    const std::string chosen = t.files / "keep.pcm";
    WriteFile(chosen, "precious");
    empty.action = 40;
    TFormYMU dialog(t.unit.session, t.unit.comm, empty, chosen, t.temp.Path());
    ASSERT_TRUE(dialog.Show());
    t.unit.session.WaitIdle();
    EXPECT_EQ(t.unit.Messages(), (Strings{"File (DLMSG): Time-out of prompt"}));
    // The dialog closes by itself: no transfer can follow a failed slot
    // exchange, and nothing more is sent.
    EXPECT_TRUE(dialog.Closed());
    EXPECT_FALSE(dialog.Engine().Busy());
    t.unit.Sent();
    EXPECT_TRUE(t.unit.Shown().empty()) << "no question without a transfer";
    EXPECT_EQ(dialog.DownloadFolder(), "");
    EXPECT_EQ(Names(t.temp.Path()), Strings{});
    EXPECT_EQ(ReadFile(chosen), "precious");
    t.unit.session.WaitIdle();
    EXPECT_EQ(t.unit.Sent(), "");
}

TEST(Transfer, OtherActionsAreAModeError)
{
    TTransferFixture t;
    t.slot.action = 3;
    TFormYMU dialog(t.unit.session, t.unit.comm, t.slot);
    EXPECT_FALSE(dialog.Show());
    EXPECT_EQ(t.unit.Messages(), (Strings{"Mode error"}));
    EXPECT_FALSE(static_cast<bool>(t.slot.startTransfer));
    EXPECT_EQ(t.unit.Sent(), "");
    EXPECT_TRUE(dialog.CloseQuery());
}

// The unit's "TRANSFER_RESULT:" line after a whole upload: kvsim's fault
// switch (or a replaced line) makes it report what a failing unit would.
struct TResultCase {
    std::vector<std::string> args;
    std::string message;
    std::string slotShows;  // what the slot holds afterwards
};

class TransferResult : public ::testing::TestWithParam<TResultCase> {};

TEST_P(TransferResult, IsReportedAndTheSlotReadBack)
{
    const TResultCase& c = GetParam();
    TTransferFixture t(c.args);
    WriteFile(t.files / "new.pcm", Pattern(3000, 7));
    t.unit.Read(t.slot);
    t.unit.Sent();
    ASSERT_TRUE(t.Upload(t.slot, t.files / "new.pcm"));
    EXPECT_EQ(t.unit.Messages(), (Strings{c.message}));
    EXPECT_TRUE(Has(t.unit.Sent(), "GET\r60\r")) << "read back after the report";
    EXPECT_EQ(t.messages.Cell(1, 1), c.slotShows);
    EXPECT_EQ(t.slot.action, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Unit, TransferResult,
    ::testing::Values(
        // A unit that reports a failure keeps the file it had.
        TResultCase{{"--transfer-error", "7"}, "YMODEM: error 7", "msg60.pcm"},
        TResultCase{{"--transfer-error", "12"}, "YMODEM: Unknown error", "msg60.pcm"},
        // Here only the line is changed: the unit took the file.
        TResultCase{{"--replace", "TRANSFER_RESULT:OK", "TRANSFER_RESULT:YMODEM_ERR(0)"}, "YMODEM: Unknown error",
                    "new.pcm"},
        TResultCase{{"--replace", "TRANSFER_RESULT:OK", "TRANSFER_RESULT:YMODEM_ERR(x)"},
                    "YMODEM: Incorrect error number format", "new.pcm"},
        TResultCase{{"--replace", "TRANSFER_RESULT:OK", "TRANSFER_RESULT:OK "}, "YMODEM: Unknown error", "new.pcm"},
        TResultCase{{"--drop", "TRANSFER_RESULT:*"}, "YMODEM: Time-out on status reply", "new.pcm"}));

// ---- senders kvsim never is ------------------------------------------------------
//
// The unit is played by rules on a pseudo-terminal (no echo of its own: the
// rules echo the commands), logged in and standing in "PC SYS>".

namespace {

std::string Block(int number, const std::string& data, size_t length)
{
    std::string body = data.substr(0, length);
    body.resize(length, '\0');
    const uint16_t crc = kv::VaCrc16(reinterpret_cast<const uint8_t*>(body.data()), length);
    std::string f(1, length == 128 ? '\x01' : '\x02');
    f += static_cast<char>(number);
    f += static_cast<char>(255 - number);
    return f + body + static_cast<char>(crc >> 8) + static_cast<char>(crc & 0xFF);
}

std::string HeaderBlock(const std::string& name, int size)
{
    return Block(0, name + '\0' + std::to_string(size), 128);
}

const std::string kAck = "\x06", kNak = "\x15", kEot = "\x04";

struct TScriptedUnit {
    TScriptedUnit()
    {
        comm.VaComm1.SetDeviceName(peer.Path());
        comm.VaComm1.Open();
        session.level = 6;
        slot.code = 60;
        slot.menu = 6;
        chosen = files / "keep.pcm";
        WriteFile(chosen, "precious");
        // DLMSG for slot 60, then the unit starts sending.
        peer.On("DLMSG\r", "DLMSG\rN:");
        peer.On("60\r", "60\rSTART\r");
    }
    ~TScriptedUnit() { server.Terminate(); }
    // The slot read back after the transfer.
    void ReadBack(int size)
    {
        peer.On("GET\r", "GET\rN:");
        peer.On("60\r", "60\rMSG=f.pcm " + std::to_string(size) + "\r");
    }
    // Runs the download as the screen does; true when the dialog closed and
    // the jobs after it ended within ms.
    bool Download(int ms)
    {
        slot.action = 40;
        TFormYMU dialog(session, comm, slot, chosen, temp.Path());
        if (!dialog.Show())
            return false;
        const uint64_t end = kv::TickMs() + static_cast<uint64_t>(ms);
        while (!dialog.Closed() && kv::TickMs() < end)
            kv::UiBridge().ProcessEvents(100);
        exitCode = dialog.ExitCode();
        while (server.idle.WaitMs(0) != kv::wrSignaled && kv::TickMs() < end)
            kv::UiBridge().ProcessEvents(100);
        return dialog.Closed() && server.idle.WaitMs(0) == kv::wrSignaled;
    }

    TUiThread ui;
    kv::TScriptedDialogs dialogs;
    kv::TScriptedCollectionDialogs forms;
    TPtyPeer peer{false};
    kv::TFormComm comm;
    kv::TCOMServer server;
    kv::TKvMenu session{comm, server};
    TFile slot;
    TTempDir files, temp;
    std::string chosen;
    int exitCode = 1;
};

}  // namespace

TEST(TransferFromAFaultySender, FileEndingBeforeItsAnnouncedSizeLeavesTheChosenFileAlone)
{
    TScriptedUnit u;
    const std::string data = Pattern(2048, 21);
    u.peer.On("C", HeaderBlock("f.pcm", 5000));
    u.peer.On("C", Block(1, data, 1024));
    u.peer.On(kAck, Block(2, data.substr(1024), 1024));
    u.peer.On(kAck, kEot);
    u.ReadBack(5000);
    ASSERT_TRUE(u.Download(30000)) << "the transfer and its jobs did not end";
    EXPECT_EQ(u.exitCode, kv::vtShortFile);
    EXPECT_EQ(ReadFile(u.chosen), "precious");
    EXPECT_EQ(Names(u.files.Path()), Strings{"keep.pcm"});
    EXPECT_EQ(Names(u.temp.Path()), Strings{}) << "the 2048 bytes that came are gone";
    // The unit's result line never comes here; the slot is read back.
    EXPECT_EQ(u.dialogs.Messages(), Strings{"YMODEM: Time-out on status reply"});
    EXPECT_EQ(u.slot.fileSize, 5000);
}

TEST(TransferFromAFaultySender, NulForABlockHeaderIsAskedForAgainAndTheWholeFileReplacesTheChosenOne)
{
    TScriptedUnit u;
    const std::string data = Pattern(3072, 22);
    u.peer.On("C", HeaderBlock("f.pcm", 3072));
    u.peer.On("C", Block(1, data, 1024));
    u.peer.On(kAck, std::string("\x00\x02\xFD\x00\x00", 5));
    u.peer.On(kNak, Block(2, data.substr(1024, 1024), 1024));
    u.peer.On(kAck, Block(3, data.substr(2048), 1024));
    u.peer.On(kAck, kEot);
    u.peer.On("C", Block(0, "", 128));
    u.ReadBack(3072);
    ASSERT_TRUE(u.Download(30000)) << "the transfer and its jobs did not end";
    EXPECT_EQ(u.exitCode, 0);
    EXPECT_TRUE(ReadFile(u.chosen) == data) << "not 2048 bytes without the second kilobyte";
    EXPECT_EQ(Names(u.temp.Path()), Strings{});
    EXPECT_EQ(u.dialogs.Messages(), Strings{"YMODEM: Time-out on status reply"});
}

// ---- replacing the chosen file ------------------------------------------------

TEST(ReplaceFile, OneRenameOnTheSameFileSystem)
{
    TTempDir dir;
    WriteFile(dir / "received", "new");
    WriteFile(dir / "chosen", "old");
    ::chmod((dir / "chosen").c_str(), 0604);
    struct stat before {};
    ::stat((dir / "received").c_str(), &before);
    std::string error;
    ASSERT_TRUE(kv::ReplaceFile(dir / "received", dir / "chosen", error)) << error;
    struct stat after {};
    ::stat((dir / "chosen").c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino) << "renamed, not copied";
    EXPECT_EQ(after.st_mode & 07777, 0604u) << "the old file's permissions";
    EXPECT_EQ(ReadFile(dir / "chosen"), "new");
    EXPECT_EQ(Names(dir.Path()), Strings{"chosen"});
}

TEST(ReplaceFile, CopyAndRenameAcrossFileSystems)
{
    TTempDir here;
    const std::string other = "/dev/shm";
    struct stat a {}, b {};
    if (::stat(here.Path().c_str(), &a) != 0 || ::stat(other.c_str(), &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system at hand";
    std::string tmpl = other + "/kvcoll-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    const std::string there = tmpl;
    const std::string data = Pattern(100000, 3);
    WriteFile(there + "/received", data);
    WriteFile(here / "chosen", "old");
    std::string error;
    EXPECT_TRUE(kv::ReplaceFile(there + "/received", here / "chosen", error)) << error;
    EXPECT_TRUE(ReadFile(here / "chosen") == data);
    EXPECT_EQ(Names(here.Path()), Strings{"chosen"}) << "no copy left beside it";
    EXPECT_FALSE(fs::exists(there + "/received"));
    fs::remove_all(there);
}

TEST(ReplaceFile, FailureLeavesBothFilesAlone)
{
    TTempDir dir;
    WriteFile(dir / "received", "new");
    std::string error;
    EXPECT_FALSE(kv::ReplaceFile(dir / "received", dir / "no-such-folder/chosen", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadFile(dir / "received"), "new");
    EXPECT_FALSE(kv::ReplaceFile(dir / "missing", dir / "chosen", error));
    EXPECT_FALSE(fs::exists(dir / "chosen"));
}
