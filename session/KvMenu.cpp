#include "session/KvMenu.h"

#include <mutex>

#include "serial/UiBridge.h"
#include "session/Comm.h"
#include "session/Cp1251.h"
#include "session/Dialogs.h"
#include "session/Server.h"

namespace kv {

namespace {

constexpr uint8_t kCAN = 24;
constexpr uint8_t kCR = 13;
constexpr int kLoginMs = 1000;
constexpr int kReplyMs = 2000;
constexpr int kLogoutMs = 200;

// Levels: where the unit stands.
enum : uint8_t {
    kLevelRelogin = 2,
    kLevelPasswordPrompt = 3,
    kLevelTop = 4,
    kLevelPC = 5,
};

bool isMenu(int code)
{
    return code >= kMenuSys && code <= kMenuTime;
}

}  // namespace

std::string MenuCommand(int code)
{
    switch (code) {
    case kMenuSys: return "SYS\r";
    case kMenuList: return "LIST\r";
    case kMenuMail: return "MAIL\r";
    case kMenuMenu: return "MENU\r";
    case kMenuTime: return "TIME\r";
    default: return {};
    }
}

std::string MenuPrompt(int code)
{
    switch (code) {
    case kMenuSys: return "PC SYS>";
    case kMenuList: return "PC LIST>";
    case kMenuMail: return "PC MAIL>";
    case kMenuMenu: return "PC MENU>";
    case kMenuTime: return "PC TIME>";
    default: return {};
    }
}

std::string ModeText(int mode)
{
    switch (mode) {
    case kModeDisconnected: return "Отключено";
    case kModeConnecting: return "Подключение к устройству...";
    case kModeAdmin: return "Режим: Администратор";
    case kModeSystem: return "Режим: Системный";
    default: return {};
    }
}

// What the port owner's and the worker's hooks reach the session through.
// The session leaves it when it goes; the port owner may not exist yet when
// the session is made, and the worker may be gone before it, so neither is
// touched then.
struct TKvMenu::TLink {
    std::mutex lock;
    TKvMenu* session = nullptr;
};

TKvMenu::TKvMenu(TFormComm& comm, TCOMServer& server)
    : comm_(comm), server_(server), link_(std::make_shared<TLink>())
{
    link_->session = this;
}

TKvMenu::~TKvMenu()
{
    std::lock_guard<std::mutex> g(link_->lock);
    link_->session = nullptr;
}

void TKvMenu::listen()
{
    if (listening_)
        return;
    listening_ = true;
    const std::shared_ptr<TLink> link = link_;
    // A hang-up while no job runs: the session ends by a job of its own.
    // This runs on the UI thread, where the session also goes.
    comm_.onLineLost = [link] {
        TKvMenu* session;
        {
            std::lock_guard<std::mutex> g(link->lock);
            session = link->session;
        }
        if (session && session->comm_.VaComm1.IsOpen())
            session->server_.StartIfIdle(session);
    };
    server_.SetInterrupt([link]() -> TJoint* {
        std::lock_guard<std::mutex> g(link->lock);
        return link->session ? link->session->lineLostJob() : nullptr;
    });
    server_.SetLineFault([link] {
        std::lock_guard<std::mutex> g(link->lock);
        if (link->session)
            link->session->lineFault();
    });
}

void TKvMenu::lineFault()
{
    actionFailed_.store(true);
    lineFaults_.fetch_add(1);
    // The unit may stand anywhere inside the exchange that went silent.
    if (level >= kLevelTop)
        level = kLevelRelogin;
}

void TKvMenu::BeginAction()
{
    if (actionDepth_++ == 0)
        actionFailed_.store(false);
}

void TKvMenu::EndAction()
{
    if (actionDepth_ > 0 && --actionDepth_ == 0)
        actionFailed_.store(false);
}

TJoint* TKvMenu::lineLostJob()
{
    if (action == 190 || !comm_.LineLost() || !comm_.VaComm1.IsOpen())
        return nullptr;
    action = 190;
    return this;
}

bool TKvMenu::needsync()
{
    switch (action) {
    case 100:
    case 120:
    case 121:
    case 102:
    case 105:
    case 130:
        return false;
    default:
        return true;
    }
}

bool TKvMenu::process()
{
    switch (action) {
    case 0:
        return true;
    case 100:
        if (level < kLevelRelogin)
            action = 180;
        else if (level == kLevelRelogin)
            action = 121;
        else
            action = 105;
        return false;
    case 180:
        mode = kModeConnecting;
        notify();
        action = 120;
        return false;
    case 120:
        mode = kModeConnecting;
        UiBridge().Synchronize([this] { notify(); });
        try {
            comm_.VaComm1.SetPortNum(port);
            comm_.VaComm1.Open();
            action = 121;
        } catch (...) {
            error = 12;
            action = 122;
        }
        return false;
    case 121:
        wakeUnit();
        return false;
    case 122:
        connectOutcome();
        return false;
    case 101:
        getPassword();
        return false;
    case 102:
        sendPassword();
        return false;
    case 103:
    case 104:
        password.clear();
        if (!askAgain) {
            error = action == 103 ? 13 : 14;
            action = 130;
            return false;
        }
        if (action == 103)
            ShowWarning("Неверный пароль! Повторите ввод.");
        else
            ShowWarning("Устройство занято!\r Дождитесь освобождения всех линий и повторите ввод.");
        level = kLevelRelogin;
        action = 101;
        return false;
    case 181:
        mode = kModeAdmin;
        notify();
        action = 105;
        return false;
    case 182:
        mode = kModeSystem;
        notify();
        action = 105;
        return false;
    case 105:
        navigate();
        return false;
    case 130:
        logout();
        return false;
    case 183:
        mode = kModeDisconnected;
        notify();
        action = 0;
        return true;
    case 190:
        // The line hung up: nothing can be sent, not even the logout.
        closeWithComError("Устройство отключено.");
        return true;
    case 200:
        fail("Device does not respond (no echo)", 130, ExplainConnectionFailure(TConnectionFailure::NoEcho, port));
        return false;
    case 201:
        fail("Device did not prompt: Password", 130, ExplainConnectionFailure(TConnectionFailure::NoPrompt, port));
        return false;
    case 202:
        fail("Device does no respond on password input", 130,
             ExplainConnectionFailure(TConnectionFailure::NoReply, port));
        return false;
    case 203:
        fail("Unknown response on password input", 130);
        return false;
    case 205:
        fail("Probably incorrect entering KvMenu", 130);
        return false;
    case 206:
        // The first mismatch of a job logs in again without asking; a second
        // one means the unit does not stand where its prompts say, and
        // another login would only meet it again.
        if (++mismatches_ < 2) {
            level = kLevelRelogin;
            fail("Probably incorrect finishing the previous command", 100);
        } else {
            fail("Probably incorrect finishing the previous command", 130);
        }
        return false;
    case 207:
        fail("Error navigating menu", 130);
        return false;
    case 208:
        fail("Wrong menu passage", 130);
        return false;
    case 209:
        fail("Unknown menu navigation error", 130);
        return false;
    default:
        fail("KvMenu: invalid action:" + std::to_string(action), 130);
        return false;
    }
}

void TKvMenu::fail(const std::string& text, int32_t next, const std::string& details)
{
    ShowError(text, details);
    action = next;
}

void TKvMenu::notify()
{
    if (onMode)
        onMode(mode);
}

// Action 121: wake the unit and wait for its password prompt.
void TKvMenu::wakeUnit()
{
    for (int i = 0; i < 9; ++i)
        comm_.PutByte(kCAN);
    for (int i = 0; i < 16; ++i)
        comm_.PutByte(kCR);
    comm_.SendEcho(Utf8ToCp1251("лмж") + "\r", kLoginMs);

    enum { kFound, kNoEcho, kNoPrompt } outcome = kNoEcho;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!comm_.SendEcho("\r", kLoginMs)) {
            outcome = kNoEcho;
            continue;
        }
        if (comm_.WaitText("Password:", kLoginMs)) {
            outcome = kFound;
            break;
        }
        outcome = kNoPrompt;
    }

    const bool relogin = level == kLevelRelogin;
    switch (outcome) {
    case kFound:
        if (relogin) {
            level = kLevelPasswordPrompt;
            action = 101;
        } else {
            error = 0;
            action = 122;
        }
        break;
    case kNoEcho:
        if (relogin) {
            action = 200;
        } else {
            error = 10;
            action = 122;
        }
        break;
    case kNoPrompt:
        if (relogin) {
            action = 201;
        } else {
            error = 11;
            action = 122;
        }
        break;
    }
}

