// The stored COM port, the device map the port opens through, the devices
// the port dialog offers and its choice.
#include <gtest/gtest.h>

#include "ScriptedForm.h"
#include "serial/VaComm.h"
#include "ui/Ports.h"
#include "doctor/SerialDevices.h"

using namespace kv;

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

TEST(PortChoices, OfferAnAdapterByItsLinkAloneThenTheOthersByTheirNodes)
{
    TSerialDeviceInfo usb;
    usb.node = "/dev/ttyUSB0";
    usb.byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1-if00-port0";
    usb.bus = "usb";
    TSerialDeviceInfo uart;
    uart.node = "/dev/ttyS0";
    uart.bus = "pnp";
    uart.uartType = 4;
    TSerialDeviceInfo acm;  // an adapter the device manager gave no link
    acm.node = "/dev/ttyACM0";
    acm.bus = "usb";
    const auto choices = PortChoices({uart, acm, usb});
    ASSERT_EQ(choices.size(), 3u);
    EXPECT_EQ(choices[0].path, usb.byId);
    EXPECT_EQ(choices[0].Label(), usb.byId + " (/dev/ttyUSB0)");
    EXPECT_EQ(choices[1].path, "/dev/ttyS0");
    EXPECT_EQ(choices[1].Label(), "/dev/ttyS0 (" + uart.Description() + ")");
    EXPECT_EQ(choices[2].path, "/dev/ttyACM0");
    EXPECT_TRUE(PortChoices({}).empty());
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

TEST(FormPorts, AnAddressBesideTheDeviceIsCheckedBeforeItIsStored)
{
    TFormPorts form(2, {"/dev/ttyS0", "rfc2217://10.0.0.5:4001", "/dev/ttyS2", "/dev/ttyS3"}, {});
    EXPECT_TRUE(form.IsAddress()) << "a stored address shows in the address field";
    form.Select(0);
    EXPECT_FALSE(form.IsAddress());
    form.SetAddress("tcp://pbx-serial:7000");
    EXPECT_TRUE(form.IsAddress());
    EXPECT_EQ(form.Device(), "tcp://pbx-serial:7000");
    form.SetDevice("/dev/ttyUSB0");  // a device picked again: the address goes
    EXPECT_FALSE(form.IsAddress());
    form.SetDevice(" TCP://pbx:1 ");  // an address typed where a path goes is one too
    EXPECT_TRUE(form.IsAddress());

    const std::pair<const char*, const char*> refused[] = {
        {"192.168.1.20:4001", "адрес начинается с rfc2217:// или tcp://"},
        {"rfc2217://:4001", "не указан сервер"},
        {"rfc2217://office pbx:4001", "недопустимые символы в имени сервера"},
        {"rfc2217://[fe80::1:4001", "нет закрывающей скобки ]"},
        {"tcp://[::g]:4001", "неверный адрес IPv6"},
        {"tcp://pbx", "не указан порт после двоеточия"},
        {"tcp://pbx:40o1", "порт должен быть числом"},
        {"tcp://pbx:70000", "порт должен быть от 1 до 65535"},
    };
    TMemorySettingsStore store;
    TDeviceMap map;
    for (const auto& [text, reason] : refused) {
        form.SetAddress(text);
        std::string message;
        EXPECT_FALSE(form.Check(message)) << text;
        EXPECT_EQ(message, std::string("Неверный адрес сервера \"") + text + "\": " + reason +
                               ".\nПример: rfc2217://192.168.1.20:4001 или tcp://192.168.1.20:4001.");
        EXPECT_FALSE(StorePortChoice(form, store, map)) << text;
    }
    EXPECT_TRUE(store.writes.empty()) << "nothing of a refused choice is stored";

    // A path is never checked as an address; an emptied address field gives
    // the port its system device back.
    std::string message;
    form.SetDevice("/dev/whatever");
    EXPECT_TRUE(form.Check(message));
    form.SetAddress("  ");
    EXPECT_TRUE(form.Check(message));
    EXPECT_TRUE(StorePortChoice(form, store, map));
    EXPECT_FALSE(map.Mapped(1));

    form.SetAddress(" rfc2217://[::1]:4001 ");
    EXPECT_TRUE(form.Check(message));
    EXPECT_TRUE(StorePortChoice(form, store, map));
    EXPECT_EQ(store.values[DeviceKey(1)], "rfc2217://[::1]:4001");
    EXPECT_EQ(map.Device(1), "rfc2217://[::1]:4001");
}

TEST(FormPorts, ThePortPanelNamesAnAddressOnlyWhileDisconnected)
{
    EXPECT_EQ(PortPanelText(2, "rfc2217://10.0.0.5:4001", true), "COM2 rfc2217://10.0.0.5:4001");
    EXPECT_EQ(PortPanelText(2, "rfc2217://10.0.0.5:4001", false), "COM2");
    EXPECT_EQ(PortPanelText(1, "/dev/ttyUSB0", true), "COM1");
}
