// The shape that most commands of the unit's menus share, and how a job
// ends at one of its failures.
//
// A command exchange: the command and its echo, the unit's prompt, a value
// and its echo, then one reply line that is "OK" or says why not (the list's
// ADD and REMOVE, the mailbox DELETE, a voice file's CLEAR, a voice menu's
// DELMSG, the clock's SET). The object names the step action each way out
// leads to; the exchange runs on the worker thread and returns the one it
// took. A failure step then shows its message through EndWithFailure.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kv {

struct TCommandExchange {
    std::string command;  // as on the wire, with its CR: "CLEAR\r"
    std::string prompt;   // what the unit asks with: "N", "T"
    std::string value;    // as on the wire, without the CR (which is sent after it)
    int stepMs = 0;       // for the command's echo, the prompt and the value's echo
    int replyMs = 0;      // for the reply line
};

struct TExchangeActions {
    int32_t noEcho = 0;       // the command did not come back
    int32_t noPrompt = 0;     // the prompt did not come
    int32_t noValueEcho = 0;  // the value did not come back
    int32_t noReply = 0;      // no reply line came
    int32_t ok = 0;           // the reply line is "OK"
    // Other replies the unit gives, each with its action ("ERROR", ...).
    std::vector<std::pair<std::string, int32_t>> replies;
    int32_t unknown = 0;      // any other reply line
};

// Runs the exchange with the unit and returns the action it ends with.
// Worker thread.
int32_t RunCommandExchange(const TCommandExchange& exchange, const TExchangeActions& actions);

// A failure step: ends the job (action 0) and shows the failure's message
// as an error, or nothing when the step has no message. Returns true: the
// job is finished. A failure on a silent line also ends the job's action
// (ShowExchangeFailure, session/Comm.h).
bool EndWithFailure(int32_t& action, const std::string& message);

}  // namespace kv
