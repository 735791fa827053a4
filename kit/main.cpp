// defectkit's command line: one subcommand per job, each in a file of its own.
#include "commands/commands.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <new>
#include <system_error>

#ifndef DEFECTKIT_VERSION
#define DEFECTKIT_VERSION "0"
#endif

namespace {

// ANSWERS, or --object LxW with the files; every command that reads a set takes these.
void add_set_options(CLI::App* command, SetOptions& set, bool answers_required = false) {
    CLI::Option* answers = command->add_option(
        "ANSWERS", set.answers, "The answers file that defectgen read on its standard input");
    if (answers_required) {
        answers->required();
    }
    command->add_option("--items", set.items, "The items file (overrides the answers' name)");
    command->add_option("--defects", set.defects, "The defects file (overrides the answers' name)");
    if (!answers_required) {
        command
            ->add_option("--object", set.object,
                         "The large object's size as LxW, when there are no answers")
            ->excludes(answers);
        command
            ->add_option("--objects", set.objects,
                         "Objects per instance, when there are no answers and no defects file")
            ->excludes(answers)
            ->check(CLI::Range(0, MAXMOD));
    }
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"defectkit: reads, checks, verifies, summarises, exports and draws the "
                 "instance sets that defectgen writes."};
    app.set_version_flag("--version", std::string("defectkit ") + DEFECTKIT_VERSION);
    app.require_subcommand(1);

    SetOptions check;
    CLI::App* check_cmd =
        app.add_subcommand("check", "Check the files against everything defectgen guarantees");
    add_set_options(check_cmd, check);

    SetOptions verify;
    CLI::App* verify_cmd = app.add_subcommand(
        "verify", "Regenerate the set from its answers and compare it byte for byte");
    add_set_options(verify_cmd, verify, true);

    StatsOptions stats;
    CLI::App* stats_cmd = app.add_subcommand("stats", "Figures of the set for a paper's table");
    add_set_options(stats_cmd, stats.set);
    stats_cmd->add_flag("--per-instance", stats.per_instance, "Figures for every instance too");
    stats_cmd->add_flag("--json", stats.json, "One JSON document instead of tables");

    ExportOptions exp;
    CLI::App* export_cmd =
        app.add_subcommand("export", "Write the set in a format that solvers read");
    add_set_options(export_cmd, exp.set);
    export_cmd->add_option("--format", exp.format, "jsonl or packingsolver")
        ->required()
        ->check(CLI::IsMember({"jsonl", "packingsolver"}));
    export_cmd->add_option("--out", exp.out, "The file (jsonl) or folder (packingsolver)")
        ->required();
    export_cmd->add_option("--instance", exp.instance, "Export this instance only (from 1)")
        ->check(CLI::Range(1, MAXMOD));
    export_cmd->add_flag("--allow-rotation", exp.allow_rotation,
                         "Items may be turned by 90 degrees");
    export_cmd->add_option("--objective", exp.objective, "knapsack (default) or bin-packing")
        ->check(CLI::IsMember({"knapsack", "bin-packing"}));
    export_cmd->add_flag("--force", exp.force, "Write into a target that is not empty");

    CheckSolutionOptions check_solution;
    CLI::App* check_solution_cmd =
        app.add_subcommand("check-solution", "Check that a placement of one instance is feasible");
    add_set_options(check_solution_cmd, check_solution.set);
    check_solution_cmd->add_option("--instance", check_solution.instance, "The instance (from 1)")
        ->required()
        ->check(CLI::Range(1, MAXMOD));
    check_solution_cmd
        ->add_option("--solution", check_solution.placement, "The placement, a CSV file")
        ->required();
    check_solution_cmd->add_flag("--allow-rotation", check_solution.allow_rotation,
                                 "Items may be turned by 90 degrees");

    DrawOptions draw;
    CLI::App* draw_cmd = app.add_subcommand("draw", "Draw an instance, or a placement, as SVG");
    add_set_options(draw_cmd, draw.set);
    draw_cmd->add_option("--instance", draw.instance, "The instance (from 1)")
        ->required()
        ->check(CLI::Range(1, MAXMOD));
    draw_cmd->add_option("--out", draw.out, "The SVG file")->required();
    draw_cmd->add_option("--solution", draw.placement, "A placement to draw");
    draw_cmd->add_option("--max-objects", draw.max_objects, "Objects drawn at most (default 12)")
        ->check(CLI::Range(1, MAXMOD));
    draw_cmd->add_flag("--allow-rotation", draw.allow_rotation,
                       "Items of the placement may be turned by 90 degrees");

