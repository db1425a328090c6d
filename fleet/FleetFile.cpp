#include "fleet/FleetFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <toml++/toml.h>

#include "serial/VaNet.h"

namespace kv {

namespace {

namespace fs = std::filesystem;

constexpr int kMaxParallel = 64;
// A day: a deadline longer than that is a mistake in the file.
constexpr int kMaxTimeout = 24 * 3600;

class TChecker {
public:
    TChecker(std::string file, TFleet& fleet, std::string& error) : file_(std::move(file)), fleet_(fleet), error_(error)
    {
    }

    bool Check(const toml::table& root)
    {
        fleet_.repository.clear();
        fleet_.parallel = TFleet::kDefaultParallel;
        fleet_.units.clear();
        int timeout = TFleet::kDefaultTimeout;
        bool haveRepository = false;
        for (auto&& [key, node] : root) {
            const std::string k(key.str());
            const int line = lineOf(key, node);
            if (k == "repository") {
                if (!text(node, line, k, fleet_.repository))
                    return false;
                fleet_.repository = absolute(fleet_.repository);
                haveRepository = true;
            } else if (k == "parallel") {
                if (!number(node, line, k, 1, kMaxParallel, fleet_.parallel))
                    return false;
            } else if (k == "timeout") {
                if (!number(node, line, k, 1, kMaxTimeout, timeout))
                    return false;
            } else if (k == "unit") {
                if (!node.is_array_of_tables())
                    return fail(line, "\"unit\" задаётся таблицами [[unit]]");
            } else {
                return fail(line, "неизвестный ключ \"" + k + "\"");
            }
        }
        if (!haveRepository)
            return fail(1, "нет ключа \"repository\" (папка истории)");
        const toml::array* units = root["unit"].as_array();
        if (!units || units->empty())
            return fail(1, "нет ни одного устройства ([[unit]])");
        std::map<std::string, int> names;
        for (const toml::node& node : *units) {
            TFleetUnit u;
            u.timeout = timeout;
            if (!unit(*node.as_table(), u))
                return false;
            if (auto [it, fresh] = names.emplace(u.name, u.line); !fresh)
                return fail(u.line, "имя \"" + u.name + "\" уже занято устройством в строке " +
                                        std::to_string(it->second));
            fleet_.units.push_back(std::move(u));
        }
        // The password files last: every unit's own keys are checked first.
        for (const TFleetUnit& u : fleet_.units) {
            std::string password, why;
            if (!ReadPasswordFile(u.passwordFile, password, why))
                return fail(passwordLines_[u.name], why);
        }
        return true;
    }

private:
    bool unit(const toml::table& table, TFleetUnit& u)
    {
        u.line = static_cast<int>(table.source().begin.line);
        bool haveName = false, haveDevice = false, havePassword = false;
        int passwordLine = u.line;
        for (auto&& [key, node] : table) {
            const std::string k(key.str());
            const int line = lineOf(key, node);
            if (k == "name") {
                if (!text(node, line, k, u.name))
                    return false;
                if (!ValidUnitName(u.name))
                    return fail(line, "имя \"" + u.name +
                                          "\" не годится: только латинские буквы, цифры, '-' и '_', не длиннее 64, "
                                          "не с '-'");
                haveName = true;
            } else if (k == "device") {
                if (!text(node, line, k, u.device))
                    return false;
                // An address is checked here, so that a mistyped one is
                // named with its line before any unit is contacted.
                TVaNetAddress address;
                TVaNetAddressError why = TVaNetAddressError::None;
                if (IsVaNetAddress(u.device) && !ParseVaNetAddress(u.device, address, nullptr, &why))
                    return fail(line, "неверный адрес сервера \"" + u.device + "\": " + VaNetAddressProblem(why));
                haveDevice = true;
            } else if (k == "password-file") {
                if (!text(node, line, k, u.passwordFile))
                    return false;
                u.passwordFile = absolute(u.passwordFile);
                havePassword = true;
                passwordLine = line;
            } else if (k == "voice-files") {
                const auto v = node.value<bool>();
                if (!node.is_boolean() || !v)
                    return fail(line, "\"voice-files\" - true или false");
                u.voiceFiles = *v;
            } else if (k == "timeout") {
                if (!number(node, line, k, 1, kMaxTimeout, u.timeout))
                    return false;
            } else {
                return fail(line, "неизвестный ключ \"" + k + "\"");
            }
        }
        if (!haveName)
            return fail(u.line, "у устройства нет ключа \"name\"");
        if (!haveDevice)
            return fail(u.line, "у устройства \"" + u.name + "\" нет ключа \"device\"");
        if (!havePassword)
            return fail(u.line, "у устройства \"" + u.name + "\" нет ключа \"password-file\"");
        passwordLines_[u.name] = passwordLine;
        return true;
    }

