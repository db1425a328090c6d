// The stored COM port, the device map the port opens through, the list of
// serial devices present and the port dialog's choice.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ScriptedForm.h"
#include "serial/VaComm.h"
#include "ui/Ports.h"

using namespace kv;
namespace fs = std::filesystem;

TEST(ComPort, OnlyADecimalFromOneToFourIsTaken)
{
    TMemorySettingsStore store;
    EXPECT_EQ(ReadComPort(store), 1);
    for (const char* bad : {"", "0", "5", "-1", "x", " 3", "3 ", "0x3", "99999999999999999999"}) {
        store.values[kComPortKey] = bad;
        EXPECT_EQ(ReadComPort(store), 1) << '"' << bad << '"';
    }
    store.values[kComPortKey] = "3";
    EXPECT_EQ(ReadComPort(store), 3);
    store.values[kComPortKey] = "04";
    EXPECT_EQ(ReadComPort(store), 4);
}

TEST(DeviceMap, MapsComNamesAndFallsBackToTheSystemsPorts)
{
    TMemorySettingsStore store;
    store.values[DeviceKey(2)] = "/dev/ttyUSB0";
    store.values[DeviceKey(3)] = "";
    TDeviceMap map;
    map.Load(store);
    EXPECT_EQ(map.Device(1), "/dev/ttyS0");
    EXPECT_EQ(map.Device(2), "/dev/ttyUSB0");
    EXPECT_FALSE(map.Mapped(3));
    EXPECT_EQ(map.Resolve("COM2"), "/dev/ttyUSB0");
    EXPECT_EQ(map.Resolve("COM4"), "/dev/ttyS3");
    EXPECT_EQ(map.Resolve("ttyACM0"), "/dev/ttyACM0");

    map.Install();
    EXPECT_EQ(VaResolveDevice("COM2"), "/dev/ttyUSB0");
    map.Set(store, 2, "");
    EXPECT_EQ(VaResolveDevice("COM2"), "/dev/ttyS1");
    EXPECT_FALSE(store.values.count(DeviceKey(2)));
    TDeviceMap::Uninstall();
}

TEST(SerialDevices, ListsLinksAdaptersAndOnlyRealUarts)
{
    const fs::path root = fs::temp_directory_path() / ("kv-devices-" + std::to_string(getpid()));
    fs::remove_all(root);
    const fs::path dev = root / "dev";
    const fs::path sys = root / "sys";
    fs::create_directories(dev / "serial" / "by-id");
    for (const char* name : {"ttyUSB1", "ttyUSB0", "ttyACM0", "ttyS0", "ttyS1", "ttyUSBx", "tty0"})
        std::ofstream(dev / name).put('\0');
    fs::create_symlink("../../ttyUSB0", dev / "serial" / "by-id" / "usb-Adapter_123-if00-port0");
    fs::create_symlink("../../gone", dev / "serial" / "by-id" / "usb-dangling");
    for (auto [name, type] : {std::pair{"ttyS0", "4"}, std::pair{"ttyS1", "0"}}) {
        fs::create_directories(sys / "class" / "tty" / name);
        std::ofstream(sys / "class" / "tty" / name / "type") << type << "\n";
    }

    const auto found = ListSerialDevices(dev.string(), sys.string());
    std::vector<std::string> labels;
    for (const auto& d : found)
        labels.push_back(d.Label());
    const std::string byId = (dev / "serial" / "by-id" / "usb-Adapter_123-if00-port0").string();
    EXPECT_EQ(labels, (std::vector<std::string>{
                          byId + " (" + fs::canonical(dev / "ttyUSB0").string() + ")",
                          (dev / "ttyUSB0").string(),
                          (dev / "ttyUSB1").string(),
                          (dev / "ttyACM0").string(),
                          (dev / "ttyS0").string(),
                      }));
    EXPECT_EQ(found[0].path, byId);
    EXPECT_TRUE(ListSerialDevices((root / "none").string(), sys.string()).empty());
    fs::remove_all(root);
}

TEST(FormPorts, EachItemShowsItsDeviceAndOnlyTheChosenOneIsStored)
{
    TFormPorts form(7, {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"}, {});
    EXPECT_EQ(form.Port(), 1);  // a port the group does not offer selects COM1
    EXPECT_STREQ(TFormPorts::Caption, "Выберите COM-порт");
    EXPECT_EQ(std::string(TFormPorts::Items()[3]), "COM4");

    form.Select(1);
    form.SetDevice("/dev/ttyUSB9");
    form.Select(2);
    EXPECT_EQ(form.Device(), "/dev/ttyS2");
    form.SetDevice("  /dev/serial/by-id/usb-x  ");
    form.Select(9);  // no such item: the selection stays
    EXPECT_EQ(form.Port(), 3);

    TMemorySettingsStore store;
    TDeviceMap map;
    StorePortChoice(form, store, map);
    EXPECT_EQ(store.writes, (std::vector<std::string>{std::string(kComPortKey) + "=3",
                                                      DeviceKey(3) + "=/dev/serial/by-id/usb-x"}));
    EXPECT_EQ(map.Device(3), "/dev/serial/by-id/usb-x");
    EXPECT_EQ(map.Device(2), "/dev/ttyS1");
}
