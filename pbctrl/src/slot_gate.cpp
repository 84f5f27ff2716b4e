#include "slot_gate.h"

#include "client_info.h"

#include <condition_variable>
#include <mutex>

namespace pbctrl {

namespace {

struct Gate {
    std::mutex mu;
    std::condition_variable idle;
    bool open = false;
    unsigned holds = 0;
};

// Never destroyed: a late call-back may still ask at process exit.
Gate *gates()
{
    static auto *g = new Gate[kSlots];
    return g;
}

} // namespace

void open_gate(int slot)
{
    Gate &g = gates()[slot];
    std::lock_guard<std::mutex> lock(g.mu);
    g.open = true;
}

void drain_gate(int slot)
{
    Gate &g = gates()[slot];
    std::unique_lock<std::mutex> lock(g.mu);
    g.open = false;
    g.idle.wait(lock, [&g] { return g.holds == 0; });
}

bool SlotHold::take(int slot)
{
    if (slot_ >= 0 || slot < 0 || slot >= kSlots)
        return false;
    Gate &g = gates()[slot];
    std::lock_guard<std::mutex> lock(g.mu);
    if (!g.open)
        return false;
    ++g.holds;
    slot_ = slot;
    return true;
}

void SlotHold::release()
{
    if (slot_ < 0)
        return;
    Gate &g = gates()[slot_];
    slot_ = -1;
    std::lock_guard<std::mutex> lock(g.mu);
    if (--g.holds == 0)
        g.idle.notify_all();
}

SlotHold::~SlotHold() { release(); }

} // namespace pbctrl