    static int lineOf(const toml::key& key, const toml::node& node)
    {
        const auto line = key.source().begin.line;
        return static_cast<int>(line ? line : node.source().begin.line);
    }

    bool text(const toml::node& node, int line, const std::string& key, std::string& out)
    {
        const auto v = node.value<std::string>();
        if (!node.is_string() || !v)
            return fail(line, "\"" + key + "\" - строка в кавычках");
        if (v->empty())
            return fail(line, "\"" + key + "\" пусто");
        if (v->find('\0') != std::string::npos || v->find('\n') != std::string::npos)
            return fail(line, "\"" + key + "\" содержит управляющий символ");
        out = *v;
        return true;
    }

    bool number(const toml::node& node, int line, const std::string& key, int low, int high, int& out)
    {
        const auto v = node.value<int64_t>();
        if (!node.is_integer() || !v || *v < low || *v > high)
            return fail(line, "\"" + key + "\" - целое число от " + std::to_string(low) + " до " + std::to_string(high));
        out = static_cast<int>(*v);
        return true;
    }

    std::string absolute(const std::string& path) const
    {
        const fs::path p(path);
        if (p.is_absolute())
            return p.lexically_normal().string();
        return (fs::path(file_).parent_path() / p).lexically_normal().string();
    }

    bool fail(int line, const std::string& why)
    {
        error_ = file_ + ", строка " + std::to_string(line) + ": " + why;
        return false;
    }

    std::string file_;
    TFleet& fleet_;
    std::string& error_;
    std::map<std::string, int> passwordLines_;
};

}  // namespace

const TFleetUnit* TFleet::Unit(const std::string& name) const
{
    for (const TFleetUnit& u : units)
        if (u.name == name)
            return &u;
    return nullptr;
}

bool ValidUnitName(const std::string& name)
{
    if (name.empty() || name.size() > 64 || name.front() == '-')
        return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
            return false;
    return true;
}

bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = "файл пароля " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "файл пароля " + path + " - не обычный файл";
        return false;
    }
    if (st.st_mode & (S_IRGRP | S_IROTH | S_IWGRP | S_IWOTH)) {
        error = "файл пароля " + path + " доступен не только владельцу (chmod 600 " + path + ")";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "файл пароля " + path + " не читается: " + std::strerror(errno);
        return false;
    }
    std::getline(in, password);
    while (!password.empty() && (password.back() == '\r' || password.back() == '\n'))
        password.pop_back();
    if (password.empty()) {
        error = "в первой строке файла " + path + " нет пароля";
        return false;
    }
    return true;
}

bool ReadFleetFile(const std::string& path, TFleet& fleet, std::string& error)
{
    std::error_code ec;
    const fs::path full = fs::absolute(path, ec);
    const std::string file = ec ? path : full.lexically_normal().string();
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = file + ": " + std::strerror(errno);
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    toml::table root;
    try {
        root = toml::parse(text, file);
    } catch (const toml::parse_error& e) {
        error = file + ", строка " + std::to_string(e.source().begin.line) + ": не TOML: " + std::string(e.description());
        return false;
    }
    fleet = TFleet{};
    fleet.path = file;
    TChecker checker(file, fleet, error);
    return checker.Check(root);
}

}  // namespace kv
