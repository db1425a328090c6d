// The per-user settings store of the program: named text values under keys
// such as "Software/kv20rm/COMPort". The window keeps them in the user's
// settings file; tests and benchmarks keep them in memory
// (TMemorySettingsStore).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kv {

class TSettingsStore {
public:
    virtual ~TSettingsStore() = default;
    // The stored value, or nothing when the key is missing.
    virtual std::optional<std::string> Value(const std::string& key) const = 0;
    virtual void SetValue(const std::string& key, const std::string& value) = 0;
    virtual void Remove(const std::string& key) = 0;
};

// A store in memory, gone with the object: for a program that keeps no
// settings of the user's, tests and benchmarks.
class TMemorySettingsStore : public TSettingsStore {
public:
    std::optional<std::string> Value(const std::string& key) const override
    {
        const auto it = values.find(key);
        if (it == values.end())
            return std::nullopt;
        return it->second;
    }
    void SetValue(const std::string& key, const std::string& value) override
    {
        values[key] = value;
        writes.push_back(key + "=" + value);
    }
    void Remove(const std::string& key) override
    {
        values.erase(key);
        writes.push_back("-" + key);
    }

    std::map<std::string, std::string> values;
    // Every SetValue and Remove, as "key=value" and "-key".
    std::vector<std::string> writes;
};

// The stored COM port number, in decimal.
inline constexpr const char* kComPortKey = "Software/kv20rm/COMPort";
// The device path that COMn opens ("Software/kv20rm/Devices/COM3").
std::string DeviceKey(int port);

}  // namespace kv
