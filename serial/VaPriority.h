// Thread priorities and the one mapping from them to the system's.
#pragma once

namespace kv {

enum TThreadPriority : int {
    tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical,
};

// The nice value a thread of priority p gets on this system: relative to the
// process's nice value (base), from 19 above it (idle) to 20 below it (time
// critical), within the system's range -20..19. A value outside the enum
// counts as the nearest end.
int NiceForPriority(int base, TThreadPriority p);

// Gives the thread tid (a system thread id, gettid()) priority p. Raising a
// priority needs a privilege an ordinary user may lack: the thread then keeps
// running at its present priority and the answer is false. False also for
// tid <= 0 (a thread not started yet).
bool ApplyThreadPriority(int tid, TThreadPriority p);

}  // namespace kv
