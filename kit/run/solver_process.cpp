// Starting, watching and ending a solver's processes (the life cycle is in
// solver_process.h). Between fork and exec the child calls only async-signal-safe
// functions: everything it needs is prepared before the fork.
#include "run/solver_process.h"

#include "run/run_signals.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr std::size_t tail_keep = 4096;

// What the child needs, as C strings made before the fork.
struct ChildPlan {
    std::vector<std::string> env_text;
    std::vector<char*> argv, envp;
    const char* folder = nullptr;
    long max_fd = 1024;
    std::int64_t memory_mb = 0;
    int out = -1, err = -1, report = -1;
};

void make_plan(const SolverLaunch& launch, ChildPlan& plan) {
    static char sh[] = "/bin/sh";
    static char dash_c[] = "-c";
    plan.argv = {sh, dash_c, const_cast<char*>(launch.command.c_str()), nullptr};
    const std::string key = "DEFECTKIT_RUN=";
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, key.c_str(), key.size()) != 0) {
            plan.env_text.emplace_back(*e);
        }
    }
    plan.env_text.push_back(launch.marker);
    for (std::string& text : plan.env_text) {
        plan.envp.push_back(text.data());
    }
    plan.envp.push_back(nullptr);
    plan.folder = launch.folder.c_str();
    plan.memory_mb = launch.memory_mb;
    plan.max_fd = std::min<long>(std::max<long>(::sysconf(_SC_OPEN_MAX), 256), 65536);
}

