// check-solution: holds a placement file against one instance of the set and reports every
// violation as FILE:LINE: message (exit 1), or the summary of a feasible placement (exit 0).
#include "commands/commands.h"
#include "geometry/placement_check.h"

#include <iostream>

int run_check_solution(const CheckSolutionOptions& options) {
    KitSet set;
    InstanceHead head;
    Placement placement;
    PlacementRun run;
    const int status = read_instance(
        options.set, options.instance, "checking the placement", set,
        [&](const InstanceHead& read) {
            head = read;
            if (!read_placement(options.placement, head.items.size(), placement)) {
                return false;
            }
            start_placement_check(run, set, head, placement, options.allow_rotation);
            return true;
        },
        [&](const std::vector<Defect>& defects) { return check_next_object(run, defects, {}); });
    close_placement(placement);
    if (status != 0) {
        return status;
    }
    finish_placement_check(run);
    const PlacementCheck& check = run.result;
    const std::vector<PlacementProblem> problems = all_problems(placement, check);
    for (const PlacementProblem& p : problems) {
        std::cerr << placement.path << ":" << p.line << ": " << p.message << "\n";
    }
    const std::uint64_t total = count_problems(placement, check);
    if (total > problems.size()) {
        std::cerr << placement.path << ": and " << total - problems.size()
                  << " more problems after line " << problems.back().line << "\n";
    }
    if (total > 0) {
        std::cerr << placement.path << ": " << total << (total == 1 ? " problem" : " problems")
                  << ": the placement of instance " << options.instance << " is not feasible\n";
        return 1;
    }
    std::cout << summary_text(check.summary);
    return 0;
}
