// check-solution: holds a placement file against one instance of the set and reports every
// violation as FILE:LINE: message (exit 1), or the summary of a feasible placement (exit 0).
#include "commands/commands.h"
#include "geometry/placement_check.h"
#include "output/progress.h"

#include <iostream>

int run_check_solution(const CheckSolutionOptions& options) {
    KitSet set;
    SetReader reader;
    InstanceHead head;
    int status = open_instance(options.set, options.instance, set, reader, head);
    Placement placement;
    if (status == 0 && !read_placement(options.placement, head.items.size(), placement)) {
        status = 2;
    }
    PlacementCheck check;
    if (status == 0) {
        Progress progress;
        start_progress(progress, "checking the placement", reader.bytes_total);
        status = check_placement(
            reader, head, placement, options.allow_rotation,
            [&](const ObjectView&) { show_progress(progress, reader.bytes_done); }, check);
        end_progress(progress);
    }
    close_instance(reader);
    close_placement(placement);
    if (status != 0) {
        return status;
    }
    const std::vector<PlacementProblem> problems = all_problems(placement, check);
    for (const PlacementProblem& p : problems) {
        std::cerr << placement.path << ":" << p.line << ": " << p.message << "\n";
    }
    if (!problems.empty()) {
        std::cerr << placement.path << ": " << problems.size()
                  << (problems.size() == 1 ? " problem" : " problems")
                  << ": the placement of instance " << options.instance << " is not feasible\n";
        return 1;
    }
    std::cout << summary_text(check.summary);
    return 0;
}
