// The device list: what this machine has, checked against the kernel's own
// tty table, and the hot-plug path fed with scripted events.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <filesystem>
#include <fstream>
#include <pty.h>
#include <set>
#include <unistd.h>

#include "doctor/SerialDevices.h"

namespace fs = std::filesystem;
using namespace kv;

namespace {

bool hex4(const std::string& s)
{
    return s.size() == 4 && std::all_of(s.begin(), s.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// The nodes that the kernel's tty table says have hardware behind them.
std::set<std::string> nodesFromSysfs()
{
    std::set<std::string> nodes;
    std::error_code ec;
    for (fs::directory_iterator it("/sys/class/tty", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!fs::exists(it->path() / "device"))
            continue;
        if (name.rfind("ttyS", 0) == 0) {
            std::ifstream in(it->path() / "type");
            int type = 0;
            if (!(in >> type) || type == 0)
                continue;
        }
        if (fs::exists("/dev/" + name))
            nodes.insert("/dev/" + name);
    }
    return nodes;
}

}  // namespace

TEST(SerialDevices, WhatThisMachineHasKeepsTheListsInvariants)
{
    const auto devices = EnumerateSerialDevices();
    std::set<std::string> nodes;
    for (size_t i = 0; i < devices.size(); ++i) {
        const auto& d = devices[i];
        SCOPED_TRACE(d.node);
        EXPECT_TRUE(nodes.insert(d.node).second) << "listed twice";
        if (i > 0) {
            EXPECT_LT(devices[i - 1].node, d.node) << "not sorted";
        }
        struct stat st {};
        ASSERT_EQ(stat(d.node.c_str(), &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
        EXPECT_FALSE(d.sysPath.empty());
        const std::string name = fs::path(d.node).filename().string();
        EXPECT_FALSE(name == "console" || name == "ptmx" || name == "tty");
        EXPECT_FALSE(name.size() > 3 && name.rfind("tty", 0) == 0 && std::isdigit(static_cast<unsigned char>(name[3])))
            << "a virtual terminal";
        if (name.rfind("ttyS", 0) == 0) {
            EXPECT_NE(d.uartType, 0);
        }
        if (!d.byId.empty()) {
            EXPECT_EQ(d.byId.rfind("/dev/serial/by-id/", 0), 0u);
            EXPECT_EQ(fs::canonical(d.byId).string(), d.node);
            EXPECT_EQ(d.PreferredName(), d.byId);
        } else {
            EXPECT_EQ(d.PreferredName(), d.node);
        }
        if (d.IsUsb()) {
            EXPECT_TRUE(hex4(d.vendorId)) << d.vendorId;
            EXPECT_TRUE(hex4(d.productId)) << d.productId;
            EXPECT_NE(d.Description().find(d.vendorId + ":" + d.productId), std::string::npos);
        }
        EXPECT_FALSE(d.Description().empty());
        const auto again = SerialDeviceByPath(d.node);
        ASSERT_TRUE(again.has_value());
        EXPECT_EQ(again->sysPath, d.sysPath);
    }
    // The same set as the kernel's table read by hand.
    EXPECT_EQ(nodes, nodesFromSysfs());
}

TEST(SerialDevices, APseudoTerminalIsNotASerialDevice)
{
    int master = -1, slave = -1;
    char name[64] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    EXPECT_FALSE(SerialDeviceByPath(name).has_value());
    const auto devices = EnumerateSerialDevices();
    EXPECT_TRUE(std::none_of(devices.begin(), devices.end(), [&](const TSerialDeviceInfo& d) { return d.node == name; }));
    EXPECT_FALSE(SerialDeviceByPath("/dev/ttyUSB-no-such").has_value());
    close(slave);
    close(master);
}

TEST(SerialDevices, DescriptionsAndByIdNames)
{
    TSerialDeviceInfo usb;
    usb.node = "/dev/ttyUSB0";
    usb.bus = "usb";
    usb.vendorId = "0403";
    usb.productId = "6001";
    usb.vendor = "FTDI";
    usb.product = "FT232R USB UART";
    usb.serial = "A10KZP0B";
    usb.driver = "ftdi_sio";
    EXPECT_EQ(usb.Description(), "FTDI FT232R USB UART (0403:6001, ftdi_sio), серийный номер A10KZP0B");
    usb.vendor = "Prolific";
    usb.product = "Prolific USB-Serial Controller";
    usb.serial.clear();
    EXPECT_EQ(usb.Description(), "Prolific USB-Serial Controller (0403:6001, ftdi_sio)");
    usb.vendor.clear();
    usb.product.clear();
    EXPECT_EQ(usb.Description(), "USB-адаптер (0403:6001, ftdi_sio)");

    TSerialDeviceInfo uart;
    uart.node = "/dev/ttyS0";
    uart.bus = "pnp";
    uart.driver = "serial";
    uart.uartType = 4;
    EXPECT_EQ(uart.Description(), "встроенный последовательный порт (драйвер serial)");

    EXPECT_EQ(ByIdLabel("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KZP0B-if00-port0"), "FTDI FT232R USB UART A10KZP0B");
    EXPECT_EQ(ByIdLabel("/dev/serial/by-id/usb-1a86_USB2.0-Serial-if00-port0"), "1a86 USB2.0-Serial");
    EXPECT_EQ(ByIdLabel("/dev/ttyUSB0"), "");
}

namespace {

// Events as a test scripts them.
class TScriptedSource : public TDeviceEventSource {
public:
    int Fd() const override { return -1; }
    std::vector<TDeviceEvent> Take() override
    {
        std::vector<TDeviceEvent> out(waiting.begin(), waiting.end());
        waiting.clear();
        return out;
    }
    std::deque<TDeviceEvent> waiting;
};

TSerialDeviceInfo adapter(const std::string& node, const std::string& serial)
{
    TSerialDeviceInfo d;
    d.node = node;
    d.sysPath = "/sys/devices/usb1/" + fs::path(node).filename().string();
    d.bus = "usb";
    d.vendorId = "0403";
    d.productId = "6001";
    d.serial = serial;
    d.byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_" + serial + "-if00-port0";
    return d;
}

}  // namespace

TEST(SerialDeviceList, FollowsArrivalsAndDepartures)
{
    // What the "database" answers for each sysfs path at the moment.
    std::map<std::string, TSerialDeviceInfo> database;
    TSerialDeviceInfo builtIn;
    builtIn.node = "/dev/ttyS0";
    builtIn.sysPath = "/sys/devices/pnp0/00:00/tty/ttyS0";
    builtIn.uartType = 4;
    TSerialDeviceList list({builtIn}, [&](const TDeviceEvent& ev) -> std::optional<TSerialDeviceInfo> {
        auto it = database.find(ev.sysPath);
        if (it == database.end())
            return std::nullopt;
        return it->second;
    });
    int notified = 0;
    list.onChanged = [&] { ++notified; };
    TScriptedSource source;

    // Two adapters arrive in one batch: one notification, sorted list.
    const auto b = adapter("/dev/ttyUSB1", "B");
    const auto a = adapter("/dev/ttyUSB0", "A");
    database[b.sysPath] = b;
    database[a.sysPath] = a;
    source.waiting = {{TDeviceAction::Added, b.sysPath, b.node}, {TDeviceAction::Added, a.sysPath, a.node}};
    EXPECT_TRUE(list.Update(source));
    EXPECT_EQ(notified, 1);
    ASSERT_EQ(list.Devices().size(), 3u);
    EXPECT_EQ(list.Devices()[0].node, "/dev/ttyS0");
    EXPECT_EQ(list.Devices()[1].node, "/dev/ttyUSB0");
    EXPECT_EQ(list.Devices()[2].node, "/dev/ttyUSB1");
    EXPECT_TRUE(list.Present(a.byId));
    EXPECT_EQ(list.Find(a.byId)->node, "/dev/ttyUSB0");

    // The same again, and a tty that is no serial device: nothing changes.
    source.waiting = {{TDeviceAction::Added, a.sysPath, a.node},
                      {TDeviceAction::Added, "/sys/devices/virtual/tty/tty7", "/dev/tty7"}};
    EXPECT_FALSE(list.Update(source));
    EXPECT_EQ(notified, 1);
    EXPECT_EQ(list.Devices().size(), 3u);

    // A change of what the database says replaces the entry.
    database[a.sysPath].product = "FT232R USB UART";
    source.waiting = {{TDeviceAction::Changed, a.sysPath, a.node}};
    EXPECT_TRUE(list.Update(source));
    EXPECT_EQ(list.Find(a.node)->product, "FT232R USB UART");
    EXPECT_EQ(list.Devices().size(), 3u);

    // Unplugged: gone, and its by-id name with it; an unknown removal
    // changes nothing.
    database.erase(a.sysPath);
    source.waiting = {{TDeviceAction::Removed, a.sysPath, a.node}};
    EXPECT_TRUE(list.Update(source));
    EXPECT_EQ(notified, 3);
    EXPECT_FALSE(list.Present(a.byId));
    EXPECT_FALSE(list.Present(a.node));
    source.waiting = {{TDeviceAction::Removed, "/sys/devices/usb9/ttyUSB9", "/dev/ttyUSB9"}};
    EXPECT_FALSE(list.Update(source));
    EXPECT_EQ(notified, 3);

    // A change after which the tty is no serial device any more drops it.
    database.erase(b.sysPath);
    EXPECT_TRUE(list.Apply({TDeviceAction::Changed, b.sysPath, b.node}));
    ASSERT_EQ(list.Devices().size(), 1u);
    EXPECT_EQ(list.Devices()[0].node, "/dev/ttyS0");
}
