// The loop of defectkit run (run_loop.h): the reader's batches into work folders, solvers
// started as slots free up, each ended instance checked and recorded.
#include "run/run_loop.h"

#include "run/run_folder.h"
#include "run/run_signals.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <iostream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::vector<SolverProcess*> processes(const RunLoop& state) {
    std::vector<SolverProcess*> all;
    for (const auto& r : state.running) {
        all.push_back(&r->process);
    }
    return all;
}

bool mentions_memory(const std::string& tail) {
    for (const char* word :
         {"bad_alloc", "out of memory", "Out of memory", "Cannot allocate memory", "MemoryError"}) {
        if (tail.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// What the run of the solver was (docs/defectkit.md tells the rules).
void classify_run(const SolverProcess& p, bool memory_limit, InstanceResult& r) {
    const bool memory = memory_limit && mentions_memory(p.err.tail);
    if (!p.start_error.empty()) {
        r.run = "not-started";
    } else if (p.term_sent) {
        r.run = "timeout";
    } else if (WIFSIGNALED(p.status) || (WIFEXITED(p.status) && WEXITSTATUS(p.status) > 128 &&
                                         WEXITSTATUS(p.status) <= 128 + 64)) {
        // The shell tells a command that a signal ended as 128 + the signal.
        r.signal = WIFSIGNALED(p.status) ? WTERMSIG(p.status) : WEXITSTATUS(p.status) - 128;
        r.run = r.signal == SIGKILL || memory ? "out-of-memory" : "crashed";
    } else if (WEXITSTATUS(p.status) == 0) {
        r.run = "ok";
    } else {
        r.exit_code = WEXITSTATUS(p.status);
        r.run = r.exit_code == 126 || r.exit_code == 127 ? "not-started"
                : memory                                 ? "out-of-memory"
                                                         : "exit";
    }
}

double millis(double seconds) {
    return std::round(seconds * 1000) / 1000;
}

void fill_figures(RunningInstance& ri, const PlacementVerdict& verdict, InstanceResult& r) {
    const SolverProcess& p = ri.process;
    r.instance = ri.work.number;
    r.items = static_cast<std::int64_t>(ri.work.head.items.size());
    r.item_area = 0;
    for (const Item& item : ri.work.head.items) {
        r.item_area += item.area;
    }
    r.objects = ri.work.objects;
    r.bound = finish_bounds(ri.work.bound).bound;
    r.placement = verdict.placement;
    r.message = verdict.message;
    r.profit = verdict.summary.placed_area;
    r.items_placed = verdict.summary.items_placed;
    r.objects_used = verdict.summary.objects_used;
    r.wall_s = millis(p.wall_s);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    r.cpu_s = millis(seconds(p.usage.ru_utime) + seconds(p.usage.ru_stime));
    r.max_rss_kb = p.usage.ru_maxrss;
    r.stdout_bytes = p.out.bytes;
    r.stderr_bytes = p.err.bytes;
}

// An infeasible placement drawn beside it, as defectkit draw draws it (the set is read
// again up to the instance).
void draw_failure(const RunLoop& state, const RunningInstance& ri) {
    DrawOptions draw;
    draw.set = state.options->set;
    draw.instance = ri.work.number;
    draw.out = ri.work.folder + "/placement.svg";
    draw.placement = ri.work.placement;
    draw.allow_rotation = state.options->allow_rotation;
    std::ostringstream quiet;
    std::streambuf* const old = std::cerr.rdbuf(quiet.rdbuf());
    run_draw(draw);
    std::cerr.rdbuf(old);
}

bool log_failed(const LogCapture& log) {
    if (log.error == 0) {
        return false;
    }
    std::cerr << "defectkit: cannot write " << log.path << ": " << std::strerror(log.error) << "\n";
    return true;
}

// A solver ended by SIGTERM, SIGINT or SIGHUP that defectkit did not send was most likely
// stopped together with defectkit (scancel or a job's time limit signal every process of
// the job; a shutdown every process): defectkit's own signal is given a second to come,
// and when it comes the instance is left without a result, to be run again on resume.
bool stopped_with_run(const SolverProcess& p) {
    const int code = WIFEXITED(p.status) ? WEXITSTATUS(p.status) : 0;
    const int signal = WIFSIGNALED(p.status) ? WTERMSIG(p.status) : code > 128 ? code - 128 : 0;
    if (p.term_sent || !p.start_error.empty() ||
        (signal != SIGTERM && signal != SIGINT && signal != SIGHUP)) {
        return false;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    for (auto now = std::chrono::steady_clock::now(); run_stop_signal == 0 && now < until;
         now = std::chrono::steady_clock::now()) {
        pollfd wake = {run_wake_fd(), POLLIN, 0};
        ::poll(&wake, 1,
               static_cast<int>(
                   std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count()) +
                   1);
        drain_run_wake();
    }
    return run_stop_signal != 0;
}

// The instance's solver has ended: every process it left ended, its placement checked,
// its result written.
void finish_instance(RunLoop& state, RunningInstance& ri) {
    end_descendants(ri.process, processes(state));
    if (stopped_with_run(ri.process)) {
        remove_instance_input(ri.work, false);
        return;
    }
    PlacementVerdict verdict;
    const bool checked =
        check_instance_placement(ri.work, state.set, state.options->allow_rotation, verdict);
    remove_instance_input(ri.work, state.options->keep_inputs);
    if (!checked || log_failed(ri.process.out) || log_failed(ri.process.err)) {
        state.failure = 2;
        return;
    }
    if (verdict.placement == "infeasible" && state.options->draw_failures) {
        draw_failure(state, ri);
    }
    InstanceResult r;
    classify_run(ri.process, state.options->memory_limit > 0, r);
    fill_figures(ri, verdict, r);
    const std::string name = instance_name(ri.work.number, state.largest);
    if (!write_file_whole(state.dir + "/results/" + name + ".json",
                          result_json(r).dump(2) + "\n")) {
        state.failure = 2;
    }
}

// One wait; every instance whose solver has ended is finished and leaves its slot.
void step(RunLoop& state, int timeout_ms) {
    wait_for_solvers(processes(state), timeout_ms);
    for (std::size_t i = 0; i < state.running.size() && run_stop_signal == 0;) {
        if (state.running[i]->process.reaped || !state.running[i]->process.start_error.empty()) {
            finish_instance(state, *state.running[i]); // still in the list: the sweep sees it
            state.running.erase(state.running.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

bool stopping(const RunLoop& state) {
    return run_stop_signal != 0 || state.failure != 0;
}

// Starts the solver of the instance just written, once a slot is free.
void launch(RunLoop& state, std::unique_ptr<RunningInstance> ri) {
    while (!stopping(state) &&
           static_cast<std::int32_t>(state.running.size()) >= state.options->jobs) {
        step(state, 1000);
    }
    if (stopping(state)) {
        remove_instance_input(ri->work, false);
        return;
    }
    SolverLaunch launch;
    launch.command = solver_command(state, ri->work);
    launch.folder = ri->work.folder;
    launch.marker =
        "DEFECTKIT_RUN=" + std::to_string(::getpid()) + "." + std::to_string(ri->work.number);
    launch.memory_mb = state.options->memory_limit;
    launch.stop_after_s =
        static_cast<double>(state.options->time_limit) * 1.1 + state.options->grace;
    ri->process.instance = ri->work.number;
    start_solver(launch, ri->process); // one that cannot start is finished at the next step
    state.running.push_back(std::move(ri));
}

// The reader's batch: into the instance being written; a whole instance is launched.
bool take_batch(RunLoop& state, const ObjectBatch& batch, const std::string& shown_work) {
    if (!state.running.empty()) {
        step(state, 0); // the solvers' logs read, and one that ended reaped on time
    }
    if (stopping(state)) {
        return false;
    }
    if (batch.starts_instance) {
        const std::int32_t k = batch.head.number;
        state.reading.reset();
        if (k < static_cast<std::int32_t>(state.pending.size()) && state.pending[k]) {
            state.reading = std::make_unique<RunningInstance>();
            const std::string name = instance_name(k, state.largest);
            if (!begin_instance_work(state.reading->work, state.set, state.dir + "/work/" + name,
                                     shown_work + name, state.options->format,
                                     state.options->allow_rotation, batch.head)) {
                abandon_instance_work(state.reading->work);
                state.failure = 2;
                return false;
            }
        }
    }
    if (state.reading == nullptr) {
        return true;
    }
    if (!add_instance_objects(state.reading->work, batch) ||
        (batch.ends_instance && !end_instance_work(state.reading->work))) {
        abandon_instance_work(state.reading->work);
        state.failure = 2;
        return false;
    }
    if (batch.ends_instance) {
        launch(state, std::move(state.reading));
        return --state.pending_left > 0 && !stopping(state);
    }
    return true;
}

} // namespace

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

int run_pending_instances(RunLoop& state) {
    SetReader reader;
    if (state.pending_left > 0 && !open_set_reader(reader, state.set)) {
        return 2;
    }
    std::int32_t only = 0;
    for (std::size_t k = 0; k < state.pending.size() && state.pending_left == 1; ++k) {
        only = state.pending[k] ? static_cast<std::int32_t>(k) : only;
    }
    if (state.pending_left > 0) {
        Progress progress;
        read_set(reader, only, progress,
                 [&](const ObjectBatch& batch) { return take_batch(state, batch, "work/"); });
        close_set_reader(reader);
    }
    if (state.reading != nullptr) { // cut short by a stop or a problem in the files
        abandon_instance_work(state.reading->work);
        state.reading.reset();
    }
    while (!state.running.empty() && !stopping(state)) {
        step(state, 1000);
    }
    for (const auto& ri : state.running) { // interrupted: no result for these
        kill_solver(ri->process, processes(state));
        remove_instance_input(ri->work, false);
    }
    state.running.clear();
    if (run_stop_signal != 0) {
        return 128 + run_stop_signal;
    }
    if (state.failure != 0) {
        return state.failure;
    }
    return reader.failed ? report_set_problem(reader) : 0;
}
