// The per-user settings store of the program: named text values under keys
// such as "Software/kv20rm/COMPort". The window keeps them in the user's
// settings file; tests keep them in memory.
#pragma once

#include <optional>
#include <string>

namespace kv {

class TSettingsStore {
public:
    virtual ~TSettingsStore() = default;
    // The stored value, or nothing when the key is missing.
    virtual std::optional<std::string> Value(const std::string& key) const = 0;
    virtual void SetValue(const std::string& key, const std::string& value) = 0;
    virtual void Remove(const std::string& key) = 0;
};

// The stored COM port number, in decimal.
inline constexpr const char* kComPortKey = "Software/kv20rm/COMPort";
// The device path that COMn opens ("Software/kv20rm/Devices/COM3").
std::string DeviceKey(int port);

}  // namespace kv
