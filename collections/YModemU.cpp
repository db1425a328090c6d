#include "collections/YModemU.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "collections/Dialogs.h"
#include "collections/File.h"
#include "collections/ReportFile.h"
#include "session/Comm.h"
#include "session/Dialogs.h"
#include "session/KvMenu.h"

namespace kv {

namespace {

std::string baseName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string defaultTempParent()
{
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

}  // namespace

TFormYMU::TFormYMU(TKvMenu& session, TFormComm& comm, TFile& object, std::string chosenPath, std::string tempParent)
    : session_(session),
      comm_(comm),
      object_(object),
      chosenPath_(std::move(chosenPath)),
      tempParent_(tempParent.empty() ? defaultTempParent() : std::move(tempParent))
{
    engine_.SetComm(&comm_.VaComm1);
    engine_.SetProtocol(YModem);
    engine_.OnFileInfo = [this](TVaComponent*, const std::string& name, int size) { fileInfo(name, size); };
    engine_.OnPacketEvent = [this](TVaComponent*, int number, int byteCount) { packet(number, byteCount); };
    engine_.OnTransferEnd = [this](TVaComponent*, int code) { transferEnd(code); };
    engine_.OnError = [this](TVaComponent*, int, int count) { record_.errors = count; };
    Timer1.onTimer = [this] { tick(); };
}

TFormYMU::~TFormYMU()
{
    Timer1.Stop();
    if (!closed_) {
        object_.startTransfer = nullptr;
        object_.transferNotStarted = nullptr;
    }
    engine_.OnTransferEnd = nullptr;
    removeFolder();
}

bool TFormYMU::Show()
{
    // The user's action this transfer belongs to has already found the
    // unit silent (its message shown): nothing is started, the dialog goes.
    if (session_.ActionFailed()) {
        close();
        return false;
    }
    switch (object_.action) {
    case 30:
        engine_.SetMode(tmUpload);
        engine_.Files() = {object_.localPath};
        break;
    case 40: {
        std::string tmpl = tempParent_ + "/kvmanage-XXXXXX";
        if (!::mkdtemp(tmpl.data())) {
            ShowError("Не удалось создать временную папку в " + tempParent_);
            return false;
        }
        folder_ = tmpl;
        engine_.SetMode(tmDownload);
        engine_.Files().clear();
        engine_.SetTargetFolder(folder_);
        break;
    }
    default:
        // Nothing is started: the dialog stays open until "Отменить".
        ShowError("Mode error");
        return false;
    }
    object_.startTransfer = [this] { start(); };
    // The unit did not take the slot exchange (its message shown): no
    // transfer follows, and the dialog closes.
    object_.transferNotStarted = [this] { close(); };
    if (!session_.Run(&object_)) {
        // The session started nothing (the action failed, or the session
        // ended meanwhile): nothing will move, the dialog goes.
        close();
        return false;
    }
    return true;
}

void TFormYMU::start()
{
    record_ = {};
    record_.upload = engine_.Mode() == tmUpload;
    if (record_.upload && !engine_.Files().empty())
        record_.name = baseName(engine_.Files().front());
    if (TLineObserver* o = comm_.LineObserver())
        o->TransferStarted();
    moved();
    Timer1.Start();
    engine_.Start();
}

void TFormYMU::moved()
{
    lastMoved_ = now();
    if (!silence_.empty()) {
        silence_.clear();
        changed();
    }
}

void TFormYMU::tick()
{
    if (closed_ || !engine_.Busy())
        return;
    const auto silent = std::chrono::duration_cast<std::chrono::seconds>(now() - lastMoved_).count();
    if (silent < kSilentAfterS)
        return;
    const std::string text = "Устройство не отвечает " + std::to_string(silent) + " с";
    if (text != silence_) {
        silence_ = text;
        changed();
    }
}

bool TFormYMU::CloseQuery()
{
    if (closed_)
        return true;
    if (engine_.Busy()) {
        if (CollectionDialogs().AskYesNo("Хотите прервать передачу ?"))
            engine_.Cancel();
        return false;
    }
    close();
    return true;
}

void TFormYMU::fileInfo(const std::string& name, int size)
{
    title_ = (engine_.Mode() == tmUpload ? "Отправка файла " : "Прием файла ") + baseName(name);
    record_.name = baseName(name);
    record_.size = size;
    progressMax_ = size;
    total_ = std::to_string(size);
    lastMoved_ = now();
    silence_.clear();
    changed();
}

void TFormYMU::packet(int number, int byteCount)
{
    progressPos_ = byteCount;
    bytes_ = std::to_string(byteCount);
    packet_ = std::to_string(number);
    record_.blocks = number;
    lastMoved_ = now();
    silence_.clear();
    changed();
}

void TFormYMU::transferEnd(int exitCode)
{
    Timer1.Stop();
    silence_.clear();
    exitCode_ = exitCode;
    record_.result = exitCode;
    if (TLineObserver* o = comm_.LineObserver())
        o->TransferEnded(record_);
    if (engine_.Mode() == tmDownload) {
        // The unit's result line comes after a pause; what is pending now is
        // the tail of the transfer.
        try {
            comm_.VaComm1.FlushInput();
        } catch (const std::exception&) {
            // A port that cannot purge still delivers the result line.
        }
        keepReceivedFile();
        removeFolder();
    }
    object_.startTransfer = nullptr;
    // A line that hung up carries no result: the session reports the
    // hang-up itself, once.
    if (exitCode != vtLineLost) {
        object_.Begin(TFile::kTransferEnd);
        session_.Run(&object_);
    }
    close();
}

void TFormYMU::keepReceivedFile()
{
    if (exitCode_ != 0 || engine_.Files().empty() || chosenPath_.empty())
        return;
    const std::string& received = engine_.Files().front();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(received, ec))
        return;
    std::string error;
    if (!ReplaceFile(received, chosenPath_, error))
        ShowError("Не удалось сохранить файл " + chosenPath_ + ": " + error);
}

void TFormYMU::removeFolder()
{
    if (folder_.empty())
        return;
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
    folder_.clear();
}

void TFormYMU::close()
{
    if (closed_)
        return;
    closed_ = true;
    object_.startTransfer = nullptr;
    object_.transferNotStarted = nullptr;
    removeFolder();
    changed();
    // The handler may destroy this dialog: it runs from a copy, last.
    if (const std::function<void()> handler = onClose)
        handler();
}

void TFormYMU::changed()
{
    if (onChange)
        onChange();
}

}  // namespace kv
