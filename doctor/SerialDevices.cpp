#include "doctor/SerialDevices.h"

#include <libudev.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>

namespace kv {

namespace fs = std::filesystem;

namespace {

constexpr const char* kByIdDir = "/dev/serial/by-id";

struct TUdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
};
using TUdev = std::unique_ptr<udev, TUdevDeleter>;
using TUdevDevice = std::unique_ptr<udev_device, TUdevDeleter>;
using TUdevEnumerate = std::unique_ptr<udev_enumerate, TUdevDeleter>;

std::string str(const char* s)
{
    return s ? std::string(s) : std::string();
}

std::string trimmed(std::string s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.pop_back();
    size_t first = 0;
    while (first < s.size() && std::isspace(static_cast<unsigned char>(s[first])))
        ++first;
    return s.substr(first);
}

std::string sysattr(udev_device* d, const char* name)
{
    return d ? trimmed(str(udev_device_get_sysattr_value(d, name))) : std::string();
}

bool startsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

std::string canonical(const std::string& path)
{
    std::error_code ec;
    const fs::path p = fs::canonical(path, ec);
    return ec ? std::string() : p.string();
}

// The by-id link of a node: from the device's own links, else from the
// folder (where no device manager keeps a database, but links exist).
std::string byIdOf(udev_device* d, const std::string& node)
{
    for (udev_list_entry* e = udev_device_get_devlinks_list_entry(d); e; e = udev_list_entry_get_next(e)) {
        const std::string link = str(udev_list_entry_get_name(e));
        if (startsWith(link, std::string(kByIdDir) + "/"))
            return link;
    }
    std::error_code ec;
    std::vector<std::string> found;
    for (fs::directory_iterator it(kByIdDir, ec), end; !ec && it != end; it.increment(ec)) {
        if (canonical(it->path().string()) == node)
            found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    return found.empty() ? std::string() : found.front();
}

std::optional<TSerialDeviceInfo> describe(udev_device* d)
{
    const std::string node = str(udev_device_get_devnode(d));
    udev_device* parent = udev_device_get_parent(d);
    if (node.empty() || !parent)
        return std::nullopt;  // a virtual terminal, the console, ptmx
    TSerialDeviceInfo info;
    info.node = node;
    info.sysPath = str(udev_device_get_syspath(d));
    const std::string name = str(udev_device_get_sysname(d));
    if (startsWith(name, "ttyS")) {
        // The kernel makes ttyS names for ports that may not exist; only a
        // found UART has a type.
        try {
            info.uartType = std::stoi(sysattr(d, "type"));
        } catch (...) {
            info.uartType = 0;
        }
        if (info.uartType == 0)
            return std::nullopt;
    }
    for (udev_list_entry* e = udev_device_get_properties_list_entry(d); e; e = udev_list_entry_get_next(e))
        info.properties[str(udev_list_entry_get_name(e))] = str(udev_list_entry_get_value(e));

    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_device");
    if (usb) {
        info.bus = "usb";
        info.vendorId = sysattr(usb, "idVendor");
        info.productId = sysattr(usb, "idProduct");
        info.vendor = sysattr(usb, "manufacturer");
        info.product = sysattr(usb, "product");
        info.serial = sysattr(usb, "serial");
        if (info.vendor.empty() && info.properties.count("ID_VENDOR_FROM_DATABASE"))
            info.vendor = info.properties["ID_VENDOR_FROM_DATABASE"];
        if (info.product.empty() && info.properties.count("ID_MODEL_FROM_DATABASE"))
            info.product = info.properties["ID_MODEL_FROM_DATABASE"];
        if (udev_device* intf = udev_device_get_parent_with_subsystem_devtype(d, "usb", "usb_interface")) {
            info.interfaceClass = sysattr(intf, "bInterfaceClass");
            info.driver = str(udev_device_get_driver(intf));
        }
    } else {
        // The first ancestor with a bus of its own (newer kernels put a
        // serial-base port between the tty and its controller).
        for (udev_device* p = parent; p; p = udev_device_get_parent(p)) {
            const std::string sub = str(udev_device_get_subsystem(p));
            if (!sub.empty() && sub != "serial-base" && sub != "tty") {
                info.bus = sub;
                info.driver = str(udev_device_get_driver(p));
                break;
            }
        }
    }
    if (info.driver.empty())
        info.driver = str(udev_device_get_driver(parent));
    info.byId = byIdOf(d, node);
    return info;
}

}  // namespace

// ---- TSerialDeviceInfo

std::string TSerialDeviceInfo::Description() const
{
    if (IsUsb()) {
        std::string words = product;
        if (!vendor.empty() && !startsWith(product, vendor))
            words = product.empty() ? vendor : vendor + " " + product;
        if (words.empty())
            words = "USB-адаптер";
        std::string ids = vendorId + ":" + productId;
        if (!driver.empty())
            ids += ", " + driver;
        std::string text = words + " (" + ids + ")";
        if (!serial.empty())
            text += ", серийный номер " + serial;
        return text;
    }
    std::string text = uartType != 0 ? "встроенный последовательный порт" : "последовательный порт";
    std::string detail;
    if (!bus.empty() && uartType == 0)
        detail = "шина " + bus;
    if (!driver.empty())
        detail += (detail.empty() ? "драйвер " : ", драйвер ") + driver;
    return detail.empty() ? text : text + " (" + detail + ")";
}

std::string ByIdLabel(const std::string& byIdPath)
{
    std::string name = fs::path(byIdPath).filename().string();
    if (!startsWith(fs::path(byIdPath).parent_path().string(), kByIdDir) && !startsWith(name, "usb-"))
        return {};
    const size_t dash = name.find('-');
    if (dash == std::string::npos)
        return {};
    name = name.substr(dash + 1);
    // The interface and port suffixes say nothing to a person.
    for (const char* suffix : {"-port", "-if"}) {
        const size_t at = name.rfind(suffix);
        if (at != std::string::npos)
            name.erase(at);
    }
    std::replace(name.begin(), name.end(), '_', ' ');
    return name;
}

std::vector<TSerialDeviceInfo> EnumerateSerialDevices()
{
    std::vector<TSerialDeviceInfo> found;
    TUdev u(udev_new());
    if (!u)
        return found;
    TUdevEnumerate e(udev_enumerate_new(u.get()));
    if (!e)
        return found;
    udev_enumerate_add_match_subsystem(e.get(), "tty");
    udev_enumerate_scan_devices(e.get());
    for (udev_list_entry* it = udev_enumerate_get_list_entry(e.get()); it; it = udev_list_entry_get_next(it)) {
        TUdevDevice d(udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(it)));
        if (!d)
            continue;
        if (auto info = describe(d.get()))
            found.push_back(std::move(*info));
    }
    std::sort(found.begin(), found.end(),
              [](const TSerialDeviceInfo& a, const TSerialDeviceInfo& b) { return a.node < b.node; });
    return found;
}

