// defectkit bound: for each instance, upper bounds on the area that any placement reaches
// and the smallest of them, with a lower bound on the objects that bin packing needs. The
// computation is geometry/bounds.h; this file reads the set and prints.
#include "commands/commands.h"

#include "geometry/bounds.h"
#include "output/progress.h"
#include "read/set_reader.h"

#include <iostream>
#include <nlohmann/json.hpp>

namespace {

struct BoundResult {
    std::int32_t instance = 0;
    InstanceBounds bounds;
};

std::string padded(const std::string& label) {
    constexpr std::size_t width = 44;
    return label.size() >= width ? label + " " : label + std::string(width - label.size(), ' ');
}

std::string bin_packing_text(std::int64_t objects) {
    return objects < 0 ? "infeasible" : std::to_string(objects);
}

void write_text(std::ostream& out, const KitSet& kit, const std::vector<BoundResult>& results) {
    const char* separator = "";
    for (const BoundResult& r : results) {
        const InstanceBounds& b = r.bounds;
        out << separator << padded("instance " + std::to_string(r.instance)) << b.items
            << (b.items == 1 ? " item" : " items") << " on " << b.objects
            << (b.objects == 1 ? " object" : " objects") << " of " << kit.params.object.length
            << " x " << kit.params.object.width << "\n";
        for (const NamedBound& n : b.named) {
            out << padded(n.label) << n.value << "\n";
        }
        out << padded("bound") << b.bound << "\n";
        out << padded("bin packing: objects needed, at least")
            << bin_packing_text(b.bin_packing_objects) << "\n";
        separator = "\n";
    }
}

void write_json(std::ostream& out, const KitSet& kit, const std::vector<BoundResult>& results,
                bool rotation) {
    using Json = nlohmann::ordered_json;
    Json j = Json::object();
    j["answers"] = kit.from_answers ? Json(kit.answers_path) : Json(nullptr);
    j["items_file"] = kit.items_path;
    j["defects_file"] = kit.defects_path.empty() ? Json(nullptr) : Json(kit.defects_path);
    j["object"] = {{"length", kit.params.object.length}, {"width", kit.params.object.width}};
    j["allow_rotation"] = rotation;
    Json list = Json::array();
    for (const BoundResult& r : results) {
        Json named = Json::object();
        for (const NamedBound& n : r.bounds.named) {
            named[n.name] = n.value;
        }
        const std::int64_t objects = r.bounds.bin_packing_objects;
        list.push_back({{"instance", r.instance},
                        {"items", r.bounds.items},
                        {"objects", r.bounds.objects},
                        {"bounds", named},
                        {"bound", r.bounds.bound},
                        {"bin_packing_objects", objects < 0 ? Json("infeasible") : Json(objects)}});
    }
    j["instances"] = list;
    out << j.dump(2) << "\n";
}

} // namespace

int run_bound(const BoundOptions& options) {
    KitSet kit;
    if (const int status = open_set_for_instance(options.set, options.instance, kit)) {
        return status;
    }
    SetReader reader;
    if (!open_set_reader(reader, kit)) {
        return 2;
    }
    std::vector<BoundResult> results;
    std::vector<Item> items;
    BoundsRun run;
    Progress progress;
    start_progress(progress, "bound", reader.bytes_total);
    read_set(reader, options.instance, progress, [&](const ObjectBatch& batch) {
        if (batch.starts_instance) {
            items = batch.head.items;
            start_bounds(run, kit.params.object.length, kit.params.object.width, items,
                         options.allow_rotation);
            results.push_back({batch.head.number, {}});
        }
        const Defect* d = batch.defects.data();
        for (const std::uint32_t size : batch.sizes) {
            add_bounds_object(run, d, size);
            d += size;
        }
        if (batch.ends_instance) {
            results.back().bounds = finish_bounds(run);
        }
        return true;
    });
    end_progress(progress);
    close_set_reader(reader);
    if (reader.failed) {
        return report_set_problem(reader);
    }
    if (options.instance != 0 && results.empty()) {
        return report_no_instance(options.instance, reader.items.blocks);
    }
    if (options.json) {
        write_json(std::cout, kit, results, options.allow_rotation);
    } else {
        write_text(std::cout, kit, results);
    }
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "defectkit: cannot write the bounds on standard output\n";
        return 2;
    }
    return 0;
}
