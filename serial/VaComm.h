// The serial port component: one COM port, its line settings, a writer
// thread that drains the output queue and an event thread that hands every
// received block to the UI thread.
//
// Threads and where things run:
//   - Open, Close, IsOpen, PutBytes/PutText/PutByte may be called from any
//     thread (the session worker, the transfer thread).
//   - Every port event (OnRxBuf, OnRxChar, OnError, OnTxEmpty, the
//     listeners' AcceptData/AcceptEvents) runs on the UI thread, handed over
//     synchronously through UiBridge().Synchronize(). OnOpen and OnClose run
//     on the thread that calls Open or Close.
//   - Attach/Detach, the setters of handlers and the destruction of a port or
//     a listener belong on the UI thread.
//
// On Linux the expanded device name (DeviceName with PortNum, e.g. "COM3")
// is turned into a device path by the resolver installed with
// SetVaDeviceResolver(); an expanded name that is already an absolute path
// ("/dev/pts/4") or an address of a serial device server
// ("rfc2217://host:4001", "tcp://host:4001", serial/VaNet.h) is opened as
// it is. A port on an address works as on a tty; the connection ending is
// the device hanging up.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "serial/VaNet.h"
#include "serial/VaPriority.h"
#include "serial/VaSync.h"

namespace kv {

// ---------------------------------------------------------------------------
// Errors

// Every port failure. Carries only its message.
class EVaCommError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------
// Enumerations (the order is the stored ordinal)

enum TVaBaudrate : int {
    brUser, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
    br19200, br38400, br56000, br57600, br115200, br128000, br256000,
};
// Bits per second of a table value; 0 for brUser.
int VaBaudrateValue(TVaBaudrate b);

enum TVaParity : int { paNone, paOdd, paEven, paMark, paSpace };
enum TVaDatabits : int { db4, db5, db6, db7, db8 };
enum TVaStopbits : int { sb1, sb15, sb2 };
enum TVaControlDtr : int { dtrDisabled, dtrEnabled, dtrHandshake };
enum TVaControlRts : int { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };

enum TVaCommEvent : int {
    ceBreak, ceCts, ceDsr, ceError, ceRing, ceRlsd, ceRxChar, ceTxEmpty,
    ceRxFlag, cePErr, ceRx80Full, ceEvent1, ceEvent2,
};

enum TVaCommOption : int { coErrorChar, coNullStrip, coParityCheck };

// Driver event bits (the values the event mask and AcceptEvents carry).
constexpr uint32_t EV_RXCHAR = 0x0001;
constexpr uint32_t EV_RXFLAG = 0x0002;
constexpr uint32_t EV_TXEMPTY = 0x0004;
constexpr uint32_t EV_CTS = 0x0008;
constexpr uint32_t EV_DSR = 0x0010;
constexpr uint32_t EV_RLSD = 0x0020;
constexpr uint32_t EV_BREAK = 0x0040;
constexpr uint32_t EV_ERR = 0x0080;
constexpr uint32_t EV_RING = 0x0100;
constexpr uint32_t EV_PERR = 0x0200;
constexpr uint32_t EV_RX80FULL = 0x0400;
constexpr uint32_t EV_EVENT1 = 0x0800;
constexpr uint32_t EV_EVENT2 = 0x1000;

// The driver event bit a TVaCommEvent selects.
uint32_t VaCommEventBit(TVaCommEvent e);

// Line-error flags reported by LineStatus() and OnError.
constexpr uint32_t CE_RXOVER = 0x0001;    // input buffer overflow
constexpr uint32_t CE_OVERRUN = 0x0002;   // character lost by the hardware
constexpr uint32_t CE_RXPARITY = 0x0004;  // parity error
constexpr uint32_t CE_FRAME = 0x0008;     // framing error
constexpr uint32_t CE_BREAK = 0x0010;     // break received
constexpr uint32_t CE_IOE = 0x0400;       // device failed or hung up

// Flush's flags and its two purges.
constexpr int PURGE_TXABORT = 0x01;  // abort output
constexpr int PURGE_RXABORT = 0x02;  // abort input
constexpr int PURGE_TXCLEAR = 0x04;  // clear output
constexpr int PURGE_RXCLEAR = 0x08;  // clear input
constexpr int kPurgeInput = PURGE_RXABORT | PURGE_RXCLEAR;                              // 10
constexpr int kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;  // 15

// A small set of enumeration values (a bit per ordinal).
template <class E>
class TVaSet {
public:
    constexpr TVaSet() = default;
    constexpr TVaSet(std::initializer_list<E> items)
    {
        for (E e : items)
            bits_ |= Bit(e);
    }
    constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
    constexpr TVaSet& Include(E e) { bits_ |= Bit(e); return *this; }
    constexpr TVaSet& Exclude(E e) { bits_ &= ~Bit(e); return *this; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr uint32_t Bits() const { return bits_; }
    constexpr bool operator==(const TVaSet&) const = default;

private:
    static constexpr uint32_t Bit(E e) { return 1u << static_cast<int>(e); }
    uint32_t bits_ = 0;
};

using TVaCommEvents = TVaSet<TVaCommEvent>;
using TVaCommOptions = TVaSet<TVaCommOption>;

// ---------------------------------------------------------------------------
// Device names

// Maps an expanded device name ("COM3") to a device path. Installed once by
// the application; tests may install their own. Without one installed,
// VaDefaultDevicePath is used.
using TVaDeviceResolver = std::function<std::string(const std::string& name)>;
void SetVaDeviceResolver(TVaDeviceResolver resolver);
// COMn -> /dev/ttyS(n-1); any other bare name -> /dev/<name>; "" for COM0.
std::string VaDefaultDevicePath(const std::string& name);
// The path to open for an expanded name: an absolute path as it is,
// otherwise what the installed resolver (or the default) says.
std::string VaResolveDevice(const std::string& name);

// ---------------------------------------------------------------------------
// Components

class TVaCustomComm;
class TVaComm;
class TVaCommComponent;

// Component base.
class TVaComponent {
public:
    TVaComponent() = default;
    virtual ~TVaComponent() = default;
    TVaComponent(const TVaComponent&) = delete;
    TVaComponent& operator=(const TVaComponent&) = delete;

    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    // Called once the owner has set the component's properties.
    virtual void Loaded() {}

private:
    std::string name_;
};

using TVaNotifyEvent = std::function<void(TVaComponent* Sender)>;
using TVaCommErrorEvent = std::function<void(TVaComponent* Sender, int Errors)>;
using TVaCommRxCharEvent = std::function<void(TVaComponent* Sender, int Count)>;
using TVaCommRxBufEvent =
    std::function<void(TVaComponent* Sender, const uint8_t* Data, int Count)>;

// ---------------------------------------------------------------------------
// Value objects with change notification

// A value object that tells its port when one of its values changes. A copy
// keeps the values but belongs to no port. Assign copies every value and
// notifies once at the end.
class TVaPersistent {
public:
    TVaPersistent() = default;
    TVaPersistent(const TVaPersistent&) {}
    TVaPersistent& operator=(const TVaPersistent&) { return *this; }
    virtual ~TVaPersistent() = default;

