#include "serial/VaPriority.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kv {

int NiceForPriority(int base, TThreadPriority p)
{
    static const int offset[] = {19, 10, 5, 0, -5, -10, -20};
    return std::clamp(base + offset[std::clamp(static_cast<int>(p), 0, 6)], -20, 19);
}

bool ApplyThreadPriority(int tid, TThreadPriority p)
{
    if (tid <= 0)
        return false;
    errno = 0;
    int base = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
    if (errno != 0)
        base = 0;
    return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceForPriority(base, p)) == 0;
}

}  // namespace kv
