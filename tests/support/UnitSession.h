// A session with the simulated unit for the settings, collections and window
// tests: kvsim on a pseudo-terminal, the real port, transport, worker and
// session, the test's thread as the UI thread, and scripted message, value
// and collection dialogs.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "serial/UiBridge.h"
#include "session/Comm.h"
#include "session/Joint.h"
#include "session/KvMenu.h"
#include "session/Server.h"
#include "tests/support/ScriptedCollectionDialogs.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/ScriptedValueDialogs.h"
#include "tests/support/SimProcess.h"
#include "tests/support/TempDir.h"
#include "tests/support/UiThread.h"

namespace kvtest {

inline const char* const kSystemPassword = "7777";
inline const char* const kAdminPassword = "1234";

// A kvsim state file with the given item lines (code page 1251 texts).
class TStateFile {
public:
    explicit TStateFile(const std::vector<std::string>& items)
    {
        std::ofstream f(dir_ / "state");
        f << "kvsim-state 1\n";
        for (const auto& i : items)
            f << i << "\n";
    }
    std::string Path() const { return dir_ / "state"; }

private:
    TTempDir dir_;
};

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
    // The collection dialogs shown since the last call.
    std::vector<kv::TScriptedCollectionDialogs::TShown> Shown()
    {
        auto all = forms.Shown();
        forms.Clear();
        return all;
    }


    // Destroyed in reverse order: the worker ends before the port owner, and
    // the UI thread's bridge outlives both.
    kvtest::TUiThread ui;
    kv::TScriptedDialogs dialogs;
    kv::TScriptedValueDialogs values;
    kv::TScriptedCollectionDialogs forms;
    kv::SimProcess sim;
    kv::TFormComm comm;
    kv::TCOMServer server;
    kv::TKvMenu session{comm, server};

private:
    size_t seen_ = 0;
    size_t messagesSeen_ = 0;
};

using Strings = std::vector<std::string>;

inline bool Has(const std::string& bytes, const std::string& text)
{
    return bytes.find(text) != std::string::npos;
}

// Occurrences of text in bytes.
inline int Count(const std::string& bytes, const std::string& text)
{
    int n = 0;
    for (size_t at = bytes.find(text); at != std::string::npos; at = bytes.find(text, at + text.size()))
        ++n;
    return n;
}

}  // namespace kvtest
