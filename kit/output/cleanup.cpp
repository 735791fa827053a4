// The table of temporaries and the handlers that remove them on a signal.
//
// DESIGN: a signal may arrive on any thread, at any point of the command, also while a
// slot is being filled or emptied. The handler therefore only reads a state per slot
// (a lock-free atomic) and calls unlink, rmdir and _exit, which are async-signal-safe; no
// memory is allocated and no lock taken. A slot is filled in two steps: marked busy, its
// path copied, then marked live; only live slots are removed. Slots are taken and freed by
// the thread that writes the outputs. Files go first and folders after, so that a temporary
// folder whose files are noted is empty when its turn comes. Paths are the temporary names, which
// no other file has, so a temporary already renamed into place is never removed. While the
// signals are held, the handler only records the signal; the handler records before it
// looks at the hold and release_signals lifts the hold before it looks at the record, so
// that one of the two acts on a signal whatever thread it comes on.
#include "output/cleanup.h"

#include <array>
#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace {

enum SlotState : int { slot_free = 0, slot_busy = 1, slot_live = 2 };

struct Slot {
    std::atomic<int> state{slot_free};
    char path[PATH_MAX] = {};
};

std::array<Slot, cleanup_slots> slots;

static_assert(std::atomic<int>::is_always_lock_free);

void remove_temporaries() {
    for (Slot& slot : slots) {
        if (slot.state.load() == slot_live) {
            ::unlink(slot.path); // a folder refuses this
        }
    }
    for (Slot& slot : slots) {
        if (slot.state.load() == slot_live) {
            ::rmdir(slot.path); // a file refuses this
        }
    }
}

std::atomic<bool> held{false};
std::atomic<int> pending{0};

static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void on_signal(int signal) {
    pending.store(signal);
    if (held.load()) {
        return;
    }
    remove_temporaries();
    ::_exit(128 + signal);
}

} // namespace

void install_signal_cleanup() {
    std::signal(SIGXFSZ, SIG_IGN);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) {
            continue; // ignored by whoever started the program, as nohup does
        }
        action = {};
        action.sa_handler = on_signal;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}

void hold_signals() {
    held.store(true);
}

void release_signals() {
    held.store(false);
    if (const int signal = pending.load(); signal != 0) {
        remove_temporaries();
        ::_exit(128 + signal);
    }
}

int note_temporary(const char* path) {
    const std::size_t length = std::strlen(path);
    if (length >= PATH_MAX) {
        return -1;
    }
    for (std::size_t i = 0; i < cleanup_slots; ++i) {
        int expected = slot_free;
        if (slots[i].state.compare_exchange_strong(expected, slot_busy)) {
            std::memcpy(slots[i].path, path, length + 1);
            slots[i].state.store(slot_live);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void forget_temporary(int slot) {
    if (slot >= 0 && static_cast<std::size_t>(slot) < cleanup_slots) {
        slots[static_cast<std::size_t>(slot)].state.store(slot_free);
    }
}

std::size_t temporaries_noted() {
    std::size_t live = 0;
    for (const Slot& slot : slots) {
        live += slot.state.load() == slot_live ? 1 : 0;
    }
    return live;
}
