#include "session/Dialogs.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
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

// The notes of the messages shown.
std::mutex g_reportsLock;
std::deque<std::string> g_reports;
uint64_t g_reportCount = 0;

std::atomic<int> g_quiet{0};

// Notes the message; false when it is not to be shown.
bool note(const std::string& text)
{
    std::lock_guard<std::mutex> g(g_reportsLock);
    g_reports.push_back(text);
    if (g_reports.size() > kReportsKept)
        g_reports.pop_front();
    ++g_reportCount;
    return g_quiet.load() == 0;
}

// A message that no UI thread takes any more still reaches standard error.
void showMessage(TMessageKind kind, const std::string& text)
{
    if (!note(text))
        return;
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
    if (!note(text))
        return;
    if (!UiBridge().Synchronize([&] { Dialogs().MessageWithDetails(TMessageKind::Error, text, details); }))
        writeToConsole(TMessageKind::Error, text + "\n" + details);
}

uint64_t MessagesShown()
{
    return ReportMark();
}

TQuietReports::TQuietReports()
{
    ++g_quiet;
}

TQuietReports::~TQuietReports()
{
    --g_quiet;
}

uint64_t ReportMark()
{
    std::lock_guard<std::mutex> g(g_reportsLock);
    return g_reportCount;
}

std::vector<std::string> ReportsSince(uint64_t mark)
{
    std::lock_guard<std::mutex> g(g_reportsLock);
    std::vector<std::string> out;
    if (mark >= g_reportCount)
        return out;
    const uint64_t count = std::min<uint64_t>(g_reportCount - mark, g_reports.size());
    for (auto it = g_reports.end() - static_cast<std::ptrdiff_t>(count); it != g_reports.end(); ++it)
        out.push_back(*it);
    return out;
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