    void BeginUpdate() { ++updateCount_; }
    // Notifies the port once the outermost update ends.
    void EndUpdate();
    TVaCustomComm* Owner() const { return owner_; }

    // Asks the port whether a value may change (it raises if not), then,
    // once changed, tells it; both skipped while an update is in progress.
    void Changing();
    void Changed();

protected:
    // Sets a field; if the port refuses or fails the change, the old value
    // stays.
    template <class T>
    void SetField(T& field, const T& value)
    {
        if (field == value)
            return;
        Changing();
        T old = field;
        field = value;
        try {
            Changed();
        } catch (...) {
            field = old;
            try {
                Changed();  // the old value again
            } catch (...) {
            }
            throw;
        }
    }

private:
    friend class TVaCustomComm;
    TVaCustomComm* owner_ = nullptr;
    int updateCount_ = 0;
};

// Queue sizes and time-outs (milliseconds).
class TVaBuffers : public TVaPersistent {
public:
    int ReadSize() const { return readSize_; }
    void SetReadSize(int v) { SetField(readSize_, v); }
    int WriteSize() const { return writeSize_; }
    void SetWriteSize(int v) { SetField(writeSize_, v); }
    int ReadTimeout() const { return readTimeout_; }
    void SetReadTimeout(int v) { SetField(readTimeout_, v); }
    int WriteTimeout() const { return writeTimeout_; }
    void SetWriteTimeout(int v) { SetField(writeTimeout_, v); }
    int XonLimit() const { return xonLimit_; }
    void SetXonLimit(int v) { SetField(xonLimit_, v); }
    int XoffLimit() const { return xoffLimit_; }
    void SetXoffLimit(int v) { SetField(xoffLimit_, v); }