// Action 122: the outcome of a first connection attempt.
void TKvMenu::connectOutcome()
{
    if (error == 0) {
        level = kLevelPasswordPrompt;
        action = 101;
        return;
    }
    const char* reason = "Ошибка подключения";
    if (error == 10 || error == 11)
        reason = "Устройство не обнаружено.";
    else if (error == 12)
        reason = "Не удалось открыть порт.";
    // The message as it stands; the window's explanation goes into its details.
    std::string details;
    if (error == 10 || error == 11 || error == 12)
        details = ExplainConnectionFailure(error == 12   ? TConnectionFailure::OpenFailed
                                           : error == 10 ? TConnectionFailure::NoEcho
                                                         : TConnectionFailure::NoPrompt,
                                           port);
    closeWithComError(reason, details);
}

// UI thread: the error made of "COM", the port and the reason (with the
// details, when there are any); the port closed without the logout string;
// disconnected.
void TKvMenu::closeWithComError(const std::string& reason, const std::string& details)
{
    ShowError("COM" + std::to_string(port) + ": " + reason, details);
    if (comm_.VaComm1.IsOpen())
        comm_.VaComm1.Close();
    level = 0;
    mode = kModeDisconnected;
    notify();
    action = 0;
}

// Action 101: the password, from this connection or from the user.
void TKvMenu::getPassword()
{
    if (!password.empty()) {
        action = 102;
        return;
    }
    const TPasswordAnswer answer = AskPassword();
    if (!answer.ok) {
        action = 130;
        return;
    }
    if (answer.changed) {
        password = answer.text;
        action = 102;
    }
    // An untouched field: action stays 101 and the dialog comes again.
}

