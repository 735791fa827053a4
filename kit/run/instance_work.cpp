// The input, the kept defects and the bound of one instance as its objects come, and the
// check of its placement afterwards (instance_work.h).
#include "run/instance_work.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t flush_size = std::size_t{1} << 20;

InputPaths set_inputs(const KitSet& set) {
    return InputPaths{{set.answers_path, set.items_path, set.defects_path}};
}

// The folder made, and what an earlier try left in it removed.
bool prepare_folder(const InstanceWork& work) {
    std::error_code error;
    fs::create_directories(work.folder, error);
    if (error) {
        std::cerr << "defectkit: cannot create the folder " << work.folder << ": "
                  << error.message() << "\n";
        return false;
    }
    for (const char* name : {"placement.csv", "placement.svg"}) {
        fs::remove(fs::path(work.folder) / name, error);
    }
    fs::remove_all(work.input, error);
    return true;
}

} // namespace

bool begin_instance_work(InstanceWork& work, const KitSet& set, const std::string& folder,
                         const std::string& shown_folder, const std::string& format,
                         bool allow_rotation, const InstanceHead& head) {
    work.number = head.number;
    work.folder = folder;
    work.jsonl = format == "jsonl";
    work.input = work.jsonl ? folder + "/input.jsonl"
                            : folder + "/" + instance_folder(head.number, head.number) + "/";
    work.placement = folder + "/placement.csv";
    work.shown = shown_folder + "/placement.csv";
    work.objects_path = folder + "/.defects.bin";
    work.head = head;
    work.objects = 0;
    start_bounds(work.bound, set.params.object.length, set.params.object.width, work.head.items,
                 allow_rotation);
    if (!prepare_folder(work) || !open_target(work.objects_file, work.objects_path, {})) {
        return false;
    }
    if (work.jsonl) {
        work.line.clear();
        append_jsonl_head(work.line, set, work.head);
        return open_target(work.jsonl_file, work.input, set_inputs(set));
    }
    work.export_options.out = folder;
    work.export_options.allow_rotation = allow_rotation;
    work.export_run.options = &work.export_options;
    work.export_run.kit = &set;
    work.export_run.inputs = set_inputs(set);
    work.export_run.largest = head.number;
    return begin_packingsolver_instance(work.export_run, work.head, work.files) == 0;
}

bool add_instance_objects(InstanceWork& work, const ObjectBatch& batch) {
    if (!work.jsonl) {
        std::int64_t object = work.objects;
        if (!add_packingsolver_objects(work.export_run, batch, work.files, object, work.bins,
                                       work.rows)) {
            close_target(work.files.bins.failed ? work.files.bins : work.files.defects);
            return false;
        }
    }
    const Defect* d = batch.defects.data();
    for (const std::uint32_t size : batch.sizes) {
        if (work.jsonl) {
            append_jsonl_object(work.line, d, size, work.objects == 0);
        }
        write_target(work.objects_file, reinterpret_cast<const char*>(&size), sizeof size);
        write_target(work.objects_file, reinterpret_cast<const char*>(d), size * sizeof(Defect));
        add_bounds_object(work.bound, d, size);
        d += size;
        ++work.objects;
    }
    if (work.jsonl && work.line.size() >= flush_size) {
        write_target(work.jsonl_file, work.line);
        work.line.clear();
    }
    if (work.jsonl_file.failed || work.objects_file.failed) {
        close_target(work.jsonl_file.failed ? work.jsonl_file : work.objects_file);
        return false;
    }
    return true;
}

bool end_instance_work(InstanceWork& work) {
    bool ok = true;
    if (work.jsonl) {
        append_jsonl_end(work.line);
        write_target(work.jsonl_file, work.line);
        work.line.clear();
        ok = close_target(work.jsonl_file);
    } else {
        ok = end_packingsolver_instance(work.files, work.bins, work.rows) == 0;
    }
    return close_target(work.objects_file) && ok;
}

void abandon_instance_work(InstanceWork& work) {
    abandon_target(work.jsonl_file);
    abandon_target(work.objects_file);
    if (!work.jsonl && work.export_run.options != nullptr) {
        remove_packingsolver_instance(work.files);
    }
}

void remove_instance_input(InstanceWork& work, bool keep_input) {
    std::error_code ignored;
    if (!keep_input) {
        fs::remove_all(work.input, ignored);
    }
    fs::remove(work.objects_path, ignored);
}
