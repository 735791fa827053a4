// defectkit's command line: one subcommand per job, each in a file of its own.
#include "commands/commands.h"

#include <exception>
#include <unistd.h>

namespace {

// CLI11 builds objects of its own before main. When memory runs out there, not even the
// exception can be made and the runtime terminates: said as what it is, with exit 2. The
// handler is set before those objects (they follow in this file) and reset after them.
[[noreturn]] void out_of_memory_before_main() {
    static const char message[] = "defectkit: out of memory\n";
    [[maybe_unused]] const ssize_t written = ::write(2, message, sizeof message - 1);
    ::_exit(2);
}
const std::terminate_handler default_terminate = std::set_terminate(out_of_memory_before_main);

} // namespace

#include <CLI/CLI.hpp>

namespace {
[[maybe_unused]] const bool terminate_reset = (std::set_terminate(default_terminate), true);
} // namespace

#include "output/cleanup.h"
#include "output/safe_output.h"

#include <algorithm>
#include <iostream>
#include <new>
#include <system_error>

#ifndef DEFECTKIT_VERSION
#define DEFECTKIT_VERSION "0"
#endif

namespace {

// A count or an instance number: decimal digits only (CLI11 alone would take 0x10 as 16 and
// call 1e3 "not in range"), within [low, high].
CLI::Validator whole_number(std::int64_t low, std::int64_t high) {
    const std::string range = "from " + std::to_string(low) + " to " + std::to_string(high);
    return CLI::Validator(
        [low, high, range](std::string& text) -> std::string {
            if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
                return "\"" + text + "\" is not a whole number: decimal digits only, " + range;
            }
            const std::size_t digits =
                text.size() - std::min(text.find_first_not_of('0'), text.size());
            if (digits > 18 || std::stoll(text) < low || std::stoll(text) > high) {
                return text + " is out of range: " + range;
            }
            return {};
        },
        CLI::Range(low, high).get_description());
}

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
            ->check(whole_number(0, MAXMOD));
    }
}

// Every command's options and its place on the command line.
struct CommandLine {
    CLI::App app{"defectkit: reads, checks, verifies, summarises, exports and draws the "
                 "instance sets that defectgen writes."};
    SetOptions check, verify;
    StatsOptions stats;
    ExportOptions exp;
    CheckSolutionOptions check_solution;
    DrawOptions draw;
    BoundOptions bound;
    PlaceOptions place;
    RunOptions run;
    ResultsOptions results;
    CLI::App *check_cmd = nullptr, *verify_cmd = nullptr, *stats_cmd = nullptr;
    CLI::App *export_cmd = nullptr, *check_solution_cmd = nullptr;
    CLI::App *bound_cmd = nullptr, *place_cmd = nullptr;
    CLI::App *run_cmd = nullptr, *results_cmd = nullptr;
    CLI::Option* objective = nullptr;
};

void add_reading_commands(CommandLine& c) {
    c.check_cmd =
        c.app.add_subcommand("check", "Check the files against everything defectgen guarantees");
    add_set_options(c.check_cmd, c.check);

    c.verify_cmd = c.app.add_subcommand(
        "verify", "Regenerate the set from its answers and compare it byte for byte");
    add_set_options(c.verify_cmd, c.verify, true);

    c.stats_cmd = c.app.add_subcommand("stats", "Figures of the set for a paper's table");
    add_set_options(c.stats_cmd, c.stats.set);
    c.stats_cmd->add_flag("--per-instance", c.stats.per_instance, "Figures for every instance too");
    c.stats_cmd->add_flag("--json", c.stats.json, "One JSON document instead of tables");
}

