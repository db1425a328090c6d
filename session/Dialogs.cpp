#include "session/Dialogs.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "serial/UiBridge.h"

namespace kv {

namespace {

// Without a window: messages go to standard error, the password dialog is
// closed at once.
void writeToConsole(TMessageKind kind, const std::string& text)
{
    std::fprintf(stderr, "%s: %s\n", kind == TMessageKind::Error ? "Error" : "Warning", text.c_str());
}

class TConsoleDialogs : public TDialogs {
public:
    void Message(TMessageKind kind, const std::string& text) override { writeToConsole(kind, text); }
    TPasswordAnswer Password() override { return {}; }
};

std::atomic<uint64_t> g_messagesShown{0};

// A message that no UI thread takes any more still reaches standard error.
void showMessage(TMessageKind kind, const std::string& text)
{
    g_messagesShown.fetch_add(1);
    if (!UiBridge().Synchronize([&] { Dialogs().Message(kind, text); }))
        writeToConsole(kind, text);
}

std::mutex g_explainerLock;
TConnectionExplainer g_explainer;

}  // namespace

TDialogs& TDialogSetTraits<TDialogs>::Default()
{
    static TConsoleDialogs console;
    return console;
}

TDialogs& Dialogs()
{
    return DialogsInForce<TDialogs>();
}

void ShowError(const std::string& text)
{
    showMessage(TMessageKind::Error, text);
}

void ShowWarning(const std::string& text)
{
    showMessage(TMessageKind::Warning, text);
}

void ShowError(const std::string& text, const std::string& details)
{
    if (details.empty()) {
        ShowError(text);
        return;
    }
    g_messagesShown.fetch_add(1);
    if (!UiBridge().Synchronize([&] { Dialogs().MessageWithDetails(TMessageKind::Error, text, details); }))
        writeToConsole(TMessageKind::Error, text + "\n" + details);
}

uint64_t MessagesShown()
{
    return g_messagesShown.load();
}

void SetConnectionExplainer(TConnectionExplainer explainer)
{
    std::lock_guard<std::mutex> g(g_explainerLock);
    g_explainer = std::move(explainer);
}

std::string ExplainConnectionFailure(TConnectionFailure failure, int port)
{
    TConnectionExplainer explain;
    {
        std::lock_guard<std::mutex> g(g_explainerLock);
        explain = g_explainer;
    }
    return explain ? explain(failure, port) : std::string();
}

TPasswordAnswer AskPassword()
{
    TPasswordAnswer answer;
    UiBridge().Synchronize([&] { answer = Dialogs().Password(); });
    return answer;
}

}  // namespace kv
