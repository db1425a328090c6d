// The unit behind Debian's ser2net, once as telnet with COM-PORT-OPTION
// (rfc2217://) and once as raw TCP (tcp://), on 127.0.0.1 in front of
// kvsim's pseudo-terminal: a whole session in both modes, voice files with
// every byte value both ways, kvbackup's snapshot against the same over the
// pty, and the server going away in the middle of a transfer.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <fstream>
#include <memory>
#include <random>

#include "collections/File.h"
#include "collections/YModemU.h"
#include "settings/Catalogue.h"
#include "settings/View.h"
#include "tests/support/Ser2Net.h"
#include "tests/support/UnitSession.h"
#include "transfer/VaProtocol.h"

using namespace kv;
using namespace kvtest;

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary) << data;
}

// A voice file in which every byte value occurs, 0xFF in runs too.
std::string EveryByteFile(size_t size, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s;
    for (int b = 0; b < 256; ++b)
        s.push_back(static_cast<char>(b));
    s += std::string(300, '\xFF');
    s += std::string("\r\0\r\n\xFF\xFA\xFF\xF0", 8);
    while (s.size() < size)
        s.push_back(static_cast<char>(gen() & 0xFF));
    s.resize(size);
    return s;
}

const char* KindName(TSer2Net::Kind k)
{
    return k == TSer2Net::Kind::Rfc2217 ? "rfc2217" : "tcp";
}

// kvsim, ser2net in front of it, and the session on the server's address.
struct TNetUnit {
    TNetUnit(TSer2Net::Kind kind, std::vector<std::string> simArgs = {}, const std::string& password = kSystemPassword)
        : unit(std::move(simArgs), password)
    {
        server = std::make_unique<TSer2Net>(unit.sim.Path(), kind);
        unit.comm.VaComm1.SetDeviceName(server->Address());
    }
    TUnitSession unit;
    std::unique_ptr<TSer2Net> server;
};

class UnitOverNetwork : public ::testing::TestWithParam<TSer2Net::Kind> {
protected:
    // Starts the unit and the server; false (the test skips) when ser2net
    // cannot start here.
    bool Start(std::vector<std::string> simArgs = {}, const std::string& password = kSystemPassword)
    {
        try {
            net = std::make_unique<TNetUnit>(GetParam(), std::move(simArgs), password);
        } catch (const std::exception& e) {
            skipReason = e.what();
            return false;
        }
        return true;
    }
    std::unique_ptr<TNetUnit> net;
    std::string skipReason;
};

#define START_OR_SKIP(...)   \
    if (!Start(__VA_ARGS__)) \
    GTEST_SKIP() << "ser2net cannot start here: " << skipReason

struct TSlot {
    explicit TSlot(int code)
    {
        file.code = code;
        file.menu = 6;
        file.grid = &grid;
        file.col = 1;
        file.row = 1;
    }
    TGridModel grid{"sgMessages", 4, 15};
    TFile file;
};

// Runs the transfer dialog as the screen does until it has closed itself
// and the result job has ended.
bool Transfer(TUnitSession& u, TFormYMU& dialog, const std::function<void(TFormYMU&)>& during = {})
{
    if (during)
        dialog.onChange = [&dialog, during] { during(dialog); };
    if (!dialog.Show())
        return false;
    const uint64_t end = TickMs() + 120000;
    while (!dialog.Closed() && TickMs() < end)
        UiBridge().ProcessEvents(100);
    u.session.WaitIdle();
    return dialog.Closed();
}

}  // namespace

TEST_P(UnitOverNetwork, LoginInBothModesReadsAWriteAndItsReadBack)
{
    // Administrator first: the system parameters are not offered.
    {
        START_OR_SKIP({}, kAdminPassword);
        TUnitSession& u = net->unit;
        TCatalogue c;
        u.Read(c.version);
        EXPECT_EQ(u.session.mode, kModeAdmin);
        EXPECT_EQ(c.version.text(), "1.2.3");
        EXPECT_EQ(u.Messages(), Strings{});
        EXPECT_TRUE(u.comm.VaComm1.IsNetwork());
    }
    net.reset();  // one unit and one session at a time
    START_OR_SKIP();
    TUnitSession& u = net->unit;
    TCatalogue c;
    u.Read(c.version);
    EXPECT_EQ(u.session.mode, kModeSystem);
    for (TJoint1* o : std::initializer_list<TJoint1*>{&c.opCode, &c.opNumDay, &c.opNumNight, &c.faxNum, &c.admPwd})
        u.Read(*o);
    for (auto& p : c.sysParams)
        u.Read(*p);
    EXPECT_EQ(u.Messages(), Strings{});
    EXPECT_EQ(c.edtOpNumDay.Text(), "200");
    EXPECT_EQ(c.edtAdmPwd.Text(), "1234");
    EXPECT_EQ(c.sgSysParams.Cell(2, c.SysParam(0)->row), "7777");
    u.Sent();

    u.values.AnswerCode(0);
    u.Edit(c.opCode);
    EXPECT_EQ(u.Sent(), "SET\r100\r0\rGET\r100\r");
    EXPECT_EQ(c.edtOpCode.Text(), "не назначен") << "the value read back";
    u.values.AnswerCode(10);
    u.Edit(c.opCode);
    EXPECT_EQ(u.Sent(), "SET\r100\r10\rGET\r100\r");
    EXPECT_EQ(c.edtOpCode.Text(), "0");
    EXPECT_EQ(u.Messages(), Strings{});

    u.session.Disconnect();
    u.session.WaitIdle();
    EXPECT_EQ(u.session.mode, kModeDisconnected);
    EXPECT_FALSE(u.comm.VaComm1.IsOpen());
}