    void Assign(const TVaBuffers& src);

private:
    int readSize_ = 4096;
    int writeSize_ = 2048;
    int readTimeout_ = 1000;
    int writeTimeout_ = 1000;
    int xonLimit_ = 1024;
    int xoffLimit_ = 1024;
};

// Handshake settings; all off by default.
class TVaFlowControl : public TVaPersistent {
public:
    bool OutCtsFlow() const { return outCtsFlow_; }
    void SetOutCtsFlow(bool v) { SetField(outCtsFlow_, v); }
    bool OutDsrFlow() const { return outDsrFlow_; }
    void SetOutDsrFlow(bool v) { SetField(outDsrFlow_, v); }
    TVaControlDtr ControlDtr() const { return controlDtr_; }
    void SetControlDtr(TVaControlDtr v) { SetField(controlDtr_, v); }
    TVaControlRts ControlRts() const { return controlRts_; }
    void SetControlRts(TVaControlRts v) { SetField(controlRts_, v); }
    bool XonXoffOut() const { return xonXoffOut_; }
    void SetXonXoffOut(bool v) { SetField(xonXoffOut_, v); }
    bool XonXoffIn() const { return xonXoffIn_; }
    void SetXonXoffIn(bool v) { SetField(xonXoffIn_, v); }
    bool DsrSensitivity() const { return dsrSensitivity_; }
    void SetDsrSensitivity(bool v) { SetField(dsrSensitivity_, v); }
    bool TxContinueOnXoff() const { return txContinueOnXoff_; }
    void SetTxContinueOnXoff(bool v) { SetField(txContinueOnXoff_, v); }

    void Assign(const TVaFlowControl& src);

private:
    bool outCtsFlow_ = false;
    bool outDsrFlow_ = false;
    TVaControlDtr controlDtr_ = dtrDisabled;
    TVaControlRts controlRts_ = rtsDisabled;
    bool xonXoffOut_ = false;
    bool xonXoffIn_ = false;
    bool dsrSensitivity_ = false;
    bool txContinueOnXoff_ = false;
};

// Special characters.
class TVaEventChars : public TVaPersistent {
public:
    uint8_t XonChar() const { return xonChar_; }
    void SetXonChar(uint8_t v) { SetField(xonChar_, v); }
    uint8_t XoffChar() const { return xoffChar_; }
    void SetXoffChar(uint8_t v) { SetField(xoffChar_, v); }
    uint8_t ErrorChar() const { return errorChar_; }
    void SetErrorChar(uint8_t v) { SetField(errorChar_, v); }
    uint8_t EventChar() const { return eventChar_; }
    void SetEventChar(uint8_t v) { SetField(eventChar_, v); }
    uint8_t EofChar() const { return eofChar_; }
    void SetEofChar(uint8_t v) { SetField(eofChar_, v); }

    void Assign(const TVaEventChars& src);

private:
    uint8_t xonChar_ = 17;
    uint8_t xoffChar_ = 19;
    uint8_t errorChar_ = 0;
    uint8_t eventChar_ = 0;
    uint8_t eofChar_ = 0;
};

// ---------------------------------------------------------------------------
// Plain objects

// A byte queue of fixed capacity. Append requires room (the caller checks).
class TVaCommBuffer {
public:
    explicit TVaCommBuffer(int capacity);

    void Append(const uint8_t* data, int count);
    // Copies the first count bytes out (count <= Count()).
    void Peek(uint8_t* out, int count) const;
    // Copies the first count bytes out and removes them.
    void Take(uint8_t* out, int count);
    // Drops the first count bytes (at most Count()).
    void Remove(int count);
    void Clear() { count_ = 0; }

    const uint8_t* Data() const { return data_.data(); }
    int Count() const { return count_; }
    int Capacity() const { return static_cast<int>(data_.size()); }

private:
    std::vector<uint8_t> data_;
    int count_ = 0;
};

// One per attached component: its Active flag, the port it is attached to
// and the component whose AcceptData/AcceptEvents receive the port's data.
class TVaDispatcher {
public:
    explicit TVaDispatcher(TVaCommComponent* owner) : owner_(owner) {}
    TVaDispatcher(const TVaDispatcher&) = delete;
    TVaDispatcher& operator=(const TVaDispatcher&) = delete;

