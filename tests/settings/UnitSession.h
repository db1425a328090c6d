// A session with the simulated unit for the settings tests: kvsim on a
// pseudo-terminal, the real port, transport, worker and session, the test's
// thread as the UI thread, and scripted message and value dialogs.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../session/Harness.h"
#include "SimProcess.h"
#include "serial/UiBridge.h"
#include "session/Comm.h"
#include "session/KvMenu.h"
#include "session/ScriptedDialogs.h"
#include "session/Server.h"
#include "settings/ScriptedValueDialogs.h"

namespace kvtest {

// kvsim's factory passwords.
inline const char* const kSystemPassword = "7777";
inline const char* const kAdminPassword = "1234";

class TUnitSession {
public:
    explicit TUnitSession(std::vector<std::string> simArgs = {}, const std::string& password = kSystemPassword)
        : sim(std::move(simArgs))
    {
        comm.VaComm1.SetDeviceName(sim.Path());
        dialogs.AnswerPassword(password);
    }
    ~TUnitSession()
    {
        if (session.mode != kv::kModeDisconnected) {
            session.Disconnect();
            session.WaitIdle();
        }
        server.Terminate();
    }
    TUnitSession(const TUnitSession&) = delete;
    TUnitSession& operator=(const TUnitSession&) = delete;

    // Starts the object's job with the action and waits until it has ended.
    void Run(kv::TJoint1& object, int action)
    {
        object.action = action;
        session.Run(&object);
        session.WaitIdle();
    }
    void Read(kv::TJoint1& object) { Run(object, 3); }
    void Edit(kv::TJoint1& object) { Run(object, 1); }

    // Bytes the tool sent since the last call (or since the start).
    std::string Sent()
    {
        std::string all = sim.BytesFromTool();
        std::string fresh = all.substr(std::min(seen_, all.size()));
        seen_ = all.size();
        return fresh;
    }
    // The messages shown since the last call.
    std::vector<std::string> Messages()
    {
        std::vector<std::string> all = dialogs.Messages();
        std::vector<std::string> fresh(all.begin() + static_cast<long>(std::min(messagesSeen_, all.size())), all.end());
        messagesSeen_ = all.size();
        return fresh;
    }


    // Destroyed in reverse order: the worker ends before the port owner, and
    // the UI thread's bridge outlives both.
    kvtest::TUiThread ui;
    kv::TScriptedDialogs dialogs;
    kv::TScriptedValueDialogs values;
    kv::SimProcess sim;
    kv::TFormComm comm;
    kv::TCOMServer server;
    kv::TKvMenu session{comm, server};

private:
    size_t seen_ = 0;
    size_t messagesSeen_ = 0;
};

using Strings = std::vector<std::string>;

// Occurrences of text in bytes.
inline int Count(const std::string& bytes, const std::string& text)
{
    int n = 0;
    for (size_t at = bytes.find(text); at != std::string::npos; at = bytes.find(text, at + text.size()))
        ++n;
    return n;
}

}  // namespace kvtest
