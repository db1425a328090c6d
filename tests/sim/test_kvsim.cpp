// The simulated unit over its pseudo-terminal: login, menus, parameters, the
// clock, lists, mailboxes, voice menus, the state file and the transcript.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "SimTalk.h"

namespace kv {
namespace {

TEST(KvsimLogin, PasswordsGiveTheirModesAndWrongOnesAreRefused) {
  SimTalk u;
  // The wake-up bytes are echoed and answered with nothing.
  u.line.Write(std::string(9, '\x18') + std::string(16, '\r'));
  EXPECT_EQ(u.line.Drain(100), std::string(9, '\x18') + std::string(16, '\r'));
  EXPECT_EQ(u.Say(kAccess, "Password:"), kAccess + "\rPassword:");
  EXPECT_EQ(u.Say("", "Password:"), "\rPassword:");
  EXPECT_EQ(u.Say("1111", "Password:"), "1111\rERROR\rPassword:");
  EXPECT_EQ(u.Say("1234", ">"), "1234\rADMIN_MODE\r>");
  EXPECT_EQ(u.line.Drain(50), "");  // the prompt is the last thing sent

  // Logout, then the system password.
  u.line.Write(std::string(5, '\x18') + std::string(9, '\r'));
  EXPECT_EQ(u.line.Drain(100), std::string(5, '\x18') + std::string(9, '\r'));
  EXPECT_EQ(u.Say(kAccess, "Password:"), kAccess + "\rPassword:");
  EXPECT_EQ(u.Say("7777", ">"), "7777\rSYSTEM_MODE\r>");
}

TEST(KvsimLogin, PasswordFlagsAndBusyCount) {
  SimTalk u({"--admin-password", "42", "--system-password", "99", "--busy=1"});
  u.line.Write(std::string(9, '\x18') + std::string(16, '\r'));
  u.Say(kAccess, "Password:");
  EXPECT_EQ(u.Say("42", "Password:"), "42\rBUSY\rPassword:");
  EXPECT_EQ(u.Say("1234", "Password:"), "1234\rERROR\rPassword:");  // the factory one no longer
  EXPECT_EQ(u.Say("99", ">"), "99\rSYSTEM_MODE\r>");
  u.Say("PC", "PC>");
  u.Say("SYS", "PC SYS>");
  u.Say("GET", "N:");
  EXPECT_EQ(u.Say("104", "PC SYS>"), "104\r=42\rPC SYS>");
}

TEST(KvsimMenus, EveryMenuItsPromptAndBackWithAnEmptyLine) {
  SimTalk u;
  EXPECT_EQ(u.Login("1234"), "1234\rADMIN_MODE\r>");
  EXPECT_EQ(u.Say("PC", ">"), "PC\rPC>");
  for (std::string m : {"SYS", "LIST", "MAIL", "MENU", "TIME"}) {
    EXPECT_EQ(u.Say(m, ">"), m + "\rPC " + m + ">");
    EXPECT_EQ(u.Say("", ">"), "\rPC>");
  }
  EXPECT_EQ(u.Say("NOPE", ">"), "NOPE\rERROR\rPC>");
  EXPECT_EQ(u.Say("", ">"), "\r>");
  EXPECT_EQ(u.Say("PC", ">"), "PC\rPC>");
  // A CAN in the middle of a command logs out: the next line is not a command.
  u.Say("SYS", "PC SYS>");
  EXPECT_EQ(u.Say("SET", "N:"), "SET\rN:");
  u.line.Write("\x18\r");
  u.line.Write("GET\r");
  EXPECT_EQ(u.line.Drain(150), "\x18\rGET\r");
  EXPECT_EQ(u.Login("1234"), "1234\rADMIN_MODE\r>");
}

TEST(KvsimSys, EveryParameterAnswersWithItsFactoryValue) {
  SimTalk u;
  u.Enter("SYS");
  auto get = [&](const std::string& code) {
    u.Say("GET", "N:");
    std::string r = u.Say(code, "PC SYS>");
    return r.substr(code.size() + 1, r.size() - code.size() - 1 - 8);  // between echo and "\rPC SYS>"
  };
  EXPECT_EQ(get("999"), "=10203");
  EXPECT_EQ(get("0"), "=7777");
  EXPECT_EQ(get("00"), "=7777");
  EXPECT_EQ(get("100"), "=10");
  EXPECT_EQ(get("103"), "=");
  EXPECT_EQ(get("104"), "=1234");
  EXPECT_EQ(get("110"), "=0");
  for (int day = 0; day < 5; ++day) {
    EXPECT_EQ(get(std::to_string(111 + 2 * day)), "=900");
    EXPECT_EQ(get(std::to_string(112 + 2 * day)), "=1800");
  }
  EXPECT_EQ(get("123"), "=0");
  for (int code : {1, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21, 22, 23, 24, 25, 30, 31, 32, 40, 41, 42, 43, 44,
                   80, 81, 82, 83, 90, 91, 92, 93, 94, 95, 96, 97, 98, 99, 101, 102, 501, 506, 511, 524, 546}) {
    std::string v = get(std::to_string(code));
    EXPECT_EQ(v.substr(0, 1), "=") << code;
  }
  for (std::string unknown : {"2", "19", "105", "125", "500", "547", "1000", "x", ""}) {
    u.Say("GET", "N:");
    EXPECT_EQ(u.Say(unknown, "PC SYS>"), unknown + "\rERROR\rPC SYS>") << unknown;
  }
}

TEST(KvsimSys, WritesAreCheckedByKindAndReadBack) {
  SimTalk u;
  u.Enter("SYS");
  auto set = [&](const std::string& code, const std::string& value) {
    EXPECT_EQ(u.Say("SET", "N:"), "SET\rN:");
    EXPECT_EQ(u.Say(code, "="), code + "\rV=");
    return u.Say(value, "PC SYS>");
  };
  auto get = [&](const std::string& code) {
    u.Say("GET", "N:");
    return u.Say(code, "PC SYS>");
  };
  const std::string ok = "\rOK\rPC SYS>", refused = "\rERROR\rPC SYS>";
  // Digit strings: length limits and the star.
  EXPECT_EQ(set("101", "12345678"), "12345678" + ok);
  EXPECT_EQ(get("101"), "101\r=12345678\rPC SYS>");
  EXPECT_EQ(set("101", "123456789"), "123456789" + refused);
  EXPECT_EQ(set("101", "12*"), "12*" + refused);
  EXPECT_EQ(set("101", ""), ok);
  EXPECT_EQ(get("101"), "101\r=\rPC SYS>");
  EXPECT_EQ(set("104", ""), refused);  // the password needs a digit
  EXPECT_EQ(set("0", "12#"), "12#" + refused);
  EXPECT_EQ(set("20", "*9*9"), "*9*9" + ok);
  EXPECT_EQ(set("20", std::string(25, '1')), std::string(25, '1') + refused);
  EXPECT_EQ(set("30", "*12345678"), "*12345678" + refused);
  // Numbers, choices, on/off, times.
  EXPECT_EQ(set("12", "999"), "999" + ok);
  EXPECT_EQ(set("12", "1000"), "1000" + refused);
  EXPECT_EQ(set("15", "0"), "0" + refused);
  EXPECT_EQ(set("15", "020"), "020" + ok);
  EXPECT_EQ(get("15"), "15\r=20\rPC SYS>");
  EXPECT_EQ(set("15", "-1"), "-1" + refused);
  EXPECT_EQ(set("1", "2"), "2" + ok);
  EXPECT_EQ(set("1", "3"), "3" + refused);
  EXPECT_EQ(set("110", "1"), "1" + ok);
  EXPECT_EQ(set("110", "2"), "2" + refused);
  EXPECT_EQ(set("100", "10"), "10" + ok);
  EXPECT_EQ(set("100", "11"), "11" + refused);
  EXPECT_EQ(set("111", "2359"), "2359" + ok);
  EXPECT_EQ(set("111", "2360"), "2360" + refused);
  EXPECT_EQ(set("111", "2400"), "2400" + refused);
  EXPECT_EQ(set("111", "5"), "5" + ok);
  EXPECT_EQ(get("111"), "111\r=5\rPC SYS>");
  EXPECT_EQ(set("503", "3"), "3" + ok);
  EXPECT_EQ(set("503", "4"), "4" + refused);
  EXPECT_EQ(set("546", "39"), "39" + ok);
  EXPECT_EQ(set("546", "40"), "40" + refused);
  EXPECT_EQ(set("12", "abc"), "abc" + refused);
  // The version and unknown codes are refused before a value is asked.
  for (std::string code : {"999", "105", "74"}) {
    u.Say("SET", "N:");
    EXPECT_EQ(u.Say(code, "PC SYS>"), code + refused);
  }
}

TEST(KvsimSys, AdministratorModeKeepsTheSystemParametersAndMessagesClosed) {
  SimTalk u;
  u.Enter("SYS", "1234");
  for (std::string code : {"0", "12", "99", "60"}) {
    u.Say("GET", "N:");
    EXPECT_EQ(u.Say(code, "PC SYS>"), code + "\rERROR\rPC SYS>");
  }
  u.Say("GET", "N:");
  EXPECT_EQ(u.Say("101", "PC SYS>"), "101\r=200\rPC SYS>");
  u.Say("SET", "N:");
  EXPECT_EQ(u.Say("511", "="), "511\rV=");
  EXPECT_EQ(u.Say("7", "PC SYS>"), "7\rOK\rPC SYS>");
}

TEST(KvsimSys, ServiceMessageSlots) {
  SimTalk u;
  u.Enter("SYS");
  u.Say("GET", "N:");
  EXPECT_EQ(u.Say("60", "PC SYS>"), "60\rMSG=msg60.pcm 16000\rPC SYS>");
  u.Say("GET", "N:");
  EXPECT_EQ(u.Say("73", "PC SYS>"), "73\rMSG=\rPC SYS>");
  u.Say("CLEAR", "N:");
  EXPECT_EQ(u.Say("61", "PC SYS>"), "61\rOK\rPC SYS>");
  u.Say("GET", "N:");
  EXPECT_EQ(u.Say("61", "PC SYS>"), "61\rMSG=\rPC SYS>");
  u.Say("CLEAR", "N:");
  EXPECT_EQ(u.Say("74", "PC SYS>"), "74\rERROR\rPC SYS>");
  u.Say("DLMSG", "N:");
  EXPECT_EQ(u.Say("61", "PC SYS>"), "61\rERROR\rPC SYS>");  // nothing to send
}

TEST(KvsimTime, ClockReadsSetsAndRuns) {
  SimTalk u({"--clock", "311229235958"});
  u.Enter("TIME");
  std::string r = u.Say("GET", "PC TIME>");
  EXPECT_TRUE(r == "GET\r311229235958\rPC TIME>" || r == "GET\r311229235959\rPC TIME>") << r;
  for (std::string bad : {"310229120000", "290201120000", "011326000000", "010126240000", "010126006000",
                          "0101260000", "01012600000a", "0101260000000"}) {
    EXPECT_EQ(u.Say("SET", "T:"), "SET\rT:");
    EXPECT_EQ(u.Say(bad, "PC TIME>"), bad + "\rERROR\rPC TIME>");
  }
  u.Say("SET", "T:");
  EXPECT_EQ(u.Say("290228235959", "PC TIME>"), "290228235959\rOK\rPC TIME>");
  r = u.Say("GET", "PC TIME>");
  EXPECT_TRUE(r == "GET\r290228235959\rPC TIME>" || r == "GET\r010328000000\rPC TIME>") << r;
  // A second later it has moved on into March.
  EXPECT_EQ(u.line.Drain(1100), "");
  r = u.Say("GET", "PC TIME>");
  EXPECT_EQ(r.substr(0, 13), "GET\r010328000") << r;
}

TEST(KvsimList, GetAllAddRemoveAndLimits) {
  SimTalk u({"--list-size", "3"});
  u.Enter("LIST");
  EXPECT_EQ(u.Say("GETALL", "PC LIST>"), "GETALL\r201-210\r220\rPC LIST>");
  // The access string after GETALL gets a one-line answer and the prompt.
  EXPECT_EQ(u.Say(kAccess, "PC LIST>"), kAccess + "\rERROR\rPC LIST>");
  u.Say("ADD", "N:");
  EXPECT_EQ(u.Say("219-210", "PC LIST>"), "219-210\rERROR\rPC LIST>");
  u.Say("ADD", "N:");
  EXPECT_EQ(u.Say("2a", "PC LIST>"), "2a\rERROR\rPC LIST>");
  u.Say("ADD", "N:");
  EXPECT_EQ(u.Say("300", "PC LIST>"), "300\rOK\rPC LIST>");
  u.Say("ADD", "N:");
  EXPECT_EQ(u.Say("301", "PC LIST>"), "301\rNO_FREE_MEM\rPC LIST>");
  // Cutting a number out of a range needs one more entry than there is room for.
  u.Say("REMOVE", "N:");
  EXPECT_EQ(u.Say("205", "PC LIST>"), "205\rNO_FREE_MEM\rPC LIST>");
  u.Say("REMOVE", "N:");
  EXPECT_EQ(u.Say("300", "PC LIST>"), "300\rOK\rPC LIST>");
  u.Say("REMOVE", "N:");
  EXPECT_EQ(u.Say("205", "PC LIST>"), "205\rOK\rPC LIST>");
  EXPECT_EQ(u.Say("GETALL", "PC LIST>"), "GETALL\r201-204\r206-210\r220\rPC LIST>");
  u.Say("REMOVE", "N:");
  EXPECT_EQ(u.Say("230", "PC LIST>"), "230\rERROR\rPC LIST>");
  for (std::string e : {"201-204", "206-210", "220"}) {
    u.Say("REMOVE", "N:");
    EXPECT_EQ(u.Say(e, "PC LIST>"), e + "\rOK\rPC LIST>");
  }
  EXPECT_EQ(u.Say("GETALL", "PC LIST>"), "GETALL\rPC LIST>");
}

TEST(KvsimMail, CreateEditDeleteAndTheirRefusals) {
  SimTalk u({"--mailboxes", "2", "--mail-memory", "5400"});
  u.Enter("MAIL");
  EXPECT_EQ(u.Say("GETALL", "PC MAIL>"), "GETALL\rN=999 S=600\rFREE=4800\rPC MAIL>");
  EXPECT_EQ(u.Say("CREATE", "N:"), "CREATE\rN:");
  EXPECT_EQ(u.Say("999", "PC MAIL>"), "999\rERROR\rPC MAIL>");  // taken
  u.Say("CREATE", "N:");
  EXPECT_EQ(u.Say("", "PC MAIL>"), "\rERROR\rPC MAIL>");
  u.Say("CREATE", "N:");
  EXPECT_EQ(u.Say("Ivanov", "S:"), "Ivanov\rS:");
  EXPECT_EQ(u.Say("4801", "PC MAIL>"), "4801\rNO_FREE_MEM\rPC MAIL>");
  u.Say("CREATE", "N:");
  u.Say("Ivanov", "S:");
  EXPECT_EQ(u.Say("12x", "PC MAIL>"), "12x\rERROR\rPC MAIL>");
  u.Say("CREATE", "N:");
  u.Say("Ivanov", "S:");
  EXPECT_EQ(u.Say("7200", "PC MAIL>"), "7200\rNO_FREE_MEM\rPC MAIL>");
  u.Say("CREATE", "N:");
  u.Say("Ivanov", "S:");
  EXPECT_EQ(u.Say("4800", "PC MAIL>"), "4800\rOK\rPC MAIL>");
  EXPECT_EQ(u.Say("GETALL", "PC MAIL>"), "GETALL\rN=999 S=600\rN=Ivanov S=4800\rFREE=0\rPC MAIL>");
  // All mailboxes taken: refused before the name.
  EXPECT_EQ(u.Say("CREATE", "PC MAIL>"), "CREATE\rNO_FREE_BOX\rPC MAIL>");
  EXPECT_EQ(u.Say("EDIT", "N:"), "EDIT\rN:");
  EXPECT_EQ(u.Say("Petrov", "PC MAIL>"), "Petrov\rNOT_FOUND\rPC MAIL>");
  u.Say("EDIT", "N:");
  u.Say("999", "S:");
  EXPECT_EQ(u.Say("601", "PC MAIL>"), "601\rNO_FREE_MEM\rPC MAIL>");
  u.Say("EDIT", "N:");
  u.Say("999", "S:");
  EXPECT_EQ(u.Say("60", "PC MAIL>"), "60\rOK\rPC MAIL>");
  EXPECT_EQ(u.Say("DELETE", "N:"), "DELETE\rN:");
  EXPECT_EQ(u.Say("Ivanov", "PC MAIL>"), "Ivanov\rOK\rPC MAIL>");
  u.Say("DELETE", "N:");
  EXPECT_EQ(u.Say("Ivanov", "PC MAIL>"), "Ivanov\rNOT_FOUND\rPC MAIL>");
  EXPECT_EQ(u.Say("GETALL", "PC MAIL>"), "GETALL\rN=999 S=60\rFREE=5340\rPC MAIL>");
}

TEST(KvsimMenu, GetSetDeleteAndTransferHandOver) {
  SimTalk u;
  u.Enter("MENU");
  EXPECT_EQ(u.Say("GET", "N:"), "GET\rN:");
  EXPECT_EQ(u.Say("0", "PC MENU>"),
            "0\rTC=0\rMSG=menu0.pcm 48000\r0N200\r1N201\r2N202\r3-\r4-\r5-\r6-\r7-\r8-\r9L999\rPC MENU>");
  // A whole menu written key by key.
  EXPECT_EQ(u.Say("SET", "N:"), "SET\rN:");
  EXPECT_EQ(u.Say("5", "TC:"), "5\rTC:");
  EXPECT_EQ(u.Say("10", "0:"), "10\r0:");
  const char* keys[10] = {"-", "M19", "N", "N12*4", "L999", "G7", "-", "-", "M0", "N12345678901234"};
  for (int k = 0; k < 9; ++k) EXPECT_EQ(u.Say(keys[k], ":"), std::string(keys[k]) + "\r" + std::to_string(k + 1) + ":");
  EXPECT_EQ(u.Say(keys[9], "PC MENU>"), std::string(keys[9]) + "\rOK\rPC MENU>");
  u.Say("GET", "N:");
  EXPECT_EQ(u.Say("5", "PC MENU>"),
            "5\rTC=10\rMSG=\r0-\r1M19\r2N\r3N12*4\r4L999\r5G7\r6-\r7-\r8M0\r9N12345678901234\rPC MENU>");
  // Refusals: bad call code, bad key action (the menu stays as it was).
  u.Say("SET", "N:");
  u.Say("5", "TC:");
  EXPECT_EQ(u.Say("11", "PC MENU>"), "11\rERROR\rPC MENU>");
  u.Say("SET", "N:");
  u.Say("5", "TC:");
  u.Say("0", "0:");
  u.Say("-", "1:");
  EXPECT_EQ(u.Say("M40", "PC MENU>"), "M40\rERROR\rPC MENU>");
  u.Say("SET", "N:");
  u.Say("5", "TC:");
  u.Say("0", "0:");
  for (int k = 0; k < 9; ++k) u.Say("-", ":");
  EXPECT_EQ(u.Say("X1", "PC MENU>"), "X1\rERROR\rPC MENU>");
  u.Say("SET", "N:");
  EXPECT_EQ(u.Say("40", "PC MENU>"), "40\rERROR\rPC MENU>");
  u.Say("GET", "N:");
  EXPECT_EQ(u.Say("5", "PC MENU>").substr(0, 8), "5\rTC=10\r");
  // DELMSG empties the file; DLMSG of an empty menu is refused.
  u.Say("DELMSG", "N:");
  EXPECT_EQ(u.Say("0", "PC MENU>"), "0\rOK\rPC MENU>");
  u.Say("GET", "N:");
  EXPECT_EQ(u.Say("0", "PC MENU>").substr(0, 14), "0\rTC=0\rMSG=\r0N");
  u.Say("DLMSG", "N:");
  EXPECT_EQ(u.Say("0", "PC MENU>"), "0\rERROR\rPC MENU>");
  // ULMSG hands the line to a transfer in which the unit receives: it asks
  // for the file with "C"; two CAN bytes cancel it, and it reports that
  // (error 1), then shows its prompt.
  u.Say("ULMSG", "N:");
  EXPECT_EQ(u.Say("3", "C", 3000), "3\rC");
  auto r = u.line.Exchange("\x18\x18", "PC MENU>", 3000);
  EXPECT_EQ(r.text, "TRANSFER_RESULT:YMODEM_ERR(1)\rPC MENU>");
  EXPECT_EQ(u.Say("", "PC>"), "\rPC>");
}

TEST(KvsimState, SettingsSurviveARestart) {
  char dir[] = "/tmp/kvsim-state-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/unit.state";
  {
    SimTalk u({"--state", path});
    u.Enter("SYS");
    u.Say("SET", "N:");
    u.Say("102", "=");
    EXPECT_EQ(u.Say("555", "PC SYS>"), "555\rOK\rPC SYS>");
    u.Say("", "PC>");
    u.Say("MAIL", "PC MAIL>");
    u.Say("CREATE", "N:");
    u.Say("\xCF\xE5\xF2\xF0\xEE\xE2", "S:");  // "Петров" in code page 1251
    EXPECT_EQ(u.Say("120", "PC MAIL>"), "120\rOK\rPC MAIL>");
    u.Say("", "PC>");
    u.Say("TIME", "PC TIME>");
    u.Say("SET", "T:");
    EXPECT_EQ(u.Say("010130120000", "PC TIME>"), "010130120000\rOK\rPC TIME>");
  }
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("\nparam 102 555\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("\nmailbox Петров 120\n"), std::string::npos) << text.str();

  SimTalk u({"--state", path, "--admin-password", "8888"});
  u.Enter("SYS");
  u.Say("GET", "N:");
  EXPECT_EQ(u.Say("102", "PC SYS>"), "102\r=555\rPC SYS>");
  u.Say("GET", "N:");
  EXPECT_EQ(u.Say("104", "PC SYS>"), "104\r=8888\rPC SYS>");
  u.Say("", "PC>");
  u.Say("MAIL", "PC MAIL>");
  EXPECT_EQ(u.Say("GETALL", "PC MAIL>"),
            "GETALL\rN=999 S=600\rN=\xCF\xE5\xF2\xF0\xEE\xE2 S=120\rFREE=6480\rPC MAIL>");
  u.Say("", "PC>");
  u.Say("TIME", "PC TIME>");
  EXPECT_EQ(u.Say("GET", "PC TIME>").substr(0, 14), "GET\r0101301200");
  std::remove(path.c_str());
  rmdir(dir);
}

TEST(KvsimState, HandWrittenFileIsReadAndABadOneStopsTheStart) {
  char dir[] = "/tmp/kvsim-state-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/unit.state";
  {
    std::ofstream out(path);
    out << "kvsim-state 1\n"
           "param 103\n"
           "param 12 0999\n"
           "list 301\n"
           "menu 4 3 - M1 N22 - - - - - - G5\n"
           "file slot 60 hello.pcm 5 aGVsbG8=\n"
           "file menu 4 my\\x20menu.pcm 2 tone\n";
  }
  {
    SimTalk u({"--state", path});
    u.Enter("SYS");
    u.Say("GET", "N:");
    EXPECT_EQ(u.Say("12", "PC SYS>"), "12\r=999\rPC SYS>");
    u.Say("GET", "N:");
    EXPECT_EQ(u.Say("60", "PC SYS>"), "60\rMSG=hello.pcm 5\rPC SYS>");
    u.Say("GET", "N:");
    EXPECT_EQ(u.Say("61", "PC SYS>"), "61\rMSG=\rPC SYS>");  // a state file lists every recording
    u.Say("", "PC>");
    u.Say("LIST", "PC LIST>");
    EXPECT_EQ(u.Say("GETALL", "PC LIST>"), "GETALL\r301\rPC LIST>");
    u.Say("", "PC>");
    u.Say("MENU", "PC MENU>");
    u.Say("GET", "N:");
    EXPECT_EQ(u.Say("4", "PC MENU>"), "4\rTC=3\rMSG=my menu.pcm 2\r0-\r1M1\r2N22\r3-\r4-\r5-\r6-\r7-\r8-\r9G5\rPC MENU>");
  }
  for (const char* bad : {"kvsim-state 1\nparam 12 1000\n", "kvsim-state 1\nfile slot 60 a.pcm 6 aGVsbG8=\n",
                          "something else\n", "kvsim-state 1\nmenu 4 3 -\n"}) {
    std::ofstream(path) << bad;
    EXPECT_THROW(SimProcess({"--state", path}), std::runtime_error) << bad;
  }
  std::remove(path.c_str());
  rmdir(dir);
}

TEST(KvsimTranscript, RecordsExactlyWhatEachSideSent) {
  SimTalk u;
  std::string sent, received;
  auto say = [&](const std::string& text, const std::string& until) {
    sent += text + "\r";
    received += u.Say(text, until);
  };
  u.line.Write("\x18\r");
  sent += "\x18\r";
  received += u.line.Until("\r").text;
  say(kAccess, "Password:");
  say("1234", ">");
  say("PC", "PC>");
  say("SYS", "PC SYS>");
  say("GET", "N:");
  say("999", "PC SYS>");
  EXPECT_EQ(u.sim.BytesFromTool(), sent);
  EXPECT_EQ(u.sim.BytesFromUnit(), received);
  auto records = u.sim.Transcript();
  ASSERT_GE(records.size(), 2u);
  EXPECT_EQ(records.front().dir, TranscriptRecord::Dir::FromTool);
  for (std::size_t i = 1; i < records.size(); ++i) {
    EXPECT_NE(records[i].dir, records[i - 1].dir);  // merged by direction
    EXPECT_GE(records[i].ms, records[i - 1].ms);
  }
  EXPECT_EQ(records.back().bytes, "999\r=10203\rPC SYS>");
}

TEST(KvsimTranscript, ParserReadsEscapesAndMergesRecords) {
  auto r = ParseTranscript(
      "# kvsim transcript\n> 1.000 GET\\r\n> 1.500 \\xEB\\\\x\n< 2.000 \\x18\\r\\nOK\n# note\n< 2.1 >\n> 3 half");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].dir, TranscriptRecord::Dir::FromTool);
  EXPECT_DOUBLE_EQ(r[0].ms, 1.0);
  EXPECT_EQ(r[0].bytes, "GET\r\xEB\\x");
  EXPECT_EQ(r[1].bytes, "\x18\r\nOK>");
  EXPECT_THROW(ParseTranscript("> 1.0 \\q\n"), std::runtime_error);
  EXPECT_THROW(ParseTranscript("? 1.0 x\n"), std::runtime_error);
}

TEST(KvsimProcess, ReopenedTerminalLinkAndExit) {
  char dir[] = "/tmp/kvsim-link-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string link = std::string(dir) + "/unit";
  {
    SimProcess sim({"--link", link});
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), sim.Path());
    // The tool opens and closes the terminal many times; the unit stays.
    for (int i = 0; i < 5; ++i) {
      RawLine line(link);
      auto r = line.Exchange("\x18" + kAccess + "\r", "Password:");
      EXPECT_TRUE(r.ok) << i << ": " << r.text;
    }
    EXPECT_TRUE(sim.Stop());
    struct stat st;
    EXPECT_NE(lstat(link.c_str(), &st), 0);  // removed at exit
  }
  rmdir(dir);
}

TEST(KvsimProcess, HelpNamesEveryFlag) {
  std::string cmd = SimProcess::Executable() + " --help";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string help;
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) help.append(buf, n);
  EXPECT_EQ(pclose(p), 0);
  for (const char* flag : {"--link", "--stdin-exit", "--log", "--state", "--crlf", "--baud", "--admin-password",
                           "--system-password", "--clock", "--firmware", "--list-size", "--mailboxes",
                           "--mail-memory", "--no-echo", "--no-password-prompt", "--stray-line", "--delay",
                           "--write-no-ok", "--busy", "--mute", "--drop-echo", "--drop ", "--replace",
                           "--transfer-error", "--result-pause", "factory 1234", "factory 7777"})
    EXPECT_NE(help.find(flag), std::string::npos) << flag;
}

}  // namespace
}  // namespace kv
