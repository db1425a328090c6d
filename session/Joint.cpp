#include "session/Joint.h"

#include <atomic>

#include "session/Comm.h"
#include "session/Cp1251.h"
#include "session/Dialogs.h"
#include "session/Text.h"

namespace kv {

// ---- grid cells -----------------------------------------------------------

namespace {
std::atomic<TGridCellSetter> g_cellSetter{nullptr};
std::atomic<TGridCellGetter> g_cellGetter{nullptr};
}  // namespace

void SetGridCellAccess(TGridCellSetter setter, TGridCellGetter getter)
{
    g_cellSetter.store(setter);
    g_cellGetter.store(getter);
}

void SetGridCell(TGridModel* grid, int32_t col, int32_t row, const std::string& text)
{
    if (TGridCellSetter set = g_cellSetter.load())
        set(grid, col, row, text);
}

std::string GridCell(TGridModel* grid, int32_t col, int32_t row)
{
    TGridCellGetter get = g_cellGetter.load();
    return get ? get(grid, col, row) : std::string();
}

// ---- TJoint, TJoint1 ------------------------------------------------------

bool TJoint::process()
{
    ShowWarning("TJoint: process ?");
    return false;
}

bool TJoint::needsync()
{
    return false;
}

bool TJoint1::process()
{
    switch (action) {
    case 1:
        input();
        return false;
    case 2:
        // Until the read-back the object holds a value the unit has not
        // confirmed (a write lost on a silent line never gets one).
        valueRead = false;
        setp();
        action = 3;
        return false;
    case 3: {
        // A step that throws (a silent line) leaves the object unread.
        valueRead = false;
        const uint64_t shown = MessagesShown();
        getp();
        valueRead = MessagesShown() == shown;
        action = 4;
        return false;
    }
    case 4:
        if (valueRead)
            output();
        else
            unread();
        action = 0;
        return true;
    default:
        action = 0;
        return true;
    }
}

bool TJoint1::needsync()
{
    return action == 1 || action == 4;
}

void TJoint1::input()
{
    ShowWarning("TJoint: input ?");
}

void TJoint1::getp()
{
    ShowWarning("TJoint: getp ?");
}

void TJoint1::setp()
{
    ShowWarning("TJoint: setp ?");
}

void TJoint1::output()
{
    if (grid)
        SetGridCell(grid, col, row, "Some...");
    else
        ShowWarning("TJoint: output ?");
}

void TJoint1::unread()
{
    if (grid)
        SetGridCell(grid, col, row, kNotRead);
}

std::string TJoint1::text()
{
    if (!grid)
        return "Не определен";
    return valueRead ? GridCell(grid, col, row) : kNotRead;
}

// ---- parameter primitives -------------------------------------------------

std::string QuotedReply(std::string_view line)
{
    std::string_view text = line;
    if (!text.empty() && text.back() == '\r')
        text.remove_suffix(1);
    // One byte is one character of the unit's code page.
    if (text.size() <= kQuoteLimit)
        return Cp1251ToUtf8(line);
    return Cp1251ToUtf8(text.substr(0, kQuoteLimit)) + "...";
}

namespace {

constexpr int kStepMs = 5000;
constexpr int kValuePromptMs = 1000;
constexpr int kProbeMs = 1;

std::string codeText(int32_t code)
{
    return std::to_string(code);
}

// The unit did not answer on the line: the one message of the job and of
// the action it belongs to; both end here.
[[noreturn]] void failOnLine(const std::string& message)
{
    ShowError(message);
    throw ELineFault();
}

void startExchange(const char* command, int32_t code, const char* failure)
{
    TFormComm& comm = FormComm();
    const bool ok = comm.SendEcho(command, kStepMs) && comm.WaitText("N", kStepMs) &&
                    comm.SendEcho(codeText(code) + "\r", kStepMs);
    if (!ok)
        failOnLine(failure);
}

// The value of a read: the reply line without its "=" and CR. Shows the
// operation's error and returns false when there is none.
bool readValue(const char* op, int32_t code, std::string& value)
{
    std::string line;
    if (!FormComm().ReadUpTo("\r", kStepMs, line))
        failOnLine(std::string(op) + ": Reception error");
    if (line.front() != '=') {
        ShowError(std::string(op) + ": parameter (" + codeText(code) + "): " + QuotedReply(line));
        return false;
    }
    value = line.substr(1, line.size() - 2);
    return true;
}

// A write: the "=" prompt, the value, the reply line. Messages per operation.
struct TSetTexts {
    const char* op;
    const char* noLine;
    const char* replyPrefix;
};

void writeValue(const TSetTexts& t, int32_t code, const std::string& wireValue)
{
    TFormComm& comm = FormComm();
    const std::string prefix = std::string(t.op) + ": parameter (" + codeText(code) + "): ";
    std::string line;
    if (!comm.ReadUpTo("=", kValuePromptMs, line)) {
        std::string refused;
        if (comm.ReadUpTo("\r", kProbeMs, refused))
            ShowError(prefix + QuotedReply(refused));
        else
            failOnLine(prefix + t.noLine);
        return;
    }
    if (!comm.SendEcho(wireValue + "\r", kStepMs))
        failOnLine(std::string(t.op) + ": parameter send error ");
    if (!comm.ReadUpTo("\r", kStepMs, line))
        failOnLine(std::string(t.op) + ": reply recept error ");
    if (line.find("OK") == std::string::npos)
        ShowError(std::string(t.replyPrefix) + QuotedReply(line));
}

}  // namespace

void SendGet(int32_t code)
{
    startExchange("GET\r", code, "SendGet: Bad Transactions");
}

void SendSet(int32_t code)
{
    startExchange("SET\r", code, "SendSet: Bad Transactions");
}

std::string DirectoryGet(int32_t code)
{
    SendGet(code);
    std::string value;
    if (!readValue("DirectoryGet", code, value))
        return {};
    return Cp1251ToUtf8(value);
}

int32_t NumberGet(int32_t code)
{
    SendGet(code);
    std::string value;
    if (!readValue("NumberGet", code, value))
        return 0;
    int32_t n = 0;
    if (!ParseDecimal(value, n)) {
        ShowError("Incorrect number format, parameter: " + codeText(code));
        return 0;
    }
    return n;
}

void DirectorySet(int32_t code, const std::string& value)
{
    SendSet(code);
    writeValue({"DirectorySet", "unknown error or timeout", "DirectorySet: reply: "}, code, Utf8ToCp1251(value));
}

void NumberSet(int32_t code, int32_t value)
{
    SendSet(code);
    writeValue({"NumberSet", "unknown error", "NumberSet: reply: "}, code, std::to_string(value));
}

void MessageGet(int32_t code, std::string& name, int32_t& length)
{
    SendGet(code);
    std::string line;
    if (!FormComm().ReadUpTo("\r", kStepMs, line))
        failOnLine("MessageGet: Reception error");
    if (line.rfind("MSG=", 0) != 0) {
        ShowError("MessageGet: parameter (" + codeText(code) + "): error parsing name: " + QuotedReply(line));
        return;
    }
    const std::string body = line.substr(0, line.size() - 1);  // without the CR
    if (body.size() == 4) {
        name.clear();
        return;
    }
    // The name runs from the fifth character to the first blank, the length
    // from that blank to the CR; without a blank the name is empty and the
    // length is the whole line, which cannot be a number.
    const size_t blank = body.find(' ');
    std::string lengthText;
    if (blank == std::string::npos) {
        name.clear();
        lengthText = body;
    } else {
        name = Cp1251ToUtf8(body.substr(4, blank - 4));
        lengthText = body.substr(blank + 1);
    }
    int32_t n = 0;
    if (!ParseDecimal(lengthText, n)) {
        ShowError("MessageGet: Incorrect length format, parameter: " + codeText(code));
        return;
    }
    length = n;
}

}  // namespace kv
