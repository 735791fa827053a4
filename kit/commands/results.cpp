// defectkit results: the tables (results.csv, results.jsonl) and the summary of a run
// folder, from the results that defectkit run left in it.
#include "commands/commands.h"

#include "run/run_folder.h"

#include <iostream>

int run_results(const ResultsOptions& options) {
    nlohmann::json manifest;
    std::vector<nlohmann::json> results;
    if (!read_manifest(options.dir, manifest) || !read_results(options.dir, results) ||
        !write_tables(options.dir, results)) {
        return 2;
    }
    const nlohmann::json set = manifest.value("set", nlohmann::json::object());
    const std::int64_t instances = set.value("instances", std::int64_t{0});
    std::cout << (options.json ? run_summary_json(results, instances)
                               : run_summary_text(results, instances));
    return all_feasible(results, instances) ? 0 : 1;
}
