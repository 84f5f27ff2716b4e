// Call-backs and completions hold the slot of their playback while they
// use it; a close lets no new hold in and waits for the running ones before
// it tears the slot down (its mutex, maps and tables).
#ifndef PBCTRL_SLOT_GATE_H
#define PBCTRL_SLOT_GATE_H

namespace pbctrl {

// Lets holds in once the slot is filled at open.
void open_gate(int slot);
// Refuses new holds and waits until no hold is left.
void drain_gate(int slot);

class SlotHold {
public:
    SlotHold() = default;
    ~SlotHold();
    SlotHold(const SlotHold &) = delete;
    SlotHold &operator=(const SlotHold &) = delete;
    // False when the slot is not open (or is closing).
    bool take(int slot);
    void release();

private:
    int slot_ = -1;
};

} // namespace pbctrl

#endif
