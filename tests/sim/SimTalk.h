// A test's side of a conversation with kvsim over plain POSIX.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimProcess.h"

namespace kv {

// "лмж" in code page 1251.
inline const std::string kAccess = "\xEB\xEC\xE6";

class SimTalk {
 public:
  explicit SimTalk(std::vector<std::string> args = {}) : sim(std::move(args)), line(sim.Path()) {}

  // Sends `text` and CR, returns what came back up to and including `until`
  // (empty and a test failure when it did not come within the time-out).
  std::string Say(const std::string& text, const std::string& until, int timeoutMs = 2000) {
    auto r = line.Exchange(text + "\r", until, timeoutMs);
    EXPECT_TRUE(r.ok) << "no '" << until << "' after sending '" << text << "', got: '" << r.text << "'";
    return r.ok ? r.text : std::string();
  }

  // Wakes the unit and logs in; returns the password reply line and prompt.
  std::string Login(const std::string& password) {
    line.Write(std::string(9, '\x18') + std::string(16, '\r'));
    Say(kAccess, "Password:");
    Say("", "Password:");
    auto r = line.Exchange(password + "\r", ">");
    EXPECT_TRUE(r.ok) << r.text;
    return r.text;
  }

  // Logs in with the factory system password and enters a command menu.
  void Enter(const std::string& menu, const std::string& password = "7777") {
    Login(password);
    ASSERT_EQ(Say("PC", "PC>"), "PC\rPC>");
    ASSERT_EQ(Say(menu, ">"), menu + "\rPC " + menu + ">");
  }

  SimProcess sim;
  RawLine line;
};

}  // namespace kv