[[noreturn]] void run_child(const ChildPlan& plan) {
    ::setpgid(0, 0);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (const int s : {SIGINT, SIGTERM, SIGCHLD, SIGPIPE, SIGQUIT, SIGHUP}) {
        ::sigaction(s, &dfl, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    int error = 0;
    if (plan.memory_mb > 0) {
        const rlim_t bytes = static_cast<rlim_t>(plan.memory_mb) * 1024 * 1024;
        const struct rlimit limit { bytes, bytes };
        if (::setrlimit(RLIMIT_AS, &limit) != 0) {
            error = errno;
        }
    }
    const int null = ::open("/dev/null", O_RDONLY);
    if (error == 0 && (null < 0 || ::chdir(plan.folder) != 0 || ::dup2(null, 0) < 0 ||
                       ::dup2(plan.out, 1) < 0 || ::dup2(plan.err, 2) < 0)) {
        error = errno;
    }
    // Every other descriptor is closed at the exec (the report pipe too, which so tells
    // the parent that the exec went well); by hand where the kernel lacks close_range.
#ifdef SYS_close_range
    const bool ranged = ::syscall(SYS_close_range, 3U, ~0U, 4U /* CLOSE_RANGE_CLOEXEC */) == 0;
#else
    const bool ranged = false;
#endif
    for (long fd = 3; error == 0 && !ranged && fd < plan.max_fd; ++fd) {
        if (fd != plan.report) {
            ::close(static_cast<int>(fd));
        }
    }
    if (error == 0) {
        ::execve("/bin/sh", plan.argv.data(), plan.envp.data());
        error = errno;
    }
    [[maybe_unused]] const ssize_t ignored = ::write(plan.report, &error, sizeof error);
    ::_exit(127);
}

bool open_log(LogCapture& log, const std::string& path, int& child_end, std::string& error) {
    log = LogCapture{};
    log.path = path;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    log.pipe = ends[0];
    child_end = ends[1];
    ::fcntl(log.pipe, F_SETFL, O_NONBLOCK);
    log.file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (log.file < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void close_fd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

void close_log(LogCapture& log) {
    close_fd(log.pipe);
    if (log.file >= 0 && ::close(log.file) != 0 && log.error == 0) {
        log.error = errno;
    }
    log.file = -1;
}

// 0, or the errno of the write that failed (a short write is followed by one that tells why).
int write_all(int fd, const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, count);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : ENOSPC;
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return 0;
}

// Reads what the pipe holds now (at most `budget` bytes). False at its end.
bool pump_log(LogCapture& log, std::size_t budget) {
    char buffer[65536];
    while (log.pipe >= 0 && budget > 0) {
        const ssize_t n = ::read(log.pipe, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return errno == EAGAIN;
        }
        if (n == 0) {
            close_fd(log.pipe);
            return false;
        }
        const auto got = static_cast<std::uint64_t>(n);
        if (log.bytes < log_keep_bytes && log.error == 0) {
            const std::uint64_t keep = std::min(got, log_keep_bytes - log.bytes);
            log.error = write_all(log.file, buffer, static_cast<std::size_t>(keep));
        }
        log.bytes += got;
        log.tail.append(buffer, static_cast<std::size_t>(n));
        if (log.tail.size() > 2 * tail_keep) {
            log.tail.erase(0, log.tail.size() - tail_keep);
        }
        budget -= std::min(budget, static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

double seconds_since(const SolverProcess& p) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - p.start).count();
}

bool start_solver(const SolverLaunch& launch, SolverProcess& p) {
    p.marker = launch.marker;
    p.stop_after_s = launch.stop_after_s;
    p.start = std::chrono::steady_clock::now();
    ChildPlan plan;
    int report[2] = {-1, -1};
    const std::string folder = launch.folder + "/";
    if (!open_log(p.out, folder + "stdout.txt", plan.out, p.start_error) ||
        !open_log(p.err, folder + "stderr.txt", plan.err, p.start_error) ||
        ::pipe2(report, O_CLOEXEC) != 0) {
        if (p.start_error.empty()) {
            p.start_error = std::string("cannot make a pipe: ") + std::strerror(errno);
        }
        close_fd(plan.out);
        close_fd(plan.err);
        close_log(p.out);
        close_log(p.err);
        return false;
    }
    plan.report = report[1];
    make_plan(launch, plan);
    p.pid = ::fork();
    if (p.pid == 0) {
        run_child(plan);
    }
    const int fork_error = errno;
    close_fd(plan.out);
    close_fd(plan.err);
    close_fd(report[1]);
    int exec_error = 0;
    if (p.pid > 0) {
        ::setpgid(p.pid, p.pid); // as the child does: whichever comes first
        while (::read(report[0], &exec_error, sizeof exec_error) < 0 && errno == EINTR) {
        }
    }
    close_fd(report[0]);
    if (p.pid < 0 || exec_error != 0) {
        p.start_error = std::string("cannot start /bin/sh: ") +
                        std::strerror(p.pid < 0 ? fork_error : exec_error);
        if (p.pid > 0) {
            ::waitpid(p.pid, nullptr, 0);
        }
        p.pid = -1;
        close_log(p.out);
        close_log(p.err);
        return false;
    }
    return true;
}

void read_logs(SolverProcess& p) {
    pump_log(p.out, std::size_t{1} << 20);
    pump_log(p.err, std::size_t{1} << 20);
}

void reap_children(const std::vector<SolverProcess*>& running) {
    for (;;) {
        int status = 0;
        struct rusage usage {};
        const pid_t pid = ::wait4(-1, &status, WNOHANG, &usage);
        if (pid <= 0) {
            return;
        }
        for (SolverProcess* p : running) {
            if (p->pid == pid && !p->reaped) {
                p->reaped = true;
                p->status = status;
                p->usage = usage;
                p->wall_s = seconds_since(*p);
            }
        }
    }
}

namespace {

// The signals that are due: SIGTERM to the group at the deadline, SIGKILL 5 s later.
void send_due_signals(SolverProcess& p) {
    if (p.reaped) {
        return;
    }
    const double now = seconds_since(p);
    if (!p.term_sent && now >= p.stop_after_s) {
        p.term_sent = true;
        ::kill(-p.pid, SIGTERM);
    }
    if (p.term_sent && !p.kill_sent && now >= p.stop_after_s + kill_delay_s) {
        p.kill_sent = true;
        ::kill(-p.pid, SIGKILL);
    }
}

int next_due_ms(const SolverProcess& p) {
    const double due = p.term_sent ? p.stop_after_s + kill_delay_s : p.stop_after_s;
    const double left = due - seconds_since(p);
    return left <= 0 ? 0 : static_cast<int>(left * 1000) + 1;
}

} // namespace

void wait_for_solvers(const std::vector<SolverProcess*>& running, int timeout_ms) {
    std::vector<pollfd> fds;
    fds.push_back({run_wake_fd(), POLLIN, 0});
    for (SolverProcess* p : running) {
        for (LogCapture* log : {&p->out, &p->err}) {
            if (log->pipe >= 0) {
                fds.push_back({log->pipe, POLLIN, 0});
            }
        }
        if (!p->reaped && !p->kill_sent) {
            timeout_ms = std::min(timeout_ms, next_due_ms(*p));
        }
    }
    if (run_stop_signal == 0) {
        ::poll(fds.data(), fds.size(), timeout_ms);
    }
    drain_run_wake();
    for (SolverProcess* p : running) {
        read_logs(*p);
    }
    reap_children(running);
    for (SolverProcess* p : running) {
        send_due_signals(*p);
    }
}
