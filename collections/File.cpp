#include "collections/File.h"

#include "collections/Dialogs.h"
#include "collections/Wire.h"
#include "serial/UiBridge.h"
#include "session/Comm.h"
#include "session/Cp1251.h"
#include "session/Dialogs.h"
#include "session/Exchange.h"
#include "settings/View.h"

namespace kv {

namespace {
constexpr int kStepMs = 2000;
}  // namespace

std::string TransferErrorText(int32_t transferError)
{
    if (transferError >= 1 && transferError <= 10)
        return "YMODEM: error " + std::to_string(transferError);
    if (transferError == 100)
        return "YMODEM: Time-out on status reply";
    if (transferError == 101)
        return "YMODEM: Incorrect error number format";
    return "YMODEM: Unknown error";
}

bool TFile::needsync()
{
    return action == 4 || action == 20 || action == 31 || action == 41 || action == 71 || action > 199;
}

bool TFile::process()
{
    switch (action) {
    case 3:
        getp();
        action = 4;
        return false;
    case 4:
        output();
        action = 0;
        return true;
    case 20:
        askdel();
        return action == 0;
    case 21:
        delp();
        return false;
    case 30:
        startingTransfer_ = true;
        try {
            ulstart();
        } catch (const ELineFault&) {
            UiBridge().Synchronize([this] { notStarted(); });
            throw;
        }
        return false;
    case 31:
        startingTransfer_ = false;
        ulgo();
        action = 0;
        return true;
    case 40:
        startingTransfer_ = true;
        dlstart();
        return false;
    case 41:
        startingTransfer_ = false;
        dlgo();
        action = 0;
        return true;
    case 70:
        transferResult();
        return false;
    case 71:
        transferReport();
        return false;
    default:
        if (action > 199) {
            notStarted();
            return EndWithFailure(action, failureText(action));
        }
        action = 0;
        return true;
    }
}

void TFile::notStarted()
{
    if (!startingTransfer_)
        return;
    startingTransfer_ = false;
    if (const std::function<void()> told = transferNotStarted)
        told();
}

std::string TFile::failureText(int32_t failure) const
{
    switch (failure) {
    case 200: return "File (CLEAR): No echo at command";
    case 201: return "File (CLEAR): Time-out of prompt";
    case 202: return "File (CLEAR): No echo at parameter";
    case 203: return "File (CLEAR): Time-out of reply";
    case 204: return "File (CLEAR): reply: 'ERROR'";
    case 205: return "File (CLEAR): Unknown error";
    case 240: return "File (DLMSG): No echo at command";
    case 241: return "File (DLMSG): Time-out of prompt";
    case 242: return "File (DLMSG): No echo at parameter";
    default: return "";
    }
}

void TFile::getp()
{
    MessageGet(code, fileName, fileSize);
}

void TFile::output()
{
    if (!grid)
        return;
    if (fileName.empty()) {
        grid->SetCell(col, row, kEmpty);
        grid->SetCell(col + 1, row, "");
        grid->SetCell(col + 2, row, "");
    } else {
        grid->SetCell(col, row, fileName);
        grid->SetCell(col + 1, row, FileDuration(fileSize));
        grid->SetCell(col + 2, row, std::to_string(fileSize));
    }
}

std::string TFile::text()
{
    return fileName.empty() ? kEmpty : fileName;
}

void TFile::askdel()
{
    action = 0;
    if (fileName.empty())
        return;
    if (CollectionDialogs().Confirm("Удалить файл: " + fileName))
        action = 21;
}

void TFile::delp()
{
    action = RunCommandExchange({"CLEAR\r", "N", std::to_string(code), kStepMs, kStepMs},
                                {200, 201, 202, 203, 3, {{"ERROR", 204}}, 205});
}

void TFile::ulstart()
{
    SendSet(code);
    action = 31;
}

void TFile::ulgo()
{
    if (startTransfer)
        startTransfer();
}

void TFile::dlstart()
{
    TFormComm& comm = FormComm();
    if (!comm.SendEcho("DLMSG\r", kStepMs))
        action = 240;
    else if (!comm.WaitText("N", kStepMs))
        action = 241;
    else if (!comm.SendEcho(std::to_string(code) + "\r", kStepMs))
        action = 242;
    else if (!comm.WaitText("START", kStepMs))
        action = 241;
    else
        action = 41;
}

void TFile::dlgo()
{
    if (startTransfer)
        startTransfer();
}

void TFile::transferResult()
{
    TFormComm& comm = FormComm();
    transferError = 0;
    std::string skipped, line;
    if (!comm.ReadUpTo("TRANSFER_RESULT:", kTransferWaitMs, skipped) ||
        !comm.ReadUpTo("\r", kTransferWaitMs, line)) {
        transferError = 100;
        action = 71;
        return;
    }
    const TTransferResult r = ParseTransferResult(StripCr(line));
    switch (r.result) {
    case TTransferResult::Ok:
        action = 3;
        break;
    case TTransferResult::Error:
        transferError = r.error;
        action = 71;
        break;
    case TTransferResult::BadNumber:
        transferError = 101;
        action = 71;
        break;
    case TTransferResult::Other:
        transferError = 0;
        action = 71;
        break;
    }
}

void TFile::transferReport()
{
    ShowError(TransferErrorText(transferError));
    action = 3;
}

}  // namespace kv
