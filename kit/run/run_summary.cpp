// The summary of a run folder, from its results: instances done and missing, the counts
// per run and placement value, profit / bound, wall time, and every instance that is not
// feasible. As text (defectkit run and defectkit results) or as one JSON document.
#include "run/run_folder.h"

#include <cstdio>

using nlohmann::json;
using nlohmann::ordered_json;

namespace {

const char* const run_values[] = {"ok",   "timeout",       "crashed",
                                  "exit", "out-of-memory", "not-started"};
const char* const placement_values[] = {"feasible", "infeasible", "missing", "unreadable"};

struct Figures {
    std::int64_t done = 0;
    std::int64_t missing = 0;
    ordered_json runs, placements;
    std::int64_t feasible = 0;
    double ratio_sum = 0;
    double ratio_min = 0;
    std::int64_t at_bound = 0;
    double wall_sum = 0;
    double wall_max = 0;
    std::vector<const json*> failures;
};

Figures figures(const std::vector<json>& results, std::int64_t instances) {
    Figures f;
    f.done = static_cast<std::int64_t>(results.size());
    f.missing = instances > f.done ? instances - f.done : 0;
    for (const char* v : run_values) {
        f.runs[v] = 0;
    }
    for (const char* v : placement_values) {
        f.placements[v] = 0;
    }
    for (const json& r : results) {
        const std::string run = r.value("run", "");
        const std::string placement = r.value("placement", "");
        f.runs[run] = f.runs.value(run, 0) + 1;
        f.placements[placement] = f.placements.value(placement, 0) + 1;
        const double wall = r.value("wall_s", 0.0);
        f.wall_sum += wall;
        f.wall_max = std::max(f.wall_max, wall);
        if (placement != "feasible") {
            f.failures.push_back(&r);
            continue;
        }
        const std::int64_t bound = r.value("bound", std::int64_t{0});
        const std::int64_t profit = r.value("profit", std::int64_t{0});
        const double ratio =
            bound > 0 ? static_cast<double>(profit) / static_cast<double>(bound) : 1.0;
        f.ratio_min = f.feasible == 0 ? ratio : std::min(f.ratio_min, ratio);
        f.ratio_sum += ratio;
        f.at_bound += profit >= bound ? 1 : 0;
        ++f.feasible;
        if (run != "ok") {
            f.failures.push_back(&r);
        }
    }
    return f;
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string counts(const ordered_json& values) {
    std::string text;
    for (const auto& [name, count] : values.items()) {
        if (count.get<std::int64_t>() > 0) {
            text +=
                (text.empty() ? "" : ", ") + std::to_string(count.get<std::int64_t>()) + " " + name;
        }
    }
    return text.empty() ? "none" : text;
}

std::string failure_line(const json& r) {
    std::string line =
        "  instance " + std::to_string(r.value("instance", 0)) + ": run " + r.value("run", "");
    if (r.value("signal", json()).is_number()) {
        line += " (signal " + std::to_string(r["signal"].get<int>()) + ")";
    }
    if (r.value("exit_code", json()).is_number()) {
        line += " (exit code " + std::to_string(r["exit_code"].get<int>()) + ")";
    }
    line += ", placement " + r.value("placement", "");
    if (r.value("message", json()).is_string()) {
        line += ": " + r["message"].get<std::string>();
    }
    return line + "\n";
}

} // namespace

std::string run_summary_text(const std::vector<json>& results, std::int64_t instances) {
    const Figures f = figures(results, instances);
    std::string text = "instances       " + std::to_string(f.done) + " done, " +
                       std::to_string(f.missing) + " missing\n";
    text += "run             " + counts(f.runs) + "\n";
    text += "placement       " + counts(f.placements) + "\n";
    if (f.feasible > 0) {
        text += "profit / bound  mean " + fixed(f.ratio_sum / static_cast<double>(f.feasible), 6) +
                ", min " + fixed(f.ratio_min, 6) + ", " + std::to_string(f.at_bound) +
                " at the bound (proven optimal)\n";
    } else {
        text += "profit / bound  no feasible placement\n";
    }
    if (f.done > 0) {
        text += "wall time       mean " + fixed(f.wall_sum / static_cast<double>(f.done), 3) +
                " s, max " + fixed(f.wall_max, 3) + " s, total " + fixed(f.wall_sum, 3) + " s\n";
    }
    if (!f.failures.empty()) {
        text += "not ok or not feasible:\n";
        for (const json* r : f.failures) {
            text += failure_line(*r);
        }
    }
    return text;
}

std::string run_summary_json(const std::vector<json>& results, std::int64_t instances) {
    const Figures f = figures(results, instances);
    ordered_json j;
    j["instances"] = instances;
    j["done"] = f.done;
    j["missing"] = f.missing;
    j["run"] = f.runs;
    j["placement"] = f.placements;
    j["profit_to_bound"] =
        f.feasible > 0 ? ordered_json{{"mean", f.ratio_sum / static_cast<double>(f.feasible)},
                                      {"min", f.ratio_min},
                                      {"at_bound", f.at_bound}}
                       : ordered_json(nullptr);
    j["wall_s"] = {{"mean", f.done > 0 ? f.wall_sum / static_cast<double>(f.done) : 0.0},
                   {"max", f.wall_max},
                   {"total", f.wall_sum}};
    j["not_ok"] = ordered_json::array();
    for (const json* r : f.failures) {
        j["not_ok"].push_back({{"instance", r->value("instance", 0)},
                               {"run", r->value("run", "")},
                               {"placement", r->value("placement", "")},
                               {"message", r->value("message", json())}});
    }
    return j.dump() + "\n";
}

bool all_feasible(const std::vector<json>& results, std::int64_t instances) {
    const Figures f = figures(results, instances);
    return f.missing == 0 && f.failures.empty();
}
