// A unit that stops answering (kvsim stopped with SIGSTOP) in the middle of
// an action of the window: the action ends with the one message of the
// exchange that found the line silent, the jobs it had not started are not
// started, a tab whose load did not read every value is read again later,
// and a value never read is not shown or exported as a value.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include "ScriptedForm.h"
#include "SimProcess.h"
#include "tests/support/ScriptedCollectionDialogs.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/ScriptedValueDialogs.h"
#include "tests/support/UnitSession.h"
#include "session/Cp1251.h"
#include "ui/Export.h"
#include "ui/Unit1.h"

using namespace kv;
using namespace kvtest;

namespace {

// Stops the unit just before the tool writes `trigger` (one write of the
// line, as the transport sends it), so the exchange that writes it finds
// the line silent. Passes everything on to the watcher it replaces.
class TStallBefore : public TLineObserver {
public:
    TStallBefore(TFormComm& comm, SimProcess& sim, std::string trigger, int signal = SIGSTOP)
        : comm_(comm), sim_(sim), trigger_(std::move(trigger)), signal_(signal), next_(comm.LineObserver())
    {
        comm_.SetLineObserver(this);
    }
    ~TStallBefore() override { comm_.SetLineObserver(next_); }

    bool Fired() const { return fired_.load(); }

    void LineOpened(const std::string& device) override
    {
        if (next_)
            next_->LineOpened(device);
    }
    void LineClosed() override
    {
        if (next_)
            next_->LineClosed();
    }
    void LineSent(const std::string& bytes, bool secret) override
    {
        if (bytes == trigger_ && !fired_.exchange(true))
            ::kill(sim_.Pid(), signal_);
        if (next_)
            next_->LineSent(bytes, secret);
    }
    void LineReceived(const uint8_t* data, size_t count) override
    {
        if (next_)
            next_->LineReceived(data, count);
    }
    void TransferStarted() override
    {
        if (next_)
            next_->TransferStarted();
    }
    void TransferEnded(const TTransferRecord& record) override
    {
        if (next_)
            next_->TransferEnded(record);
    }

private:
    TFormComm& comm_;
    SimProcess& sim_;
    std::string trigger_;
    int signal_;
    TLineObserver* next_;
    std::atomic<bool> fired_{false};
};

std::string ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

struct SilentUnit : ::testing::Test {
    TUiThread ui;
    TScriptedDialogs dialogs;
    TScriptedValueDialogs values;
    TScriptedCollectionDialogs collections;
    std::unique_ptr<SimProcess> sim;
    TMemorySettingsStore store;
    TScriptedForm1View view;
    std::unique_ptr<TForm1> form;
    TTempDir dir;
    size_t mark = 0;