void add_export(CommandLine& c) {
    ExportOptions& exp = c.exp;
    CLI::App* export_cmd =
        c.app.add_subcommand("export", "Write the set in a format that solvers read");
    c.export_cmd = export_cmd;
    add_set_options(export_cmd, exp.set);
    export_cmd->add_option("--format", exp.format, "jsonl or packingsolver")
        ->required()
        ->check(CLI::IsMember({"jsonl", "packingsolver"}));
    export_cmd
        ->add_option("--out", exp.out,
                     "The file (jsonl; - for standard output) or folder (packingsolver)")
        ->required();
    export_cmd->add_option("--instance", exp.instance, "Export this instance only (from 1)")
        ->check(whole_number(1, MAXMOD));
    export_cmd->add_flag("--allow-rotation", exp.allow_rotation,
                         "Items may be turned by 90 degrees");
    c.objective =
        export_cmd->add_option("--objective", exp.objective, "knapsack (default) or bin-packing")
            ->check(CLI::IsMember({"knapsack", "bin-packing"}));
    export_cmd->add_flag("--force", exp.force, "Write into a target that is not empty");
}

void add_placement_commands(CommandLine& c) {
    CheckSolutionOptions& cs = c.check_solution;
    CLI::App* cs_cmd = c.app.add_subcommand("check-solution",
                                            "Check that a placement of one instance is feasible");
    c.check_solution_cmd = cs_cmd;
    add_set_options(cs_cmd, cs.set);
    cs_cmd->add_option("--instance", cs.instance, "The instance (from 1)")
        ->required()
        ->check(whole_number(1, MAXMOD));
    cs_cmd->add_option("--solution", cs.placement, "The placement, a CSV file")->required();
    cs_cmd->add_flag("--allow-rotation", cs.allow_rotation, "Items may be turned by 90 degrees");

    DrawOptions& draw = c.draw;
    CLI::App* draw_cmd = c.app.add_subcommand("draw", "Draw an instance, or a placement, as SVG");
    add_set_options(draw_cmd, draw.set);
    draw_cmd->add_option("--instance", draw.instance, "The instance (from 1)")
        ->required()
        ->check(whole_number(1, MAXMOD));
    draw_cmd->add_option("--out", draw.out, "The SVG file (- for standard output)")->required();
    draw_cmd->add_option("--solution", draw.placement, "A placement to draw");
    draw_cmd->add_option("--max-objects", draw.max_objects, "Objects drawn at most (default 12)")
        ->check(whole_number(1, MAXMOD));
    draw_cmd->add_flag("--allow-rotation", draw.allow_rotation,
                       "Items of the placement may be turned by 90 degrees");
    draw_cmd->add_flag("--force", draw.force, "Write over a picture that is not empty");
}

void add_bound_and_place(CommandLine& c) {
    BoundOptions& bound = c.bound;
    c.bound_cmd = c.app.add_subcommand(
        "bound", "Upper bounds on the area any placement reaches, per instance");
    add_set_options(c.bound_cmd, bound.set);
    c.bound_cmd->add_option("--instance", bound.instance, "This instance only (from 1)")
        ->check(whole_number(1, MAXMOD));
    c.bound_cmd->add_flag("--allow-rotation", bound.allow_rotation,
                          "Items may be turned by 90 degrees");
    c.bound_cmd->add_flag("--json", bound.json, "One JSON document instead of tables");

    PlaceOptions& place = c.place;
    c.place_cmd = c.app.add_subcommand("place", "Place the items with the fast baseline placer");
    add_set_options(c.place_cmd, place.set);
    c.place_cmd
        ->add_option("--out", place.out,
                     "The placement file, or with several instances the folder of instance-K.csv")
        ->required();
    c.place_cmd->add_option("--instance", place.instance, "This instance only (from 1)")
        ->check(whole_number(1, MAXMOD));
    c.place_cmd->add_flag("--allow-rotation", place.allow_rotation,
                          "Items may be turned by 90 degrees");
    c.place_cmd
        ->add_option("--passes", place.passes, "Item orders tried, the best kept (default 4)")
        ->check(whole_number(1, 16));
}