    bool Active() const { return active_; }
    void SetActive(bool v) { active_ = v; }
    TVaCustomComm* Comm() const { return comm_; }
    TVaCommComponent* Owner() const { return owner_; }

private:
    friend class TVaCustomComm;
    TVaCommComponent* owner_;
    TVaCustomComm* comm_ = nullptr;
    bool active_ = true;
};

// The driver's line-error counts since the port opened.
struct TVaErrorCounts {
    uint32_t frame = 0, parity = 0, overrun = 0, brk = 0;
};

struct TVaLineStatus {
    uint32_t Errors = 0;     // CE_ flags since the last call
    uint32_t Status = 0;     // driver status word (0 on this platform)
    uint32_t InQueue = 0;    // bytes waiting in the driver's input queue
    uint32_t OutQueue = 0;   // bytes waiting in the driver's output queue
};

// ---------------------------------------------------------------------------
// The port

namespace detail {
struct TVaEventThreadState;
struct TVaWriteThreadState;
}  // namespace detail

class TVaCustomComm : public TVaComponent {
public:
    TVaCustomComm();
    // Closes the port, then detaches every listener (last first).
    ~TVaCustomComm() override;

    // --- operations
    void Open();
    void Close();
    bool IsOpen() const;
    // The device has hung up or failed (reported once through OnError with
    // CE_IOE); true until the port is closed. Listeners told of EV_ERR ask
    // it to tell a dead line from a line error.
    bool DeviceLost() const;
    // Queues bytes for the writer; returns count, or 0 when closed. Raises
    // "Output buffer is full. Please check comm status." when the queue has
    // no room within WriteTimeout.
    int PutBytes(const uint8_t* data, int count);
    bool PutText(const std::string& text);
    bool PutByte(uint8_t b);
    // Reads up to count bytes already received; 0 when closed or none.
    int GetBytes(uint8_t* buffer, int count);
    int InputCount();
    TVaLineStatus LineStatus();
    // The system's error code of the last Open's device open (ENOENT,
    // EACCES, EBUSY, ...); 0 when the device opened.
    int LastOpenError() const;
    // What the port learnt about its connection when the device is an
    // address (rfc2217://, tcp://): kept after Close until the next Open;
    // network false for a device path.
    TVaNetStatus NetStatus() const;
    // Open on a unit behind a serial device server.
    bool IsNetwork() const;
    // The line errors the driver counted since the port opened; false when
    // the port is closed or the driver keeps no counts (pseudo-terminals).
    bool ErrorCounts(TVaErrorCounts& out);
    // Flags: the PURGE_ bits. A flag for output also empties the write
    // queue; one for input lets a parked event thread look again.
    void Flush(int flags);
    void FlushInput() { Flush(kPurgeInput); }
    void FlushAll() { Flush(kPurgeAll); }
    void Attach(TVaDispatcher* d);
    void Detach(TVaDispatcher* d);

    // --- published properties
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool v) { autoOpen_ = v; }
    TVaBaudrate Baudrate() const { return baudrate_; }
    void SetBaudrate(TVaBaudrate v);
    TVaParity Parity() const { return parity_; }
    void SetParity(TVaParity v);
    TVaDatabits Databits() const { return databits_; }
    void SetDatabits(TVaDatabits v);
    TVaStopbits Stopbits() const { return stopbits_; }
    void SetStopbits(TVaStopbits v);
    TVaEventChars& EventChars() { return eventChars_; }
    const TVaEventChars& EventChars() const { return eventChars_; }
    void SetEventChars(const TVaEventChars& v) { eventChars_.Assign(v); }
    TVaFlowControl& FlowControl() { return flowControl_; }
    const TVaFlowControl& FlowControl() const { return flowControl_; }
    void SetFlowControl(const TVaFlowControl& v) { flowControl_.Assign(v); }
    TVaCommOptions Options() const { return options_; }
    void SetOptions(TVaCommOptions v);
    int PortNum() const { return portNum_; }
    void SetPortNum(int v);
    const std::string& DeviceName() const { return deviceName_; }
    void SetDeviceName(const std::string& v);
    TVaCommEvents MonitorEvents() const { return monitorEvents_; }
    void SetMonitorEvents(TVaCommEvents v);
    TVaBuffers& Buffers() { return buffers_; }
    const TVaBuffers& Buffers() const { return buffers_; }
    void SetBuffers(const TVaBuffers& v) { buffers_.Assign(v); }
    TThreadPriority EventPriority() const { return eventPriority_; }
    void SetEventPriority(TThreadPriority v);
    TThreadPriority WritePriority() const { return writePriority_; }
    void SetWritePriority(TThreadPriority v);
    bool DirectWrite() const { return directWrite_; }
    void SetDirectWrite(bool v);
    bool UpdateDCB() const { return updateDCB_; }
    void SetUpdateDCB(bool v);
    int UserBaudrate() const { return userBaudrate_; }
    void SetUserBaudrate(int v);

    // The expanded device name as messages show it ("COM3", or the path).
    std::string ExpandedDeviceName() const;
    // Opens at the end of loading when AutoOpen is set.
    void Loaded() override;

