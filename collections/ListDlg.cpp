#include "collections/ListDlg.h"

#include "collections/Dialogs.h"
#include "collections/Wire.h"
#include "session/Comm.h"
#include "session/Cp1251.h"
#include "session/Dialogs.h"
#include "session/Exchange.h"
#include "settings/ValueDialogs.h"
#include "settings/View.h"

namespace kv {

namespace {

constexpr int kEchoMs = 2000;
constexpr int kListMs = 5000;
constexpr int kAccessMs = 1000;
constexpr int kReplyMs = 3000;

std::string failureText(int32_t failure)
{
    switch (failure) {
    case 200: return "List: No echo at GETALL command";
    case 201: return "List: No reply at GETALL command";
    case 205: return "List: No echo at ADD command";
    case 206: return "List (ADD): Time-out of number prompt";
    case 207: return "List (ADD): No echo of parameter";
    case 208: return "List (ADD): No reply";
    case 209: return "List (ADD): Reply: ERROR";
    case 210: return "List (ADD): Reply: NO_FREE_MEM";
    case 211: return "List (ADD): Unknown error";
    case 215: return "List: No echo at REMOVE command";
    case 216: return "List (REMOVE): Time-out of number prompt";
    case 217: return "List (REMOVE): No echo of parameter";
    case 218: return "List (REMOVE): No reply";
    case 219: return "List (REMOVE): Reply: ERROR";
    case 220: return "List (REMOVE): Reply: NO_FREE_MEM";
    case 221: return "List (REMOVE): Unknown error";
    case 230: return "List (GETALL): No echo";
    case 231: return "List (GETALL): No final reply";
    default: return "";
    }
}

}  // namespace

bool TListDlg::needsync()
{
    return action == 4 || action == 10 || action == 15 || action == 20 || action == 25 || action >= 200;
}

bool TListDlg::process()
{
    switch (action) {
    case 3:
        getp();
        return false;
    case 4:
        output();
        action = 0;
        return true;
    case 10:
        askNumber(11);
        return action == 0;
    case 20:
        askNumber(21);
        return action == 0;
    case 15:
        askRange(11);
        return action == 0;
    case 25:
        askRange(21);
        return action == 0;
    case 11:
        change("ADD\r", 205);
        return false;
    case 21:
        change("REMOVE\r", 215);
        return false;
    default:
        if (action >= 200)
            return EndWithFailure(action, failureText(action));
        action = 0;
        return true;
    }
}

void TListDlg::getp()
{
    TFormComm& comm = FormComm();
    std::string reply;
    if (!comm.SendEcho("GETALL\r", kEchoMs)) {
        action = 200;
        return;
    }
    if (!comm.ReadUpTo(">", kListMs, reply)) {
        action = 201;
        return;
    }
    items = SplitListReply(reply);
    if (!comm.SendEcho(Utf8ToCp1251("лмж") + "\r", kAccessMs)) {
        action = 230;
        return;
    }
    std::string answer;
    if (!comm.ReadUpTo("\r", kAccessMs, answer)) {
        action = 231;
        return;
    }
    action = 4;
}

void TListDlg::output()
{
    if (target)
        target->SetLines(items);
}

std::string TListDlg::text()
{
    return JoinList(items);
}

void TListDlg::askNumber(int32_t next)
{
    action = 0;
    TFormDirectory form("", 0, false);
    if (ValueDialogs().Execute(form) && !form.Text().empty()) {
        entry = form.Text();
        action = next;
    }
}

void TListDlg::askRange(int32_t next)
{
    action = 0;
    TFormList2 form;
    if (CollectionDialogs().Execute(form) && form.Filled()) {
        entry = form.Range();
        action = next;
    }
}

void TListDlg::change(const char* command, int32_t firstFailure)
{
    const int32_t f = firstFailure;
    action = RunCommandExchange({command, "N", Utf8ToCp1251(entry), kEchoMs, kReplyMs},
                                {f, f + 1, f + 2, f + 3, 3, {{"ERROR", f + 4}, {"NO_FREE_MEM", f + 5}}, f + 6});
}

}  // namespace kv
