// The run folder of defectkit run: DIR/manifest.json (the settings, made once and never
// overwritten), DIR/results/K.json (one result per finished instance), DIR/work/K/ (the
// solver's folder) and the tables DIR/results.csv and DIR/results.jsonl. Every file is
// written under a temporary name in its folder and renamed, so it is whole or absent.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

// What is recorded of one instance (docs/defectkit.md lists the fields).
struct InstanceResult {
    std::int32_t instance = 0;
    std::int64_t items = 0;
    std::int64_t item_area = 0;
    std::int64_t objects = 0;
    std::int64_t bound = 0;
    std::string run = "not-started";   // ok, timeout, crashed, exit, out-of-memory, not-started
    int signal = 0;                    // crashed (and out-of-memory by a signal)
    int exit_code = -1;                // exit (and not-started by the shell); -1: none
    std::string placement = "missing"; // feasible, infeasible, missing, unreadable
    std::string message;               // infeasible, unreadable
    std::int64_t profit = 0;           // feasible only, as the next two
    std::int64_t items_placed = 0;
    std::int64_t objects_used = 0;
    double wall_s = 0;
    double cpu_s = 0;
    std::int64_t max_rss_kb = 0;
    std::uint64_t stdout_bytes = 0;
    std::uint64_t stderr_bytes = 0;
};

nlohmann::ordered_json result_json(const InstanceResult& r);
// The columns of results.csv, in order; every field of result_json.
const std::vector<std::string>& result_columns();

// "007" for 7 when the largest instance is 200.
std::string instance_name(std::int32_t number, std::int32_t largest);

// Writes `text` to `path` through a temporary name in the same folder and a rename. False,
// with the problem on stderr (the temporary removed), when it cannot be written.
bool write_file_whole(const std::string& path, const std::string& text);

// Creates DIR/manifest.json from `manifest` (temporary name, then a hard link into place),
// or, when it is there, compares its settings with these. 0, or 2 after a message: other
// settings (told naming the folder as `shown`), or a manifest that cannot be written or read.
int claim_manifest(const std::string& dir, const std::string& shown,
                   const nlohmann::ordered_json& manifest);
// Reads DIR/manifest.json; false with the message on stderr.
bool read_manifest(const std::string& dir, nlohmann::json& manifest);

// The results in DIR/results, in instance order. False, with the message on stderr, when
// the folder or a result cannot be read.
bool read_results(const std::string& dir, std::vector<nlohmann::json>& results);
// DIR/results.csv and DIR/results.jsonl from the results. False after a message.
bool write_tables(const std::string& dir, const std::vector<nlohmann::json>& results);
// The summary of the folder (text, or one JSON document) for the set's `instances`.
std::string run_summary_text(const std::vector<nlohmann::json>& results, std::int64_t instances);
std::string run_summary_json(const std::vector<nlohmann::json>& results, std::int64_t instances);
// True when every result is ok and feasible and none of `instances` is missing.
bool all_feasible(const std::vector<nlohmann::json>& results, std::int64_t instances);
