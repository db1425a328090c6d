// Looking up the doctor's facts on this computer.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "doctor/Doctor.h"

namespace kv {

namespace fs = std::filesystem;

namespace {

std::string userName(unsigned uid)
{
    if (const passwd* pw = getpwuid(uid))
        return pw->pw_name;
    return std::to_string(uid);
}

std::string groupName(unsigned gid)
{
    if (const group* gr = getgrgid(gid))
        return gr->gr_name;
    return std::to_string(gid);
}

std::string firstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

bool isPid(const std::string& name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The real user id of a process, from its status.
bool processUid(const fs::path& dir, unsigned& uid)
{
    std::ifstream in(dir / "status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Uid:", 0) == 0) {
            std::istringstream fields(line.substr(4));
            return static_cast<bool>(fields >> uid);
        }
    }
    return false;
}

TDeviceHolder holderOf(const fs::path& dir, int pid)
{
    TDeviceHolder h;
    h.pid = pid;
    h.command = firstLine(dir / "comm");
    if (processUid(dir, h.uid))
        h.user = userName(h.uid);
    return h;
}

// Processes whose descriptors name the device, and those that hold an
// advisory lock on it (/proc/locks names them even where their descriptors
// cannot be read).
void findHolders(TDoctorFacts& f, const fs::path& proc, const struct stat* dev)
{
    const int self = static_cast<int>(getpid());
    std::set<int> pids;
    std::error_code ec;
    for (fs::directory_iterator it(proc, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!isPid(name))
            continue;
        const int pid = std::stoi(name);
        f.processes.push_back(firstLine(it->path() / "comm"));
        if (pid == self || !dev)
            continue;
        std::error_code fdEc;
        fs::directory_iterator fds(it->path() / "fd", fdEc);
        if (fdEc) {
            if (fdEc.value() == EACCES || fdEc.value() == EPERM)
                f.holdersHidden = true;
            continue;
        }
        for (fs::directory_iterator fend; !fdEc && fds != fend; fds.increment(fdEc)) {
            struct stat st {};
            if (stat(fds->path().c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == dev->st_rdev) {
                pids.insert(pid);
                break;
            }
        }
    }
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:678 0 EOF"
    std::ifstream locks(dev ? proc / "locks" : fs::path());
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream in(line);
        std::string id, kind, advisory, access, where;
        int pid = 0;
        if (!(in >> id >> kind))
            continue;
        if (kind == "->")  // a waiter; its own fields follow
            in >> kind;
        if (!(in >> advisory >> access >> pid >> where))
            continue;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3)
            continue;
        if (makedev(major, minor) == dev->st_dev && inode == dev->st_ino && pid != self && pid > 0)
            pids.insert(pid);
    }
    for (int pid : pids)
        f.holders.push_back(holderOf(proc / std::to_string(pid), pid));
    std::sort(f.processes.begin(), f.processes.end());
    f.processes.erase(std::unique(f.processes.begin(), f.processes.end()), f.processes.end());
}

}  // namespace

void GatherFacts(TDoctorFacts& f, const std::string& procRoot)
{
    f.uid = getuid();
    f.user = userName(f.uid);
    f.sessionGroups.clear();
    f.sessionGroups.push_back(getegid());
    const int n = getgroups(0, nullptr);
    if (n > 0) {
        std::vector<gid_t> groups(static_cast<size_t>(n));
        const int got = getgroups(n, groups.data());
        for (int i = 0; i < got; ++i)
            f.sessionGroups.push_back(groups[static_cast<size_t>(i)]);
    }
    f.userGroups.clear();
    if (const passwd* pw = getpwuid(f.uid)) {
        int count = 64;
        std::vector<gid_t> groups(static_cast<size_t>(count));
        if (getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &count) < 0) {
            groups.resize(static_cast<size_t>(count));
            getgrouplist(pw->pw_name, pw->pw_gid, groups.data(), &count);
        }
        for (int i = 0; i < count && i < static_cast<int>(groups.size()); ++i)
            f.userGroups.push_back(groupName(groups[static_cast<size_t>(i)]));
    }

    f.file = {};
    struct stat st {};
    if (!f.device.empty() && stat(f.device.c_str(), &st) == 0) {
        f.file.exists = true;
        f.file.charDevice = S_ISCHR(st.st_mode);
        f.file.uid = st.st_uid;
        f.file.gid = st.st_gid;
        f.file.mode = st.st_mode & 07777;
        f.file.owner = userName(st.st_uid);
        f.file.group = groupName(st.st_gid);
    }

    f.holders.clear();
    f.processes.clear();
    f.holdersHidden = false;
    findHolders(f, procRoot, f.file.charDevice ? &st : nullptr);

    f.present = EnumerateSerialDevices();
    f.info.reset();
    std::error_code ec;
    const fs::path node = fs::canonical(f.device, ec);
    if (!ec)
        for (const auto& d : f.present)
            if (d.node == node.string())
                f.info = d;
}

}  // namespace kv
