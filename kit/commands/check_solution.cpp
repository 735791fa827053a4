// check-solution: holds a placement file against one instance of the set and reports every
// violation as FILE:LINE: message (exit 1), or the summary of a feasible placement (exit 0).
#include "commands/commands.h"
#include "geometry/placement_check.h"

#include <iostream>

int run_check_solution(const CheckSolutionOptions& options) {
    KitSet set;
    InstanceHead head;
    Solution solution;
    PlacementRun run;
    const int status = read_instance(
        options.set, options.instance, "checking the placement", set,
        [&](const InstanceHead& read) {
            head = read;
            if (!read_solution(options.solution, head.items.size(), solution)) {
                return false;
            }
            start_placement_check(run, set, head, solution, options.allow_rotation);
            return true;
        },
        [&](const std::vector<Defect>& defects) { return check_next_object(run, defects, {}); });
    close_solution(solution);
    if (status != 0) {
        return status;
    }
    finish_placement_check(run);
    const PlacementCheck& check = run.result;
    const std::vector<SolutionProblem> problems = all_problems(solution, check);
    for (const SolutionProblem& p : problems) {
        std::cerr << solution.path << ":" << p.line << ": " << p.message << "\n";
    }
    if (!problems.empty()) {
        std::cerr << solution.path << ": " << problems.size()
                  << (problems.size() == 1 ? " problem" : " problems")
                  << ": the placement of instance " << options.instance << " is not feasible\n";
        return 1;
    }
    std::cout << summary_text(check.summary);
    return 0;
}
