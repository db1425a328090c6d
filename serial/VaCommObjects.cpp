// The port's companions: value objects, the byte queue, listeners, the
// pattern watcher and the device-name resolver.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "serial/VaComm.h"

namespace kv {

int VaBaudrateValue(TVaBaudrate b)
{
    static const int table[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    const int i = static_cast<int>(b);
    return i >= 0 && i < 16 ? table[i] : 0;
}

uint32_t VaCommEventBit(TVaCommEvent e)
{
    static const uint32_t bits[] = {EV_BREAK,   EV_CTS,   EV_DSR,  EV_ERR,      EV_RING,
                                    EV_RLSD,    EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_PERR,
                                    EV_RX80FULL, EV_EVENT1, EV_EVENT2};
    const int i = static_cast<int>(e);
    return i >= 0 && i < 13 ? bits[i] : 0;
}

// --- device names -----------------------------------------------------------

namespace {
std::mutex g_resolverLock;
TVaDeviceResolver g_resolver;
}  // namespace

void SetVaDeviceResolver(TVaDeviceResolver resolver)
{
    std::lock_guard<std::mutex> g(g_resolverLock);
    g_resolver = std::move(resolver);
}

std::string VaDefaultDevicePath(const std::string& name)
{
    if (name.size() > 3 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "com") == 0)) {
        const std::string digits = name.substr(3);
        if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            const long n = std::strtol(digits.c_str(), nullptr, 10);
            if (n < 1)
                return std::string();
            return "/dev/ttyS" + std::to_string(n - 1);
        }
    }
    if (name.empty())
        return std::string();
    return "/dev/" + name;
}

std::string VaResolveDevice(const std::string& name)
{
    if ((!name.empty() && name[0] == '/') || IsVaNetAddress(name))
        return name;
    TVaDeviceResolver r;
    {
        std::lock_guard<std::mutex> g(g_resolverLock);
        r = g_resolver;
    }
    return r ? r(name) : VaDefaultDevicePath(name);
}

// --- value objects ------------------------------------------------------------

void TVaPersistent::EndUpdate()
{
    if (updateCount_ > 0 && --updateCount_ == 0)
        Changed();
}

void TVaPersistent::Changing()
{
    if (updateCount_ == 0 && owner_)
        owner_->ValueChanging(this);
}

void TVaPersistent::Changed()
{
    if (updateCount_ == 0 && owner_)
        owner_->ValueChanged(this);
}

namespace {
// Copies src into dst (values only) and notifies once; on refusal dst keeps
// its old values.
template <class T>
void AssignValues(T& dst, const T& src)
{
    const T old(dst);
    dst.Changing();
    dst.BeginUpdate();
    dst = src;  // copies the values, never the owner
    try {
        dst.EndUpdate();
    } catch (...) {
        dst = old;
        try {
            dst.Changed();  // the old values again
        } catch (...) {
        }
        throw;
    }
}
}  // namespace

void TVaBuffers::Assign(const TVaBuffers& src) { AssignValues(*this, src); }
void TVaFlowControl::Assign(const TVaFlowControl& src) { AssignValues(*this, src); }
void TVaEventChars::Assign(const TVaEventChars& src) { AssignValues(*this, src); }

// --- byte queue --------------------------------------------------------------

TVaCommBuffer::TVaCommBuffer(int capacity) : data_(static_cast<size_t>(std::max(capacity, 0))) {}

void TVaCommBuffer::Append(const uint8_t* data, int count)
{
    if (count <= 0)
        return;
    count = std::min(count, Capacity() - count_);
    std::memcpy(data_.data() + count_, data, static_cast<size_t>(count));
    count_ += count;
}

void TVaCommBuffer::Peek(uint8_t* out, int count) const
{
    count = std::min(count, count_);
    if (count > 0)
        std::memcpy(out, data_.data(), static_cast<size_t>(count));
}

void TVaCommBuffer::Take(uint8_t* out, int count)
{
    count = std::min(count, count_);
    Peek(out, count);
    Remove(count);
}

void TVaCommBuffer::Remove(int count)
{
    count = std::min(count, count_);
    if (count <= 0)
        return;
    std::memmove(data_.data(), data_.data() + count, static_cast<size_t>(count_ - count));
    count_ -= count;
}

// --- listeners ----------------------------------------------------------------

TVaCommComponent::TVaCommComponent() : dispatcher_(this) {}

TVaCommComponent::~TVaCommComponent()
{
    if (dispatcher_.Comm())
        dispatcher_.Comm()->Detach(&dispatcher_);
}

TVaComm* TVaCommComponent::Comm() const
{
    return dynamic_cast<TVaComm*>(dispatcher_.Comm());
}

void TVaCommComponent::SetComm(TVaComm* comm)
{
    if (dispatcher_.Comm() == comm)
        return;
    if (dispatcher_.Comm())
        dispatcher_.Comm()->Detach(&dispatcher_);
    if (comm)
        comm->Attach(&dispatcher_);
}

void TVaCommComponent::AcceptData(const uint8_t*, int) {}
void TVaCommComponent::AcceptEvents(uint32_t) {}

// --- pattern watcher ------------------------------------------------------------

namespace {
// Case folding for ASCII and the Cyrillic letters of code page 1251.
unsigned char FoldCase(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDF)
        return static_cast<unsigned char>(c + 32);
    if (c == 0xA8)  // Ё
        return 0xB8;
    return c;
}

bool SameText(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}
}  // namespace

std::string TVaWaitMessage::Unescape(const std::string& pattern)
{
    std::string out;
    out.reserve(pattern.size());
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '^' && i + 1 < pattern.size()) {
            const char n = pattern[i + 1];
            if (n >= 'A' && n <= 'Z') {
                out += static_cast<char>(n - 'A' + 1);
                ++i;
                continue;
            }
            if (n >= 'a' && n <= 'z') {
                out += static_cast<char>(n - 'a' + 1);
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

void TVaWaitMessage::SetStrings(const std::vector<std::string>& v)
{
    strings_ = v;
    Prepare();
}

void TVaWaitMessage::Loaded()
{
    TVaCommComponent::Loaded();
    Prepare();
}

void TVaWaitMessage::Prepare()
{
    patterns_.clear();
    for (const auto& s : strings_)
        patterns_.push_back(Unescape(s));
    windows_.assign(patterns_.size(), std::string());
}

void TVaWaitMessage::AcceptData(const uint8_t* data, int count)
{
    if (patterns_.size() != strings_.size())
        Prepare();
    for (int k = 0; k < count; ++k) {
        const char c = data[k] == 0 ? ' ' : static_cast<char>(data[k]);
        // A handler may change the patterns; re-check the bounds each time.
        for (size_t i = 0; i < patterns_.size() && i < windows_.size(); ++i) {
            const std::string& p = patterns_[i];
            if (p.empty())
                continue;
            windows_[i] += c;
            const bool match = caseSensitive_ ? windows_[i] == p : SameText(windows_[i], p);
            if (match && OnMessage) {
                OnMessage(this, static_cast<int>(i));
                if (i >= windows_.size())
                    break;
            }
            if (windows_[i].size() >= patterns_[i].size())
                windows_[i].erase(0, 1);
        }
    }
}

}  // namespace kv
