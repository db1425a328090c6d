// A session with the simulated unit on the Qt bridge, for the dialogs that
// run jobs: kvsim on a pseudo-terminal, the real port, worker and session,
// scripted password and messages, the window's own question dialogs, and
// answers to the modal dialogs the test opens.
#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <string>
#include <vector>

#include "collections/Dialogs.h"
#include "serial/VaComm.h"
#include "session/Comm.h"
#include "session/KvMenu.h"
#include "session/Server.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/SimProcess.h"
#include "tests/ui/QtSupport.h"
#include "ui/qt/QtUiBridge.h"
#include "ui/qt/QtValueDialogs.h"

namespace kv::test {

// The Qt bridge for one test, shut down as the window does: no more work,
// the port threads end, then it is uninstalled. While it lives, a dialog
// asked for off the UI thread fails the test.
struct TQtUiThread {
    TQtUiThread()
    {
        SetUiBridge(&bridge);
        SetApplicationExceptionHandler([](std::exception_ptr e) {
            try {
                std::rethrow_exception(e);
            } catch (const EUiThreadRequired& wrongThread) {
                ADD_FAILURE() << wrongThread.what();
            } catch (...) {
                WriteExceptionToStderr(e);
            }
        });
    }
    ~TQtUiThread()
    {
        bridge.Shutdown();
        TVaCustomComm::WaitThreadsEnded(5000);
        SetApplicationExceptionHandler(nullptr);
        SetUiBridge(nullptr);
    }
    TQtUiBridge bridge;
};

class TQtUnitSession {
public:
    explicit TQtUnitSession(std::vector<std::string> simArgs, const std::string& password = "1234")
        : sim(std::move(simArgs))
    {
        comm.VaComm1.SetDeviceName(sim.Path());
        messages.AnswerPassword(password);
    }
    ~TQtUnitSession()
    {
        if (session.mode != kModeDisconnected) {
            session.Disconnect();
            session.WaitIdle();
        }
        server.Terminate();
    }
    TQtUnitSession(const TQtUnitSession&) = delete;
    TQtUnitSession& operator=(const TQtUnitSession&) = delete;

    // Starts the object's job with the action and waits until it has ended.
    void Run(TJoint1& object, int action)
    {
        object.action = action;
        session.Run(&object);
        session.WaitIdle();
    }

    TQtUiThread ui;
    TModalAnswers answers;
    TScriptedDialogs messages;
    TQtCollectionDialogs questions;
    TInstallDialogs<TCollectionDialogs> questionsInForce{questions};
    SimProcess sim;
    TFormComm comm;
    TCOMServer server;
    TKvMenu session{comm, server};
};

}  // namespace kv::test
