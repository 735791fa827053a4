#include "read/set_sides.h"

#include <cstring>

namespace {

// Takes the scan's first problem, or its failed read, into `problem`; true when there is one.
bool take_problem(SideProblem& problem, const LineSource& source, const ProblemList& problems) {
    if (!problem.text.empty()) {
        return true;
    }
    if (source.error != 0) {
        problem.text = source.path + ": cannot be read: " + std::strerror(source.error);
        problem.unreadable = true;
        return true;
    }
    if (problems.count > 0) {
        const Problem& first = problems.kept.front();
        problem.text = source.path + ":" + std::to_string(first.line) + ": " + first.message;
        return true;
    }
    return false;
}

} // namespace

void init_items_side(ItemsSide& side, const SetRules& rules, const std::string& path, int fd) {
    side.scan.rules = &rules;
    side.scan.stop_at_problem = true;
    init_line_source(side.scan.source, path, fd);
}

bool next_block(ItemsSide& side, InstanceHead& head) {
    head.items.clear();
    if (!side.problem.text.empty()) {
        return false;
    }
    Item item;
    for (;;) {
        const ItemsEvent event = next_items_event(side.scan, item);
        if (event == ItemsEvent::item) {
            head.items.push_back(item);
        } else if (event == ItemsEvent::block_end) {
            break;
        } else {
            take_problem(side.problem, side.scan.source, side.scan.problems);
            return false;
        }
    }
    if (take_problem(side.problem, side.scan.source, side.scan.problems)) {
        return false;
    }
    head.number = side.scan.blocks;
    return true;
}

void init_defects_side(DefectsSide& side, const SetRules& rules, const std::string& path, int fd) {
    side.scan.rules = &rules;
    side.scan.stop_at_problem = true;
    init_line_source(side.scan.source, path, fd);
}

InstanceStart next_defects_instance(DefectsSide& side) {
    InstanceStart start;
    if (!side.problem.text.empty()) {
        return start;
    }
    DefectsScan& s = side.scan;
    Defect defect;
    while (side.in_instance) {
        const DefectsEvent event = next_defects_event(s, defect);
        if (event == DefectsEvent::instance_end || event == DefectsEvent::end) {
            side.in_instance = false;
        }
    }
    if (take_problem(side.problem, s.source, s.problems)) {
        return start;
    }
    start.started = next_defects_event(s, defect) == DefectsEvent::instance_start;
    start.instance = s.instance;
    start.line = s.source.lines;
    start.end_line = s.end_line;
    start.instances = s.instances;
    side.in_instance = start.started;
    take_problem(side.problem, s.source, s.problems);
    return start;
}

bool append_object(DefectsSide& side, std::vector<Defect>& defects) {
    if (!side.problem.text.empty()) {
        return false;
    }
    DefectsScan& s = side.scan;
    Defect defect;
    while (side.in_instance) {
        if (take_plain_defects(s, defects)) {
            return !take_problem(side.problem, s.source, s.problems);
        }
        const DefectsEvent event = next_defects_event(s, defect);
        if (event == DefectsEvent::defect) {
            defects.push_back(defect);
        } else if (event == DefectsEvent::object_end) {
            return !take_problem(side.problem, s.source, s.problems);
        } else {
            side.in_instance = false;
        }
    }
    take_problem(side.problem, s.source, s.problems);
    return false;
}

SideProblem join_items_end(const std::string& items_path, std::int32_t blocks,
                           const std::string& defects_path, const InstanceStart& start,
                           const SideProblem& defects_problem) {
    if (start.started) {
        return {defects_path + ":" + std::to_string(start.line) + ": instance " +
                    std::to_string(start.instance) + " has no block in " + items_path +
                    ", which holds " + std::to_string(blocks) + " instances",
                false};
    }
    return defects_problem;
}

SideProblem join_block(const std::string& items_path, const std::string& defects_path,
                       const InstanceStart& start, const SideProblem& defects_problem) {
    if (!start.started && defects_problem.text.empty()) {
        return {defects_path + ":" + std::to_string(start.end_line) + ": the file ends after " +
                    std::to_string(start.instances) + " instances, where " + items_path +
                    " holds more",
                false};
    }
    return defects_problem;
}
