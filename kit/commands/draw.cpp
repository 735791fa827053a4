// draw: one SVG picture of an instance (its first objects with their defects, and its item
// types by decreasing area), or of a placement of it (the objects it uses, every placed
// item, the violations outlined red, and the summary of check-solution as the caption).
#include "commands/commands.h"
#include "geometry/placement_check.h"
#include "output/progress.h"
#include "output/safe_output.h"
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

// What a drawing gathers while the set is read: the picture, how much of the set it may
// hold, the objects of the instance and those the placement uses, and the check.
struct Drawing {
    Picture picture;
    std::int64_t limit = 0;        // objects drawn at most
    std::int64_t defect_limit = 0; // defects drawn at most on each object
    std::int64_t objects = 0;
    std::int64_t used = 0;
    PlacementCheck check;
};

// The picture's frame: the objects' size, the title, and how much of the set it holds, so
// that the file stays within a few megabytes.
void frame_picture(const DrawOptions& options, const KitSet& set, Drawing& d) {
    d.limit = std::min<std::int64_t>(options.max_objects, picture_max_objects);
    d.defect_limit = std::max<std::int64_t>(1, picture_max_defects / d.limit);
    Picture& picture = d.picture;
    picture.length = set.params.object.length;
    picture.width = set.params.object.width;
    picture.placement = !options.placement.empty();
    picture.title = file_name(set.from_answers ? set.answers_path : set.items_path) +
                    ", instance " + std::to_string(options.instance) + ": objects " +
                    std::to_string(picture.length) + " x " + std::to_string(picture.width);
}

// The instance alone: its first objects with their defects.
int draw_instance(SetReader& reader, Progress& progress, Drawing& d) {
    return walk_objects(
        reader,
        [&](std::int64_t object, const std::vector<Defect>& defects) {
            show_progress(progress, reader.bytes_done);
            if (object < d.limit) {
                d.picture.objects.push_back(keep(object, defects, d.defect_limit));
            }
            return 0;
        },
        d.objects);
}

// The placement, checked object by object: the first objects it uses, with their defects
// and its items on them, each marked when it breaks a rule.
int draw_placement(SetReader& reader, const InstanceHead& head, Placement& placement,
                   bool allow_rotation, Progress& progress, Drawing& d) {
    return check_placement(
        reader, head, placement, allow_rotation,
        [&](const ObjectView& view) {
            ++d.objects;
            show_progress(progress, reader.bytes_done);
            if (!view.used || ++d.used > d.limit) {
                return;
            }
            PictureObject o = keep(view.index, *view.defects, d.defect_limit);
            for (std::size_t i = 0; i < view.items->size(); ++i) {
                const PlacedItem& p = (*view.items)[i];
                o.items.push_back(
                    {p.x, p.y, p.lx, p.ly, placement.items[p.row].type, (*view.bad)[i]});
            }
            d.picture.objects.push_back(std::move(o));
        },
        d.check);
}

// "; at most 3333 defects drawn on each object" when an object drawn has more.
std::string defects_note(const Drawing& d) {
    for (const PictureObject& o : d.picture.objects) {
        if (static_cast<std::int64_t>(o.defects.size()) < o.defects_total) {
            return "; at most " + std::to_string(d.defect_limit) + " defects drawn on each object";
        }
    }
    return "";
}

// The words of a placement's picture: what it shows, and as the caption the summary of a
// feasible placement or the first problems. Returns how many problems there are.
std::size_t describe_placement(const DrawOptions& options, const Placement& placement, Drawing& d) {
    Picture& picture = d.picture;
    const std::string name = file_name(options.placement);
    const auto shown = static_cast<std::int64_t>(picture.objects.size());
    picture.subtitle =
        placement_note(name, shown, d.used, d.objects, options.max_objects) + defects_note(d);
    const std::vector<PlacementProblem> all = all_problems(placement, d.check);
    if (all.empty()) {
        const std::string summary = summary_text(d.check.summary);
        std::size_t from = 0;
        for (std::size_t end = summary.find('\n'); end != std::string::npos;
             from = end + 1, end = summary.find('\n', from)) {
            picture.caption.push_back(summary.substr(from, end - from));
        }
        return 0;
    }
    picture.caption.push_back("not feasible: " + std::to_string(all.size()) +
                              (all.size() == 1 ? " problem" : " problems") +
                              ", the items concerned outlined in red");
    constexpr std::size_t listed = 5;
    for (std::size_t i = 0; i < all.size() && i < listed; ++i) {
        picture.caption.push_back(name + ":" + std::to_string(all[i].line) + ": " + all[i].message);
    }
    if (all.size() > listed) {
        picture.caption.push_back("and " + std::to_string(all.size() - listed) +
                                  " more: defectkit check-solution lists them all");
    }
    return all.size();
}

// The words of an instance's picture: what it shows, and its item types.
void describe_instance(const DrawOptions& options, const InstanceHead& head, Drawing& d) {
    const auto shown = static_cast<std::int64_t>(d.picture.objects.size());
    d.picture.subtitle = objects_note(shown, d.objects, options.max_objects) + defects_note(d);
    sort_item_types(head, d.picture);
}

// The SVG file, whole or absent, never over one of the inputs. False, with the message
// printed, when it cannot be written.
bool write_picture(const DrawOptions& options, const KitSet& set, const Picture& picture) {
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

} // namespace

int run_draw(const DrawOptions& options) {
    KitSet set;
    SetReader reader;
    InstanceHead head;
    Placement placement;
    Drawing d;
    const bool with_placement = !options.placement.empty();
    int status = open_instance(options.set, options.instance, set, reader, head);
    if (status == 0 && with_placement &&
        !read_placement(options.placement, head.items.size(), placement)) {
        status = 2;
    }
    frame_picture(options, set, d);
    Progress progress;
    start_progress(progress, "drawing", reader.bytes_total);
    if (status == 0) {
        status = with_placement
                     ? draw_placement(reader, head, placement, options.allow_rotation, progress, d)
                     : draw_instance(reader, progress, d);
    }
    end_progress(progress);
    close_instance(reader);
    close_placement(placement);
    if (status != 0) {
        return status;
    }
    std::size_t problems = 0;
    if (with_placement) {
        problems = describe_placement(options, placement, d);
    } else {
        describe_instance(options, head, d);
    }
    if (!write_picture(options, set, d.picture)) {
        return 2;
    }
    if (problems > 0) {
        std::cerr << options.placement << ": the placement is not feasible (" << problems
                  << (problems == 1 ? " problem" : " problems")
                  << ", outlined red in the picture); defectkit check-solution lists them\n";
    }
    return 0;
}
