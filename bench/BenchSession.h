// What the benchmarks that drive a session share: a job that runs a
// function on the worker, and the message slot they transfer through.
#pragma once

#include <functional>
#include <utility>

#include "collections/File.h"
#include "session/Joint.h"
#include "session/KvMenu.h"
#include "settings/View.h"

namespace kvbench {

// Runs fn on the worker as one job in "PC SYS>".
class TBatch : public kv::TJoint1 {
public:
    explicit TBatch(std::function<void()> fn) : fn_(std::move(fn)) { menu = kv::kMenuSys; }
    void getp() override { fn_(); }
    void output() override {}

private:
    std::function<void()> fn_;
};

// Message slot 60 shown in the first row of `grid`, logged in and read once,
// so that what is measured afterwards is only the transfer.
inline void ReadMessageSlot(kv::TKvMenu& session, kv::TFile& slot, kv::TGridModel& grid)
{
    slot.code = 60;
    slot.menu = kv::kMenuSys;
    slot.grid = &grid;
    slot.col = 1;
    slot.row = 1;
    slot.Begin(kv::TJoint1::kRead);
    session.Run(&slot);
    session.WaitIdle();
}

}  // namespace kvbench
