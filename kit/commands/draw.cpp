// draw: one SVG picture of an instance (its first objects with their defects, and its item
// types by decreasing area), or of a placement of it (the objects it uses, every placed
// item, the violations outlined red, and the summary of check-solution as the caption).
#include "commands/commands.h"
#include "geometry/placement_check.h"
#include "output/progress.h"
#include "output/safe_output.h"
#include "read/set_reader.h"
#include "output/svg.h"

#include <algorithm>
#include <iostream>

namespace {

std::string file_name(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Keeps an object for the picture, with at most `defect_limit` of its defects.
PictureObject keep(std::int64_t index, const std::vector<Defect>& defects,
                   std::int64_t defect_limit) {
    PictureObject o;
    o.index = index;
    o.defects_total = static_cast<std::int64_t>(defects.size());
    const auto kept = static_cast<std::size_t>(std::min(o.defects_total, defect_limit));
    o.defects.assign(defects.begin(), defects.begin() + static_cast<std::ptrdiff_t>(kept));
    return o;
}

// The item types by decreasing area, ties in file order.
void sort_item_types(const InstanceHead& head, Picture& picture) {
    for (std::size_t i = 0; i < head.items.size(); ++i) {
        picture.item_types.push_back(
            {0, 0, head.items[i].length, head.items[i].width, static_cast<std::int64_t>(i), false});
    }
    std::stable_sort(
        picture.item_types.begin(), picture.item_types.end(),
        [](const PictureItem& a, const PictureItem& b) { return a.lx * a.ly > b.lx * b.ly; });
}

// "12 of 20000 objects", or "2 objects" when all are drawn.
std::string objects_note(std::int64_t shown, std::int64_t total, std::int64_t asked) {
    std::string note = shown < total ? std::to_string(shown) + " of " + std::to_string(total)
                                     : std::to_string(total);
    note += total == 1 ? " object" : " objects";
    if (shown < total && shown < asked) {
        note += " (at most " + std::to_string(picture_max_objects) + " are drawn)";
    }
    return note;
}

// "placement.csv uses 57 of the 20000 objects; 12 are drawn".
std::string placement_note(const std::string& name, std::int64_t shown, std::int64_t used,
                           std::int64_t total, std::int64_t asked) {
    std::string note = name + " uses " + std::to_string(used) + " of the " + std::to_string(total) +
                       (total == 1 ? " object; " : " objects; ");
    note += shown < used ? std::to_string(shown) + (shown == 1 ? " is drawn" : " are drawn")
                         : (used == 1 ? "it is drawn" : "all are drawn");
    if (shown < used && shown < asked) {
        note += " (at most " + std::to_string(picture_max_objects) + ")";
    }
    return note;
}

} // namespace

int run_draw(const DrawOptions& options) {
    KitSet set;
    InstanceHead head;
    const bool drawn_placement = !options.placement.empty();
    Placement placement;
    PlacementRun run;
    const std::int64_t limit = std::min<std::int64_t>(options.max_objects, picture_max_objects);
    const std::int64_t defect_limit = std::max<std::int64_t>(1, picture_max_defects / limit);
    Picture picture;
    std::int64_t objects = 0;
    std::int64_t used = 0;
    const auto draw_placed = [&](const ObjectView& view) {
        if (!view.used || ++used > limit) {
            return;
        }
        PictureObject o = keep(view.index, *view.defects, defect_limit);
        for (std::size_t i = 0; i < view.items->size(); ++i) {
            const PlacedItem& p = (*view.items)[i];
            o.items.push_back({p.x, p.y, p.lx, p.ly, placement.items[p.row].type, (*view.bad)[i]});
        }
        picture.objects.push_back(std::move(o));
    };
    const int status = read_instance(
        options.set, options.instance, "drawing", set,
        [&](const InstanceHead& read) {
            head = read;
            if (!drawn_placement) {
                return true;
            }
            if (!read_placement(options.placement, head.items.size(), placement)) {
                return false;
            }
            start_placement_check(run, set, head, placement, options.allow_rotation);
            return true;
        },
        [&](const std::vector<Defect>& defects) {
            if (drawn_placement) {
                ++objects;
                return check_next_object(run, defects, draw_placed);
            }
            if (objects < limit) {
                picture.objects.push_back(keep(objects, defects, defect_limit));
            }
            ++objects;
            return true;
        });
    picture.length = set.params.object.length;
    picture.width = set.params.object.width;
    picture.placement = drawn_placement;
    picture.title = file_name(set.from_answers ? set.answers_path : set.items_path) +
                    ", instance " + std::to_string(options.instance) + ": objects " +
                    std::to_string(picture.length) + " x " + std::to_string(picture.width);
    if (drawn_placement && status == 0) {
        finish_placement_check(run);
    }
    const PlacementCheck& check = run.result;
    close_placement(placement);
    if (status != 0) {
        return status;
    }

    const auto shown = static_cast<std::int64_t>(picture.objects.size());
    bool cut = false;
    for (const PictureObject& o : picture.objects) {
        cut = cut || static_cast<std::int64_t>(o.defects.size()) < o.defects_total;
    }
    const std::string defects_note =
        cut ? "; at most " + std::to_string(defect_limit) + " defects drawn on each object" : "";
    std::size_t problems = 0;
    if (drawn_placement) {
        picture.subtitle =
            placement_note(file_name(options.placement), shown, used, objects, options.max_objects) +
            defects_note;
        const std::vector<PlacementProblem> all = all_problems(placement, check);
        problems = all.size();
        if (all.empty()) {
            const std::string summary = summary_text(check.summary);
            std::size_t from = 0;
            for (std::size_t end = summary.find('\n'); end != std::string::npos;
                 from = end + 1, end = summary.find('\n', from)) {
                picture.caption.push_back(summary.substr(from, end - from));
            }
        } else {
            picture.caption.push_back("not feasible: " + std::to_string(all.size()) +
                                      (all.size() == 1 ? " problem" : " problems") +
                                      ", the items concerned outlined in red");
            constexpr std::size_t listed = 5;
            for (std::size_t i = 0; i < all.size() && i < listed; ++i) {
                picture.caption.push_back(file_name(options.placement) + ":" +
                                          std::to_string(all[i].line) + ": " + all[i].message);
            }
            if (all.size() > listed) {
                picture.caption.push_back("and " + std::to_string(all.size() - listed) +
                                          " more: defectkit check-solution lists them all");
            }
        }
    } else {
        picture.subtitle = objects_note(shown, objects, options.max_objects) + defects_note;
        sort_item_types(head, picture);
    }

    const std::string svg = render_svg(picture);
    OutputTarget target;
    const InputPaths inputs{{set.answers_path, set.items_path, set.defects_path, options.placement}};
    if (!open_target(target, options.out, inputs)) {
        return 2;
    }
    write_target(target, svg);
    if (!close_target(target)) {
        return 2;
    }
    if (problems > 0) {
        std::cerr << options.placement << ": the placement is not feasible (" << problems
                  << (problems == 1 ? " problem" : " problems")
                  << ", outlined red in the picture); defectkit check-solution lists them\n";
    }
    return 0;
}
