// The subcommands of defectkit. Each takes its options as a record filled by the command
// line (main.cpp) and returns the exit status: 0 success, 1 the checked thing is wrong,
// 2 a usage or I/O problem. Results go to stdout, problems to stderr.
#pragma once

#include "read/open_set.h"

#include <cstdint>
#include <string>

int run_check(const SetOptions& set);

int run_verify(const SetOptions& set);

struct StatsOptions {
    SetOptions set;
    bool per_instance = false;
    bool json = false;
};
int run_stats(const StatsOptions& options);

struct ExportOptions {
    SetOptions set;
    std::string format; // "jsonl" or "packingsolver"
    std::string out;
    std::int32_t instance = 0; // 0: every instance
    bool allow_rotation = false;
    std::string objective = "knapsack"; // or "bin-packing"
    bool objective_given = false;       // --objective on the command line
    bool force = false;
};
int run_export(const ExportOptions& options);

struct CheckSolutionOptions {
    SetOptions set;
    std::int32_t instance = 0;
    std::string placement; // --solution: the placement file
    bool allow_rotation = false;
};
int run_check_solution(const CheckSolutionOptions& options);

struct DrawOptions {
    SetOptions set;
    std::int32_t instance = 0;
    std::string out;
    std::string placement; // --solution: the placement file; empty: draw the instance alone
    std::int32_t max_objects = 12;
    bool allow_rotation = false;
    bool force = false; // write over a file that is not empty
};
int run_draw(const DrawOptions& options);

struct BoundOptions {
    SetOptions set;
    std::int32_t instance = 0; // 0: every instance
    bool allow_rotation = false;
    bool json = false;
};
int run_bound(const BoundOptions& options);

struct PlaceOptions {
    SetOptions set;
    std::string out;           // the placement file, or the folder of instance-K.csv files
    std::int32_t instance = 0; // 0: every instance
    bool allow_rotation = false;
    int passes = 4;
};
int run_place(const PlaceOptions& options);

struct RunOptions {
    SetOptions set;
    std::string out;    // DIR
    std::string solver; // the command, or "builtin"
    std::string format = "packingsolver";
    std::int64_t time_limit = 60;  // seconds, as the solver is told
    double grace = 5;              // seconds past time_limit x 1.1 before SIGTERM
    std::int64_t memory_limit = 0; // MB of address space; 0: none
    std::int32_t jobs = 1;
    std::string instances; // LIST; empty: every instance
    bool allow_rotation = false;
    bool keep_inputs = false;
    bool draw_failures = false;
    std::string version; // defectkit's, for the manifest
    std::string shard;   // --shard K/N; empty: every selected instance
    // --slurm: DIR/run.sbatch, a job array of `shards` tasks (0: one per selected instance)
    bool slurm = false;
    std::int32_t shards = 0;
    std::int32_t cpus_per_task = 1;
    std::string partition;
    std::string account;
    bool submit = false; // sbatch it
    bool wait = false;   // submit it and wait for its end, then the summary
};
int run_run(const RunOptions& options);

struct ResultsOptions {
    std::string dir;
    bool json = false;
};
int run_results(const ResultsOptions& options);
