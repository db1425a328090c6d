// Choosing the COM port and the device it opens.
//
// The unit is reached as COM1 to COM4. Each COMn opens a device: the one the
// user chose for it in the port dialog (kept under DeviceKey(n)), otherwise
// /dev/ttyS(n-1). TDeviceMap holds that mapping for the port component's
// device resolver; TFormPorts is the port dialog "Выберите COM-порт" with
// the radio group "Порт" and, beside it, the device of the chosen item or
// the address of the serial device server it is reached through.
#pragma once

#include <array>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ui/SettingsStore.h"

namespace kv {

// The port the store names: a decimal integer from 1 to 4; anything else
// (missing, empty, not a number, out of range) gives 1.
int ReadComPort(const TSettingsStore& store);
void WriteComPort(TSettingsStore& store, int port);

// Which device each COMn opens. Read on any thread (the port opens on the
// worker); changed on the UI thread.
class TDeviceMap {
public:
    // Takes the mappings of COM1 to COM4 from the store.
    void Load(const TSettingsStore& store);
    // The device COMn opens: the mapped path, else /dev/ttyS(n-1).
    std::string Device(int port) const;
    // Whether COMn has a device of its own.
    bool Mapped(int port) const;
    // Maps COMn to path, or back to its default when path is empty, and
    // stores that.
    void Set(TSettingsStore& store, int port, const std::string& path);
    // The port component's resolver: "COMn" to Device(n); other names as
    // the component's default has them.
    std::string Resolve(const std::string& name) const;
    // Installs Resolve as the port component's resolver / restores the
    // component's default.
    void Install();
    static void Uninstall();

private:
    mutable std::mutex m_;
    std::map<int, std::string> devices_;
};

struct TSerialDeviceInfo;

// A device the port dialog offers.
struct TSerialDevice {
    std::string path;         // what to open: /dev/ttyUSB0, /dev/serial/by-id/...
    std::string target;       // for a by-id link, the node it names; else empty
    std::string description;  // what the device is, for people; may be empty
    // The text the device list shows: the path, then the node a link names
    // or what the device is.
    std::string Label() const;
};

// What the dialog offers for the serial devices present, one choice each:
// the devices with a by-id link by their link (naming the node) first,
// then the others by their node.
std::vector<TSerialDevice> PortChoices(const std::vector<TSerialDeviceInfo>& devices);

class TFormPorts {
public:
    static constexpr const char* Caption = "Выберите COM-порт";
    static constexpr const char* GroupCaption = "Порт";
    static constexpr int kPorts = 4;
    static const std::array<const char*, kPorts>& Items();

    // Opens with the item of `port` selected (port 1 when it is not 1-4);
    // devices[i] is what COM(i+1) opens now, `present` the list to offer.
    TFormPorts(int port, std::array<std::string, kPorts> devices, std::vector<TSerialDevice> present);

    // The user chose an item (0 to 3); the device field shows its device.
    void Select(int index);
    int ItemIndex() const { return index_; }
    // The chosen port, 1 to 4.
    int Port() const { return index_ + 1; }
    // What the selected item opens: a device path, or the address of a
    // serial device server (rfc2217://HOST:PORT, tcp://HOST:PORT).
    const std::string& Device() const { return devices_[static_cast<size_t>(index_)]; }
    // The device field: the user picked a device or typed a path.
    void SetDevice(const std::string& path);
    // The address field, beside the device list: the user typed an address.
    void SetAddress(const std::string& address);
    // Whether the selected item opens an address (the address field shows
    // it, the device field is empty).
    bool IsAddress() const { return isAddress_[static_cast<size_t>(index_)]; }
    // Whether the choice may be stored; when not, message says why (Russian,
    // for the dialog's warning). An address must be well-formed.
    bool Check(std::string& message) const;
    const std::vector<TSerialDevice>& Present() const { return present_; }
    // The devices present have changed while the dialog is open.
    void SetPresent(std::vector<TSerialDevice> present) { present_ = std::move(present); }

private:
    int index_ = 0;
    std::array<std::string, kPorts> devices_;
    std::array<bool, kPorts> isAddress_{};
    std::vector<TSerialDevice> present_;
};

// After "OK": stores the chosen port and the device of the chosen item;
// nothing when the form's Check refuses the choice (false).
bool StorePortChoice(const TFormPorts& form, TSettingsStore& store, TDeviceMap& map);

// The port panel's text: "COMn", and while disconnected the address the
// port opens when it is one ("COM1 rfc2217://10.0.0.5:4001").
std::string PortPanelText(int port, const std::string& device, bool disconnected);

}  // namespace kv
