// A main window without widgets, for tests of TForm1 and the screens: a
// TForm1View that records what the form asked of it and answers its dialogs
// from a script. The settings store in memory is TMemorySettingsStore
// (ui/SettingsStore.h).
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/Form1View.h"
#include "ui/SettingsStore.h"

namespace kv {

class TScriptedForm1View : public TForm1View {
public:
    void SetCaption(const std::string& text) override { caption = text; }
    void SetApplicationTitle(const std::string& text) override { applicationTitle = text; }
    void SetBusyLook(bool busy) override;
    void SetControlEnabled(const std::string& name, bool enabled) override { enabled_[name] = enabled; }
    int CurrentTab() const override { return currentTab; }
    void SelectTab(int index) override;
    bool ExecutePorts(TFormPorts& form) override;
    std::string OpenFileName() override;
    std::string SaveFileName(const std::string& proposed) override;
    std::string ExportFileName() override;
    void ExecuteTransfer(TFormYMU& form) override;
    void ExecuteClock(TFormClock& form) override;
    void ShowTrace() override { ++traceShown; }
    TVoiceView* VoiceView() override { return voiceView; }
    void CloseWindow() override { ++closeRequests; }

    // Whether the form last enabled the control; nothing when it never said.
    std::optional<bool> Enabled(const std::string& name) const;

    std::string caption;
    std::string applicationTitle;
    bool busyLook = false;
    // Each change of the busy look, in order.
    std::vector<bool> busyLooks;
    int currentTab = 0;
    std::vector<int> selectedTabs;
    int closeRequests = 0;
    int traceShown = 0;

    // The port dialog: each answer acts on the form and says OK (true) or
    // "Отмена"; without an answer the dialog is cancelled.
    std::deque<std::function<bool(TFormPorts&)>> portAnswers;
    int portDialogs = 0;
    // File dialogs answer from these queues; "" (cancel) when empty.
    std::deque<std::string> openNames;
    std::deque<std::string> saveNames;
    std::vector<std::string> proposedNames;
    std::deque<std::string> exportNames;
    // The transfer and clock dialogs: what "the user" does while the
    // dialog is open. Without a hook the transfer dialog is shown and
    // waited for until it closes, and the clock dialog is shown and closed.
    std::function<void(TFormYMU&)> onTransfer;
    std::function<void(TFormClock&)> onClock;
    // The voice files' dialogs; none unless a test sets them.
    TVoiceView* voiceView = nullptr;

private:
    std::map<std::string, bool> enabled_;
};

}  // namespace kv
