// The fleet file: what it takes, and each refusal with the line it names,
// before any unit is contacted.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "fleet/FleetFile.h"
#include "tests/support/TempDir.h"

using namespace kv;

namespace {

struct FleetFile : ::testing::Test {
    kvtest::TTempDir dir;

    void SetUp() override
    {
        Write("a.pw", "1234\n", 0600);
        Write("b.pw", "7777", 0400);
    }
    std::string Write(const std::string& name, const std::string& text, mode_t mode = 0644)
    {
        const std::string path = dir / name;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        ::chmod(path.c_str(), mode);
        return path;
    }
    // The error of reading `text` as the fleet file ("" when it was taken).
    std::string Refusal(const std::string& text)
    {
        const std::string path = Write("fleet.toml", text);
        TFleet fleet;
        std::string error;
        if (ReadFleetFile(path, fleet, error))
            return "";
        EXPECT_EQ(error.rfind(path + ", строка ", 0), 0u) << error;
        return error.substr(path.size() + 2);
    }
};

const char* const kTwoUnits = R"(# two offices
repository = "history"
parallel = 2

[[unit]]
name = "office-1"
device = "rfc2217://10.0.0.5:2217"
password-file = "a.pw"

[[unit]]
name = "Office_2"
device = "/dev/ttyUSB0"
password-file = "b.pw"
voice-files = true
timeout = 60
)";

TEST_F(FleetFile, TakesUnitsWithPathsFromTheFilesFolderAndDefaults)
{
    const std::string path = Write("fleet.toml", kTwoUnits);
    TFleet fleet;
    std::string error;
    ASSERT_TRUE(ReadFleetFile(path, fleet, error)) << error;
    EXPECT_EQ(fleet.path, path);
    EXPECT_EQ(fleet.repository, dir / "history");
    EXPECT_EQ(fleet.parallel, 2);
    ASSERT_EQ(fleet.units.size(), 2u);
    const TFleetUnit& a = fleet.units[0];
    EXPECT_EQ(a.name, "office-1");
    EXPECT_EQ(a.device, "rfc2217://10.0.0.5:2217");
    EXPECT_EQ(a.passwordFile, dir / "a.pw");
    EXPECT_FALSE(a.voiceFiles);
    EXPECT_EQ(a.timeout, TFleet::kDefaultTimeout);
    EXPECT_EQ(a.line, 5);
    const TFleetUnit& b = fleet.units[1];
    EXPECT_EQ(b.name, "Office_2");
    EXPECT_TRUE(b.voiceFiles);
    EXPECT_EQ(b.timeout, 60);
    EXPECT_EQ(b.line, 10);
    EXPECT_EQ(fleet.Unit("Office_2"), &fleet.units[1]);
    EXPECT_EQ(fleet.Unit("office-3"), nullptr);

    // The top-level deadline is every unit's unless it has its own.
    std::string withTimeout = kTwoUnits;
    withTimeout.insert(withTimeout.find("parallel"), "timeout = 120\n");
    ASSERT_EQ(Refusal(withTimeout), "");
    TFleet again;
    ASSERT_TRUE(ReadFleetFile(dir / "fleet.toml", again, error)) << error;
    EXPECT_EQ(again.units[0].timeout, 120);
    EXPECT_EQ(again.units[1].timeout, 60);
    EXPECT_EQ(again.parallel, 2);
}

