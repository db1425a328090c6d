#include "unit/Unit.h"

#include <atomic>
#include <stdexcept>

#include "collections/Factory.h"
#include "collections/File.h"
#include "collections/ListDlg.h"
#include "collections/MailDlg.h"
#include "collections/MenuDlg.h"
#include "collections/YModemU.h"
#include "serial/UiBridge.h"
#include "session/Dialogs.h"

namespace kv {

namespace {

std::atomic<bool> g_unitExists{false};

// The objects of one column of a grid, rows 1 to the last.
std::vector<TJoint1*> columnObjects(const TGridModel& grid, int col)
{
    std::vector<TJoint1*> objects;
    for (int row = 1; row < grid.RowCount(); ++row)
        if (TJoint1* object = grid.Object(col, row))
            objects.push_back(object);
    return objects;
}

// Index of the mailbox `owner` among the valid records, or -1.
int32_t boxIndex(const TMailDlg& mail, const std::string& owner)
{
    for (int32_t i = 0; i < mail.boxCount && static_cast<size_t>(i) < mail.boxes.size(); ++i)
        if (mail.boxes[static_cast<size_t>(i)].owner == owner)
            return i;
    return -1;
}

// The worse of two outcomes, messages of both kept.
TOutcome worse(const TOutcome& a, const TOutcome& b)
{
    auto rank = [](TOutcome::TKind k) {
        switch (k) {
        case TOutcome::Done: return 0;
        case TOutcome::NotAllowed: return 1;
        case TOutcome::Refused: return 2;
        case TOutcome::LineLost: return 3;
        }
        return 0;
    };
    TOutcome out = rank(b.kind) > rank(a.kind) ? b : a;
    out.message = a.message.empty() ? b.message : b.message.empty() ? a.message : a.message + "\n" + b.message;
    return out;
}

}  // namespace

const char* OutcomeWord(TOutcome::TKind kind)
{
    switch (kind) {
    case TOutcome::Done: return "сделано";
    case TOutcome::Refused: return "отказ";
    case TOutcome::LineLost: return "связь потеряна";
    case TOutcome::NotAllowed: return "недоступно";
    }
    return "";
}

std::string JoinedLines(const std::vector<std::string>& lines, const char* separator)
{
    std::string out;
    for (const std::string& line : lines) {
        std::string clean = line;
        while (!clean.empty() && (clean.back() == '\r' || clean.back() == '\n'))
            clean.pop_back();
        if (!out.empty())
            out += separator;
        out += clean;
    }
    return out;
}

// ---- one unit per process

TUnit::TInstance::TInstance()
{
    bool none = false;
    if (!g_unitExists.compare_exchange_strong(none, true))
        throw std::logic_error(kSecondUnit);
}

TUnit::TInstance::~TInstance()
{
    g_unitExists.store(false);
}

// ---- start-up and end

TUnit::TUnit()
{
    if (FormCommExists())
        throw std::logic_error(kPortOwnerTaken);
    comm_ = std::make_unique<TFormComm>();
    server_ = std::make_unique<TCOMServer>();
    session_ = std::make_unique<TKvMenu>(*comm_, *server_);
    catalogue_ = std::make_unique<TCatalogue>(CollectionFactory());
    comm_->SetLineObserver(&trace_);
}

TUnit::~TUnit()
{
    Close();
    catalogue_.reset();
    comm_->SetLineObserver(nullptr);
}

void TUnit::Close()
{
    if (closed_)
        return;
    closed_ = true;
    if (session_->mode != kModeDisconnected) {
        session_->Disconnect();
        session_->WaitIdle();
    }
    server_->Terminate();
    server_.reset();
    comm_->VaComm1.Close();
    session_.reset();
}

// ---- state

int TUnit::Mode() const
{
    return session_ ? static_cast<int>(session_->mode) : static_cast<int>(kModeDisconnected);
}

bool TUnit::Connected() const
{
    const int mode = Mode();
    return mode == kModeAdmin || mode == kModeSystem;
}

bool TUnit::SystemMode() const
{
    return Mode() == kModeSystem;
}

int TUnit::Port() const
{
    return session_ ? session_->port : 1;
}

void TUnit::SetPort(int port)
{
    if (session_)
        session_->port = port;
}

std::string TUnit::Device() const
{
    TVaComm& port = comm_->VaComm1;
    if (port.DeviceName().find('%') == std::string::npos)
        return VaResolveDevice(port.DeviceName());
    return VaResolveDevice("COM" + std::to_string(Port()));
}

// ---- outcomes

TUnit::TWatch::TWatch(TUnit& unit)
    : unit_(unit),
      mark_(ReportMark()),
      losses_(unit.Comm().LineLosses()),
      faults_(unit.Closed() ? 0 : unit.Session().LineFaults()),
      connected_(unit.Connected())
{
}

bool TUnit::TWatch::lost() const
{
    // A hang-up, a session that dropped, or a unit that fell silent in an
    // exchange (the job and its action ended).
    return unit_.Comm().LineLosses() != losses_ || (connected_ && !unit_.Connected()) ||
           (!unit_.Closed() && unit_.Session().LineFaults() != faults_);
}

bool TUnit::TWatch::Failed() const
{
    return ReportMark() != mark_ || lost();
}

TOutcome TUnit::TWatch::Outcome() const
{
    const std::string messages = JoinedLines(ReportsSince(mark_), "\n");
    if (lost())
        return TOutcome::Fail(TOutcome::LineLost, messages.empty() ? kConnectionLost : messages);
    if (!messages.empty())
        return TOutcome::Fail(TOutcome::Refused, messages);
    return TOutcome::Success();
}

// ---- connection

TOutcome TUnit::Connect(const TPasswordSource& source)
{
    if (closed_)
        return TOutcome::Fail(TOutcome::NotAllowed, kNotConnected);
    TKvMenu& session = *session_;
    const uint64_t mark = ReportMark();
    session.password = source.password;
    session.askAgain = source.askAgain;
    session.error = 0;
    catalogue_->version.Begin(TJoint1::kRead);
    session.Run(&catalogue_->version);
    session.WaitIdle();
    const std::string messages = JoinedLines(ReportsSince(mark), "\n");
    if (Connected()) {
        // A password asked for again on the way (its warning) still ends
        // in a connection.
        loaded.fill(false);
        return TOutcome::Success();
    }
    switch (session.error) {
    case 13: return TOutcome::Fail(TOutcome::Refused, kWrongPassword);
    case 14: return TOutcome::Fail(TOutcome::Refused, kUnitBusy);
    default: break;
    }
    if (messages.empty())
        return TOutcome::Fail(TOutcome::NotAllowed, kNoPassword);
    return TOutcome::Fail(TOutcome::LineLost, messages);
}

TOutcome TUnit::Connect(const std::string& device, const TPasswordSource& password)
{
    comm_->VaComm1.SetDeviceName(device);
    return Connect(password);
}

TOutcome TUnit::Disconnect()
{
    if (closed_)
        return TOutcome::Fail(TOutcome::NotAllowed, kNotConnected);
    const uint64_t mark = ReportMark();
    session_->Disconnect();
    session_->WaitIdle();
    const std::string messages = JoinedLines(ReportsSince(mark), "\n");
    return messages.empty() ? TOutcome::Success() : TOutcome::Fail(TOutcome::Refused, messages);
}

void TUnit::WaitIdle()
{
    if (session_)
        session_->WaitIdle();
}

// ---- jobs

TOutcome TUnit::Run(TJoint1& object, int32_t step)
{
    if (closed_)
        return TOutcome::Fail(TOutcome::NotAllowed, kNotConnected);
    TWatch watch(*this);
    object.Begin(step);
    session_->Run(&object);
    session_->WaitIdle();
    return watch.Outcome();
}

// ---- reading

bool TUnit::SystemTab(int tab)
{
    return tab == kTabSysParams || tab == kTabMessages;
}

const char* TUnit::TabCaption(int tab)
{
    static const char* const captions[kTabCount] = {"Номера", "Приветствия", "Время", "Меню", "Почта",
                                                    "Системные параметры", "Замена сообщений"};
    return tab >= 0 && tab < kTabCount ? captions[tab] : "";
}

std::vector<TJoint1*> TUnit::TabObjects(int tab)
{
    TCatalogue& c = *catalogue_;
    switch (tab) {
    case kTabNumbers:
        return {c.extensionList.get(), &c.opCode, &c.opNumDay, &c.opNumNight, &c.faxNum, &c.admPwd};
    case kTabGreetings: return columnObjects(c.sgGreetings, 0);
    case kTabTime: {
        std::vector<TJoint1*> objects{&c.holiday};
        for (int row = 1; row <= 7; ++row) {
            objects.push_back(c.sgTime.Object(1, row));
            objects.push_back(c.sgTime.Object(2, row));
        }
        return objects;
    }
    case kTabMenu: return columnObjects(c.sgMenu, 0);
    case kTabMail: return {c.mailboxes.get()};
    case kTabSysParams: {
        std::vector<TJoint1*> objects{&c.version};
        for (TJoint1* row : columnObjects(c.sgSysParams, 2))
            objects.push_back(row);
        return objects;
    }
    case kTabMessages: {
        std::vector<TJoint1*> objects;
        for (int row = 1; row <= 5; ++row)
            for (int col = 2; col <= 7; ++col)
                objects.push_back(c.sgGreetOverride.Object(col, row));
        for (int row = 1; row <= 14; ++row)
            objects.push_back(c.sgMessages.Object(1, row));
        return objects;
    }
    default: return {};
    }
}

TOutcome TUnit::ReadTab(int tab, bool again)
{
    if (closed_ || tab < 0 || tab >= kTabCount || !Connected())
        return TOutcome::Fail(TOutcome::NotAllowed, kNotConnected);
    if (SystemTab(tab) && !SystemMode())
        return TOutcome::Fail(TOutcome::NotAllowed, kSystemModeOnly);
    const size_t index = static_cast<size_t>(tab);
    if (loaded[index] && !again)
        return TOutcome::Success();
    TWatch watch(*this);
    TKvMenu& session = *session_;
    TKvMenu::TAction action(session);
    for (TJoint1* object : TabObjects(tab)) {
        if (!object)
            continue;
        session.WaitIdle();
        // Once the session has dropped, a further job would only open it
        // again behind the user's back; once the unit fell silent, each
        // would only add a message.
        if (!Connected() || session.ActionFailed())
            break;
        object->Begin(TJoint1::kRead);
        session.Run(object);
    }
    session.WaitIdle();
    const TOutcome outcome = watch.Outcome();
    loaded[index] = outcome.Ok();
    return outcome;
}

TOutcome TUnit::ReadAll(bool reread, const std::function<void(int, int, const std::string&)>& progress)
{
    if (closed_ || !Connected())
        return TOutcome::Fail(TOutcome::NotAllowed, kNotConnected);
    if (reread)
        loaded.fill(false);
    TKvMenu::TAction action(*session_);
    TOutcome all;
    for (int tab = 0; tab < kTabCount; ++tab) {
        if (!Connected() || session_->ActionFailed())
            return all.kind == TOutcome::LineLost ? all
                                                  : worse(all, TOutcome::Fail(TOutcome::LineLost, kConnectionLost));
        if (progress)
            progress(tab, kTabCount, TabCaption(tab));
        if (SystemTab(tab) && !SystemMode())
            continue;
        all = worse(all, ReadTab(tab));
    }
    if (!Connected() && all.kind != TOutcome::LineLost)
        return worse(all, TOutcome::Fail(TOutcome::LineLost, kConnectionLost));
    return all;
}

// ---- writing

TOutcome TUnit::WriteValue(TJoint1& setting)
{
    return Run(setting, TJoint1::kWrite);
}

TOutcome TUnit::AddEntry(const std::string& entry)
{
    TListDlg* list = catalogue_->extensionList.get();
    if (!list)
        return TOutcome::Fail(TOutcome::NotAllowed, kNotConnected);
    list->entry = entry;
    return Run(*list, TListDlg::kAddEntry);
}

TOutcome TUnit::RemoveEntry(const std::string& entry)
{
    TListDlg* list = catalogue_->extensionList.get();
    if (!list)
        return TOutcome::Fail(TOutcome::NotAllowed, kNotConnected);
    list->entry = entry;
    return Run(*list, TListDlg::kRemoveEntry);
}

namespace {

// A new or changed mailbox: its values into the dialog object, then its step.
TOutcome WriteBox(TUnit& unit, TMailDlg* mail, int32_t step, const std::string& owner, int32_t size, int32_t mode,
                  int32_t period)
{
    if (!mail)
        return TOutcome::Fail(TOutcome::NotAllowed, TUnit::kNotConnected);
    mail->newOwner = owner;
    mail->newSize = size;
    mail->newMode = static_cast<uint8_t>(mode);
    mail->newPeriod = period;
    return unit.Run(*mail, step);
}

}  // namespace

TOutcome TUnit::CreateBox(const std::string& owner, int32_t size, int32_t mode, int32_t period)
{
    return WriteBox(*this, catalogue_->mailboxes.get(), TMailDlg::kCreateBox, owner, size, mode, period);
}

TOutcome TUnit::EditBox(const std::string& owner, int32_t size, int32_t mode, int32_t period)
{
    return WriteBox(*this, catalogue_->mailboxes.get(), TMailDlg::kEditBox, owner, size, mode, period);
}

TOutcome TUnit::DeleteBox(const std::string& owner)
{
    TMailDlg* mail = catalogue_->mailboxes.get();
    const int32_t at = mail ? boxIndex(*mail, owner) : -1;
    if (at < 0)
        return TOutcome::Fail(TOutcome::NotAllowed, "нет ящика " + owner);
    mail->selected = at;
    return Run(*mail, TMailDlg::kDeleteBox);
}

TOutcome TUnit::WriteMenu(TMenuDlg& menu, int32_t callCode, const std::array<std::string, 10>& keys)
{
    menu.callCode = callCode;
    menu.keys = keys;
    TOutcome outcome = Run(menu, TJoint1::kWrite);
    if (outcome.kind == TOutcome::Refused && Connected()) {
        // A refused write leaves the edited values in the object; the read
        // puts the unit's back.
        outcome = worse(outcome, Run(menu, TJoint1::kRead));
    }
    return outcome;
}

TOutcome TUnit::WriteMenuKey(TMenuDlg& menu, int key, const std::string& action)
{
    if (key < 0 || key > 9)
        return TOutcome::Fail(TOutcome::NotAllowed, "нет клавиши " + std::to_string(key));
    std::array<std::string, 10> keys = menu.keys;
    keys[static_cast<size_t>(key)] = action;
    return WriteMenu(menu, menu.callCode, keys);
}

TOutcome TUnit::ClearFile(TFile& slot)
{
    return Run(slot, TFile::kClear);
}

TOutcome TUnit::Upload(TFile& slot, const std::string& path)
{
    slot.localPath = path;
    return transfer(slot, TFile::kUpload, {}, nullptr);
}

TOutcome TUnit::Download(TFile& slot, const std::string& path, int* exitCode)
{
    return transfer(slot, TFile::kDownload, path, exitCode);
}

TOutcome TUnit::transfer(TFile& slot, int32_t step, const std::string& path, int* exitCode)
{
    if (closed_)
        return TOutcome::Fail(TOutcome::NotAllowed, kNotConnected);
    TWatch watch(*this);
    slot.Begin(step);
    TFormYMU dialog(*session_, *comm_, slot, path);
    if (executeTransfer) {
        executeTransfer(dialog);
    } else if (dialog.Show()) {
        // The engine's time-outs end every transfer, and its end closes
        // the dialog.
        while (!dialog.Closed())
            UiBridge().ProcessEvents(100);
    }
    // The unit's transfer result, started as the dialog closed.
    session_->WaitIdle();
    if (exitCode)
        *exitCode = dialog.ExitCode();
    TOutcome outcome = watch.Outcome();
    if (outcome.Ok() && dialog.ExitCode() != 0)
        outcome = TOutcome::Fail(TOutcome::Refused, std::string(step == TFile::kDownload ? "файл не получен (код "
                                                                                         : "файл не передан (код ") +
                                                        std::to_string(dialog.ExitCode()) + ")");
    return outcome;
}

}  // namespace kv
