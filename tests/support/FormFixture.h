// The main window's form against the simulated unit, for the form tests: the
// test's thread as the UI thread, scripted message, value and collection
// dialogs, kvsim on a pseudo-terminal named as a COM port's device in a
// settings store in memory, a scripted view, and TForm1 on them.
//
//   struct Screens : kvtest::TFormFixture {};
//   TEST_F(Screens, ...) { Start(); ConnectOn("1234", kTabMail); ... Sent() ... }
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ScriptedForm.h"
#include "tests/support/ScriptedCollectionDialogs.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/ScriptedValueDialogs.h"
#include "tests/support/SimProcess.h"
#include "tests/support/UiThread.h"
#include "ui/Screens.h"
#include "ui/Unit1.h"

namespace kvtest {

struct TFormFixture : ::testing::Test {
    // Destroyed in reverse order: the window before the unit's simulator,
    // the dialogs and the UI thread's bridge.
    TUiThread ui;
    kv::TScriptedDialogs dialogs;
    kv::TScriptedValueDialogs values;
    kv::TScriptedCollectionDialogs collections;
    std::unique_ptr<kv::SimProcess> sim;
    kv::TMemorySettingsStore store;
    kv::TScriptedForm1View view;
    std::unique_ptr<kv::TForm1> form;
    // Every text of the busy panel, in order.
    std::vector<std::string> busyTexts;
    // Where Sent() begins.
    size_t mark = 0;

    void TearDown() override { form.reset(); }

    // kvsim with `simArgs` as the device of COM`port` (the stored port when
    // not 1), then the window.
    void Start(std::vector<std::string> simArgs = {}, int port = 1)
    {
        sim = std::make_unique<kv::SimProcess>(std::move(simArgs));
        store.values[kv::DeviceKey(port)] = sim->Path();
        if (port != 1)
            store.values[kv::kComPortKey] = std::to_string(port);
        StartWindow();
    }
    // The window alone, started as `executable`.
    void StartWindow(const std::string& executable = "kv20rcfg")
    {
        form = std::make_unique<kv::TForm1>(view, store, executable);
        kv::TStatusPanel& busy = form->panelBusy;
        busy.changed.Subscribe([this, &busy] { busyTexts.push_back(busy.Text()); });
    }
    // The connect button on the tab `tab` (whose load then runs), the
    // password dialog answered; connected, and what it sent forgotten.
    void ConnectOn(const std::string& password, int tab)
    {
        view.currentTab = tab;
        dialogs.AnswerPassword(password);
        form->btnConnectClick();
        ASSERT_NE(form->Session().mode, kv::kModeDisconnected);
        Mark();
    }
    // Forgets what was sent, shown and made busy so far.
    void Mark()
    {
        mark = sim->BytesFromTool().size();
        busyTexts.clear();
        view.busyLooks.clear();
        dialogs.Clear();
    }
    // What the tool sent since the last Mark.
    std::string Sent() const { return sim->BytesFromTool().substr(mark); }
    kv::TCatalogue& C() { return form->Catalogue(); }
    kv::TScreens& S() { return form->Screens(); }
};

}  // namespace kvtest