TEST_F(FleetFile, RefusesWhatIsNotRightWithItsLine)
{
    // Not TOML at all.
    EXPECT_EQ(Refusal("repository = \"h\"\nparallel = \n").rfind("строка 2: не TOML", 0), 0u);
    // A key this program does not know, at the top and in a unit.
    EXPECT_EQ(Refusal("repository = \"h\"\nparalel = 3\n[[unit]]\nname = \"a\"\n"), "строка 2: неизвестный ключ \"paralel\"");
    std::string text = kTwoUnits;
    text.insert(text.find("voice-files"), "baud = 19200\n");
    EXPECT_EQ(Refusal(text), "строка 14: неизвестный ключ \"baud\"");
    // A repeated name names both lines.
    text = kTwoUnits;
    text.replace(text.find("Office_2"), 8, "office-1");
    EXPECT_EQ(Refusal(text), "строка 10: имя \"office-1\" уже занято устройством в строке 5");
    // A name that cannot be a folder.
    text = kTwoUnits;
    text.replace(text.find("Office_2"), 8, "../etc");
    EXPECT_EQ(Refusal(text).rfind("строка 11: имя \"../etc\" не годится", 0), 0u);
    text.replace(text.find("../etc"), 6, "офис");
    EXPECT_EQ(Refusal(text).rfind("строка 11: имя \"офис\" не годится", 0), 0u);
    // Values of the wrong type or out of range, and server addresses, which
    // are checked before any unit is contacted: the first of the two units'
    // text with one piece replaced.
    const struct {
        const char* was;
        const char* now;
        const char* refusal;
    } wrong[] = {
        {"parallel = 2", "parallel = 0", "строка 3: \"parallel\" - целое число от 1 до 64"},
        {"voice-files = true", "voice-files = \"yes\"", "строка 14: \"voice-files\" - true или false"},
        {"device = \"/dev/ttyUSB0\"", "device = 5", "строка 12: \"device\" - строка в кавычках"},
        {"\"/dev/ttyUSB0\"", "\"rfc2217://10.0.0.5:70000\"",
         "строка 12: неверный адрес сервера \"rfc2217://10.0.0.5:70000\": порт должен быть от 1 до 65535"},
        {"\"/dev/ttyUSB0\"", "\"tcp://:2217\"", "строка 12: неверный адрес сервера \"tcp://:2217\": не указан сервер"},
        {"\"/dev/ttyUSB0\"", "\"\"", "строка 12: \"device\" пусто"},
    };
    for (const auto& w : wrong) {
        text = kTwoUnits;
        text.replace(text.find(w.was), std::string(w.was).size(), w.now);
        EXPECT_EQ(Refusal(text), w.refusal) << w.now;
    }
    // Missing keys.
    text = kTwoUnits;
    text.erase(text.find("device = \"/dev/ttyUSB0\""), 24);
    EXPECT_EQ(Refusal(text), "строка 10: у устройства \"Office_2\" нет ключа \"device\"");
    EXPECT_EQ(Refusal("parallel = 1\n"), "строка 1: нет ключа \"repository\" (папка истории)");
    EXPECT_EQ(Refusal("repository = \"h\"\n"), "строка 1: нет ни одного устройства ([[unit]])");
    EXPECT_EQ(Refusal("repository = \"h\"\nunit = 3\n"), "строка 2: \"unit\" задаётся таблицами [[unit]]");
}

TEST_F(FleetFile, RefusesAPasswordFileOthersCanReadOrThatIsMissingOrEmpty)
{
    ::chmod((dir / "b.pw").c_str(), 0640);
    EXPECT_EQ(Refusal(kTwoUnits), "строка 13: файл пароля " + (dir / "b.pw") + " доступен не только владельцу (chmod 600 " +
                                      (dir / "b.pw") + ")");
    ::chmod((dir / "b.pw").c_str(), 0604);
    EXPECT_NE(Refusal(kTwoUnits).find("доступен не только владельцу"), std::string::npos);
    ::chmod((dir / "b.pw").c_str(), 0600);
    EXPECT_EQ(Refusal(kTwoUnits), "");

    Write("b.pw", "\nsecond line\n", 0600);
    EXPECT_EQ(Refusal(kTwoUnits), "строка 13: в первой строке файла " + (dir / "b.pw") + " нет пароля");
    ::unlink((dir / "b.pw").c_str());
    EXPECT_EQ(Refusal(kTwoUnits).rfind("строка 13: файл пароля " + (dir / "b.pw") + ": ", 0), 0u);

    std::string password, error;
    Write("c.pw", "4321\r\nrest", 0600);
    ASSERT_TRUE(ReadPasswordFile(dir / "c.pw", password, error)) << error;
    EXPECT_EQ(password, "4321");
}

TEST(FleetUnitName, LettersDigitsDashAndUnderscore)
{
    EXPECT_TRUE(ValidUnitName("office-1"));
    EXPECT_TRUE(ValidUnitName("A_b-9"));
    EXPECT_FALSE(ValidUnitName(""));
    EXPECT_FALSE(ValidUnitName("-rf"));
    EXPECT_FALSE(ValidUnitName("a b"));
    EXPECT_FALSE(ValidUnitName("a/b"));
    EXPECT_FALSE(ValidUnitName(".."));
    EXPECT_FALSE(ValidUnitName(std::string(65, 'a')));
    EXPECT_TRUE(ValidUnitName(std::string(64, 'a')));
}

}  // namespace
