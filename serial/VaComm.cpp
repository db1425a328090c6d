// Interim: the interface links; the port itself follows.
#include "serial/VaComm.h"

namespace kv {

struct TVaCustomComm::Impl {};

int VaBaudrateValue(TVaBaudrate b)
{
    static const int table[] = {0, 110, 300, 600, 1200, 2400, 4800, 9600, 14400,
                                19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return table[static_cast<int>(b)];
}

uint32_t VaCommEventBit(TVaCommEvent e)
{
    static const uint32_t bits[] = {EV_BREAK, EV_CTS, EV_DSR, EV_ERR, EV_RING, EV_RLSD, EV_RXCHAR,
                                    EV_TXEMPTY, EV_RXFLAG, EV_PERR, EV_RX80FULL, EV_EVENT1, EV_EVENT2};
    return bits[static_cast<int>(e)];
}

void SetVaDeviceResolver(TVaDeviceResolver) {}
std::string VaDefaultDevicePath(const std::string& name) { return "/dev/" + name; }
std::string VaResolveDevice(const std::string& name) { return VaDefaultDevicePath(name); }

void TVaPersistent::EndUpdate() { --updateCount_; }
void TVaPersistent::Changed() {}
void TVaBuffers::Assign(const TVaBuffers&) {}
void TVaFlowControl::Assign(const TVaFlowControl&) {}
void TVaEventChars::Assign(const TVaEventChars&) {}

TVaCommBuffer::TVaCommBuffer(int capacity) : data_(static_cast<size_t>(capacity)) {}
void TVaCommBuffer::Append(const uint8_t*, int) {}
void TVaCommBuffer::Peek(uint8_t*, int) const {}
void TVaCommBuffer::Take(uint8_t*, int) {}
void TVaCommBuffer::Remove(int) {}

TVaCustomComm::TVaCustomComm() = default;
TVaCustomComm::~TVaCustomComm() = default;
void TVaCustomComm::Open() { throw EVaCommError("Can't open specified device " + ExpandedDeviceName()); }
void TVaCustomComm::Close() {}
bool TVaCustomComm::IsOpen() const { return false; }
int TVaCustomComm::PutBytes(const uint8_t*, int) { return 0; }
bool TVaCustomComm::PutText(const std::string& t) { return t.empty(); }
bool TVaCustomComm::PutByte(uint8_t) { return false; }
int TVaCustomComm::GetBytes(uint8_t*, int) { return 0; }
int TVaCustomComm::InputCount() { return 0; }
TVaLineStatus TVaCustomComm::LineStatus() { return {}; }
void TVaCustomComm::Flush(int) {}
void TVaCustomComm::Attach(TVaDispatcher*) {}
void TVaCustomComm::Detach(TVaDispatcher*) {}
void TVaCustomComm::SetBaudrate(TVaBaudrate v) { baudrate_ = v; }
void TVaCustomComm::SetParity(TVaParity v) { parity_ = v; }
void TVaCustomComm::SetDatabits(TVaDatabits v) { databits_ = v; }
void TVaCustomComm::SetStopbits(TVaStopbits v) { stopbits_ = v; }
void TVaCustomComm::SetOptions(TVaCommOptions v) { options_ = v; }
void TVaCustomComm::SetPortNum(int v) { portNum_ = v; }
void TVaCustomComm::SetDeviceName(const std::string& v) { deviceName_ = v; }
void TVaCustomComm::SetMonitorEvents(TVaCommEvents v) { monitorEvents_ = v; }
void TVaCustomComm::SetEventPriority(TThreadPriority v) { eventPriority_ = v; }
void TVaCustomComm::SetWritePriority(TThreadPriority v) { writePriority_ = v; }
void TVaCustomComm::SetDirectWrite(bool v) { directWrite_ = v; }
void TVaCustomComm::SetUpdateDCB(bool v) { updateDCB_ = v; }
void TVaCustomComm::SetUserBaudrate(int v) { userBaudrate_ = v; }
std::string TVaCustomComm::ExpandedDeviceName() const { return deviceName_; }
void TVaCustomComm::Loaded() {}
int TVaCustomComm::RunningThreads() { return 0; }
bool TVaCustomComm::WaitThreadsEnded(int) { return true; }
void TVaCustomComm::CreateDevice() {}
void TVaCustomComm::LaunchThreads() {}
void TVaCustomComm::RaiseRxChar() {}
void TVaCustomComm::RaiseCommEvents(uint32_t) {}
void TVaCustomComm::PassEvents(uint32_t) {}
void TVaCustomComm::RaiseRxBuf(const uint8_t*, int) {}
void TVaCustomComm::ValueChanged(TVaPersistent*) {}
void TVaCustomComm::CheckClosed() const {}
void TVaCustomComm::ApplyLineSettings() {}
void TVaCustomComm::ApplyIfOpen() {}
void TVaCustomComm::StopThreads() {}
bool TVaCustomComm::Enqueue(const uint8_t*, int) { return false; }

TVaCommComponent::TVaCommComponent() : dispatcher_(this) {}
TVaCommComponent::~TVaCommComponent() = default;
TVaComm* TVaCommComponent::Comm() const { return nullptr; }
void TVaCommComponent::SetComm(TVaComm*) {}
void TVaCommComponent::AcceptData(const uint8_t*, int) {}
void TVaCommComponent::AcceptEvents(uint32_t) {}

void TVaWaitMessage::SetStrings(const std::vector<std::string>& v) { strings_ = v; }
void TVaWaitMessage::Loaded() {}
void TVaWaitMessage::AcceptData(const uint8_t*, int) {}
std::string TVaWaitMessage::Unescape(const std::string& p) { return p; }
void TVaWaitMessage::Prepare() {}

}  // namespace kv
