// The job array of defectkit run --slurm: the script's text, its time and memory, and the
// plan that results reads back.
#include "run/slurm_array.h"

#include "run/run_folder.h"
#include "run/shard.h"
#include "run/solver_process.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace fs = std::filesystem;

std::int64_t task_seconds(std::int64_t share, std::int32_t jobs, std::int64_t time_limit,
                          double grace) {
    const std::int64_t rounds = (share + jobs - 1) / jobs;
    const double instance = static_cast<double>(time_limit) * 1.1 + grace + kill_delay_s;
    // To the millisecond first, so that 174680.00000000003 s is not taken for 174681 s.
    const double seconds = std::round(static_cast<double>(rounds) * instance * 1100) / 1000;
    return static_cast<std::int64_t>(std::ceil(seconds)) + 300;
}

std::int64_t task_mem_mb(std::int64_t memory_mb, std::int32_t jobs) {
    return memory_mb > 0 ? memory_mb * jobs + 256 : 0;
}

std::string slurm_duration(std::int64_t seconds) {
    char text[48];
    std::snprintf(text, sizeof text, "%lld-%02lld:%02lld:%02lld",
                  static_cast<long long>(seconds / 86400),
                  static_cast<long long>(seconds / 3600 % 24),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

bool sbatch_path_ok(const std::string& dir) {
    if (dir.find_first_of(" \t\n\r\"'\\%$") == std::string::npos) {
        return true;
    }
    std::cerr << "defectkit: --slurm: " << dir
              << ": the folder's path holds white space, a quote, a backslash, % or $, which "
                 "an #SBATCH line cannot carry; give another --out\n";
    return false;
}

std::string sbatch_script(const ArrayRequest& r) {
    const std::string n = std::to_string(r.tasks);
    std::string text = "#!/bin/sh\n"
                       "# defectkit run as a SLURM job array, written by defectkit run --slurm:\n"
                       "# task i of " +
                       n + " runs the selected instances at positions i - 1, i - 1 + " + n +
                       ", ...\n"
                       "#SBATCH --job-name=defectkit-" +
                       fs::path(r.dir).filename().string() + "\n";
    text += "#SBATCH --array=1-" + n + "\n";
    text += "#SBATCH --time=" + slurm_duration(r.seconds) + "\n";
    if (r.mem_mb > 0) {
        text += "#SBATCH --mem=" + std::to_string(r.mem_mb) + "M\n";
    }
    text += "#SBATCH --cpus-per-task=" + std::to_string(r.cpus) + "\n";
    if (!r.partition.empty()) {
        text += "#SBATCH --partition=" + r.partition + "\n";
    }
    if (!r.account.empty()) {
        text += "#SBATCH --account=" + r.account + "\n";
    }
    text += "#SBATCH --output=" + r.dir + "/slurm/%A_%a.out\n";
    text += "#SBATCH --chdir=" + r.dir + "\n"; // on the shared file system, as DIR must be
    return text + "exec " + r.task_command +
           " --shard \"${SLURM_ARRAY_TASK_ID:?run by sbatch as a job array}/" + n + "\"\n";
}

bool write_array_plan(const std::string& dir, const ArrayPlan& plan) {
    nlohmann::ordered_json j;
    j["script"] = plan.script;
    j["tasks"] = plan.tasks;
    j["instances"] = plan.instances;
    return write_file_whole(dir + "/slurm/array.json", j.dump() + "\n");
}

int read_array_plan(const std::string& dir, ArrayPlan& plan) {
    const std::string path = dir + "/slurm/array.json";
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return 0;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const nlohmann::json j = nlohmann::json::parse(bytes.str(), nullptr, false);
    const bool ok = j.is_object() && j.value("script", nlohmann::json()).is_string() &&
                    j.value("tasks", 0) > 0 && j.value("instances", nlohmann::json()).is_array();
    try {
        if (ok) {
            plan.script = j["script"].get<std::string>();
            plan.tasks = j["tasks"].get<std::int32_t>();
            plan.instances = j["instances"].get<std::vector<std::int32_t>>();
            return 1;
        }
    } catch (const nlohmann::json::exception&) {
    }
    std::cerr << "defectkit: " << path << ": not the plan of a SLURM run (defectkit run --slurm "
              << "writes it)\n";
    return -1;
}

std::string resubmit_line(const ArrayPlan& plan, const std::vector<bool>& done) {
    std::vector<bool> holds(static_cast<std::size_t>(plan.tasks) + 1, false);
    for (std::size_t p = 0; p < plan.instances.size(); ++p) {
        const auto k = static_cast<std::size_t>(plan.instances[p]);
        if (k >= done.size() || !done[k]) {
            holds[static_cast<std::size_t>(shard_of(p, plan.tasks))] = true;
        }
    }
    const std::string tasks = number_list(selected_numbers(holds));
    return tasks.empty() ? tasks : "sbatch --array=" + tasks + " " + plan.script;
}
