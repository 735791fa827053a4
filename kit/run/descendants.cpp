// Ending every process that a solver left behind, found in /proc: its process group,
// every process that carries its marker in its environment, the children of those, and
// the orphans that defectkit adopted as subreaper that no other running instance claims.
// Swept with SIGKILL again and again until a sweep finds none (the life cycle is in
// solver_process.h).
#include "run/solver_process.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

struct ProcEntry {
    pid_t pid = 0;
    pid_t ppid = 0;
    pid_t group = 0;
    std::string marker; // its DEFECTKIT_RUN entry, or empty
    bool ours = false;
};

std::string read_small(const std::string& path, std::size_t limit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return {};
    }
    std::string text(limit, '\0');
    std::size_t used = 0;
    ssize_t n = 0;
    while (used < limit && (n = ::read(fd, text.data() + used, limit - used)) > 0) {
        used += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(used);
    return text;
}

// "pid (comm) state ppid pgrp ...": comm may hold spaces and parentheses, so the fields
// are counted from its last ')'. False for a zombie (already dead) or a process gone.
bool read_stat(pid_t pid, ProcEntry& entry) {
    const std::string stat = read_small("/proc/" + std::to_string(pid) + "/stat", 1024);
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) {
        return false;
    }
    char state = 0;
    int ppid = 0;
    int group = 0;
    if (std::sscanf(stat.c_str() + close + 2, "%c %d %d", &state, &ppid, &group) != 3 ||
        state == 'Z' || state == 'X') {
        return false;
    }
    entry.pid = pid;
    entry.ppid = ppid;
    entry.group = group;
    return true;
}

std::string read_marker(pid_t pid) {
    const std::string env = read_small("/proc/" + std::to_string(pid) + "/environ", 1 << 16);
    const std::string key = "DEFECTKIT_RUN=";
    for (std::size_t at = 0; at < env.size();) {
        const std::size_t end = std::min(env.find('\0', at), env.size());
        if (env.compare(at, key.size(), key) == 0) {
            return env.substr(at, end - at);
        }
        at = end + 1;
    }
    return {};
}

std::vector<ProcEntry> list_processes() {
    std::vector<ProcEntry> all;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return all;
    }
    const pid_t self = ::getpid();
    while (const dirent* d = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(d->d_name, &end, 10);
        ProcEntry entry;
        if (*end != '\0' || pid <= 0 || pid == self || !read_stat(static_cast<pid_t>(pid), entry)) {
            continue;
        }
        entry.marker = read_marker(entry.pid);
        all.push_back(entry);
    }
    ::closedir(proc);
    return all;
}

bool claimed_by_other(const ProcEntry& e, const SolverProcess& p,
                      const std::vector<SolverProcess*>& running) {
    for (const SolverProcess* other : running) {
        if (other != &p && (other->pid == e.pid || other->marker == e.marker)) {
            return true;
        }
    }
    return false;
}

// Marks the processes that belong to p; returns how many there are.
std::size_t mark_ours(std::vector<ProcEntry>& all, const SolverProcess& p,
                      const std::vector<SolverProcess*>& running) {
    const pid_t self = ::getpid();
    for (ProcEntry& e : all) {
        const bool adopted = e.ppid == self && !claimed_by_other(e, p, running);
        e.ours = (p.pid > 0 && e.group == p.pid) || e.marker == p.marker || adopted;
    }
    bool grew = true;
    while (grew) { // the children of ours are ours
        grew = false;
        for (ProcEntry& e : all) {
            if (e.ours) {
                continue;
            }
            for (const ProcEntry& parent : all) {
                if (parent.ours && parent.pid == e.ppid) {
                    e.ours = grew = true;
                    break;
                }
            }
        }
    }
    return static_cast<std::size_t>(
        std::count_if(all.begin(), all.end(), [](const ProcEntry& e) { return e.ours; }));
}

void drain_logs(SolverProcess& p) {
    // Every writer is gone, so the pipes end; what a process we could not end still holds
    // is left after a second.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while ((p.out.pipe >= 0 || p.err.pipe >= 0) && std::chrono::steady_clock::now() < until) {
        std::vector<pollfd> fds;
        for (const LogCapture* log : {&p.out, &p.err}) {
            if (log->pipe >= 0) {
                fds.push_back({log->pipe, POLLIN, 0});
            }
        }
        ::poll(fds.data(), fds.size(), 20);
        read_logs(p);
    }
    for (LogCapture* log : {&p.out, &p.err}) {
        if (log->pipe >= 0) {
            ::close(log->pipe);
            log->pipe = -1;
        }
        if (log->file >= 0 && ::close(log->file) != 0 && log->error == 0) {
            log->error = errno;
        }
        log->file = -1;
    }
}

} // namespace

void end_descendants(SolverProcess& p, const std::vector<SolverProcess*>& running) {
    // A process that escapes every sweep (it cleared its environment and left the group
    // while its parent lives elsewhere) is given up on after about 5 s.
    for (int sweep = 0; sweep < 500; ++sweep) {
        if (p.pid > 0) {
            ::kill(-p.pid, SIGKILL);
        }
        std::vector<ProcEntry> all = list_processes();
        if (mark_ours(all, p, running) == 0) {
            break;
        }
        for (const ProcEntry& e : all) {
            if (e.ours) {
                ::kill(e.pid, SIGKILL);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        reap_children(running);
    }
    reap_children(running);
    drain_logs(p);
}

void kill_solver(SolverProcess& p, const std::vector<SolverProcess*>& running) {
    if (p.pid > 0 && !p.reaped) {
        ::kill(-p.pid, SIGKILL);
        ::kill(p.pid, SIGKILL);
        for (int i = 0; i < 500 && !p.reaped; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            reap_children(running);
        }
    }
    end_descendants(p, running);
}