TEST_P(UnitOverNetwork, VoiceFileWithEveryByteValueGoesUpAndComesBackIdentical)
{
    START_OR_SKIP();
    TUnitSession& u = net->unit;
    TTempDir files, temp;
    TSlot slot(60);
    const std::string data = EveryByteFile(20000, 5);
    WriteAll(files / "all.pcm", data);
    u.Read(slot.file);

    slot.file.localPath = files / "all.pcm";
    slot.file.action = 30;
    TFormYMU up(u.session, u.comm, slot.file);
    ASSERT_TRUE(Transfer(u, up));
    EXPECT_EQ(up.ExitCode(), 0);
    EXPECT_EQ(up.ProgressPos(), 20000);
    EXPECT_EQ(slot.grid.Cell(3, 1), "20000");

    slot.file.action = 40;
    TFormYMU down(u.session, u.comm, slot.file, files / "back.pcm", temp.Path());
    ASSERT_TRUE(Transfer(u, down));
    EXPECT_EQ(down.ExitCode(), 0);
    EXPECT_TRUE(ReadAll(files / "back.pcm") == data) << "byte-identical";
    EXPECT_EQ(u.Messages(), Strings{});
}

TEST_P(UnitOverNetwork, ServerKilledInTheMiddleOfATransferGivesOneMessageAndModeZero)
{
    TStateFile state({"file slot 61 long.pcm 60000 tone"});
    for (int action : {40, 30}) {
        START_OR_SKIP({"--state", state.Path(), "--baud", "19200"});
        TUnitSession& u = net->unit;
        TTempDir files, temp;
        TSlot slot(61);
        u.Read(slot.file);
        const std::string chosen = files / "keep.pcm";
        WriteAll(chosen, action == 30 ? EveryByteFile(60000, 7) : "precious");
        slot.file.localPath = chosen;
        slot.file.action = action;
        TFormYMU dialog(u.session, u.comm, slot.file, action == 40 ? chosen : "", temp.Path());
        bool killed = false;
        ASSERT_TRUE(Transfer(u, dialog, [&](TFormYMU& d) {
            if (!killed && d.ProgressPos() >= 4096) {
                killed = true;
                net->server->Kill();
            }
        })) << action;
        EXPECT_TRUE(killed) << action;
        EXPECT_EQ(dialog.ExitCode(), vtLineLost) << action;
        EXPECT_EQ(u.Messages(), Strings{"COM1: Устройство отключено."}) << action;
        EXPECT_EQ(u.session.mode, kModeDisconnected) << action;
        EXPECT_FALSE(u.comm.VaComm1.IsOpen()) << action;
        if (action == 40) {
            EXPECT_EQ(ReadAll(chosen), "precious");
        }
        net.reset();
    }
}

INSTANTIATE_TEST_SUITE_P(Ser2Net, UnitOverNetwork, ::testing::Values(TSer2Net::Kind::Rfc2217, TSer2Net::Kind::Tcp),
                         [](const auto& kind) { return KindName(kind.param); });

#ifdef KVBACKUP_PATH
namespace {

struct TRun {
    int status = -1;
    std::string err;
};

TRun Kvbackup(const TTempDir& dir, const std::string& device, const std::string& file)
{
    const std::string command = std::string("setsid -w '") + KVBACKUP_PATH + "' --password-file '" + (dir / "pw") +
                                "' '" + device + "' snapshot '" + file + "' </dev/null >/dev/null 2>'" +
                                (dir / "err") + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadAll(dir / "err")};
}

// The snapshot without its first two lines (when it was taken, the device).
std::string Body(const std::string& snapshot)
{
    size_t at = 0;
    for (int i = 0; i < 3 && at != std::string::npos; ++i)
        at = snapshot.find('\n', at) + 1;
    return at == std::string::npos ? snapshot : snapshot.substr(at);
}

}  // namespace

TEST(KvbackupOverNetwork, SnapshotThroughTheServerIsTheSnapshotOverThePty)
{
    TTempDir dir;
    WriteAll(dir / "pw", std::string(kSystemPassword) + "\n");
    SimProcess sim;
    const TRun local = Kvbackup(dir, sim.Path(), dir / "pty.kvs");
    ASSERT_EQ(local.status, 0) << local.err;
    const std::string reference = ReadAll(dir / "pty.kvs");
    ASSERT_NE(reference.find("\ndevice " + sim.Path() + "\n"), std::string::npos);
    for (auto kind : {TSer2Net::Kind::Rfc2217, TSer2Net::Kind::Tcp}) {
        std::unique_ptr<TSer2Net> server;
        try {
            server = std::make_unique<TSer2Net>(sim.Path(), kind);
        } catch (const std::exception& e) {
            GTEST_SKIP() << "ser2net cannot start here: " << e.what();
        }
        const std::string file = dir / (std::string(KindName(kind)) + ".kvs");
        const TRun r = Kvbackup(dir, server->Address(), file);
        ASSERT_EQ(r.status, 0) << KindName(kind) << ": " << r.err;
        const std::string snapshot = ReadAll(file);
        EXPECT_NE(snapshot.find("\ndevice " + server->Address() + "\n"), std::string::npos) << snapshot.substr(0, 200);
        EXPECT_EQ(Body(snapshot), Body(reference)) << KindName(kind);
    }
    // An address of the wrong form is refused before anything is tried.
    const TRun bad = Kvbackup(dir, "rfc2217://host-without-port", dir / "bad.kvs");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("rfc2217://host-without-port"), std::string::npos) << bad.err;
}
#endif
