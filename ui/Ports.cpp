#include "ui/Ports.h"

#include <algorithm>

#include "serial/VaComm.h"
#include "serial/VaNet.h"
#include "doctor/SerialDevices.h"

namespace kv {

namespace {

bool allDigits(const std::string& s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The n of "COMn", or 0.
int comNumber(const std::string& name)
{
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0 || !allDigits(name.substr(3)) || name.size() > 6)
        return 0;
    return std::stoi(name.substr(3));
}

std::string defaultDevice(int port)
{
    return "/dev/ttyS" + std::to_string(port - 1);
}

std::string trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    return first == std::string::npos ? std::string()
                                      : text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::string DeviceKey(int port)
{
    return "Software/kv20rm/Devices/COM" + std::to_string(port);
}

int ReadComPort(const TSettingsStore& store)
{
    const auto value = store.Value(kComPortKey);
    if (!value || !allDigits(*value) || value->size() > 9)
        return 1;
    const int port = std::stoi(*value);
    return port >= 1 && port <= TFormPorts::kPorts ? port : 1;
}

void WriteComPort(TSettingsStore& store, int port)
{
    store.SetValue(kComPortKey, std::to_string(port));
}

// ---- TDeviceMap

void TDeviceMap::Load(const TSettingsStore& store)
{
    std::map<int, std::string> devices;
    for (int port = 1; port <= TFormPorts::kPorts; ++port) {
        const auto path = store.Value(DeviceKey(port));
        if (path && !path->empty())
            devices[port] = *path;
    }
    std::lock_guard<std::mutex> g(m_);
    devices_ = std::move(devices);
}

std::string TDeviceMap::Device(int port) const
{
    std::lock_guard<std::mutex> g(m_);
    auto it = devices_.find(port);
    return it != devices_.end() ? it->second : defaultDevice(port);
}

bool TDeviceMap::Mapped(int port) const
{
    std::lock_guard<std::mutex> g(m_);
    return devices_.count(port) != 0;
}

void TDeviceMap::Set(TSettingsStore& store, int port, const std::string& path)
{
    {
        std::lock_guard<std::mutex> g(m_);
        if (path.empty())
            devices_.erase(port);
        else
            devices_[port] = path;
    }
    if (path.empty())
        store.Remove(DeviceKey(port));
    else
        store.SetValue(DeviceKey(port), path);
}

std::string TDeviceMap::Resolve(const std::string& name) const
{
    const int port = comNumber(name);
    return port > 0 ? Device(port) : VaDefaultDevicePath(name);
}

void TDeviceMap::Install()
{
    SetVaDeviceResolver([this](const std::string& name) { return Resolve(name); });
}

void TDeviceMap::Uninstall()
{
    SetVaDeviceResolver(nullptr);
}

// ---- the devices present

std::string TSerialDevice::Label() const
{
    if (!target.empty())
        return path + " (" + target + ")";
    return description.empty() ? path : path + " (" + description + ")";
}

std::vector<TSerialDevice> PortChoices(const std::vector<TSerialDeviceInfo>& devices)
{
    // A device with a by-id link is offered by it alone: a mapping to the
    // link survives re-plugging the adapter into another socket, one to
    // its node does not.
    std::vector<TSerialDevice> choices;
    for (const auto& d : devices)
        if (!d.byId.empty())
            choices.push_back({d.byId, d.node, d.Description()});
    for (const auto& d : devices)
        if (d.byId.empty())
            choices.push_back({d.node, {}, d.Description()});
    return choices;
}

// ---- TFormPorts

const std::array<const char*, TFormPorts::kPorts>& TFormPorts::Items()
{
    static const std::array<const char*, kPorts> items{"COM1", "COM2", "COM3", "COM4"};
    return items;
}

TFormPorts::TFormPorts(int port, std::array<std::string, kPorts> devices, std::vector<TSerialDevice> present)
    : index_(port >= 1 && port <= kPorts ? port - 1 : 0), devices_(std::move(devices)), present_(std::move(present))
{
    for (size_t i = 0; i < devices_.size(); ++i)
        isAddress_[i] = IsVaNetAddress(devices_[i]);
}

void TFormPorts::Select(int index)
{
    if (index >= 0 && index < kPorts)
        index_ = index;
}

void TFormPorts::SetDevice(const std::string& path)
{
    devices_[static_cast<size_t>(index_)] = path;
    isAddress_[static_cast<size_t>(index_)] = IsVaNetAddress(trimmed(path));
}

void TFormPorts::SetAddress(const std::string& address)
{
    devices_[static_cast<size_t>(index_)] = address;
    isAddress_[static_cast<size_t>(index_)] = true;
}

bool TFormPorts::Check(std::string& message) const
{
    const std::string text = trimmed(Device());
    // An emptied address field leaves the port its system device.
    if (!IsAddress() || text.empty())
        return true;
    TVaNetAddress address;
    TVaNetAddressError why = TVaNetAddressError::None;
    if (ParseVaNetAddress(text, address, nullptr, &why))
        return true;
    message = "Неверный адрес сервера \"" + text + "\": " + VaNetAddressProblem(why) +
              ".\nПример: rfc2217://192.168.1.20:4001 или tcp://192.168.1.20:4001.";
    return false;
}

bool StorePortChoice(const TFormPorts& form, TSettingsStore& store, TDeviceMap& map)
{
    std::string message;
    if (!form.Check(message))
        return false;
    WriteComPort(store, form.Port());
    map.Set(store, form.Port(), trimmed(form.Device()));
    return true;
}

std::string PortPanelText(int port, const std::string& device, bool disconnected)
{
    std::string text = "COM" + std::to_string(port);
    if (disconnected && IsVaNetAddress(device))
        text += " " + device;
    return text;
}

}  // namespace kv
