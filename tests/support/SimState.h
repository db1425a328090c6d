// The voice files kvsim keeps in its state file (--state): what the unit
// holds, byte for byte, for tests that compare it with what was meant to go.
#pragma once

#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace kvtest {

inline std::optional<std::string> FromBase64Text(const std::string& text)
{
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned value = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=')
            break;
        const size_t at = alphabet.find(c);
        if (at == std::string::npos)
            return std::nullopt;
        value = (value << 6) | static_cast<unsigned>(at);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((value >> bits) & 0xFF);
        }
    }
    return out;
}

// The bytes of the file named `name` in kvsim's state (any slot or menu);
// nothing when the state holds no such file (or only a generated tone).
inline std::optional<std::string> SimStoredFile(const std::string& statePath, const std::string& name)
{
    std::ifstream in(statePath);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key, kind, n, fileName, size, data;
        words >> key >> kind >> n >> fileName >> size >> data;
        if (key != "file" || fileName != name || data == "tone")
            continue;
        return FromBase64Text(data);
    }
    return std::nullopt;
}

}  // namespace kvtest
