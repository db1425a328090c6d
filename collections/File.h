// A voice-file slot on the unit: the service messages 60 to 73 (and, through
// TMenuDlg, the files of the voice menus and greetings).
//
// TFile reads the slot's file name and size and shows them in three cells of
// a grid row (name, duration, size), deletes the file, and runs the unit's
// side of a transfer: before it, the exchange that makes the unit send or
// receive; after it, the unit's "TRANSFER_RESULT:" line. The transfer
// itself runs in the YModem engine of the transfer dialog (TFormYMU), which
// hands its Start over as `startTransfer`.
//
// Start values of `action`: 3 read and show; 20 delete (ask, CLEAR, read
// back); 30 upload (slot exchange, start the engine); 40 download (DLMSG,
// start the engine); 70 after the engine's end (transfer result, report,
// read back). Exchanges run on the worker, dialogs and the grid on the UI
// thread (needsync).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "session/Joint.h"

namespace kv {

class TFile : public TJoint1 {
public:
    // Start steps (besides kRead): kDelete asks first, kClear deletes
    // without asking; kUpload and kDownload are the transfer dialog's.
    static constexpr int32_t kDelete = 20;
    static constexpr int32_t kClear = 21;
    static constexpr int32_t kUpload = 30;
    static constexpr int32_t kDownload = 40;
    static constexpr int32_t kTransferEnd = 70;

    bool process() override;
    bool needsync() override;
    // MessageGet of the slot: fileName and fileSize.
    void getp() override;
    // Cells col, col+1, col+2 of row: name, duration, size in decimal; an
    // empty slot shows "Не записано" and two empty cells.
    void output() override;
    // fileName, or "Не записано".
    std::string text() override;

    // The DLMSG exchange that makes the unit start sending (worker).
    virtual void dlstart();
    // Starts the engine (UI).
    virtual void dlgo();
    // Asks whether to delete (UI).
    virtual void askdel();
    // The CLEAR exchange (worker).
    virtual void delp();
    // Tells the unit which slot will receive a file (worker).
    virtual void ulstart();
    // Starts the engine (UI).
    virtual void ulgo();

    // The file's name as the unit reports it (UTF-8); empty: no file.
    std::string fileName;
    // Full path of the computer file to send; set before an upload.
    std::string localPath;
    // The file's size as the unit reports it.
    int32_t fileSize = 0;
    // Starts the engine of the open transfer dialog; set by that dialog.
    std::function<void()> startTransfer;
    // Told on the UI thread when the exchange before a transfer failed, so
    // that the engine will not start: the dialog closes. Set by that dialog.
    std::function<void()> transferNotStarted;
    // Error number from the unit's transfer result; 100: no result line in
    // time; 101: the number could not be read.
    int32_t transferError = 0;

    // Texts shown for an empty slot.
    static constexpr const char* kEmpty = "Не записано";

protected:
    // The transfer result exchange (action 70, worker): 3 or 71.
    void transferResult();
    // The transfer error report (action 71, UI): then 3.
    void transferReport();
    // The message of a failure action, or "" when the action is none.
    virtual std::string failureText(int32_t failure) const;

    static constexpr int kTransferWaitMs = 5000;

private:
    // Between the start of an upload or download job and the engine's start.
    bool startingTransfer_ = false;
    void notStarted();
};

// The message of a transfer error number (action 71).
std::string TransferErrorText(int32_t transferError);

}  // namespace kv
