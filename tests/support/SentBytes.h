// Reading what the tool sent, from the bytes of kvsim's transcript.
#pragma once

#include <regex>
#include <string>
#include <vector>

namespace kv {

// The parameter codes the tool asked for with "GET\r<code>\r", in order.
inline std::vector<int> GetCodes(const std::string& bytes)
{
    static const std::regex get("GET\r([0-9]+)\r");
    std::vector<int> codes;
    for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), get); it != std::sregex_iterator(); ++it)
        codes.push_back(std::stoi((*it)[1]));
    return codes;
}

// How often `what` occurs in bytes, without overlaps.
inline size_t CountOf(const std::string& bytes, const std::string& what)
{
    size_t n = 0;
    for (size_t at = bytes.find(what); at != std::string::npos; at = bytes.find(what, at + what.size()))
        ++n;
    return n;
}

}  // namespace kv
