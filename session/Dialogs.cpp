#include "session/Dialogs.h"

#include <atomic>
#include <cstdio>

#include "serial/UiBridge.h"

namespace kv {

namespace {

// Without a window: messages go to standard error, the password dialog is
// closed at once.
class TConsoleDialogs : public TDialogs {
public:
    void Message(TMessageKind kind, const std::string& text) override
    {
        std::fprintf(stderr, "%s: %s\n", kind == TMessageKind::Error ? "Error" : "Warning", text.c_str());
    }
    TPasswordAnswer Password() override { return {}; }
};

std::atomic<TDialogs*> g_dialogs{nullptr};

}  // namespace

TDialogs& Dialogs()
{
    static TConsoleDialogs console;
    TDialogs* d = g_dialogs.load();
    return d ? *d : console;
}

void SetDialogs(TDialogs* dialogs)
{
    g_dialogs.store(dialogs);
}

void ShowError(const std::string& text)
{
    UiBridge().Synchronize([&] { Dialogs().Message(TMessageKind::Error, text); });
}

void ShowWarning(const std::string& text)
{
    UiBridge().Synchronize([&] { Dialogs().Message(TMessageKind::Warning, text); });
}

TPasswordAnswer AskPassword()
{
    TPasswordAnswer answer;
    UiBridge().Synchronize([&] { answer = Dialogs().Password(); });
    return answer;
}

}  // namespace kv
