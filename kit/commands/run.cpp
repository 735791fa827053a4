// defectkit run: a solver over the instances of a set, every placement checked, every
// result kept in the run folder (kit/run/ does the work; run_loop.h is the loop). This file
// holds the command line's rules: the {words} of the command, --instances, the folder
// and its manifest, and the tables and summary at the end.
#include "commands/commands.h"

#include "commands/export.h"
#include "commands/run_slurm.h"
#include "run/run_folder.h"
#include "run/run_loop.h"
#include "run/run_signals.h"
#include "run/sha256.h"
#include "run/shard.h"
#include "run/slurm_array.h"

#include <charconv>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::ordered_json;

namespace {

const char* const solver_words[] = {"input", "placement", "time_limit", "instance", "dir"};

// Calls `found` with every {word} of the command (letters, digits and _ between braces).
template <typename Found> void each_word(const std::string& command, Found found) {
    for (std::size_t at = command.find('{'); at != std::string::npos;
         at = command.find('{', at + 1)) {
        std::size_t end = at + 1;
        while (end < command.size() &&
               (std::isalnum(static_cast<unsigned char>(command[end])) || command[end] == '_')) {
            ++end;
        }
        if (end > at + 1 && end < command.size() && command[end] == '}') {
            found(at, command.substr(at + 1, end - at - 1));
        }
    }
}

bool check_words(const std::string& command) {
    bool ok = true;
    each_word(command, [&](std::size_t, const std::string& word) {
        bool known = false;
        for (const char* w : solver_words) {
            known = known || word == w;
        }
        if (!known && ok) {
            std::cerr << "defectkit: --solver: {" << word
                      << "} is no word of the command; the words are {input}, {placement}, "
                         "{time_limit}, {instance} and {dir}\n";
            ok = false;
        }
    });
    return ok;
}

// --instances LIST: "3", "1-20", "1,4,9-12". False after a message.
bool parse_instances(const std::string& list, std::int32_t count, std::vector<bool>& selected) {
    selected.assign(static_cast<std::size_t>(count) + 1, list.empty());
    selected[0] = false;
    std::size_t at = 0;
    while (!list.empty() && at <= list.size()) {
        const std::size_t end = std::min(list.find(',', at), list.size());
        const std::string piece = list.substr(at, end - at);
        // Digits, or digits - digits; a number past 10 digits is no instance anyway.
        const std::size_t dash = piece.find('-');
        const std::string a = piece.substr(0, dash);
        const std::string b = dash == std::string::npos ? a : piece.substr(dash + 1);
        const auto number = [](const std::string& digits, std::int64_t& value) {
            const auto [stop, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), value);
            return !digits.empty() && digits.size() <= 10 && error == std::errc() &&
                   stop == digits.data() + digits.size();
        };
        std::int64_t first = 0;
        std::int64_t last = 0;
        if (!number(a, first) || !number(b, last) || first < 1 || last < first) {
            std::cerr << "defectkit: --instances " << list << ": expected numbers and ranges "
                      << "as 3, 1-20 or 1,4,9-12\n";
            return false;
        }
        if (last > count) {
            report_no_instance(last, count);
            return false;
        }
        for (std::int64_t k = first; k <= last; ++k) {
            selected[static_cast<std::size_t>(k)] = true;
        }
        at = end + 1;
    }
    return true;
}

} // namespace

std::string absolute(const std::string& path) {
    std::error_code ignored;
    return path.empty() ? path : fs::absolute(path, ignored).lexically_normal().string();
}

// The set named again for a child defectkit: the same files, by absolute paths.
std::string set_words(const KitSet& set, const SetOptions& options) {
    std::string words;
    if (set.from_answers) {
        words = shell_quote(absolute(set.answers_path));
    } else {
        words = "--object " + options.object;
        if (set.defects_path.empty() && options.objects >= 0) {
            words += " --objects " + std::to_string(options.objects);
        }
    }
    words += " --items " + shell_quote(absolute(set.items_path));
    if (!set.defects_path.empty()) {
        words += " --defects " + shell_quote(absolute(set.defects_path));
    }
    return words;
}

