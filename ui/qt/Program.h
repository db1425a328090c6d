// The window program: the Qt bridge and dialogs installed, the main window,
// the system's close requests, and the end in the one safe order.
//
// Made on the GUI thread once the QApplication exists. Destroying it closes
// the window if it is still open (logging out), then: the bridge refuses
// work, the port threads end, the dialogs and the bridge are uninstalled.
#pragma once

#include <memory>
#include <string>

#include "session/DialogSet.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/QtDialogs.h"
#include "ui/qt/QtUiBridge.h"
#include "ui/qt/QtValueDialogs.h"
#include "ui/qt/SystemSignals.h"

namespace kv {

class TSettingsStore;

class TProgram {
public:
    TProgram(TSettingsStore& store, const std::string& executable);
    ~TProgram();
    TProgram(const TProgram&) = delete;
    TProgram& operator=(const TProgram&) = delete;

    TMainWindow& Window() { return *window_; }
    TQtUiBridge& Bridge() { return bridge_; }

private:
    TQtUiBridge bridge_;
    TQtDialogs dialogs_;
    std::unique_ptr<TInstallDialogs<TDialogs>> dialogsInstalled_;
    std::unique_ptr<TMainWindow> window_;
    std::unique_ptr<TQtValueDialogs> values_;
    std::unique_ptr<TInstallDialogs<TValueDialogs>> valuesInstalled_;
    std::unique_ptr<TQtCollectionDialogs> collections_;
    std::unique_ptr<TInstallDialogs<TCollectionDialogs>> collectionsInstalled_;
    std::unique_ptr<TSystemSignals> signals_;
};

}  // namespace kv