    // --- events (assign on the UI thread; they run there)
    TVaNotifyEvent OnOpen, OnClose;
    TVaNotifyEvent OnCts, OnDsr, OnRlsd, OnRing, OnBreak;
    TVaCommErrorEvent OnError;
    TVaCommRxCharEvent OnRxChar;
    TVaCommRxBufEvent OnRxBuf;
    TVaNotifyEvent OnRxFlag, OnTxEmpty, OnPErr, OnRx80Full, OnEvent1, OnEvent2;

    // Number of port threads (event and writer, of any port) still running.
    // Closed ports' threads end on their own; tests wait for that.
    static int RunningThreads();
    // Waits up to ms milliseconds until no port thread is running.
    static bool WaitThreadsEnded(int ms);

protected:
    virtual void CreateDevice();
    virtual void LaunchThreads();
    virtual void RaiseRxChar();
    virtual void RaiseCommEvents(uint32_t events);
    virtual void PassEvents(uint32_t events);
    virtual void RaiseRxBuf(const uint8_t* data, int count);

    // Called by the value objects before and after one of their values
    // changes: Buffers may not change while open; the line settings are
    // applied again when FlowControl or EventChars changed while open.
    virtual void ValueChanging(TVaPersistent* which);
    virtual void ValueChanged(TVaPersistent* which);

private:
    friend class TVaPersistent;
    friend struct detail::TVaEventThreadState;
    friend struct detail::TVaWriteThreadState;
    struct Impl;

    void CheckClosed() const;
    void CreateNetDevice(const std::string& name, const std::string& address);
    void ReleaseNet();
    void ApplyLineSettings();
    void ApplyIfOpen();
    void StopThreads();
    bool Enqueue(const uint8_t* data, int count);

    bool autoOpen_ = false;
    TVaBaudrate baudrate_ = br1200;
    TVaParity parity_ = paNone;
    TVaDatabits databits_ = db8;
    TVaStopbits stopbits_ = sb1;
    TVaEventChars eventChars_;
    TVaFlowControl flowControl_;
    TVaCommOptions options_;
    int portNum_ = 0;
    std::string deviceName_ = "\\\\.\\COM%d";
    TVaCommEvents monitorEvents_{ceError, ceRxChar, ceTxEmpty};
    TVaBuffers buffers_;
    TThreadPriority eventPriority_ = tpNormal;
    TThreadPriority writePriority_ = tpHighest;
    bool directWrite_ = false;
    bool updateDCB_ = true;
    int userBaudrate_ = 0;

    std::unique_ptr<Impl> impl_;
};

// The port component as the program uses it.
class TVaComm : public TVaCustomComm {
public:
    TVaComm() = default;
};

// A component that attaches to a port through its Comm property.
class TVaCommComponent : public TVaComponent {
public:
    TVaCommComponent();
    // Detaches from its port.
    ~TVaCommComponent() override;

    TVaComm* Comm() const;
    // Attaches to comm (detaching from the previous port first); nullptr
    // detaches.
    void SetComm(TVaComm* comm);
    bool Active() const { return dispatcher_.Active(); }
    void SetActive(bool v) { dispatcher_.SetActive(v); }
    TVaDispatcher& Dispatcher() { return dispatcher_; }

    // Received bytes, on the UI thread; valid only during the call.
    virtual void AcceptData(const uint8_t* data, int count);
    // Driver event mask, on the UI thread.
    virtual void AcceptEvents(uint32_t events);

private:
    TVaDispatcher dispatcher_;
};

using TVaWaitMessageEvent = std::function<void(TVaComponent* Sender, int Index)>;

// Watches the received bytes for any of its patterns. A caret followed by a
// letter stands for that letter's control code (^M is 13).
class TVaWaitMessage : public TVaCommComponent {
public:
    const std::vector<std::string>& Strings() const { return strings_; }
    void SetStrings(const std::vector<std::string>& v);
    bool CaseSensitive() const { return caseSensitive_; }
    void SetCaseSensitive(bool v) { caseSensitive_ = v; }
    TVaWaitMessageEvent OnMessage;

    void Loaded() override;
    void AcceptData(const uint8_t* data, int count) override;

    // A pattern with its caret escapes turned into control characters.
    static std::string Unescape(const std::string& pattern);

private:
    void Prepare();

    std::vector<std::string> strings_;
    bool caseSensitive_ = false;
    std::vector<std::string> patterns_;
    std::vector<std::string> windows_;
};

}  // namespace kv
