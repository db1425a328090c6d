// The settings report against the simulated unit: the catalogue's objects
// are read from kvsim through the session, then the report's bytes are
// compared with files written by hand from the report's layout and kvsim's
// factory values.
#include <gtest/gtest.h>

#include <iconv.h>

#include <fstream>
#include <sstream>

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

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Golden(const std::string& name)
{
    return ReadFile(std::string(KV_GOLDEN_DIR) + "/" + name);
}

// UTF-8 to code page 1251 with the system's converter.
std::string SystemCp1251(const std::string& utf8)
{
    iconv_t cd = iconv_open("CP1251", "UTF-8");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string out(utf8.size(), '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* o = out.data();
    size_t outLeft = out.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &o, &outLeft), static_cast<size_t>(-1));
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

// A golden text file (UTF-8, one report line per file line) as the report's
// bytes: every line end becomes CR LF, the text code page 1251.
std::string GoldenReport(const std::string& name)
{
    std::string text = Golden(name);
    std::string crlf;
    for (char ch : text) {
        if (ch == '\n')
            crlf += '\r';
        crlf += ch;
    }
    return SystemCp1251(crlf);
}

// A golden hex dump: hex byte pairs, '#' to the end of a line is a comment.
std::string GoldenBytes(const std::string& name)
{
    std::istringstream in(Golden(name));
    std::string line, bytes;
    while (std::getline(in, line)) {
        std::istringstream words(line.substr(0, line.find('#')));
        std::string hex;
        while (words >> hex)
            bytes += static_cast<char>(std::stoi(hex, nullptr, 16));
    }
    return bytes;
}

std::vector<std::string> Lines(const std::string& bytes)
{
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t at; (at = bytes.find("\r\n", from)) != std::string::npos; from = at + 2)
        lines.push_back(kv::Cp1251ToUtf8(bytes.substr(from, at - from)));
    if (from < bytes.size())
        lines.push_back(kv::Cp1251ToUtf8(bytes.substr(from)) + "  <- no CR LF at the end");
    return lines;
}

// Byte for byte; on a difference, the first line that differs.
void ExpectSameReport(const std::string& actual, const std::string& expected)
{
    if (actual == expected)
        return;
    const auto a = Lines(actual), e = Lines(expected);
    size_t i = 0;
    while (i < a.size() && i < e.size() && a[i] == e[i])
        ++i;
    ADD_FAILURE() << "report differs at line " << i + 1 << "\n  actual:   '" << (i < a.size() ? a[i] : "<none>")
                  << "'\n  expected: '" << (i < e.size() ? e[i] : "<none>") << "'\n  (" << a.size() << " lines, expected "
                  << e.size() << ")";
}

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
