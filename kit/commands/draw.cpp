// draw: one SVG picture of an instance (its first objects with their defects, and its item
// types by decreasing area), or of a placement of it (the objects it uses, every placed
// item, the violations outlined red, and the summary of check-solution as the caption).
#include "commands/commands.h"
#include "geometry/placement_check.h"
#include "output/progress.h"
#include "output/safe_output.h"
#include "output/svg.h"
#include "read/set_reader.h"

#include <algorithm>
#include <iostream>
#include <sys/stat.h>

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

// What a drawing gathers while the instance is read.
struct Drawing {
    const DrawOptions* options = nullptr;
    bool placed = false; // a placement is drawn
    Placement placement;
    PlacementRun run;
    InstanceHead head;
    Picture picture;
    std::int64_t limit = 0;        // objects drawn at most
    std::int64_t defect_limit = 0; // defects drawn on an object at most
    std::int64_t objects = 0;      // objects read
    std::int64_t used = 0;         // objects a bin of the placement is
};

void draw_placed_object(Drawing& d, const ObjectView& view) {
    if (!view.used || ++d.used > d.limit) {
        return;
    }
    PictureObject o = keep(view.index, *view.defects, d.defect_limit);
    for (std::size_t i = 0; i < view.items->size(); ++i) {
        const PlacedItem& p = (*view.items)[i];
        o.items.push_back({p.x, p.y, p.lx, p.ly, d.placement.items[p.row].type, (*view.bad)[i]});
    }
    d.picture.objects.push_back(std::move(o));
}

// Reads the instance, and the placement once its items are known, drawing the objects.
int read_drawing(Drawing& d, KitSet& set) {
    const DrawOptions& options = *d.options;
    return read_instance(
        options.set, options.instance, "drawing", set,
        [&](const InstanceHead& head) {
            d.head = head;
            if (!d.placed) {
                return true;
            }
            if (!read_placement(options.placement, d.head.items.size(), d.placement)) {
                return false;
            }
            start_placement_check(d.run, set, d.head, d.placement, options.allow_rotation);
            return true;
        },
        [&](const std::vector<Defect>& defects) {
            if (d.placed) {
                ++d.objects;
                return check_next_object(
                    d.run, defects, [&](const ObjectView& view) { draw_placed_object(d, view); });
            }
            if (d.objects < d.limit) {
                d.picture.objects.push_back(keep(d.objects, defects, d.defect_limit));
            }
            ++d.objects;
            return true;
        });
}

// The caption of a placement: its summary, or its first problems. Returns how many.
std::uint64_t describe_placement(Drawing& d, const std::string& defects_note) {
    const DrawOptions& options = *d.options;
    Picture& picture = d.picture;
    const auto shown = static_cast<std::int64_t>(picture.objects.size());
    picture.subtitle = placement_note(file_name(options.placement), shown, d.used, d.objects,
                                      options.max_objects) +
                       defects_note;
    const std::vector<PlacementProblem> all = all_problems(d.placement, d.run.result);
    const std::uint64_t total = count_problems(d.placement, d.run.result);
    if (total == 0) {
        const std::string summary = summary_text(d.run.result.summary);
        std::size_t from = 0;
        for (std::size_t end = summary.find('\n'); end != std::string::npos;
             from = end + 1, end = summary.find('\n', from)) {
            picture.caption.push_back(summary.substr(from, end - from));
        }
        return 0;
    }
    picture.caption.push_back("not feasible: " + std::to_string(total) +
                              (total == 1 ? " problem" : " problems") +
                              ", the items concerned outlined in red");
    constexpr std::size_t listed = 5;
    for (std::size_t i = 0; i < all.size() && i < listed; ++i) {
        picture.caption.push_back(file_name(options.placement) + ":" + std::to_string(all[i].line) +
                                  ": " + all[i].message);
    }
    if (total > listed) {
        picture.caption.push_back("and " + std::to_string(total - listed) +
                                  " more: defectkit check-solution lists them");
    }
    return total;
}

// The title, subtitle and caption; returns the placement's problems.
std::uint64_t describe(Drawing& d, const KitSet& set) {
    const DrawOptions& options = *d.options;
    Picture& picture = d.picture;
    picture.length = set.params.object.length;
    picture.width = set.params.object.width;
    picture.placement = d.placed;
    picture.title = file_name(set.from_answers ? set.answers_path : set.items_path) +
                    ", instance " + std::to_string(options.instance) + ": objects " +
                    std::to_string(picture.length) + " x " + std::to_string(picture.width);
    bool cut = false;
    for (const PictureObject& o : picture.objects) {
        cut = cut || static_cast<std::int64_t>(o.defects.size()) < o.defects_total;
    }
    const std::string defects_note =
        cut ? "; at most " + std::to_string(d.defect_limit) + " defects drawn on each object" : "";
    if (d.placed) {
        return describe_placement(d, defects_note);
    }
    const auto shown = static_cast<std::int64_t>(picture.objects.size());
    picture.subtitle = objects_note(shown, d.objects, options.max_objects) + defects_note;
    sort_item_types(d.head, picture);
    return 0;
}

bool write_picture(const Picture& picture, const KitSet& set, const DrawOptions& options) {
    const std::string svg = render_svg(picture);
    OutputTarget target;
    const InputPaths inputs{
        {set.answers_path, set.items_path, set.defects_path, options.placement}};
    if (!open_target(target, options.out, inputs)) {
        return false;
    }
    write_target(target, svg);
    return close_target(target);
}

// An existing picture is replaced only with --force, as export's target is.
bool refuse_existing(const DrawOptions& options) {
    struct stat st {};
    if (options.force || options.out == "-" || ::stat(options.out.c_str(), &st) != 0 ||
        !S_ISREG(st.st_mode) || st.st_size == 0) {
        return false;
    }
    std::cerr << "defectkit: " << options.out << " is not empty; use --force to write over it\n";
    return true;
}

} // namespace

int run_draw(const DrawOptions& options) {
    if (refuse_existing(options)) {
        return 2;
    }
    KitSet set;
    Drawing d;
    d.options = &options;
    d.placed = !options.placement.empty();
    d.limit = std::min<std::int64_t>(options.max_objects, picture_max_objects);
    d.defect_limit = std::max<std::int64_t>(1, picture_max_defects / d.limit);
    const int status = read_drawing(d, set);
    close_placement(d.placement);
    if (status != 0) {
        return status;
    }
    if (d.placed) {
        finish_placement_check(d.run);
    }
    const std::uint64_t problems = describe(d, set);
    if (!write_picture(d.picture, set, options)) {
        return 2;
    }
    if (problems > 0) {
        std::cerr << options.placement << ": the placement is not feasible (" << problems
                  << (problems == 1 ? " problem" : " problems")
                  << ", outlined red in the picture); defectkit check-solution lists them\n";
    }
    return 0;
}