    void TearDown() override
    {
        if (sim)
            ::kill(sim->Pid(), SIGCONT);
        form.reset();
    }
    void Connect(const std::string& password, int tab)
    {
        sim = std::make_unique<SimProcess>();
        store.values[DeviceKey(1)] = sim->Path();
        form = std::make_unique<TForm1>(view, store, "kv20rcfg");
        view.currentTab = tab;
        dialogs.AnswerPassword(password);
        form->btnConnectClick();
        ASSERT_NE(form->Session().mode, kModeDisconnected);
        mark = sim->BytesFromTool().size();
        dialogs.Clear();
        // The unit answers again once the user has seen the first message.
        dialogs.OnShow([this](const TScriptedDialogs::TShown&) { ::kill(sim->Pid(), SIGCONT); });
    }
    std::string Sent() const { return sim->BytesFromTool().substr(mark); }
    void ExportTo(const std::string& path)
    {
        view.exportNames.push_back(path);
        form->btnExportClick();
    }
};

// Stalled while "Системные параметры" reads parameter 20: one message, no
// parameter after it is asked for, the tab is not marked as read and its
// unread values say so. The export then reads the tab again (logging in
// afresh, since the unit may stand anywhere) and reports what the unit holds.
TEST_F(SilentUnit, AStalledTabLoadGivesOneMessageAndTheExportReadsTheTabAgain)
{
    Connect("7777", kTabNumbers);
    TCatalogue& c = form->Catalogue();
    TJoint1* p20 = nullptr;
    int row20 = 0;
    for (int row = 1; row < c.sgSysParams.RowCount(); ++row)
        if (TJoint1* o = c.sgSysParams.Object(2, row); o && o->code == 20) {
            p20 = o;
            row20 = row;
        }
    ASSERT_NE(p20, nullptr);
    {
        TStallBefore stall(form->Comm(), *sim, "20\r");
        form->TabShown(kTabSysParams);
        EXPECT_TRUE(stall.Fired());
    }
    EXPECT_EQ(dialogs.Messages(), (Strings{"SendGet: Bad Transactions"}));
    const std::string sent = Sent();
    EXPECT_TRUE(Has(sent, "GET\r18\r"));
    EXPECT_FALSE(Has(sent, "GET\r21\r")) << "nothing is asked after the silent exchange";
    EXPECT_FALSE(form->loaded[kTabSysParams]);
    EXPECT_EQ(form->BusyCount(), 0);
    EXPECT_FALSE(p20->valueRead);
    EXPECT_EQ(p20->text(), TJoint1::kNotRead);
    EXPECT_NE(c.sgSysParams.Cell(2, row20), "Не назначен");
    EXPECT_EQ(form->Session().mode, kModeSystem);

    // The unit answers again: the export reads the tab again, in full.
    const std::string path = dir / "settings.txt";
    ExportTo(path);
    EXPECT_EQ(dialogs.Messages(), (Strings{"SendGet: Bad Transactions"}));
    EXPECT_TRUE(form->loaded[kTabSysParams]);
    EXPECT_TRUE(p20->valueRead);
    EXPECT_EQ(c.sgSysParams.Cell(2, row20), "*1");
    const std::string report = ReadFile(path);
    EXPECT_TRUE(std::regex_search(report, std::regex("\r\n20 - [^\r]*: \\*1\r\n"))) << report;
    EXPECT_EQ(report.find(Utf8ToCp1251(TJoint1::kNotRead)), std::string::npos) << report;
}

const char* const kOldReport = "last week's report\r\n";

// Stalled at the export's first read: the export ends with one message,
// which says the report was not written and why, starts no read of the
// tabs after it, and leaves the old report as it was.
TEST_F(SilentUnit, AStalledExportGivesOneMessageAndReadsNoFurther)
{
    Connect("7777", kTabNumbers);
    const std::string path = dir / "settings.txt";
    std::ofstream(path, std::ios::binary) << kOldReport;
    {
        TStallBefore stall(form->Comm(), *sim, "GET\r");
        ExportTo(path);
        EXPECT_TRUE(stall.Fired());
    }
    EXPECT_EQ(dialogs.Messages(),
              (Strings{std::string(kReportNotWritten) + "связь с устройством прервана.\nSendGet: Bad Transactions"}));
    EXPECT_EQ(ReadFile(path), kOldReport);
    EXPECT_LE(Count(Sent(), "GET\r"), 1) << "no read after the silent one";
    for (int tab : {kTabGreetings, kTabTime, kTabMenu, kTabMail, kTabSysParams, kTabMessages})
        EXPECT_FALSE(form->loaded[static_cast<size_t>(tab)]) << tab;
    EXPECT_EQ(form->BusyCount(), 0);
    EXPECT_EQ(form->Session().mode, kModeSystem);

    // The next action logs in again and reads as usual.
    dialogs.Clear();
    form->TabShown(kTabTime);
    EXPECT_TRUE(dialogs.Messages().empty());
    EXPECT_TRUE(form->loaded[kTabTime]);
}

// The unit killed as the export reads the voice menus: one message saying
// the report was not written, the old report byte for byte, no other file.
TEST_F(SilentUnit, AnExportWhoseUnitIsKilledLeavesTheOldReport)
{
    Connect("7777", kTabNumbers);
    const std::string path = dir / "settings.txt";
    std::ofstream(path, std::ios::binary) << kOldReport;
    {
        TStallBefore kill(form->Comm(), *sim, "MENU\r", SIGKILL);
        ExportTo(path);
        EXPECT_TRUE(kill.Fired());
    }
    ASSERT_EQ(dialogs.Messages().size(), 1u) << ::testing::PrintToString(dialogs.Messages());
    EXPECT_EQ(dialogs.Messages()[0].rfind(std::string(kReportNotWritten) + "связь с устройством прервана.", 0), 0u)
        << dialogs.Messages()[0];
    EXPECT_EQ(ReadFile(path), kOldReport);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()), 1);
    EXPECT_EQ(form->Session().mode, kModeDisconnected);
    EXPECT_EQ(form->BusyCount(), 0);
}

}  // namespace
