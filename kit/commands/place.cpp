// defectkit place: the baseline placer run on every instance of a set (or one), each
// placement written whole as the placement CSV that check-solution reads: one file, or
// PATH/instance-K.csv per instance when there are several. The placer itself is
// geometry/placer.h.
#include "commands/commands.h"
#include "commands/export.h"

#include "geometry/placement_check.h"
#include "geometry/placer.h"
#include "output/progress.h"
#include "output/safe_output.h"
#include "read/set_reader.h"

#include <filesystem>
#include <iostream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// One file, or a folder made when missing; false with the problem on stderr.
bool prepare_target(const std::string& out, bool folder) {
    std::error_code error;
    const fs::file_status status = fs::status(out, error);
    if (!folder) {
        if (fs::is_directory(status)) {
            std::cerr << "defectkit: " << out
                      << " is a folder; one instance is placed in one file\n";
            return false;
        }
        return true;
    }
    if (fs::exists(status) && !fs::is_directory(status)) {
        std::cerr << "defectkit: " << out
                  << " is not a folder; several instances are placed as PATH/instance-K.csv\n";
        return false;
    }
    fs::create_directories(out, error);
    if (error) {
        std::cerr << "defectkit: cannot create the folder " << out << ": " << error.message()
                  << "\n";
        return false;
    }
    return true;
}

// Writes one instance's placement whole and tells it on stdout; false on a failed write.
bool write_instance(const Placer& placer, const std::string& path, std::int32_t number,
                    const InputPaths& inputs) {
    std::string csv;
    append_placement_csv(placer, csv);
    OutputTarget target;
    if (!open_target(target, path, inputs)) {
        return false;
    }
    write_target(target, csv);
    if (!close_target(target)) {
        return false;
    }
    const PlacerFigures f = placer_figures(placer);
    std::cout << path << ": instance " << number << ", " << f.items_placed << " of "
              << f.items_total << " items placed, on " << f.objects_used << " of "
              << f.objects_total << " objects, placed area " << f.placed_area << " ("
              << percent(f.placed_area, f.item_area) << "% of the item area)\n";
    return true;
}

} // namespace

int run_place(const PlaceOptions& options) {
    KitSet kit;
    if (const int status = open_set_for_instance(options.set, options.instance, kit)) {
        return status;
    }
    const InputPaths inputs{{kit.answers_path, kit.items_path, kit.defects_path}};
    std::int32_t held = kit.instances >= 0 ? kit.instances : -1; // -1: the reader says why
    if (held < 0) {
        (void)count_instances(kit.items_path, held);
    }
    const bool folder = options.instance == 0 && held > 1;
    if (refuse_input(options.out, inputs) || !prepare_target(options.out, folder)) {
        return 2;
    }
    SetReader reader;
    if (!open_set_reader(reader, kit)) {
        return 2;
    }
    std::vector<Item> items;
    Placer placer;
    bool found = false;
    std::int32_t number = 0;
    bool write_failed = false;
    Progress progress;
    start_progress(progress, "place", reader.bytes_total);
    read_set(reader, options.instance, progress, [&](const ObjectBatch& batch) {
        if (batch.starts_instance) {
            found = true;
            number = batch.head.number;
            items = batch.head.items;
            start_placer(placer, kit.params.object.length, kit.params.object.width, items,
                         options.allow_rotation, options.passes);
        }
        const Defect* d = batch.defects.data();
        for (const std::uint32_t size : batch.sizes) {
            place_next_object(placer, d, size);
            d += size;
        }
        if (batch.ends_instance) {
            const std::string path =
                folder ? (fs::path(options.out) / ("instance-" + std::to_string(number) + ".csv"))
                             .string()
                       : options.out;
            write_failed = !write_instance(placer, path, number, inputs);
            return !write_failed;
        }
        return true;
    });
    end_progress(progress);
    close_set_reader(reader);
    if (write_failed) {
        return 2;
    }
    if (reader.failed) {
        return report_set_problem(reader);
    }
    return found || options.instance == 0
               ? 0
               : report_no_instance(options.instance, reader.items.blocks);
}
