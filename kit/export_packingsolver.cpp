// PackingSolver's CSV instance format: one folder PATH/instance-K/ per instance with
//   items.csv       WIDTH,HEIGHT,PROFIT,COPIES,ORIENTED  per item type: l,w,area,1,1 (0 rotates)
//   bins.csv        WIDTH,HEIGHT,COPIES                  per object: L,W,1
//   defects.csv     BIN,X,Y,WIDTH,HEIGHT                 per defect: object row,x1,y1,x2-x1,y2-y1
//   parameters.csv  NAME,VALUE                           objective,knapsack or bin-packing
// WIDTH and X run along the object's length, HEIGHT and Y along its width. Each object is a
// bin type of its own, since that solver attaches defects to bin types. bins.csv and
// defects.csv are written as the objects come; a failed write removes the instance's files.
#include "export.h"
#include "progress.h"

#include <filesystem>
#include <iostream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t flush_size = std::size_t{1} << 18;

// The four files of one instance, in the order they are opened, and its folder.
struct InstanceFiles {
    OutputTarget items, parameters, bins, defects;
    fs::path folder;
    bool made_folder = false; // this run made it, so it goes when it stays empty
};

void flush(OutputTarget& target, std::string& buffer) {
    write_target(target, buffer);
    buffer.clear();
}

// Closes what is open and removes every file of the instance written so far: a folder
// that lacks one of its files, or holds a cut one, must not look like a whole instance.
void remove_instance(InstanceFiles& files) {
    for (OutputTarget* t : {&files.items, &files.parameters, &files.bins, &files.defects}) {
        abandon_target(*t);
    }
    if (files.made_folder) {
        std::error_code ignored;
        fs::remove(files.folder, ignored); // only when empty
    }
}

// 0 when the instance's files are written; 2 after a reported failure (its files removed);
// 1 on a problem in the set (its files removed too).
int write_instance(ExportRun& run, SetReader& reader, const InstanceHead& head,
                   std::vector<Defect>& defects) {
    const ExportOptions& options = *run.options;
    const fs::path folder = fs::path(options.out) / instance_folder(head.number, run.largest);
    InstanceFiles files;
    files.folder = folder;
    std::error_code error;
    files.made_folder = fs::create_directory(folder, error);
    if (error || !fs::is_directory(folder)) {
        std::cerr << "defectkit: cannot create the folder " << folder.string() << ": "
                  << (error ? error.message() : "a file of that name is in the way") << "\n";
        return 2;
    }
    std::string buffer;
    const auto open = [&](OutputTarget& target, const char* name) {
        return open_target(target, (folder / name).string(), run.inputs);
    };
    // A failure to write: reported by close_target, which removes that file; the others go.
    const auto fail = [&](OutputTarget& target) {
        close_target(target);
        remove_instance(files);
        return 2;
    };

    if (!open(files.items, "items.csv")) {
        remove_instance(files);
        return 2;
    }
    buffer = "WIDTH,HEIGHT,PROFIT,COPIES,ORIENTED\n";
    const char* oriented = options.allow_rotation ? ",1,0\n" : ",1,1\n";
    for (const Item& item : head.items) {
        append_number(buffer, item.length);
        buffer += ',';
        append_number(buffer, item.width);
        buffer += ',';
        append_number(buffer, item.area);
        buffer += oriented;
        if (buffer.size() >= flush_size) {
            flush(files.items, buffer);
        }
    }
    flush(files.items, buffer);
    if (!close_target(files.items)) {
        remove_instance(files);
        return 2;
    }

    if (!open(files.parameters, "parameters.csv")) {
        remove_instance(files);
        return 2;
    }
    write_target(files.parameters, "NAME,VALUE\nobjective," + options.objective + "\n");
    if (!close_target(files.parameters)) {
        remove_instance(files);
        return 2;
    }

    if (!open(files.bins, "bins.csv") || !open(files.defects, "defects.csv")) {
        remove_instance(files);
        return 2;
    }
    std::string bins = "WIDTH,HEIGHT,COPIES\n";
    buffer = "BIN,X,Y,WIDTH,HEIGHT\n";
    std::string bin_row;
    append_number(bin_row, run.kit->params.object.length);
    bin_row += ',';
    append_number(bin_row, run.kit->params.object.width);
    bin_row += ",1\n";
    std::int64_t object = 0;
    while (next_object(reader, defects)) {
        bins += bin_row;
        for (const Defect& d : defects) {
            append_number(buffer, object);
            buffer += ',';
            append_number(buffer, d.x1);
            buffer += ',';
            append_number(buffer, d.y1);
            buffer += ',';
            append_number(buffer, d.x2 - d.x1);
            buffer += ',';
            append_number(buffer, d.y2 - d.y1);
            buffer += '\n';
        }
        ++object;
        if (bins.size() >= flush_size) {
            flush(files.bins, bins);
        }
        if (buffer.size() >= flush_size) {
            flush(files.defects, buffer);
        }
        if (files.bins.failed) {
            return fail(files.bins);
        }
        if (files.defects.failed) {
            return fail(files.defects);
        }
    }
    if (!reader.problem.empty()) {
        remove_instance(files);
        return 1;
    }
    flush(files.bins, bins);
    flush(files.defects, buffer);
    if (!close_target(files.bins)) {
        remove_instance(files);
        return 2;
    }
    if (!close_target(files.defects)) {
        remove_instance(files);
        return 2;
    }
    return 0;
}

} // namespace

std::string instance_folder(std::int32_t number, std::int32_t largest) {
    const std::string digits = std::to_string(number);
    const std::size_t width = std::to_string(largest).size();
    return "instance-" + (digits.size() < width ? std::string(width - digits.size(), '0') : "") +
           digits;
}

int export_packingsolver(ExportRun& run, SetReader& reader) {
    const ExportOptions& options = *run.options;
    InstanceHead head;
    std::vector<Defect> defects;
    Progress progress;
    start_progress(progress, "export", reader.bytes_total);
    int status = 0;
    while (status == 0 && next_instance(reader, head)) {
        const bool wanted = options.instance == 0 || head.number == options.instance;
        if (wanted) {
            run.found = true;
            status = write_instance(run, reader, head, defects);
        } else {
            while (next_object(reader, defects)) {
            }
        }
        if (!reader.problem.empty()) {
            status = 1;
        }
        show_progress(progress, reader.bytes_done);
        if (options.instance != 0 && head.number >= options.instance) {
            break;
        }
    }
    end_progress(progress);
    if (status == 0 && !reader.problem.empty()) {
        status = 1;
    }
    return status;
}
