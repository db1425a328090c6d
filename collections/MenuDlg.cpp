#include "collections/MenuDlg.h"

#include "collections/Dialogs.h"
#include "collections/Forms.h"
#include "collections/Wire.h"
#include "session/Comm.h"
#include "session/Cp1251.h"
#include "session/Dialogs.h"
#include "session/Exchange.h"
#include "settings/View.h"

namespace kv {

namespace {
constexpr int kLineMs = 3000;
constexpr int kStepMs = 2000;
constexpr int kItemPromptMs = 1000;

bool startsWith(std::string_view s, std::string_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}
}  // namespace

bool TMenuDlg::needsync()
{
    return action == 4 || action == 20 || action == 31 || action == 41 || action == 60 || action == 71 ||
           action >= 200;
}

bool TMenuDlg::process()
{
    switch (action) {
    case 2:
        try {
            setp();
        } catch (const ELineFault&) {
            keys = unitKeys_;
            throw;
        }
        return false;
    case 3:
        getp();
        return false;
    case 20:
        askDelete();
        return action == 0;
    case 21:
        deleteFile();
        return false;
    case 60:
        editItem();
        return action == 0;
    case 214:
    case 215:
    case 217:
    case 218:
        // The unit refused the menu (its reply says so): the object takes
        // back what the unit holds, as after a confirmed change, so that a
        // refused action is neither shown nor sent again with the next edit.
        keys = unitKeys_;
        ShowExchangeFailure(failureText(action));
        action = 3;
        return false;
    default:
        // A write that failed on the line: the unit keeps what it had.
        if (action >= 210 && action <= 218)
            keys = unitKeys_;
        // 4, 30, 31, 40, 41, 70, 71, failures and anything else.
        return TFile::process();
    }
}

std::string TMenuDlg::failureText(int32_t failure) const
{
    const std::string codeText = std::to_string(code);
    switch (failure) {
    case 200: return "Menu: Time-out in GET";
    case 201: return "Menu (GET): Can't find TC=";
    case 202: return "Menu (GET): Incorrect number format (TC), parameter: " + codeText;
    case 203: return "Menu (GET): Time out on MSG=";
    case 204: return "Menu (GET): Incorrect length format, parameter: " + codeText;
    case 205: return "Menu (GET): Can't find MSG=";
    case 206: return "Menu (GET): Time-out on item";
    case 207: return "Menu (GET): Can't find item number";
    case 210: return "Menu (SET): Time-out for 'TC'";
    case 211: return "Menu (SET): No echo for TC value";
    case 212: return "Menu (SET): No item prompt for item of incorrect reply";
    case 213: return "Menu (SET): No echo for item value";
    case 214: return "Menu (SET): 'ERROR' instead of item prompt";
    case 215: return "Menu (SET): Unknown error (items)";
    case 216: return "Menu (SET): Time-out on final reply";
    case 217: return "Menu (SET): Final reply: 'ERROR'";
    case 218: return "Menu (SET):Unknown final reply";
    case 220: return "Menu (ULMSG): No echo for command";
    case 221: return "Menu (ULMSG): Time-out of number prompt";
    case 222: return "Menu (ULMSG): No echo for number";
    case 230: return "Menu (DELMSG): No echo at command";
    case 231: return "Menu (DELMSG): Time-out of prompt";
    case 232: return "Menu (DELMSG): No echo at parameter";
    case 233: return "Menu (DELMSG): Time-out of reply";
    case 234: return "Menu (DELMSG): reply: 'ERROR'";
    case 235: return "Menu (DELMSG): Unknown error";
    default: return TFile::failureText(failure);
    }
}

void TMenuDlg::getp()
{
    TFormComm& comm = FormComm();
    SendGet(code);

    std::string reply;
    if (!comm.ReadUpTo("\r", kLineMs, reply)) {
        action = 200;
        return;
    }
    std::string_view line = StripCr(reply);
    if (!startsWith(line, "TC=")) {
        action = 201;
        return;
    }
    if (!ParseDecimal(line.substr(3), callCode)) {
        action = 202;
        return;
    }

    if (!comm.ReadUpTo("\r", kLineMs, reply)) {
        action = 203;
        return;
    }
    line = StripCr(reply);
    if (!startsWith(line, "MSG=")) {
        action = 205;
        return;
    }
    if (line.size() == 4) {
        fileName.clear();
    } else {
        // Without a blank the name is empty and the size cannot be read.
        const size_t blank = line.find(' ');
        std::string_view sizeText = line;
        if (blank == std::string_view::npos) {
            fileName.clear();
        } else {
            fileName = Cp1251ToUtf8(line.substr(4, blank - 4));
            sizeText = line.substr(blank + 1);
        }
        if (!ParseDecimal(sizeText, fileSize)) {
            action = 204;
            return;
        }
    }

    for (int k = 0; k < 10; ++k) {
        if (!comm.ReadUpTo("\r", kLineMs, reply)) {
            action = 206;
            return;
        }
        line = StripCr(reply);
        if (line.empty() || line[0] != static_cast<char>('0' + k)) {
            action = 207;
            return;
        }
        keys[k] = Cp1251ToUtf8(line.substr(1));
    }
    unitKeys_ = keys;
    action = 4;
}

void TMenuDlg::setp()
{
    TFormComm& comm = FormComm();
    SendSet(code);
    if (!comm.WaitText("TC", kStepMs)) {
        action = 210;
        return;
    }
    if (!comm.SendEcho(std::to_string(callCode) + "\r", kStepMs)) {
        action = 211;
        return;
    }
    std::string reply;
    for (int k = 0; k < 10; ++k) {
        if (comm.WaitText(std::string(1, static_cast<char>('0' + k)), kItemPromptMs)) {
            if (!comm.SendEcho(Utf8ToCp1251(keys[k]) + "\r", kStepMs)) {
                action = 213;
                return;
            }
            continue;
        }
        if (!comm.ReadUpTo("\r", kItemPromptMs, reply))
            action = 212;
        else
            action = StripCr(reply) == "ERROR" ? 214 : 215;
        return;
    }
    if (!comm.ReadUpTo("\r", kLineMs, reply)) {
        action = 216;
        return;
    }
    const std::string_view line = StripCr(reply);
    action = line == "ERROR" ? 217 : line == "OK" ? 3 : 218;
}

void TMenuDlg::output()
{
    if (!grid)
        return;
    grid->SetCell(1, row, fileName.empty() ? kNoFile : fileName);
    for (int k = 0; k < 10; ++k)
        grid->SetCell(k + 2, row, keys[k]);
}

std::string TMenuDlg::text()
{
    if (!grid)
        return "не определено";
    std::string t = "Файл: " + grid->Cell(1, row) + "\r\n";
    for (int k = 0; k < 10; ++k)
        t += "Действие на " + std::to_string(k) + ": " + grid->Cell(k + 2, row) + "\r\n";
    return t;
}

void TMenuDlg::ulstart()
{
    action = 0;
    TFormComm& comm = FormComm();
    if (!comm.SendEcho("ULMSG\r", kStepMs))
        action = 220;
    else if (!comm.WaitText("N", kStepMs))
        action = 221;
    else if (!comm.SendEcho(std::to_string(code) + "\r", kStepMs))
        action = 222;
    else
        action = 31;
}

void TMenuDlg::editItem()
{
    action = 0;
    if (editKey < 0 || editKey > 9)
        return;
    TFormMenuItm form;
    if (!form.Load(keys[editKey]))
        ShowError("Wrong item information !");
    form.HideMailboxChoices();
    if (!CollectionDialogs().Execute(form))
        return;
    keys[editKey] = form.Result();
    action = 2;
}

void TMenuDlg::askDelete()
{
    action = 0;
    if (fileName.empty())
        return;
    if (CollectionDialogs().Confirm("Удалить файл: " + fileName + " из меню " + std::to_string(code) + " ?"))
        action = 21;
}

void TMenuDlg::deleteFile()
{
    action = RunCommandExchange({"DELMSG\r", "N", std::to_string(code), kStepMs, kStepMs},
                                {230, 231, 232, 233, 3, {{"ERROR", 234}}, 235});
}

}  // namespace kv
