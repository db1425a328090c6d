// The serial devices present on this computer, from the system's device
// database (libudev), and the events of devices arriving and leaving.
//
// A device is a tty with hardware behind it: USB adapters (ttyUSB, ttyACM),
// built-in ports (ttyS only where the kernel found a UART), and the like.
// Virtual consoles, pseudo-terminals and ttyS names without a UART are not.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kv {

struct TSerialDeviceInfo {
    std::string node;     // /dev/ttyUSB0
    std::string sysPath;  // the kernel's path of the tty; names the device in events
    std::string byId;     // its /dev/serial/by-id/ link, empty when none
    std::string bus;      // "usb", "pnp", "platform", "pci", ...
    // USB only, empty elsewhere: ids as four hexadecimal digits, the strings
    // the adapter reports, the class of the interface the tty belongs to
    // ("02" a modem, "ff" vendor-specific).
    std::string vendorId, productId;
    std::string vendor, product, serial;
    std::string interfaceClass;
    std::string driver;  // "ftdi_sio", "cdc_acm", "serial", ...
    int uartType = 0;    // for ttyS: the kernel's UART type (0 none)
    // The device database's properties of the tty (empty where no database
    // runs).
    std::map<std::string, std::string> properties;

    bool IsUsb() const { return bus == "usb"; }
    // The name to keep in a mapping: the by-id link when there is one (it
    // survives re-plugging into another socket), else the node.
    const std::string& PreferredName() const { return byId.empty() ? node : byId; }
    // Whether path names this device (its node or its by-id link).
    bool Names(const std::string& path) const { return !path.empty() && (path == node || path == byId); }
    // A line for people: "FTDI FT232R USB UART (0403:6001, ftdi_sio), серийный номер A1"
    // or "встроенный последовательный порт (serial)".
    std::string Description() const;

    bool operator==(const TSerialDeviceInfo&) const = default;
};

// Every serial device present now, sorted by node.
std::vector<TSerialDeviceInfo> EnumerateSerialDevices();
// The device behind a tty's kernel path, when it is a serial device.
std::optional<TSerialDeviceInfo> SerialDeviceBySysPath(const std::string& sysPath);
// The device a path names (a node, a by-id link or any link to a node).
std::optional<TSerialDeviceInfo> SerialDeviceByPath(const std::string& path);

// Decodes a by-id name ("usb-FTDI_FT232R_USB_UART_A1B2-if00-port0") into
// the words it is made of ("FTDI FT232R USB UART A1B2"); empty when it is
// not such a name.
std::string ByIdLabel(const std::string& byIdPath);

// ---- arrivals and departures

enum class TDeviceAction { Added, Removed, Changed };

struct TDeviceEvent {
    TDeviceAction action = TDeviceAction::Added;
    std::string sysPath;
    std::string node;
};

// Where device events come from. The window watches Fd() on its event loop
// and calls Take() when it is readable; tests feed events of their own.
class TDeviceEventSource {
public:
    virtual ~TDeviceEventSource() = default;
    // Readable while events wait; -1 when there is nothing to watch.
    virtual int Fd() const = 0;
    // The events waiting now; never blocks.
    virtual std::vector<TDeviceEvent> Take() = 0;
};

// The system's tty events: from the device manager once it has applied its
// rules (links made, properties set), or straight from the kernel where no
// device manager runs.
class TUdevMonitor : public TDeviceEventSource {
public:
    TUdevMonitor();
    ~TUdevMonitor() override;
    TUdevMonitor(const TUdevMonitor&) = delete;
    TUdevMonitor& operator=(const TUdevMonitor&) = delete;

    int Fd() const override;
    std::vector<TDeviceEvent> Take() override;

private:
    struct Impl;
    Impl* impl_;
};

// The list the port dialog shows, kept current from a source of events.
class TSerialDeviceList {
public:
    // How an added or changed device is looked up (the device database in
    // the program; a script in tests). nullopt: not a serial device.
    using TLookup = std::function<std::optional<TSerialDeviceInfo>(const TDeviceEvent&)>;

    TSerialDeviceList(std::vector<TSerialDeviceInfo> initial, TLookup lookup);
    // The program's list: what is present now, looked up in the database.
    static TSerialDeviceList FromSystem();

    // Applies one event; returns whether the list changed.
    bool Apply(const TDeviceEvent& event);
    // Applies every event the source has now; returns whether the list
    // changed, and then calls onChanged once.
    bool Update(TDeviceEventSource& source);

    const std::vector<TSerialDeviceInfo>& Devices() const { return devices_; }
    // The device a path names, when present.
    const TSerialDeviceInfo* Find(const std::string& path) const;
    bool Present(const std::string& path) const { return Find(path) != nullptr; }

    std::function<void()> onChanged;

private:
    void sort();

    std::vector<TSerialDeviceInfo> devices_;
    TLookup lookup_;
};

}  // namespace kv
