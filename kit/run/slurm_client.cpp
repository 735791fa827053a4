// SLURM's clients run from defectkit: sbatch to submit the array, squeue to wait for it.
#include "run/slurm_client.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// The child's side: /dev/null in, the pipes out, then the program.
[[noreturn]] void exec_child(const std::vector<std::string>& argv, int out, int err, int report) {
    const int null = ::open("/dev/null", O_RDONLY);
    if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) {
        ::_exit(127);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    const int error = errno;
    (void)!::write(report, &error, sizeof error);
    ::_exit(127);
}

// Reads both pipes to their end.
void drain(int out, int err, ProgramRun& run) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    std::string* into[2] = {&run.out, &run.err};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                into[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

std::string first_line(const std::string& text) {
    const std::size_t end = text.find('\n');
    return text.substr(0, end == std::string::npos ? text.size() : end);
}

} // namespace

ProgramRun run_program(const std::vector<std::string>& argv) {
    ProgramRun run;
    int out[2];
    int err[2];
    int report[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 ||
        ::pipe2(report, O_CLOEXEC) != 0) {
        run.err = std::strerror(errno);
        return run;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        exec_child(argv, out[1], err[1], report[1]);
    }
    for (const int fd : {out[1], err[1], report[1]}) {
        ::close(fd);
    }
    if (pid > 0) {
        drain(out[0], err[0], run);
        int error = 0;
        if (::read(report[0], &error, sizeof error) == sizeof error) {
            run.err = std::strerror(error);
        }
        run.started = error == 0;
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        run.status = error == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    } else {
        run.err = std::strerror(errno);
    }
    for (const int fd : {out[0], err[0], report[0]}) {
        ::close(fd);
    }
    return run;
}

bool submit_array(const std::string& script, std::string& job_id) {
    const ProgramRun run = run_program({"sbatch", "--parsable", script});
    job_id = first_line(run.out);
    job_id = job_id.substr(0, job_id.find(';')); // "ID;CLUSTER" on a federation
    const bool number =
        !job_id.empty() && job_id.find_first_not_of("0123456789") == std::string::npos;
    if (run.status == 0 && number) {
        return true;
    }
    std::cerr << "defectkit: sbatch " << (run.started ? "failed" : "could not be run") << ": "
              << (run.err.empty() ? run.out : first_line(run.err)) << "\n";
    return false;
}

bool wait_for_array(const std::string& job_id) {
    std::chrono::milliseconds pause(500);
    int failures = 0;
    for (;;) {
        const ProgramRun run =
            run_program({"squeue", "--noheader", "--array", "--jobs=" + job_id, "--format=%T"});
        if (run.status == 0 && run.out.empty()) {
            return true;
        }
        // A job that ended long ago is no longer known: it has ended too.
        if (run.status != 0 && run.err.find("Invalid job id") != std::string::npos) {
            return true;
        }
        failures = run.status == 0 ? 0 : failures + 1;
        if (!run.started || failures == 20) {
            std::cerr << "defectkit: squeue "
                      << (run.started ? "keeps failing" : "could not be run") << ": "
                      << first_line(run.err)
                      << "; the array goes on, and defectkit results tells what it did\n";
            return false;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 5 / 4, std::chrono::milliseconds(30000));
    }
}
