// The signals of defectkit run: SIGINT and SIGTERM stop the run (every solver group ended,
// finished results kept, exit 130 / 143); SIGCHLD wakes the loop that waits for solvers.
// Each handler only notes the signal and writes a byte to a pipe that the loop polls.
#pragma once

#include <csignal>

// 0, or SIGINT / SIGTERM once one of them has come.
extern volatile sig_atomic_t run_stop_signal;

// Installs the handlers and makes defectkit the subreaper of its solvers
// (PR_SET_CHILD_SUBREAPER): a descendant whose parent ends becomes defectkit's child, so
// that it can be found and ended. False, with the reason on stderr, when it cannot.
bool install_run_signals();
// Puts back the handlers as they were (the tests run the command in one process).
void restore_run_signals();
// The end of the pipe that the handlers write to, for poll.
int run_wake_fd();
// Empties the pipe.
void drain_run_wake();
