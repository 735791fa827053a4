// defectkit results: the tables (results.csv, results.jsonl) and the summary of a run
// folder, from the results that defectkit run left in it; the instances that have no
// result yet, and for a SLURM run the sbatch line that runs the tasks holding them.
#include "commands/commands.h"

#include "run/run_folder.h"
#include "run/shard.h"
#include "run/slurm_array.h"

#include <iostream>
#include <map>

namespace {

using nlohmann::json;

// Per instance number up to the largest that has a result: it has one.
std::vector<bool> done_instances(const std::map<std::int64_t, const json*>& by_number) {
    const std::int64_t largest = by_number.empty() ? 0 : by_number.rbegin()->first;
    std::vector<bool> done(static_cast<std::size_t>(std::max<std::int64_t>(largest, 0)) + 1);
    for (const auto& entry : by_number) {
        if (entry.first > 0) {
            done[static_cast<std::size_t>(entry.first)] = true;
        }
    }
    return done;
}

// The instances the run was given: the array's, or every instance of the set.
std::vector<std::int32_t> expected_instances(const ArrayPlan* plan, std::int64_t instances) {
    if (plan != nullptr) {
        return plan->instances;
    }
    std::vector<std::int32_t> all;
    for (std::int64_t k = 1; k <= instances; ++k) {
        all.push_back(static_cast<std::int32_t>(k));
    }
    return all;
}

void print_summary(const ResultsOptions& options, const std::vector<json>& shown,
                   std::int64_t count, const std::vector<std::int32_t>& missing,
                   const std::string& resubmit) {
    if (options.json) {
        nlohmann::ordered_json j = nlohmann::ordered_json::parse(run_summary_json(shown, count));
        j["missing_instances"] = missing;
        j["resubmit"] =
            resubmit.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(resubmit);
        std::cout << j.dump() << "\n";
        return;
    }
    std::cout << run_summary_text(shown, count);
    if (!missing.empty()) {
        std::cout << "missing         " << number_list(missing) << "\n";
    }
    if (!resubmit.empty()) {
        std::cout << "to run them     " << resubmit << "\n";
    }
}

} // namespace

// A SLURM run sums up the instances of its array; any other run every instance of the set.
int run_results(const ResultsOptions& options) {
    json manifest;
    std::vector<json> results;
    ArrayPlan plan;
    if (!read_manifest(options.dir, manifest) || !read_results(options.dir, results) ||
        !write_tables(options.dir, results)) {
        return 2;
    }
    const int planned = read_array_plan(options.dir, plan);
    if (planned < 0) {
        return 2;
    }
    const std::int64_t instances =
        manifest.value("set", json::object()).value("instances", std::int64_t{0});
    std::map<std::int64_t, const json*> by_number;
    for (const json& r : results) {
        by_number[r.value("instance", std::int64_t{0})] = &r;
    }
    std::vector<json> shown = planned > 0 ? std::vector<json>() : results;
    std::vector<std::int32_t> missing;
    const std::vector<std::int32_t> expected =
        expected_instances(planned > 0 ? &plan : nullptr, instances);
    for (const std::int32_t k : expected) {
        const auto found = by_number.find(k);
        if (found == by_number.end()) {
            missing.push_back(k);
        } else if (planned > 0) {
            shown.push_back(*found->second);
        }
    }
    const auto count = static_cast<std::int64_t>(expected.size());
    print_summary(options, shown, count, missing,
                  planned > 0 ? resubmit_line(plan, done_instances(by_number)) : "");
    return all_feasible(shown, count) ? 0 : 1;
}
