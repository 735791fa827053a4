// The verdict on a solver's placement: missing, unreadable (it cannot be read, or it is no
// placement file at all: no header), infeasible with check-solution's first violation, or
// feasible with its figures. The instance's defects come back from the work folder's file,
// object by object.
#include "run/instance_work.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <sys/stat.h>

namespace {

// Runs `read` with stderr captured, for the reader's own message.
template <typename Read> bool captured(std::string& message, Read read) {
    std::ostringstream text;
    std::streambuf* const old = std::cerr.rdbuf(text.rdbuf());
    const bool ok = read();
    std::cerr.rdbuf(old);
    message = text.str();
    while (!message.empty() && message.back() == '\n') {
        message.pop_back();
    }
    return ok;
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; !from.empty() && (at = text.find(from, at)) != std::string::npos;
         at += to.size()) {
        text.replace(at, from.size(), to);
    }
}

bool is_no_header(const std::vector<PlacementProblem>& problems) {
    return !problems.empty() && problems.front().line == 1 &&
           (problems.front().message.rfind("the header is not", 0) == 0 ||
            problems.front().message.rfind("the file is empty", 0) == 0);
}

// Every object of the instance through the check, from the kept defects.
bool check_objects(InstanceWork& work, PlacementRun& run) {
    std::FILE* file = std::fopen(work.objects_path.c_str(), "rb");
    if (file == nullptr) {
        std::cerr << "defectkit: cannot read " << work.objects_path << ": " << std::strerror(errno)
                  << "\n";
        return false;
    }
    std::vector<Defect> defects;
    bool ok = true;
    for (std::int64_t object = 0; ok && object < work.objects; ++object) {
        std::uint32_t size = 0;
        ok = std::fread(&size, sizeof size, 1, file) == 1;
        defects.resize(size);
        ok = ok && (size == 0 || std::fread(defects.data(), sizeof(Defect), size, file) == size);
        if (!ok) {
            std::cerr << "defectkit: cannot read " << work.objects_path << ": it is cut short\n";
        }
        ok = ok && check_next_object(run, defects, {});
    }
    std::fclose(file);
    return ok;
}

} // namespace

bool check_instance_placement(InstanceWork& work, const KitSet& set, bool allow_rotation,
                              PlacementVerdict& verdict) {
    verdict = PlacementVerdict{};
    struct stat st {};
    if (::lstat(work.placement.c_str(), &st) != 0 && errno == ENOENT) {
        return true; // missing
    }
    Placement placement;
    const bool read = captured(verdict.message, [&] {
        return read_placement(work.placement, work.head.items.size(), placement);
    });
    replace_all(verdict.message, work.placement, work.shown);
    if (!read || is_no_header(placement.problems)) {
        verdict.placement = "unreadable";
        if (read) {
            verdict.message = work.shown + ":1: " + placement.problems.front().message;
        }
        close_placement(placement);
        return true;
    }
    PlacementRun run;
    start_placement_check(run, set, work.head, placement, allow_rotation);
    std::string again;
    bool ok = true;
    captured(again, [&] { return ok = check_objects(work, run); });
    close_placement(placement);
    if (!ok) {
        std::cerr << again << "\n";
        return false;
    }
    finish_placement_check(run);
    const std::vector<PlacementProblem> problems = all_problems(placement, run.result);
    verdict.summary = run.result.summary;
    if (problems.empty()) {
        verdict.placement = "feasible";
        verdict.message.clear();
        return true;
    }
    verdict.placement = "infeasible";
    verdict.message =
        work.shown + ":" + std::to_string(problems.front().line) + ": " + problems.front().message;
    return true;
}
