// defectkit run --slurm: the run cut into the tasks of a SLURM job array, each the same
// `defectkit run` with --shard i/N; submitted and waited for when asked. SLURM schedules;
// the tasks meet in DIR (slurm_client.h tells how).
#include "commands/run_slurm.h"

#include "commands/commands.h"
#include "run/run_folder.h"
#include "run/shard.h"
#include "run/slurm_array.h"
#include "run/slurm_client.h"

#include <charconv>
#include <filesystem>
#include <iostream>
#include <unistd.h>

namespace {

std::string own_program() {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    return n > 0 ? std::string(self, static_cast<std::size_t>(n)) : "defectkit";
}

// The shortest text that reads back as the same double (the manifest compares it).
std::string exact(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

// `defectkit run` with every setting that the manifest compares, and the others given.
std::string task_command(const RunLoop& state) {
    const RunOptions& o = *state.options;
    std::string c = shell_quote(own_program()) + " run " + set_words(state.set, o.set) + " --out " +
                    shell_quote(state.dir) + " --solver " + shell_quote(o.solver) + " --format " +
                    o.format + " --time-limit " + std::to_string(o.time_limit) + " --grace " +
                    exact(o.grace) + " --jobs " + std::to_string(o.jobs);
    if (o.memory_limit > 0) {
        c += " --memory-limit " + std::to_string(o.memory_limit);
    }
    if (!o.instances.empty()) {
        c += " --instances " + shell_quote(o.instances);
    }
    for (const auto& [on, flag] : {std::pair{o.allow_rotation, " --allow-rotation"},
                                   std::pair{o.keep_inputs, " --keep-inputs"},
                                   std::pair{o.draw_failures, " --draw-failures"}}) {
        c += on ? flag : "";
    }
    return c;
}

// DIR/run.sbatch and DIR/slurm/array.json; false after a message.
bool write_array(const RunLoop& state, const ArrayPlan& plan, std::int64_t share) {
    const RunOptions& o = *state.options;
    std::error_code error;
    std::filesystem::create_directories(state.dir + "/slurm", error);
    if (error) {
        std::cerr << "defectkit: cannot create the folder " << state.dir
                  << "/slurm: " << error.message() << "\n";
        return false;
    }
    ArrayRequest r;
    r.dir = state.dir;
    r.task_command = task_command(state);
    r.tasks = plan.tasks;
    r.seconds = task_seconds(share, o.jobs, o.time_limit, o.grace);
    r.mem_mb = task_mem_mb(o.memory_limit, o.jobs);
    r.cpus = o.cpus_per_task;
    r.partition = o.partition;
    r.account = o.account;
    return write_file_whole(plan.script, sbatch_script(r)) && write_array_plan(state.dir, plan);
}

} // namespace

int run_slurm(const RunLoop& state, const std::vector<bool>& selected) {
    const RunOptions& o = *state.options;
    ArrayPlan plan;
    plan.script = state.dir + "/run.sbatch";
    plan.instances = selected_numbers(selected);
    const auto count = static_cast<std::int64_t>(plan.instances.size());
    if (count == 0) {
        std::cerr << "defectkit: the set has no instance to run\n";
        return 2;
    }
    plan.tasks =
        static_cast<std::int32_t>(o.shards > 0 ? std::min<std::int64_t>(o.shards, count) : count);
    const std::int64_t share = (count + plan.tasks - 1) / plan.tasks;
    if (!write_array(state, plan, share)) {
        return 2;
    }
    std::cout << plan.script << ": a job array of " << plan.tasks << " task"
              << (plan.tasks == 1 ? "" : "s") << " of at most " << share << " instance"
              << (share == 1 ? "" : "s") << " each\n";
    if (!o.submit && !o.wait) {
        std::cout << "sbatch " << plan.script << "\n";
        return 0;
    }
    std::string job;
    if (!submit_array(plan.script, job)) {
        return 2;
    }
    std::cout << "submitted job array " << job << "; defectkit results " << state.dir
              << " tells what it has done" << std::endl;
    if (!o.wait) {
        return 0;
    }
    if (!wait_for_array(job)) {
        return 2;
    }
    ResultsOptions results;
    results.dir = state.dir;
    return run_results(results);
}
