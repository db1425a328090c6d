#include "ScriptedForm.h"

#include "collections/YModemU.h"
#include "serial/UiBridge.h"
#include "settings/Clock.h"
#include "tests/support/UiThread.h"

namespace kv {

void TScriptedForm1View::SetBusyLook(bool busy)
{
    busyLook = busy;
    busyLooks.push_back(busy);
}

void TScriptedForm1View::SelectTab(int index)
{
    currentTab = index;
    selectedTabs.push_back(index);
}

bool TScriptedForm1View::ExecutePorts(TFormPorts& form)
{
    ++portDialogs;
    if (portAnswers.empty())
        return false;
    auto answer = std::move(portAnswers.front());
    portAnswers.pop_front();
    return answer(form);
}

namespace {
std::string take(std::deque<std::string>& names)
{
    if (names.empty())
        return {};
    std::string name = std::move(names.front());
    names.pop_front();
    return name;
}
}  // namespace

std::string TScriptedForm1View::OpenFileName()
{
    return take(openNames);
}

std::string TScriptedForm1View::SaveFileName(const std::string& proposed)
{
    proposedNames.push_back(proposed);
    return take(saveNames);
}

std::string TScriptedForm1View::ExportFileName()
{
    return take(exportNames);
}

void TScriptedForm1View::ExecuteTransfer(TFormYMU& form)
{
    if (onTransfer) {
        onTransfer(form);
        return;
    }
    if (!form.Show())
        return;
    // The modal dialog's own loop: UI work until the form closes itself,
    // bounded so a transfer that never ends fails the test instead of hanging it.
    kvtest::ServeUntil([&] { return form.Closed(); }, 120000);
}

void TScriptedForm1View::ExecuteClock(TFormClock& form)
{
    form.Show();
    if (onClock)
        onClock(form);
    form.Close();
}

std::optional<bool> TScriptedForm1View::Enabled(const std::string& name) const
{
    auto it = enabled_.find(name);
    if (it == enabled_.end())
        return std::nullopt;
    return it->second;
}

}  // namespace kv
