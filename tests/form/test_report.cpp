// The settings report against the simulated unit: the catalogue's objects
// are read from kvsim through the session, then the report's bytes are
// compared with files written by hand from the report's layout and kvsim's
// factory values.
#include <gtest/gtest.h>

#include "Golden.h"
#include "tests/support/UnitSession.h"
#include "collections/Factory.h"
#include "collections/ListDlg.h"
#include "collections/MailDlg.h"
#include "collections/MenuDlg.h"
#include "session/Cp1251.h"
#include "session/KvMenu.h"
#include "settings/Catalogue.h"
#include "ui/Export.h"

using namespace kvtest;

namespace {

// The unit and the window's catalogue, read tab by tab as the export does.
struct TReportFixture {
    explicit TReportFixture(std::vector<std::string> args = {}, const std::string& password = kSystemPassword)
        : unit(std::move(args), password)
    {
    }

    void LoadAll()
    {
        unit.Read(c.version);
        for (kv::TJoint1* o : {c.extensionList.joint(), static_cast<kv::TJoint1*>(&c.opCode), static_cast<kv::TJoint1*>(&c.opNumDay),
                               static_cast<kv::TJoint1*>(&c.opNumNight), static_cast<kv::TJoint1*>(&c.faxNum),
                               static_cast<kv::TJoint1*>(&c.admPwd)})
            unit.Read(*o);
        for (auto& g : c.greetings)
            unit.Read(*g);
        for (size_t i = 0; i < 7; ++i) {
            unit.Read(c.workStart[i]);
            unit.Read(c.workEnd[i]);
        }
        unit.Read(c.holiday);
        for (auto& m : c.voiceMenus)
            unit.Read(*m);
        unit.Read(*c.mailboxes);
        if (unit.session.mode != kv::kModeSystem)
            return;
        for (auto& p : c.sysParams)
            unit.Read(*p);
        for (size_t i = 0; i < 6; ++i)
            for (kv::TJoint1* o : {static_cast<kv::TJoint1*>(&c.greetReplace[i]), static_cast<kv::TJoint1*>(&c.menuDay[i]),
                                   static_cast<kv::TJoint1*>(&c.menuNight[i]), static_cast<kv::TJoint1*>(&c.menuHoliday[i]),
                                   static_cast<kv::TJoint1*>(&c.menuTransfer[i])})
                unit.Read(*o);
        for (auto& m : c.messages)
            unit.Read(*m);
    }

    TUnitSession unit;
    kv::TCatalogue c{kv::CollectionFactory()};
};

bool HasText(const std::string& bytes, const std::string& utf8)
{
    return bytes.find(SystemCp1251(utf8)) != std::string::npos;
}

}  // namespace

// kvsim's factory state read in one mode, against the golden file of that mode.
static void ExpectFactoryReport(const std::string& password, int mode, const std::string& golden)
{
    TReportFixture t({}, password);
    t.LoadAll();
    ASSERT_EQ(t.unit.session.mode, mode);
    EXPECT_TRUE(t.unit.Messages().empty());

    const std::string report = kv::BuildReport(t.c, t.unit.session.mode);
    ExpectSameReport(report, GoldenReport(golden));
    const std::string head = GoldenBytes("factory-head.hex");
    EXPECT_EQ(report.substr(0, head.size()), head) << "the first eleven lines, byte by byte";
}

TEST(Report, FactoryStateInSystemMode)
{
    ExpectFactoryReport(kSystemPassword, kv::kModeSystem, "factory-system.txt");
}

TEST(Report, FactoryStateInAdministratorMode)
{
    ExpectFactoryReport(kAdminPassword, kv::kModeAdmin, "factory-admin.txt");
}

// A unit far from its factory state: a schedule of 08:00-17:00, a line that
// does not replace its greetings beside lines that do, a last menu of its
// own, more mailboxes than the grid was laid out for, an empty extension
// list.
TEST(Report, EdgeCasesOfTheLayout)
{
    std::vector<std::string> state = {"param 111 800",  "param 112 1700", "param 501 0",   "param 511 9",
                                      "param 502 2",    "param 512 5",    "param 522 6",   "param 532 7",
                                      "param 542 39",   "param 506 3",    "param 516 1",   "menu 19 0 M5 - - - - - - - - N219"};
    for (int i = 1; i <= 17; ++i)
        state.push_back("mailbox " + (i == 17 ? std::string("Иван") : "b" + std::to_string(i)) + " " + std::to_string(60 * i));
    TStateFile file(state);
    TReportFixture t({"--state", file.Path(), "--mail-memory", "72000"});
    t.LoadAll();
    ASSERT_EQ(t.unit.session.mode, kv::kModeSystem);
    EXPECT_TRUE(t.unit.Messages().empty());

    // The replacement menus come from the stored numbers, whatever a cell shows.
    t.c.sgGreetOverride.SetCell(3, 2, "стёрто");
    const std::string report = kv::BuildReport(t.c, t.unit.session.mode);

    EXPECT_TRUE(HasText(report, "\r\nДобавочные номера:       \r\n")) << "an empty list";
    EXPECT_TRUE(HasText(report, "\r\nПонедельник: 08:00-17:00\r\nВторник:     09:00-18:00\r\n"));
    EXPECT_TRUE(HasText(report, "\r\n****Замена приветствий голосовыми меню\r\n"
                            "Линия 1: \r\nНе заменять\r\n"
                            "Линия 2: \r\n2 (Приветствия + меню перевода вызова), День: 5, Ночь: 6, Праздник: 7, Перевод: 39\r\n"
                            "Линия 3: \r\nНе заменять\r\n"))
        << "line 1 is position 0 although its day menu is 9";
    EXPECT_TRUE(HasText(report, "\r\nЛиния 6: \r\n3 (Приветствия + меню перевода вызова (кроме вызова оператора), День: 1, Ночь: 0, "
                            "Праздник: 0, Перевод: 0\r\n\r\n****Замена сообщений\r\n"));
    EXPECT_TRUE(HasText(report, "\r\nМеню 18: \r\nФайл: не назначен\r\nДействие на 0: -\r\n"));
    EXPECT_TRUE(HasText(report, "\r\nМеню 19: \r\nФайл: не назначен\r\nДействие на 0: M5\r\nДействие на 1: -\r\n"));
    EXPECT_TRUE(HasText(report, "Действие на 9: N219\r\n\r\n\r\n****Почта \r\n")) << "menu 19 is the last entry";

    std::string mail = "\r\n****Почта \r\n";
    for (int i = 1; i <= 16; ++i)
        mail += "b" + std::to_string(i) + kv::Format(": %.2d:00\r\n", i);
    mail += "Иван: 17:00\r\n\r\n\r\n****Системные параметры\r\n";
    EXPECT_TRUE(HasText(report, mail)) << "all seventeen mailboxes";
    EXPECT_NE(report.find("\xc8\xe2\xe0\xed: 17:00"), std::string::npos) << "the owner in code page 1251";
}
