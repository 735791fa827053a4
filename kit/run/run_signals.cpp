// The handlers of defectkit run and their self-pipe. A handler may run on any thread (the
// reader's worker too); it only stores the signal number and writes one byte.
#include "run/run_signals.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <sys/prctl.h>
#include <unistd.h>

volatile sig_atomic_t run_stop_signal = 0;

namespace {

int wake_pipe[2] = {-1, -1};
struct sigaction old_int {
}, old_term{}, old_chld{};

void on_signal(int number) {
    const int saved = errno;
    if (number == SIGINT || number == SIGTERM) {
        if (run_stop_signal == 0) {
            run_stop_signal = number;
        }
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wake_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

bool install_run_signals() {
    run_stop_signal = 0;
    if (wake_pipe[0] < 0 && ::pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::cerr << "defectkit: cannot make a pipe: " << std::strerror(errno) << "\n";
        return false;
    }
    if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
        std::cerr << "defectkit: cannot become the subreaper of the solvers: "
                  << std::strerror(errno) << "\n";
        return false;
    }
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &old_int);
    ::sigaction(SIGTERM, &action, &old_term);
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    ::sigaction(SIGCHLD, &action, &old_chld);
    return true;
}

void restore_run_signals() {
    ::sigaction(SIGINT, &old_int, nullptr);
    ::sigaction(SIGTERM, &old_term, nullptr);
    ::sigaction(SIGCHLD, &old_chld, nullptr);
}

int run_wake_fd() {
    return wake_pipe[0];
}

void drain_run_wake() {
    char bytes[64];
    while (::read(wake_pipe[0], bytes, sizeof bytes) > 0) {
    }
}
