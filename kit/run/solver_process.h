// One solver as a process of its own: started by /bin/sh -c in its work folder, watched
// while it runs, stopped at its deadline, and ended with every process it left behind.
//
// DESIGN. The life cycle of a solver (defectkit run's loop drives it, on the main thread;
// the set reader's worker thread never starts or waits for a process):
//   start  fork; the child makes its own process group (setpgid), takes the address-space
//          limit (setrlimit), reads /dev/null, writes into two pipes, works in DIR/work/K,
//          carries the marker DEFECTKIT_RUN=PID.K in its environment, and execs /bin/sh -c
//          COMMAND. A close-on-exec pipe tells the parent when the exec failed.
//   run    the loop polls both pipes (the first 10 MB of each go to stdout.txt and
//          stderr.txt, the rest is counted), the signal pipe (SIGCHLD, SIGINT, SIGTERM) and
//          the deadline: at S x 1.1 + grace SIGTERM to the group, 5 s later SIGKILL.
//   end    wait4 tells the status, the CPU time and the peak memory of the solver and its
//          waited-for children. Then every descendant still there is ended with SIGKILL:
//          the group, every process carrying the marker, their children, and every orphan
//          that defectkit adopted as subreaper and that no other running instance claims;
//          swept again until none is left. Then the pipes are read to their end.
// Only after that is the placement checked and the result written, so that no process of
// an instance outlives its result.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

// Bytes of each log that are kept; the rest is read, counted and discarded.
inline constexpr std::uint64_t log_keep_bytes = std::uint64_t{10} << 20;
// Between SIGTERM and SIGKILL.
inline constexpr double kill_delay_s = 5.0;

// One of the solver's two outputs: the pipe it writes, the file that keeps its start.
struct LogCapture {
    int pipe = -1;
    int file = -1;
    std::string path;
    std::uint64_t bytes = 0; // all that came, kept or not
    int error = 0;           // errno of a failed write to the file
    std::string tail;        // the last few KB, to tell an out-of-memory message
};

struct SolverLaunch {
    std::string command; // for /bin/sh -c
    std::string folder;  // the work folder, made already
    std::string marker;  // DEFECTKIT_RUN=PID.K
    std::int64_t memory_mb = 0;
    double stop_after_s = 0; // SIGTERM after this long
};

struct SolverProcess {
    std::int32_t instance = 0;
    std::string marker;
    pid_t pid = -1; // also its process group
    LogCapture out, err;
    std::chrono::steady_clock::time_point start;
    double stop_after_s = 0;
    bool term_sent = false;
    bool kill_sent = false;
    bool reaped = false;
    int status = 0; // as wait4 tells it
    struct rusage usage {};
    double wall_s = 0;
    std::string start_error; // not empty: it never ran
};

// Starts the solver; false with p.start_error set when it could not be started (then no
// process is left). The logs are created in the work folder.
bool start_solver(const SolverLaunch& launch, SolverProcess& p);
// One wait of at most `timeout_ms`: reads the logs, reaps what ended, sends the signals
// that are due. Returns at once when a signal came.
void wait_for_solvers(const std::vector<SolverProcess*>& running, int timeout_ms);
// Reads what the solver's pipes hold now into its logs.
void read_logs(SolverProcess& p);
// Reaps every child that has ended (solvers into their records; adopted orphans dropped).
void reap_children(const std::vector<SolverProcess*>& running);
// After p is reaped: ends every process it left (see DESIGN), reads the logs to their end
// and closes them. `running` are the other instances' solvers.
void end_descendants(SolverProcess& p, const std::vector<SolverProcess*>& running);
// Stops a solver that has not ended (the run is interrupted): SIGKILL to it and all it
// left, then as end_descendants.
void kill_solver(SolverProcess& p, const std::vector<SolverProcess*>& running);
// Seconds since the solver started.
double seconds_since(const SolverProcess& p);
