#include "fleet/Stores.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <toml++/toml.h>

namespace kv {

namespace {

namespace fs = std::filesystem;

// Reads a whole TOML file; `exists` false (and true returned) when there is none.
bool readToml(const std::string& path, toml::table& table, bool& exists, std::string& error)
{
    exists = false;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT)
            return true;
        error = path + ": " + std::strerror(errno);
        return false;
    }
    exists = true;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    try {
        table = toml::parse(text, path);
    } catch (const toml::parse_error& e) {
        error = path + ", строка " + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
        return false;
    }
    return true;
}

std::string textOf(const toml::table& table)
{
    std::ostringstream out;
    out << toml::toml_formatter(table);
    out << "\n";
    return out.str();
}

const char* const kStatusKeys[] = {"last-attempt", "last-success", "last-change",
                                   "failing-since", "last-message", "last-commit"};

std::string* statusField(TUnitStatus& s, int i)
{
    std::string* fields[] = {&s.lastAttempt, &s.lastSuccess, &s.lastChange, &s.failingSince, &s.lastMessage, &s.lastCommit};
    return fields[i];
}

}  // namespace

bool ReplaceFile(const std::string& path, const std::string& text, unsigned mode, std::string& error)
{
    const std::string temporary = path + ".new-" + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd < 0) {
        error = temporary + ": " + std::strerror(errno);
        return false;
    }
    ::fchmod(fd, static_cast<mode_t>(mode));
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    const bool written = done == text.size() && ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(written ? errno : saved);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// ---- passwords

std::string TPasswordStore::PathFor(const std::string& repositoryFolder)
{
    std::string folder = fs::path(repositoryFolder).lexically_normal().string();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder + ".passwords";
}

bool TPasswordStore::Load(std::string& error)
{
    units_.clear();
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && (st.st_mode & 077)) {
        error = "хранилище паролей " + path_ + " доступно не только владельцу (chmod 600 " + path_ + ")";
        return false;
    }
    toml::table table;
    bool exists = false;
    if (!readToml(path_, table, exists, error))
        return false;
    for (auto&& [unit, keys] : table) {
        const toml::table* byKey = keys.as_table();
        if (!byKey)
            continue;
        for (auto&& [key, values] : *byKey) {
            const toml::table* codes = values.as_table();
            if (!codes)
                continue;
            TPasswords& p = units_[std::string(unit.str())][std::string(key.str())];
            for (auto&& [code, value] : *codes)
                if (auto v = value.value<std::string>())
                    p[std::stoi(std::string(code.str()))] = *v;
        }
    }
    return true;
}

bool TPasswordStore::Save(std::string& error) const
{
    toml::table table;
    for (const auto& [unit, keys] : units_) {
        toml::table byKey;
        for (const auto& [key, passwords] : keys) {
            toml::table codes;
            for (const auto& [code, value] : passwords)
                codes.insert_or_assign(std::to_string(code), value);
            byKey.insert_or_assign(key, std::move(codes));
        }
        table.insert_or_assign(unit, std::move(byKey));
    }
    return ReplaceFile(path_,
                       "# kvbackup fleet: the units' passwords, by the key their history names (owner only)\n" +
                           textOf(table),
                       0600, error);
}

bool TPasswordStore::Find(const std::string& unit, const std::string& key, TPasswords& passwords) const
{
    auto u = units_.find(unit);
    if (u == units_.end())
        return false;
    auto k = u->second.find(key);
    if (k == u->second.end())
        return false;
    passwords = k->second;
    return true;
}

void TPasswordStore::Put(const std::string& unit, const std::string& key, const TPasswords& passwords)
{
    units_[unit][key] = passwords;
}

std::string TPasswordStore::NewKey()
{
    unsigned char bytes[16] = {};
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    static const char hex[] = "0123456789abcdef";
    std::string key;
    for (unsigned char b : bytes) {
        key += hex[b >> 4];
        key += hex[b & 15];
    }
    return key;
}

// ---- status

std::string TStatusFile::PathFor(const std::string& gitFolder)
{
    return gitFolder + "/kvfleet/status.toml";
}

bool TStatusFile::Load(std::string& error)
{
    units_.clear();
    toml::table table;
    bool exists = false;
    if (!readToml(path_, table, exists, error))
        return false;
    const toml::table* units = table["unit"].as_table();
    if (!units)
        return true;
    for (auto&& [name, node] : *units) {
        const toml::table* fields = node.as_table();
        if (!fields)
            continue;
        TUnitStatus& s = units_[std::string(name.str())];
        for (int i = 0; i < 6; ++i)
            if (auto v = (*fields)[kStatusKeys[i]].value<std::string>())
                *statusField(s, i) = *v;
    }
    return true;
}

bool TStatusFile::Save(std::string& error) const
{
    toml::table units;
    for (const auto& [name, status] : units_) {
        TUnitStatus s = status;
        toml::table fields;
        for (int i = 0; i < 6; ++i)
            if (!statusField(s, i)->empty())
                fields.insert_or_assign(kStatusKeys[i], *statusField(s, i));
        units.insert_or_assign(name, std::move(fields));
    }
    toml::table table;
    table.insert_or_assign("unit", std::move(units));
    std::error_code ec;
    fs::create_directories(fs::path(path_).parent_path(), ec);
    return ReplaceFile(path_, "# kvbackup fleet: each unit's last backups\n" + textOf(table), 0644, error);
}

const TUnitStatus* TStatusFile::Find(const std::string& name) const
{
    auto it = units_.find(name);
    return it == units_.end() ? nullptr : &it->second;
}

std::string TStatusFile::Json(const std::vector<std::string>& names) const
{
    toml::array list;
    for (const std::string& name : names) {
        TUnitStatus s;
        if (const TUnitStatus* found = Find(name))
            s = *found;
        toml::table fields;
        fields.insert_or_assign("name", name);
        fields.insert_or_assign("ok", !s.Failing() && !s.lastSuccess.empty());
        for (int i = 0; i < 6; ++i)
            fields.insert_or_assign(kStatusKeys[i], *statusField(s, i));
        list.push_back(std::move(fields));
    }
    toml::table table;
    table.insert_or_assign("units", std::move(list));
    std::ostringstream out;
    out << toml::json_formatter(table) << "\n";
    return out.str();
}

}  // namespace kv
