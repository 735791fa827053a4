// The temporaries that a signal must not leave behind: a fixed table of paths that the
// handlers of SIGINT, SIGTERM and SIGHUP remove before the program ends with 128 + the
// signal. SIGXFSZ is ignored, so that a file-size limit is a failed write like a full disk.
#pragma once

#include <cstddef>

// Slots in the table: the most temporaries one command holds at once.
inline constexpr std::size_t cleanup_slots = 64;

// Installs the handlers (a signal ignored when the program started stays ignored) and
// ignores SIGXFSZ. Called once, before any temporary is made.
void install_signal_cleanup();

// Notes `path` (a file or an empty folder) for removal on a signal; returns its slot, or
// -1 when the table is full or the path too long.
int note_temporary(const char* path);
// Forgets the slot (the temporary was renamed into place or removed); -1 is ignored.
void forget_temporary(int slot);

// Holds the signals off for a step that must not be cut (an old folder moved aside,
// replaced and removed): a signal meanwhile is acted on when release_signals is called.
void hold_signals();
void release_signals();

// The slots noted and not forgotten; for tests.
std::size_t temporaries_noted();
