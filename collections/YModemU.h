// The transfer dialog "Передача/прием файла" as the core sees it: it owns a
// YModem engine on the line transport's port, prepares it by the voice-file
// object's action (30 upload, 40 download), hands the object its Start and
// runs the object's job, shows progress from the engine's events, and when
// the engine ends, puts a received file in place and has the object read the
// unit's transfer result (not after a line that hung up, which the session
// reports itself).
//
// A download is received into a private temporary folder. The file the user
// chose is replaced only when a whole file arrived, by one rename over it
// (or a copy into its folder and a rename, when the folders lie on
// different file systems); a failed or cancelled download leaves the chosen
// file as it was and nothing of the partial file behind.
//
// Everything here runs on the UI thread.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "session/LineObserver.h"
#include "settings/View.h"
#include "transfer/VaYModem.h"

namespace kv {

class TFile;
class TKvMenu;
class TFormComm;

class TFormYMU {
public:
    static constexpr const char* kCaption = "Передача/прием файла";

    // The dialog for one transfer of `object`; for a download `chosenPath`
    // is where the file goes. Received files are first written into a fresh
    // folder made under `tempParent` (empty: $TMPDIR, else /tmp).
    TFormYMU(TKvMenu& session, TFormComm& comm, TFile& object, std::string chosenPath = "",
             std::string tempParent = "");
    ~TFormYMU();
    TFormYMU(const TFormYMU&) = delete;
    TFormYMU& operator=(const TFormYMU&) = delete;

    // On showing: prepares the engine by the object's action and starts the
    // object's job, which starts the engine once the unit is ready. Another
    // action shows "Mode error" and starts nothing. False when nothing was
    // started.
    bool Show();

    // Closing by "Отменить" or the close box. While the engine runs it asks
    // "Хотите прервать передачу ?" and on Yes cancels the transfer; the
    // dialog stays open until the engine's end closes it. Without a transfer
    // it closes at once. True when the dialog is closed now.
    bool CloseQuery();
    bool Closed() const { return closed_; }

    // The controls.
    const std::string& Title() const { return title_; }  // Label1
    int ProgressMax() const { return progressMax_; }     // ProgressBar1
    int ProgressPos() const { return progressPos_; }
    const std::string& Packet() const { return packet_; }  // Edit1
    const std::string& Bytes() const { return bytes_; }    // Edit2
    const std::string& Total() const { return total_; }    // Edit3
    // The unit's silence: once no block has moved for kSilentAfterS
    // seconds while the engine runs, "Устройство не отвечает N с" (N the
    // seconds since the last block, counting on), so that the user knows
    // why the progress stands and may press "Отменить"; "" otherwise. The
    // engine keeps its own time-outs.
    const std::string& Silence() const { return silence_; }  // lblSilence
    static constexpr int kSilentAfterS = 3;
    // Ticks once a second while the engine runs; the window drives it.
    TCoreTimer Timer1{1000};
    // The clock the silence is measured with (tests may replace it).
    std::function<std::chrono::steady_clock::time_point()> now = [] { return std::chrono::steady_clock::now(); };

    // Called after any control changed, and when the dialog closes.
    std::function<void()> onChange;
    // Called once, when the dialog closes: by CloseQuery without a
    // transfer, or from inside the engine's end (OnTransferEnd, after the
    // result job has been started). The handler may destroy the dialog and
    // with it the engine: it is the last thing the closing step does, and an
    // engine released from its own end handler lets its thread free itself
    // instead of waiting for it.
    std::function<void()> onClose;

    TVaYModem& Engine() { return engine_; }
    // The engine's exit code of the transfer, once it has ended.
    int ExitCode() const { return exitCode_; }
    // The private folder of a download while it exists, else "".
    const std::string& DownloadFolder() const { return folder_; }

private:
    void start();
    void fileInfo(const std::string& name, int size);
    void packet(int number, int byteCount);
    void transferEnd(int exitCode);
    void keepReceivedFile();
    void removeFolder();
    void close();
    void changed();
    // A block (or the file's header) moved: the silence ends.
    void moved();
    void tick();

    TKvMenu& session_;
    TFormComm& comm_;
    TFile& object_;
    const std::string chosenPath_;
    const std::string tempParent_;
    TVaYModem engine_;
    std::string folder_;
    bool closed_ = false;
    int exitCode_ = 0;
    // What the exchange trace is told of this transfer.
    TTransferRecord record_;

    std::string title_;
    int progressMax_ = 0;
    int progressPos_ = 0;
    std::string packet_;
    std::string bytes_;
    std::string total_;
    std::string silence_;
    std::chrono::steady_clock::time_point lastMoved_{};
};

}  // namespace kv
