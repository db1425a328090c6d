#include "session/Exchange.h"

#include "session/Comm.h"
#include "session/Dialogs.h"

namespace kv {

int32_t RunCommandExchange(const TCommandExchange& exchange, const TExchangeActions& actions)
{
    TFormComm& comm = FormComm();
    if (!comm.SendEcho(exchange.command, exchange.stepMs))
        return actions.noEcho;
    if (!comm.WaitText(exchange.prompt, exchange.stepMs))
        return actions.noPrompt;
    if (!comm.SendEcho(exchange.value + "\r", exchange.stepMs))
        return actions.noValueEcho;
    std::string reply;
    if (!comm.ReadUpTo("\r", exchange.replyMs, reply))
        return actions.noReply;
    reply.pop_back();  // the CR
    if (reply == "OK")
        return actions.ok;
    for (const auto& [text, action] : actions.replies)
        if (reply == text)
            return action;
    return actions.unknown;
}

bool EndWithFailure(int32_t& action, const std::string& message)
{
    action = 0;
    if (!message.empty())
        ShowExchangeFailure(message);
    return true;
}

}  // namespace kv
