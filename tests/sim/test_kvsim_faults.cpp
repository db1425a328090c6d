// The fault switches of the simulated unit, each seen on the line.
#include <gtest/gtest.h>

#include <chrono>

#include "SimTalk.h"

namespace kv {
namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

TEST(KvsimFaults, NoEchoStillAnswers) {
  SimTalk u({"--no-echo"});
  u.line.Write("\x18" + kAccess + "\r");
  EXPECT_EQ(u.line.Drain(150), "Password:");
  u.line.Write("1234\r");
  EXPECT_EQ(u.line.Drain(150), "ADMIN_MODE\r>");
}

TEST(KvsimFaults, NoPasswordPromptButThePasswordWorks) {
  SimTalk u({"--no-password-prompt"});
  u.line.Write("\x18" + kAccess + "\r\r");
  EXPECT_EQ(u.line.Drain(150), "\x18" + kAccess + "\r\r");
  EXPECT_EQ(u.Say("1234", ">"), "1234\rADMIN_MODE\r>");
}

TEST(KvsimFaults, EchoAndPasswordPromptStopAtTheSecondLogin) {
  SimTalk u({"--no-echo=2", "--no-password-prompt=3"});
  EXPECT_EQ(u.Login("1234"), "1234\rADMIN_MODE\r>");
  u.line.Write("\x18" + kAccess + "\r");
  EXPECT_EQ(u.line.Drain(150), "\x18" + kAccess + "\rPassword:");
  u.line.Write("\r");
  EXPECT_EQ(u.line.Drain(150), "Password:");
  u.line.Write("\x18" + kAccess + "\r\r1234\r");
  EXPECT_EQ(u.line.Drain(150), "ADMIN_MODE\r>");
}

TEST(KvsimFaults, BusyOnEveryPassword) {
  SimTalk u({"--busy"});
  u.line.Write(std::string(9, '\x18') + std::string(16, '\r'));
  u.Say(kAccess, "Password:");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(u.Say("1234", "Password:"), "1234\rBUSY\rPassword:");
}

TEST(KvsimFaults, StrayLineOnceBeforeThePromptAfterAReply) {
  SimTalk u({"--stray-line"});
  u.Enter("SYS");  // entering shows the bare prompt
  u.Say("GET", "N:");
  EXPECT_EQ(u.Say("999", "PC SYS>"), "999\r=10203\rRING 1\rPC SYS>");
  u.Say("GET", "N:");
  EXPECT_EQ(u.Say("999", "PC SYS>"), "999\r=10203\rPC SYS>");
}

TEST(KvsimFaults, DelayHoldsRepliesButNotTheEcho) {
  // The delay is long against scheduling noise on a loaded machine: the echo
  // must come well before it, the reply not before it.
  SimTalk u({"--delay", "1500"});
  u.line.Write("\x18" + kAccess + "\r");
  auto t0 = Clock::now();
  ASSERT_TRUE(u.line.Until(kAccess + "\r").ok);
  EXPECT_LT(MsSince(t0), 1000);
  ASSERT_TRUE(u.line.Until("Password:").ok);
  EXPECT_GE(MsSince(t0), 1495);
}

TEST(KvsimFaults, WriteNoOkStillStoresTheValue) {
  SimTalk u({"--write-no-ok"});
  u.Enter("SYS");
  u.Say("SET", "N:");
  u.Say("101", "=");
  EXPECT_EQ(u.Say("77", "PC SYS>"), "77\rDONE\rPC SYS>");
  u.Say("GET", "N:");
  EXPECT_EQ(u.Say("101", "PC SYS>"), "101\r=77\rPC SYS>");
}

TEST(KvsimFaults, CrLfEndsTheUnitsLinesOnly) {
  SimTalk u({"--crlf"});
  u.line.Write("\x18" + kAccess + "\r");
  ASSERT_TRUE(u.line.Until("Password:").ok);
  EXPECT_EQ(u.Say("1234", ">"), "1234\rADMIN_MODE\r\n>");
  u.Say("PC", "PC>");
  u.Say("SYS", "PC SYS>");
  u.Say("GET", "N:");
  EXPECT_EQ(u.Say("110", "PC SYS>"), "110\r=0\r\nPC SYS>");
}

TEST(KvsimFaults, MuteAndDropEchoSilenceALine) {
  SimTalk u({"--mute", "GET", "--drop-echo", "999"});
  u.Enter("SYS");
  u.line.Write("GET\r");
  EXPECT_EQ(u.line.Drain(200), "GET\r");  // echoed, never answered
  EXPECT_EQ(u.Say("SET", "N:"), "SET\rN:");
  u.line.Write("999\r");
  EXPECT_EQ(u.line.Drain(200), "999");  // the CR is not echoed, the line is ignored
  EXPECT_EQ(u.Say("101", "="), "101\rV=");
  EXPECT_EQ(u.Say("3", "PC SYS>"), "3\rOK\rPC SYS>");
}

TEST(KvsimFaults, DropAndReplaceChangeWhatTheUnitSays) {
  SimTalk u({"--drop", "V=", "--replace", "OK", "OK ", "--replace", "TC=*", "TX=0", "--drop", "START"});
  u.Enter("SYS");
  u.Say("SET", "N:");
  u.line.Write("101\r");
  EXPECT_EQ(u.line.Drain(200), "101\r");  // no "=" prompt, but the unit waits for the value
  EXPECT_EQ(u.Say("5", "PC SYS>"), "5\rOK \rPC SYS>");
  u.Say("", "PC>");
  u.Say("MENU", "PC MENU>");
  u.Say("GET", "N:");
  EXPECT_EQ(u.Say("3", "PC MENU>").substr(0, 9), "3\rTX=0\rMS");
}

TEST(KvsimFaults, TransferErrorNumber) {
  SimTalk u({"--transfer-error", "7", "--result-pause", "50"});
  u.Enter("SYS");
  u.Say("SET", "N:");
  u.Say("60", "C", 3000);
  // Cancelled (error 1), but the switch makes it report 7.
  auto r = u.line.Exchange("\x18\x18", "PC SYS>", 3000);
  EXPECT_EQ(r.text, "TRANSFER_RESULT:YMODEM_ERR(7)\rPC SYS>");
}

TEST(KvsimFaults, BaudPacesEverythingSent) {
  const double baud = 2400;  // 240 bytes per second
  SimTalk u({"--baud", "2400"});
  u.Enter("MENU");
  u.Say("GET", "N:");
  u.line.Write("0\r");
  auto t0 = Clock::now();
  auto r = u.line.Until("PC MENU>", 3000);
  double ms = MsSince(t0);
  ASSERT_TRUE(r.ok);
  double wire = static_cast<double>(r.text.size()) * 10.0 / baud * 1000.0;
  EXPECT_GE(ms, wire * 0.95) << r.text.size() << " bytes";
  EXPECT_LE(ms, wire * 1.5) << r.text.size() << " bytes";  // loose: shared machines
}

}  // namespace
}  // namespace kv