std::optional<TSerialDeviceInfo> SerialDeviceBySysPath(const std::string& sysPath)
{
    TUdev u(udev_new());
    if (!u)
        return std::nullopt;
    TUdevDevice d(udev_device_new_from_syspath(u.get(), sysPath.c_str()));
    if (!d)
        return std::nullopt;
    return describe(d.get());
}

std::optional<TSerialDeviceInfo> SerialDeviceByPath(const std::string& path)
{
    const std::string node = canonical(path);
    if (node.empty())
        return std::nullopt;
    for (auto& info : EnumerateSerialDevices())
        if (info.node == node)
            return info;
    return std::nullopt;
}

// ---- TUdevMonitor

struct TUdevMonitor::Impl {
    udev* u = nullptr;
    udev_monitor* monitor = nullptr;
};

TUdevMonitor::TUdevMonitor() : impl_(new Impl)
{
    impl_->u = udev_new();
    if (!impl_->u)
        return;
    // The device manager announces a device once its links and properties
    // are in place; without one running only the kernel's own events come.
    const bool managed = access("/run/udev/control", F_OK) == 0;
    impl_->monitor = udev_monitor_new_from_netlink(impl_->u, managed ? "udev" : "kernel");
    if (!impl_->monitor)
        return;
    if (udev_monitor_filter_add_match_subsystem_devtype(impl_->monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(impl_->monitor) < 0) {
        udev_monitor_unref(impl_->monitor);
        impl_->monitor = nullptr;
    }
}

TUdevMonitor::~TUdevMonitor()
{
    if (impl_->monitor)
        udev_monitor_unref(impl_->monitor);
    if (impl_->u)
        udev_unref(impl_->u);
    delete impl_;
}

int TUdevMonitor::Fd() const
{
    return impl_->monitor ? udev_monitor_get_fd(impl_->monitor) : -1;
}

std::vector<TDeviceEvent> TUdevMonitor::Take()
{
    std::vector<TDeviceEvent> events;
    if (!impl_->monitor)
        return events;
    // The monitor's socket does not block: this returns nothing once the
    // waiting messages are read.
    while (udev_device* d = udev_monitor_receive_device(impl_->monitor)) {
        TUdevDevice own(d);
        const std::string action = str(udev_device_get_action(d));
        TDeviceEvent ev;
        if (action == "add")
            ev.action = TDeviceAction::Added;
        else if (action == "remove")
            ev.action = TDeviceAction::Removed;
        else
            ev.action = TDeviceAction::Changed;
        ev.sysPath = str(udev_device_get_syspath(d));
        ev.node = str(udev_device_get_devnode(d));
        events.push_back(std::move(ev));
    }
    return events;
}

// ---- TSerialDeviceList

TSerialDeviceList::TSerialDeviceList(std::vector<TSerialDeviceInfo> initial, TLookup lookup)
    : devices_(std::move(initial)), lookup_(std::move(lookup))
{
    sort();
}

TSerialDeviceList TSerialDeviceList::FromSystem()
{
    return TSerialDeviceList(EnumerateSerialDevices(),
                             [](const TDeviceEvent& ev) { return SerialDeviceBySysPath(ev.sysPath); });
}

void TSerialDeviceList::sort()
{
    std::sort(devices_.begin(), devices_.end(),
              [](const TSerialDeviceInfo& a, const TSerialDeviceInfo& b) { return a.node < b.node; });
}

bool TSerialDeviceList::Apply(const TDeviceEvent& event)
{
    auto same = [&](const TSerialDeviceInfo& d) {
        return (!event.sysPath.empty() && d.sysPath == event.sysPath) || (!event.node.empty() && d.node == event.node);
    };
    std::optional<TSerialDeviceInfo> info;
    if (event.action != TDeviceAction::Removed && lookup_)
        info = lookup_(event);
    auto it = std::find_if(devices_.begin(), devices_.end(), same);
    if (!info) {
        if (it == devices_.end())
            return false;
        devices_.erase(it);
        return true;
    }
    if (it != devices_.end()) {
        if (*it == *info)
            return false;
        *it = std::move(*info);
    } else {
        devices_.push_back(std::move(*info));
    }
    sort();
    return true;
}

bool TSerialDeviceList::Update(TDeviceEventSource& source)
{
    bool changed = false;
    for (const auto& ev : source.Take())
        changed = Apply(ev) || changed;
    if (changed && onChanged)
        onChanged();
    return changed;
}

const TSerialDeviceInfo* TSerialDeviceList::Find(const std::string& path) const
{
    if (path.empty())
        return nullptr;
    for (const auto& d : devices_)
        if (d.Names(path))
            return &d;
    const std::string node = canonical(path);
    for (const auto& d : devices_)
        if (!node.empty() && d.node == node)
            return &d;
    return nullptr;
}

}  // namespace kv