namespace {

// --solver builtin: defectkit's own placer, run as `defectkit place` on the instance.
std::string builtin_command(const RunLoop& state) {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string exe = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : "defectkit";
    return shell_quote(exe) + " place " + set_words(state.set, state.options->set) +
           " --instance {instance} --out {placement}" +
           (state.options->allow_rotation ? " --allow-rotation" : "");
}

} // namespace

std::string solver_command(const RunLoop& state, const InstanceWork& work) {
    std::string command;
    std::size_t copied = 0;
    each_word(state.command, [&](std::size_t at, const std::string& word) {
        std::string value;
        if (word == "input") {
            value = work.input;
        } else if (word == "placement") {
            value = work.placement;
        } else if (word == "time_limit") {
            value = std::to_string(state.options->time_limit);
        } else if (word == "instance") {
            value = std::to_string(work.number);
        } else {
            value = work.folder;
        }
        command += state.command.substr(copied, at - copied) + shell_quote(value);
        copied = at + word.size() + 2;
    });
    return command + state.command.substr(copied);
}

namespace {

// A file of the set by name and digest; false after a message (or when interrupted).
bool file_entry(const std::string& path, ordered_json& entry) {
    std::string digest;
    std::string error;
    if (!sha256_file(path, digest, error, &run_stop_signal)) {
        if (!error.empty()) {
            std::cerr << "defectkit: " << path << ": cannot be read: " << error << "\n";
        }
        return false;
    }
    entry = {{"name", fs::path(path).filename().string()}, {"sha256", digest}};
    return true;
}

bool make_manifest(const RunLoop& state, ordered_json& m) {
    const RunOptions& o = *state.options;
    const KitSet& set = state.set;
    ordered_json files;
    ordered_json answers = nullptr;
    ordered_json items;
    ordered_json defects = nullptr;
    if ((set.from_answers && !file_entry(set.answers_path, answers)) ||
        !file_entry(set.items_path, items) ||
        (!set.defects_path.empty() && !file_entry(set.defects_path, defects))) {
        return false;
    }
    m["set"] = {{"answers", answers},
                {"object", set.from_answers ? ordered_json(nullptr) : ordered_json(o.set.object)},
                {"items", items},
                {"defects", defects},
                {"instances", state.largest}};
    m["solver"] = o.solver;
    m["format"] = o.format;
    m["time_limit"] = o.time_limit;
    m["grace"] = o.grace;
    m["memory_limit_mb"] = o.memory_limit > 0 ? ordered_json(o.memory_limit) : ordered_json();
    m["allow_rotation"] = o.allow_rotation;
    m["defectkit"] = o.version;
    m["cores"] = std::thread::hardware_concurrency();
    char started[32];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(started, sizeof started, "%Y-%m-%dT%H:%M:%SZ", &utc);
    m["started"] = started;
    return true;
}

// DIR with results/ and work/, and its manifest claimed. 0, or the exit status.
int prepare_dir(RunLoop& state) {
    std::error_code error;
    for (const char* sub : {"", "/results", "/work"}) {
        fs::create_directories(state.dir + sub, error);
        if (error) {
            std::cerr << "defectkit: cannot create the folder " << state.dir + sub << ": "
                      << error.message() << "\n";
            return 2;
        }
    }
    ordered_json manifest;
    if (!make_manifest(state, manifest)) {
        return run_stop_signal != 0 ? 128 + run_stop_signal : 2;
    }
    return claim_manifest(state.dir, state.options->out, manifest);
}

bool count_set(RunLoop& state) {
    state.largest = state.set.instances;
    if (state.largest < 0 && !count_instances(state.set.items_path, state.largest)) {
        std::cerr << "defectkit: cannot read " << state.set.items_path << "\n";
        return false;
    }
    return true;
}

// Every selected instance has a result, ok and feasible.
bool selected_feasible(const std::vector<bool>& selected,
                       const std::vector<nlohmann::json>& results) {
    std::vector<bool> good(selected.size(), false);
    for (const nlohmann::json& r : results) {
        const std::int64_t k = r.value("instance", std::int64_t{0});
        if (k > 0 && k < static_cast<std::int64_t>(good.size())) {
            good[static_cast<std::size_t>(k)] =
                r.value("run", "") == "ok" && r.value("placement", "") == "feasible";
        }
    }
    for (std::size_t k = 1; k < selected.size(); ++k) {
        if (selected[k] && !good[k]) {
            return false;
        }
    }
    return true;
}

// The results of the selected instances alone.
std::vector<nlohmann::json> results_of(const std::vector<bool>& selected,
                                       const std::vector<nlohmann::json>& results) {
    std::vector<nlohmann::json> kept;
    for (const nlohmann::json& r : results) {
        const std::int64_t k = r.value("instance", std::int64_t{0});
        if (k > 0 && k < static_cast<std::int64_t>(selected.size()) &&
            selected[static_cast<std::size_t>(k)]) {
            kept.push_back(r);
        }
    }
    return kept;
}

// The tables and the summary; 0 when every selected instance is ok and feasible, else 1;
// 2 when the tables cannot be written. A shard (`whole`: every selected instance of all
// shards) sums up its own instances, and writes the tables only once all of them are done.
int finish_run(const RunLoop& state, const std::vector<bool>& selected,
               const std::vector<bool>* whole, bool quiet) {
    std::vector<nlohmann::json> results;
    if (!read_results(state.dir, results)) {
        return 2;
    }
    const bool tables =
        whole == nullptr || results_of(*whole, results).size() == selected_numbers(*whole).size();
    if (tables && !write_tables(state.dir, results)) {
        return 2;
    }
    if (!quiet) {
        std::cout << (whole == nullptr ? run_summary_text(results, state.largest)
                                       : run_summary_text(results_of(selected, results),
                                                          static_cast<std::int64_t>(
                                                              selected_numbers(selected).size())));
    }
    return selected_feasible(selected, results) ? 0 : 1;
}

int run_in_dir(RunLoop& state) {
    const RunOptions& o = *state.options;
    std::vector<bool> selected;
    if (!count_set(state) || !parse_instances(o.instances, state.largest, selected)) {
        return 2;
    }
    Shard shard;
    if (!o.shard.empty() && !parse_shard(o.shard, shard)) {
        return 2;
    }
    state.dir = absolute(o.out);
    if (o.slurm && !sbatch_path_ok(state.dir)) {
        return 2;
    }
    if (const int status = prepare_dir(state); status != 0) {
        return status;
    }
    if (o.slurm) {
        return run_slurm(state, selected);
    }
    const std::vector<bool> whole = selected;
    if (shard.count > 0) {
        keep_shard(selected, shard);
    }
    const std::vector<bool>* all_shards = shard.count > 0 ? &whole : nullptr;
    state.command = o.solver == "builtin" ? builtin_command(state) : o.solver;
    state.pending = selected;
    for (std::size_t k = 1; k < selected.size(); ++k) {
        const std::string name = instance_name(static_cast<std::int32_t>(k), state.largest);
        state.pending[k] = selected[k] && !fs::exists(state.dir + "/results/" + name + ".json");
        state.pending_left += state.pending[k] ? 1 : 0;
    }
    const int status = run_pending_instances(state);
    if (status == 130 || status == 143) {
        finish_run(state, selected, all_shards, true);
        std::cerr << "defectkit: stopped by " << (status == 130 ? "SIGINT" : "SIGTERM")
                  << "; the finished results are kept, and the same command goes on from them\n";
        return status;
    }
    if (status == 2) {
        return 2;
    }
    const int finished = finish_run(state, selected, all_shards, false);
    return status != 0 ? status : finished;
}

} // namespace

int run_run(const RunOptions& options) {
    if (options.solver != "builtin" && !check_words(options.solver)) {
        return 2;
    }
    RunLoop state;
    state.options = &options;
    // --slurm runs no solver: SIGINT ends it (and leaves the array running) as it ends sbatch.
    if (!open_set(options.set, state.set) || (!options.slurm && !install_run_signals())) {
        return 2;
    }
    const int status = run_in_dir(state);
    if (!options.slurm) {
        restore_run_signals();
    }
    return status;
}