void add_run_and_results(CommandLine& c) {
    RunOptions& run = c.run;
    run.version = DEFECTKIT_VERSION;
    CLI::App* run_cmd = c.app.add_subcommand(
        "run", "Run a solver on every instance, check each placement, and tabulate the results");
    c.run_cmd = run_cmd;
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
        ->check(whole_number(1, std::int64_t{1} << 31));
    run_cmd->add_option("--grace", run.grace, "Seconds past time limit x 1.1 (default 5)")
        ->check(CLI::Range(0.0, 1e6));
    run_cmd->add_option("--memory-limit", run.memory_limit, "MB of address space per solver")
        ->check(whole_number(1, std::int64_t{1} << 40));
    run_cmd->add_option("--jobs", run.jobs, "Solvers run at once (default 1)")
        ->check(whole_number(1, 1024));
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

    c.results_cmd = c.app.add_subcommand("results", "The tables and the summary of a run folder");
    c.results_cmd->add_option("DIR", c.results.dir, "The run folder")->required();
    c.results_cmd->add_flag("--json", c.results.json, "The summary as one JSON document");
}

// A first word that is no option and no command: named with the commands, rather than
// CLI11's "A subcommand is required".
bool unknown_command(CLI::App& app, int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') {
        return false;
    }
    for (const CLI::App* command : app.get_subcommands({})) {
        if (command->get_name() == argv[1]) {
            return false;
        }
    }
    std::cerr << "defectkit: there is no command \"" << argv[1]
              << "\"; the commands are check, verify, stats, export, check-solution, draw, bound, "
                 "place, run and results (defectkit --help tells more)\n";
    return true;
}

// The parsed command, run. Memory or a thread that cannot be had ends it with a message,
// not an abort.
int run_command(CommandLine& c) {
    try {
        if (c.check_cmd->parsed()) {
            return run_check(c.check);
        }
        if (c.verify_cmd->parsed()) {
            return run_verify(c.verify);
        }
        if (c.stats_cmd->parsed()) {
            return run_stats(c.stats);
        }
        if (c.export_cmd->parsed()) {
            c.exp.objective_given = c.objective->count() > 0;
            return run_export(c.exp);
        }
        if (c.check_solution_cmd->parsed()) {
            return run_check_solution(c.check_solution);
        }
        if (c.bound_cmd->parsed()) {
            return run_bound(c.bound);
        }
        if (c.place_cmd->parsed()) {
            return run_place(c.place);
        }
        if (c.run_cmd->parsed()) {
            return run_run(c.run);
        }
        if (c.results_cmd->parsed()) {
            return run_results(c.results);
        }
        return run_draw(c.draw);
    } catch (const std::bad_alloc&) {
        std::cerr << "defectkit: out of memory\n";
    } catch (const std::system_error& error) {
        std::cerr << "defectkit: cannot start a thread: " << error.what() << "\n";
    }
    return 2;
}

int parse_and_run(int argc, char** argv) {
    CommandLine c;
    c.app.set_version_flag("--version", std::string("defectkit ") + DEFECTKIT_VERSION);
    c.app.require_subcommand(1);
    add_reading_commands(c);
    add_export(c);
    add_placement_commands(c);
    add_bound_and_place(c);
    add_run_and_results(c);
    // --version answers on every subcommand too, as --help does.
    for (CLI::App* sub : c.app.get_subcommands({})) {
        sub->set_version_flag("--version", std::string("defectkit ") + DEFECTKIT_VERSION);
    }
    if (unknown_command(c.app, argc, argv)) {
        return 2;
    }
    try {
        c.app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int status = c.app.exit(e);
        return status == 0 ? 0 : 2;
    }
    return run_command(c);
}

} // namespace

// Every command ends by delivering its standard output: a verdict that could not be
// written is exit 2, never success.
int main(int argc, char** argv) {
    guard_standard_streams();
    install_signal_cleanup();
    int status = 2;
    try {
        status = parse_and_run(argc, argv);
    } catch (const std::bad_alloc&) {
        // Memory that cannot be had while the command line itself is set up.
        std::cerr << "defectkit: out of memory\n";
    }
    if (!deliver_stdout()) {
        return 2;
    }
    return status;
}