// Action 102: send the password and classify the unit's reply.
void TKvMenu::sendPassword()
{
    comm_.PutSecret(Utf8ToCp1251(password));
    std::string reply;
    if (!comm_.SendEcho("\r", kReplyMs) || !comm_.ReadUpTo("\r", kReplyMs, reply)) {
        action = 202;
        return;
    }
    reply.pop_back();
    if (reply == "ERROR") {
        comm_.SendEcho("\r", kReplyMs);
        level = kLevelRelogin;
        action = 103;
    } else if (reply == "BUSY") {
        level = kLevelRelogin;
        action = 104;
    } else if (reply == "ADMIN_MODE") {
        level = kLevelTop;
        action = 181;
    } else if (reply == "SYSTEM_MODE") {
        level = kLevelTop;
        action = 182;
    } else {
        action = 203;
    }
}

// Action 105: move the unit from where it stands into the target's menu,
// then hand the worker over to the target. Every prompt read must be the
// whole text that arrived since the last cut.
void TKvMenu::navigate()
{
    if (level < kLevelTop) {
        action = 205;
        return;
    }
    std::string text;
    if (!comm_.ReadUpTo(">", kReplyMs, text)) {
        action = 206;
        return;
    }
    const uint8_t from = level;
    if (from == kLevelTop || isMenu(from)) {
        if (text != (from == kLevelTop ? std::string(">") : MenuPrompt(from))) {
            action = 206;
            return;
        }
        if (!comm_.SendEcho(from == kLevelTop ? "PC\r" : "\r", kReplyMs)) {
            action = 207;
            return;
        }
        if (!comm_.ReadUpTo(">", kReplyMs, text)) {
            action = 206;
            return;
        }
    } else if (from != kLevelPC) {
        action = 206;
        return;
    }
    if (text != "PC>") {
        action = 206;
        return;
    }
    level = kLevelPC;

    const int menu = target ? static_cast<int>(target->menu) : static_cast<int>(kMenuUndefined);
    if (!isMenu(menu)) {
        action = 208;
        return;
    }
    if (!comm_.SendEcho(MenuCommand(menu), kReplyMs)) {
        action = 207;
        return;
    }
    if (!comm_.ReadUpTo(">", kReplyMs, text)) {
        action = 206;
        return;
    }
    if (text != MenuPrompt(menu)) {
        action = 206;
        return;
    }
    level = static_cast<uint8_t>(menu);
    server_.SetJob(target);
}

// Action 130: the logout string when the port is open, then close it.
void TKvMenu::logout()
{
    if (comm_.VaComm1.IsOpen()) {
        comm_.SendEcho(std::string(5, static_cast<char>(kCAN)) + std::string(9, static_cast<char>(kCR)), kLogoutMs);
        comm_.VaComm1.Close();
    }
    level = 0;
    action = 183;
}

void TKvMenu::WaitIdle()
{
    while (server_.idle.WaitMs(0) != wrSignaled)
        UiBridge().ProcessEvents(100);
}

bool TKvMenu::Run(TJoint1* object)
{
    if (server_.Terminated())
        return false;
    listen();
    const uint64_t losses = comm_.LineLosses();
    const bool wasConnected = mode == kModeAdmin || mode == kModeSystem;
    WaitIdle();
    // A session that ended while this job waited (the line hung up, or the
    // job before it logged out) is not opened again behind the user's back.
    const bool ended = wasConnected && mode != kModeAdmin && mode != kModeSystem;
    if (comm_.LineLosses() != losses || ended || ActionFailed())
        return false;
    if (!object || object->menu == kMenuUndefined) {
        ShowError("Menu mode is Undefined");
        return false;
    }
    server_.idle.Unsignal();
    mismatches_ = 0;
    comm_.ForgetWaitFailure();
    target = object;
    if (object->menu == level) {
        server_.Start(object);
    } else {
        action = 100;
        server_.Start(this);
    }
    return true;
}

void TKvMenu::Disconnect()
{
    if (server_.Terminated())
        return;
    listen();
    WaitIdle();
    server_.idle.Unsignal();
    mismatches_ = 0;
    action = 130;
    server_.Start(this);
}

}  // namespace kv
