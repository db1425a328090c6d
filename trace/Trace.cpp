#include "trace/Trace.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "session/Cp1251.h"
#include "transfer/VaProtocol.h"

namespace kv {

namespace {

constexpr size_t kSampleLimit = 160;  // characters of the doctor's sample
constexpr size_t kPromptTail = 9;     // "PC LIST>" and one more

int64_t steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void escapeByte(uint8_t b, bool masked, std::string& out)
{
    if (masked) {
        out += '*';
        return;
    }
    switch (b) {
    case '\r': out += "\\r"; return;
    case '\n': out += "\\n"; return;
    case '\t': out += "\\t"; return;
    case '\\': out += "\\\\"; return;
    default: break;
    }
    if (b < 0x20 || b == 0x7F) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\x%02X", b);
        out += buf;
    } else if (b < 0x80) {
        out += static_cast<char>(b);
    } else {
        const char c = static_cast<char>(b);
        out += Cp1251ToUtf8(std::string_view(&c, 1));
    }
}

std::string escaped(const std::string& bytes)
{
    std::string out;
    for (char c : bytes)
        escapeByte(static_cast<uint8_t>(c), false, out);
    return out;
}

// Stars for the bytes of a secret; a CR that ends it stays visible.
std::string masked(const std::string& bytes)
{
    const bool cr = !bytes.empty() && bytes.back() == '\r';
    std::string out(bytes.size() - (cr ? 1 : 0), '*');
    if (cr)
        out += "\\r";
    return out;
}

bool endsWith(const std::string& s, const char* suffix)
{
    const std::string_view t(suffix);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

// The menu whose prompt ends `tail` (the unit's own word for where it is).
int menuOfPrompt(const std::string& tail)
{
    if (endsWith(tail, "PC SYS>")) return 6;
    if (endsWith(tail, "PC LIST>")) return 7;
    if (endsWith(tail, "PC MAIL>")) return 8;
    if (endsWith(tail, "PC MENU>")) return 9;
    if (endsWith(tail, "PC TIME>")) return 10;
    if (endsWith(tail, "PC>")) return 5;
    return 4;
}

const char* resultText(int code)
{
    switch (code) {
    case vtCancelled: return "прервано здесь";
    case vtPeerCancelled: return "прервано УАТС";
    case vtProtocolError: return "ошибка протокола";
    case vtShortFile: return "файл короче объявленного";
    case vtReadFailed: return "ошибка чтения файла";
    case vtWriteFailed: return "ошибка записи файла";
    case vtTooManyErrors: return "слишком много ошибок";
    case vtNoSender: return "передающая сторона не ответила";
    case vtCreateFailed: return "файл не удалось создать";
    case vtOpenFailed: return "файл не удалось открыть";
    case vtLineLost: return "линия оборвалась";
    case vtOverflow: return "переполнение приёма";
    default: return nullptr;
    }
}

}  // namespace

std::string TransferText(const TTransferRecord& r)
{
    std::string text = std::string("YModem: ") + (r.upload ? "отправлен файл " : "принят файл ") +
                       (r.name.empty() ? "(без имени)" : r.name) + ", " + std::to_string(r.size) + " байт, блоков " +
                       std::to_string(r.blocks) + ", ошибок " + std::to_string(r.errors) + ": ";
    if (r.result == 0)
        return text + "готово";
    const char* why = resultText(r.result);
    return text + "не удалось (код " + std::to_string(r.result) + (why ? std::string(", ") + why : std::string()) + ")";
}

std::string TTraceLine::Format() const
{
    char time[32];
    std::snprintf(time, sizeof time, "%9.3f", static_cast<double>(ms) / 1000.0);
    const char* arrow = direction == TTraceDirection::Sent ? " → " : direction == TTraceDirection::Received ? " ← " : " · ";
    return std::string(time) + arrow + text;
}

TTraceLog::TTraceLog(size_t limit, TClock clock) : limit_(limit), clock_(clock ? std::move(clock) : TClock(steadyMs))
{
    epoch_ = clock_();
}

int64_t TTraceLog::nowLocked() const
{
    return clock_() - epoch_;
}

void TTraceLog::changedLocked()
{
    if (onChange_ && !notified_) {
        notified_ = true;
        onChange_();
    }
}

void TTraceLog::pushLocked(TTraceDirection direction, std::string text, int64_t ms)
{
    TTraceLine line;
    line.seq = nextSeq_++;
    line.ms = ms;
    line.direction = direction;
    line.text = std::move(text);
    line.bytes = line.Format().size() + 1;
    size_ += line.bytes;
    lines_.push_back(std::move(line));
    while (size_ > limit_ && !lines_.empty()) {
        size_ -= lines_.front().bytes;
        lines_.pop_front();
    }
}

// The open line, reply or joinable send, becomes a complete line.
void TTraceLog::commitOpenLocked()
{
    if (lastSendJoinable_) {
        lastSendJoinable_ = false;
        pushLocked(TTraceDirection::Sent, std::move(open_), openMs_);
    } else if (!open_.empty()) {
        pushLocked(TTraceDirection::Received, std::move(open_), openMs_);
    }
    open_.clear();
    openRaw_ = 0;
    openEnded_ = false;
}

void TTraceLog::eventLocked(const std::string& text)
{
    commitOpenLocked();
    pushLocked(TTraceDirection::Event, text, nowLocked());
}

void TTraceLog::releaseHeldLocked(bool asMasked)
{
    const std::string held = std::move(held_);
    held_.clear();
    for (char c : held)
        appendReceivedLocked({static_cast<uint8_t>(c), asMasked});
}

void TTraceLog::LineOpened(const std::string& device)
{
    std::lock_guard<std::mutex> g(m_);
    releaseHeldLocked(true);
    commitOpenLocked();
    epoch_ = clock_();
    secret_.clear();
    command_ = TCommand::None;
    value_ = TValue::Idle;
    menu_ = 0;
    promptTail_.clear();
    transfer_ = false;
    receivedSinceOpen_ = 0;
    sampleSinceOpen_.clear();
    eventLocked("Порт " + device + " открыт");
    changedLocked();
}

void TTraceLog::LineClosed()
{
    std::lock_guard<std::mutex> g(m_);
    // What matched the beginning of a secret stays hidden.
    releaseHeldLocked(true);
    secret_.clear();
    command_ = TCommand::None;
    value_ = TValue::Idle;
    transfer_ = false;
    eventLocked("Порт закрыт");
    changedLocked();
}

void TTraceLog::analyseSendLocked(const std::string& bytes, bool& secret)
{
    // A send inside a password parameter's value field is that value.
    if (value_ == TValue::Masking)
        secret = true;
    if (bytes == "GET\r") {
        command_ = TCommand::Get;
    } else if (bytes == "SET\r") {
        command_ = TCommand::Set;
    } else if (command_ != TCommand::None) {
        const std::string code = bytes.size() > 1 && bytes.back() == '\r' ? bytes.substr(0, bytes.size() - 1) : bytes;
        // The system password (00) and the administrator password (104)
        // live in the system menu; other menus number other things so.
        const bool otherMenu = menu_ >= 7 && menu_ <= 10;
        if ((code == "0" || code == "00" || code == "104") && !otherMenu)
            value_ = TValue::AwaitEquals;
        command_ = TCommand::None;
    }
}

void TTraceLog::LineSent(const std::string& bytes, bool secret)
{
    std::lock_guard<std::mutex> g(m_);
    if (bytes.empty() || transfer_)
        return;
    analyseSendLocked(bytes, secret);
    const int64_t now = nowLocked();
    if (secret) {
        commitOpenLocked();
        std::string echo = bytes;
        if (!echo.empty() && echo.back() == '\r')
            echo.pop_back();
        // A newer secret replaces one whose echo never came; what matched
        // the old one's beginning stays hidden.
        releaseHeldLocked(true);
        secret_ = echo;
        pushLocked(TTraceDirection::Sent, masked(bytes), now);
    } else if (lastSendJoinable_ && now - lastSendMs_ <= kSendJoinMs) {
        open_ += escaped(bytes);
        lastSendMs_ = now;
    } else {
        commitOpenLocked();
        open_ = escaped(bytes);
        openMs_ = now;
        lastSendJoinable_ = true;
        lastSendMs_ = now;
    }
    changedLocked();
}

void TTraceLog::receiveByteLocked(uint8_t b, std::vector<TOut>& out)
{
    if (secret_.empty()) {
        out.push_back({b, false});
        return;
    }
    held_ += static_cast<char>(b);
    // Keep the longest end of what is held that can still begin the secret.
    size_t k = 0;
    while (k < held_.size() && secret_.compare(0, held_.size() - k, held_, k, held_.size() - k) != 0)
        ++k;
    for (size_t i = 0; i < k; ++i)
        out.push_back({static_cast<uint8_t>(held_[i]), false});
    held_.erase(0, k);
    if (held_.size() == secret_.size()) {
        for (char c : held_)
            out.push_back({static_cast<uint8_t>(c), true});
        held_.clear();
        secret_.clear();
    }
}

void TTraceLog::appendReceivedLocked(const TOut& o)
{
    const uint8_t c = o.byte;
    bool hide = o.masked;
    // A password parameter's value: from its "=" to the CR.
    if (value_ == TValue::Masking) {
        if (c == '\r')
            value_ = TValue::Idle;
        else if (c != '\n')
            hide = true;
    } else if (value_ == TValue::AwaitEquals && c == '=') {
        value_ = TValue::Masking;
    }
    promptTail_ += static_cast<char>(c);
    if (promptTail_.size() > kPromptTail)
        promptTail_.erase(0, promptTail_.size() - kPromptTail);
    if (c == '>') {
        menu_ = menuOfPrompt(promptTail_);
        // The menu's prompt ends an exchange whose value never came.
        if (value_ == TValue::AwaitEquals)
            value_ = TValue::Idle;
    }

    if (sampleSinceOpen_.size() < kSampleLimit)
        escapeByte(c, hide, sampleSinceOpen_);

    if (lastSendJoinable_)
        commitOpenLocked();
    if (openEnded_) {
        // A CR ended the line; an LF right after it belongs to it.
        if (c == '\n') {
            escapeByte(c, hide, open_);
            commitOpenLocked();
            return;
        }
        commitOpenLocked();
    }
    if (open_.empty())
        openMs_ = nowLocked();
    escapeByte(c, hide, open_);
    ++openRaw_;
    if (c == '\r')
        openEnded_ = true;
    else if (openRaw_ >= kLongLine)
        commitOpenLocked();
}

void TTraceLog::LineReceived(const uint8_t* data, size_t count)
{
    std::lock_guard<std::mutex> g(m_);
    if (transfer_ || count == 0)
        return;
    receivedSinceOpen_ += count;
    std::vector<TOut> out;
    out.reserve(count + secret_.size());
    for (size_t i = 0; i < count; ++i)
        receiveByteLocked(data[i], out);
    for (const TOut& o : out)
        appendReceivedLocked(o);
    changedLocked();
}

void TTraceLog::TransferStarted()
{
    std::lock_guard<std::mutex> g(m_);
    releaseHeldLocked(true);
    secret_.clear();
    eventLocked("YModem: передача файла началась");
    transfer_ = true;
    changedLocked();
}

void TTraceLog::TransferEnded(const TTransferRecord& record)
{
    std::lock_guard<std::mutex> g(m_);
    transfer_ = false;
    eventLocked(TransferText(record));
    changedLocked();
}

std::vector<std::string> TTraceLog::Lines() const
{
    std::lock_guard<std::mutex> g(m_);
    std::vector<std::string> out;
    out.reserve(lines_.size() + 1);
    for (const auto& l : lines_)
        out.push_back(l.Format());
    if (!open_.empty())
        out.push_back(TTraceLine{0, openMs_, lastSendJoinable_ ? TTraceDirection::Sent : TTraceDirection::Received, open_}
                          .Format());
    return out;
}

std::string TTraceLog::Text() const
{
    std::string text;
    for (const auto& line : Lines())
        text += line + "\n";
    return text;
}

size_t TTraceLog::Size() const
{
    std::lock_guard<std::mutex> g(m_);
    return size_;
}

void TTraceLog::Clear()
{
    std::lock_guard<std::mutex> g(m_);
    lines_.clear();
    size_ = 0;
    open_.clear();
    openRaw_ = 0;
    openEnded_ = false;
    lastSendJoinable_ = false;
    // A reader that saw anything before now starts again.
    ++nextSeq_;
    changedLocked();
}

TTraceDelta TTraceLog::Since(uint64_t lastSeq) const
{
    std::lock_guard<std::mutex> g(m_);
    notified_ = false;
    TTraceDelta d;
    d.firstSeq = lines_.empty() ? nextSeq_ : lines_.front().seq;
    d.reset = lastSeq + 1 < d.firstSeq;
    for (auto it = lines_.rbegin(); it != lines_.rend() && (d.reset || it->seq > lastSeq); ++it)
        d.lines.push_back(*it);
    std::reverse(d.lines.begin(), d.lines.end());
    d.lastSeq = nextSeq_ - 1;
    if (!open_.empty())
        d.open = TTraceLine{0, openMs_, lastSendJoinable_ ? TTraceDirection::Sent : TTraceDirection::Received, open_}
                     .Format();
    return d;
}

void TTraceLog::SetOnChange(std::function<void()> onChange)
{
    std::lock_guard<std::mutex> g(m_);
    onChange_ = std::move(onChange);
    notified_ = false;
}

size_t TTraceLog::ReceivedSinceOpen() const
{
    std::lock_guard<std::mutex> g(m_);
    return receivedSinceOpen_;
}

std::string TTraceLog::ReceivedTextSinceOpen() const
{
    std::lock_guard<std::mutex> g(m_);
    return sampleSinceOpen_;
}

}  // namespace kv
