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

namespace {

int run_command_line(int argc, char** argv) {
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

    BoundOptions bound;
    CLI::App* bound_cmd =
        app.add_subcommand("bound", "Upper bounds on the area any placement reaches, per instance");
    add_set_options(bound_cmd, bound.set);
    bound_cmd->add_option("--instance", bound.instance, "This instance only (from 1)")
        ->check(CLI::Range(1, MAXMOD));
    bound_cmd->add_flag("--allow-rotation", bound.allow_rotation,
                        "Items may be turned by 90 degrees");
    bound_cmd->add_flag("--json", bound.json, "One JSON document instead of tables");

    PlaceOptions place;
    CLI::App* place_cmd =
        app.add_subcommand("place", "Place the items with the fast baseline placer");
    add_set_options(place_cmd, place.set);
    place_cmd
        ->add_option("--out", place.out,
                     "The placement file, or with several instances the folder of instance-K.csv")
        ->required();
    place_cmd->add_option("--instance", place.instance, "This instance only (from 1)")
        ->check(CLI::Range(1, MAXMOD));
    place_cmd->add_flag("--allow-rotation", place.allow_rotation,
                        "Items may be turned by 90 degrees");
    place_cmd->add_option("--passes", place.passes, "Item orders tried, the best kept (default 4)")
        ->check(CLI::Range(1, 1000));

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
        std::cerr
            << "defectkit: there is no command \"" << argv[1]
            << "\"; the commands are check, verify, stats, export, check-solution, draw, bound and "
               "place "
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
        if (bound_cmd->parsed()) {
            return run_bound(bound);
        }
        if (place_cmd->parsed()) {
            return run_place(place);
        }
        return run_draw(draw);
    } catch (const std::bad_alloc&) {
        std::cerr << "defectkit: out of memory\n";
    } catch (const std::system_error& error) {
        std::cerr << "defectkit: cannot start a thread: " << error.what() << "\n";
    }
    return 2;
}

} // namespace

// Memory that cannot be had while the command line itself is being set up ends the same way.
int main(int argc, char** argv) {
    try {
        return run_command_line(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << "defectkit: out of memory\n";
    }
    return 2;
}
