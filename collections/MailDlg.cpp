#include "collections/MailDlg.h"

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

constexpr int kEchoMs = 2000;
constexpr int kLineMs = 3000;
constexpr int kPromptLineMs = 1000;

std::string failureText(int32_t failure)
{
    switch (failure) {
    case 200: return "Mail: No echo at GETALL Command";
    case 201: return "Mail: Time-out reply at GETALL Command";
    case 202: return "Mail: Eror parsing string";
    case 203: return "Mail: Incorrect size format";
    case 204: return "Mail: Unable to find FREE= or N=";
    case 220: return "Mail: No echo at CREATE Command";
    case 221: return "Mail: Time-out reply at CREATE Command";
    case 222: return "Mail: No echo at owner input";
    case 223: return "Mail: Time-out reply at owner input";
    case 224: return "Mail: reply from device: ERROR";
    case 225: return "Число почтовых ящиков максимально";
    case 226: return "Mail: Unknown reply from device";
    case 227: return "Mail: No echo at size input";
    case 228: return "Mail: No reply at the end of command";
    case 229: return "Mail: reply at the end of command: ERROR";
    case 230: return "Недостаточно свободной памяти для создания ящика";
    case 231: return "Mail: Unknown reply at the end of command";
    case 240: return "Mail: No echo at DELETE command";
    case 241: return "Mail: Time-out reply at DELETE command";
    case 242: return "Mail: No echo at owner input";
    case 243: return "Mail: No reply at the end of command";
    case 244: return "Mail: Untypical error: NOT_FOUND";
    default: return "";
    }
}

}  // namespace

bool TMailDlg::needsync()
{
    return action == 4 || action == 10 || action == 20 || action == 80 || action >= 200;
}

bool TMailDlg::process()
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
        askCreate();
        return action == 0;
    case 11:
        createOrEdit("CREATE\r");
        return false;
    case 20:
        askDelete();
        return action == 0;
    case 21:
        deleteBox();
        return false;
    case 80:
        askEdit();
        return action == 0;
    case 81:
        createOrEdit("EDIT\r");
        return false;
    default:
        if (action >= 200)
            return EndWithFailure(action, failureText(action));
        action = 0;
        return true;
    }
}

void TMailDlg::getp()
{
    TFormComm& comm = FormComm();
    if (!comm.SendEcho("GETALL\r", kEchoMs)) {
        action = 200;
        return;
    }
    size_t i = 0;
    std::string reply;
    for (;;) {
        if (!comm.ReadUpTo("\r", kLineMs, reply)) {
            action = 201;
            return;
        }
        const std::string_view line = StripCr(reply);
        if (IsMailLine(line)) {
            const TMailLine m = ParseMailLine(line);
            if (m.result == TMailLine::BadOwner) {
                action = 202;
                return;
            }
            if (boxes.size() <= i)
                boxes.resize(i + 1);
            boxes[i].owner = m.owner;
            if (m.result == TMailLine::BadSize) {
                action = 203;
                return;
            }
            if (m.hasSize)
                boxes[i].size = m.size;
            ++i;
            continue;
        }
        if (line.substr(0, 5) != "FREE=") {
            action = 204;
            return;
        }
        boxCount = static_cast<int32_t>(i);
        if (!ParseDecimal(line.substr(5), freeTime)) {
            action = 203;
            return;
        }
        action = 4;
        return;
    }
}

void TMailDlg::output()
{
    if (grid) {
        if (boxCount > 0) {
            grid->SetRowCount(boxCount + 1);
            for (int32_t i = 0; i < boxCount; ++i) {
                grid->SetCell(0, i + 1, boxes[i].owner);
                grid->SetCell(1, i + 1, FormatMinSec(boxes[i].size));
            }
        } else {
            grid->SetRowCount(2);
            grid->SetCell(0, 1, "");
            grid->SetCell(1, 1, "");
        }
    }
    if (freeField)
        freeField->SetText(FormatMinSec(freeTime));
}

std::string TMailDlg::text()
{
    if (boxCount <= 0)
        return kNoBoxes;
    std::string t;
    if (!grid)
        return t;
    for (int32_t r = 1; r <= boxCount; ++r)
        t += grid->Cell(0, r) + ": " + grid->Cell(1, r) + "\r\n";
    return t;
}

bool TMailDlg::selectCurrent()
{
    selected = (currentRow ? currentRow() : 0) - 1;
    return selected >= 0 && selected < boxCount && static_cast<size_t>(selected) < boxes.size();
}

void TMailDlg::askCreate()
{
    action = 0;
    TFormMailAdd form;
    form.PresetCreate();
    if (!CollectionDialogs().Execute(form))
        return;
    newOwner = form.Owner();
    newSize = form.SizeSeconds();
    newMode = form.AnnMode();
    newPeriod = form.AnnPeriod();
    action = 11;
}

void TMailDlg::askEdit()
{
    action = 0;
    if (!selectCurrent())
        return;
    const TBox& box = boxes[selected];
    TFormMailAdd form;
    form.PresetEdit(box.owner, box.size, box.mode, box.period);
    if (!CollectionDialogs().Execute(form))
        return;
    newOwner = box.owner;
    newSize = form.SizeSeconds();
    newMode = form.AnnMode();
    newPeriod = form.AnnPeriod();
    action = 81;
}

void TMailDlg::askDelete()
{
    action = 0;
    if (!selectCurrent())
        return;
    if (CollectionDialogs().Confirm("Удалить ящик " + boxes[selected].owner + "?"))
        action = 21;
}

void TMailDlg::createOrEdit(const char* command)
{
    TFormComm& comm = FormComm();
    std::string reply;
    if (!comm.SendEcho(command, kEchoMs)) {
        action = 220;
        return;
    }
    if (!comm.WaitText("N", kEchoMs)) {
        action = 221;
        return;
    }
    // The unit now waits for the name: no line comes. A line here is a
    // refusal, whose "N" the prompt wait has already taken.
    if (comm.ReadUpTo("\r", kPromptLineMs, reply)) {
        action = StripCr(reply) == "O_FREE_BOX" ? 225 : 226;
        return;
    }
    if (!comm.SendEcho(Utf8ToCp1251(newOwner) + "\r", kEchoMs)) {
        action = 222;
        return;
    }
    if (!comm.WaitText("S", kPromptLineMs)) {
        if (!comm.ReadUpTo("\r", kPromptLineMs, reply))
            action = 223;
        else
            action = StripCr(reply) == "ERROR" ? 224 : 226;
        return;
    }
    if (!comm.SendEcho(std::to_string(newSize) + "\r", kEchoMs)) {
        action = 227;
        return;
    }
    if (!comm.ReadUpTo("\r", kLineMs, reply)) {
        action = 228;
        return;
    }
    const std::string_view line = StripCr(reply);
    if (line == "ERROR")
        action = 229;
    else if (line == "NO_FREE_MEM")
        action = 230;
    else if (line == "OK")
        action = 3;
    else
        action = 231;
}

void TMailDlg::deleteBox()
{
    // Only a mailbox of the last read can be deleted.
    if (selected < 0 || selected >= boxCount || static_cast<size_t>(selected) >= boxes.size()) {
        action = 0;
        return;
    }
    action = RunCommandExchange({"DELETE\r", "N", Utf8ToCp1251(boxes[selected].owner), kEchoMs, kLineMs},
                                {240, 241, 242, 243, 3, {{"NOT_FOUND", 244}}, 226});
}

}  // namespace kv