    RunOptions run;
    run.version = DEFECTKIT_VERSION;
    CLI::App* run_cmd = app.add_subcommand(
        "run", "Run a solver on every instance, check each placement, and tabulate the results");
    add_set_options(run_cmd, run.set);
    run_cmd->add_option("--out", run.out, "The run folder")->required();
    run_cmd
        ->add_option("--solver", run.solver,
                     "The command run by /bin/sh -c per instance, with {input}, {placement}, "
                     "{time_limit}, {instance} and {dir}; or builtin")
        ->required();
    run_cmd->add_option("--format", run.format, "packingsolver (default) or jsonl")
        ->check(CLI::IsMember({"jsonl", "packingsolver"}));
    run_cmd->add_option("--time-limit", run.time_limit, "Seconds the solver is told (default 60)")
        ->check(CLI::Range(std::int64_t{1}, std::int64_t{1} << 31));
    run_cmd->add_option("--grace", run.grace, "Seconds past time limit x 1.1 (default 5)")
        ->check(CLI::Range(0.0, 1e6));
    run_cmd->add_option("--memory-limit", run.memory_limit, "MB of address space per solver")
        ->check(CLI::Range(std::int64_t{1}, std::int64_t{1} << 40));
    run_cmd->add_option("--jobs", run.jobs, "Solvers run at once (default 1)")
        ->check(CLI::Range(1, 1024));
    run_cmd->add_option("--instances", run.instances, "Which instances: 3, 1-20, 1,4,9-12");
    run_cmd->add_flag("--allow-rotation", run.allow_rotation, "Items may be turned by 90 degrees");
    run_cmd->add_flag("--keep-inputs", run.keep_inputs, "Keep each instance's exported input");
    run_cmd->add_flag("--draw-failures", run.draw_failures,
                      "Draw each infeasible placement as work/K/placement.svg");
    CLI::Option* slurm =
        run_cmd->add_flag("--slurm", run.slurm, "Write DIR/run.sbatch, a SLURM job array");
    run_cmd->add_option("--shard", run.shard, "Only this share of the instances: K/N")
        ->excludes(slurm);
    run_cmd->add_option("--shards", run.shards, "--slurm: tasks (default one per instance)")
        ->check(CLI::Range(1, 1000000))
        ->needs(slurm);
    run_cmd->add_option("--cpus-per-task", run.cpus_per_task, "--slurm: CPUs per task (1)")
        ->check(CLI::Range(1, 4096))
        ->needs(slurm);
    run_cmd->add_option("--partition", run.partition, "--slurm: the partition")->needs(slurm);
    run_cmd->add_option("--account", run.account, "--slurm: the account")->needs(slurm);
    run_cmd->add_flag("--submit", run.submit, "--slurm: submit it with sbatch")->needs(slurm);
    run_cmd->add_flag("--wait", run.wait, "--slurm: submit it, wait for its end, summarise")
        ->needs(slurm);

    ResultsOptions results;
    CLI::App* results_cmd =
        app.add_subcommand("results", "The tables and the summary of a run folder");
    results_cmd->add_option("DIR", results.dir, "The run folder")->required();
    results_cmd->add_flag("--json", results.json, "The summary as one JSON document");

    // --version answers on every subcommand too, as --help does.
    for (CLI::App* sub : app.get_subcommands({})) {
        sub->set_version_flag("--version", std::string("defectkit ") + DEFECTKIT_VERSION);
    }

    // A first word that is no option and no command: name it and the commands, rather
    // than CLI11's "A subcommand is required".
    const auto known = [&app](const std::string& word) {
        for (const CLI::App* command : app.get_subcommands({})) {
            if (command->get_name() == word) {
                return true;
            }
        }
        return false;
    };
    if (argc > 1 && argv[1][0] != '-' && !known(argv[1])) {
        std::cerr << "defectkit: there is no command \"" << argv[1]
                  << "\"; the commands are check, verify, stats, export, check-solution, draw, run "
                     "and results "
                     "(defectkit --help tells more)\n";
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }
    // Memory or a thread that cannot be had ends the command with a message, not an abort.
    try {
        if (check_cmd->parsed()) {
            return run_check(check);
        }
        if (verify_cmd->parsed()) {
            return run_verify(verify);
        }
        if (stats_cmd->parsed()) {
            return run_stats(stats);
        }
        if (export_cmd->parsed()) {
            return run_export(exp);
        }
        if (check_solution_cmd->parsed()) {
            return run_check_solution(check_solution);
        }
        if (run_cmd->parsed()) {
            return run_run(run);
        }
        if (results_cmd->parsed()) {
            return run_results(results);
        }
        return run_draw(draw);
    } catch (const std::bad_alloc&) {
        std::cerr << "defectkit: out of memory\n";
    } catch (const std::system_error& error) {
        std::cerr << "defectkit: cannot start a thread: " << error.what() << "\n";
    }
    return 2;
}
