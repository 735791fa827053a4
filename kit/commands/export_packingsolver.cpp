// PackingSolver's CSV instance format: one folder PATH/instance-K/ per instance with
//   items.csv       WIDTH,HEIGHT,PROFIT,COPIES,ORIENTED  per item type: l,w,area,1,1 (0 rotates)
//   bins.csv        WIDTH,HEIGHT,COPIES                  per object: L,W,1
//   defects.csv     BIN,X,Y,WIDTH,HEIGHT                 per defect: object row,x1,y1,x2-x1,y2-y1
//   parameters.csv  NAME,VALUE                           objective,knapsack or bin-packing
// WIDTH and X run along the object's length, HEIGHT and Y along its width. Each object is a
// bin type of its own, since that solver attaches defects to bin types. bins.csv and
// defects.csv are written as the objects come. Each instance folder is made under a
// temporary name and renamed into place when its four files are whole, so that a folder
// instance-K is always complete; a failure removes the temporary folder.
#include "commands/export.h"
#include "output/progress.h"
#include "read/set_reader.h"

#include <filesystem>
#include <iostream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t flush_size = std::size_t{1} << 18;

void flush(OutputTarget& target, std::string& buffer) {
    write_target(target, buffer);
    buffer.clear();
}

} // namespace

// Closes what is open and removes the instance's temporary folder with what it holds.
void remove_packingsolver_instance(PackingsolverFiles& files) {
    for (OutputTarget* t : {&files.items, &files.parameters, &files.bins, &files.defects}) {
        abandon_target(*t);
    }
    abandon_folder(files.folder);
}

// Opens the instance's folder and files and writes items.csv and parameters.csv whole;
// bins.csv and defects.csv follow object by object. 0, or 2 after a reported failure (the
// instance's files then removed).
int begin_packingsolver_instance(ExportRun& run, const InstanceHead& head,
                                 PackingsolverFiles& files) {
    const ExportOptions& options = *run.options;
    files = PackingsolverFiles{};
    const fs::path folder = fs::path(options.out) / instance_folder(head.number, run.largest);
    if (!open_folder(files.folder, folder.string())) {
        return 2;
    }
    const auto open = [&](OutputTarget& target, const char* name) {
        return open_folder_file(files.folder, target, name);
    };
    if (!open(files.items, "items.csv")) {
        remove_packingsolver_instance(files);
        return 2;
    }
    std::string buffer = "WIDTH,HEIGHT,PROFIT,COPIES,ORIENTED\n";
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
    if (!close_target(files.items) || !open(files.parameters, "parameters.csv")) {
        remove_packingsolver_instance(files);
        return 2;
    }
    write_target(files.parameters, "NAME,VALUE\nobjective," + options.objective + "\n");
    if (!close_target(files.parameters) || !open(files.bins, "bins.csv") ||
        !open(files.defects, "defects.csv")) {
        remove_packingsolver_instance(files);
        return 2;
    }
    write_target(files.bins, std::string("WIDTH,HEIGHT,COPIES\n"));
    write_target(files.defects, std::string("BIN,X,Y,WIDTH,HEIGHT\n"));
    return 0;
}

// One bins.csv row per object, one defects.csv row per defect. False after a failure.
bool add_packingsolver_objects(const ExportRun& run, const ObjectBatch& batch,
                               PackingsolverFiles& files, std::int64_t& object, std::string& bins,
                               std::string& rows) {
    std::string bin_row;
    append_number(bin_row, run.kit->params.object.length);
    bin_row += ',';
    append_number(bin_row, run.kit->params.object.width);
    bin_row += ",1\n";
    const Defect* d = batch.defects.data();
    for (const std::uint32_t size : batch.sizes) {
        bins += bin_row;
        // A row: the object's number, written once for all its defects, and four numbers.
        char row[5 * 21];
        char* const numbers = put_number(row, object);
        *numbers = ',';
        for (const Defect* end = d + size; d != end; ++d) {
            char* at = put_number(numbers + 1, d->x1);
            *at++ = ',';
            at = put_number(at, d->y1);
            *at++ = ',';
            at = put_number(at, d->x2 - d->x1);
            *at++ = ',';
            at = put_number(at, d->y2 - d->y1);
            *at++ = '\n';
            rows.append(row, at);
        }
        ++object;
    }
    if (bins.size() >= flush_size) {
        flush(files.bins, bins);
    }
    if (rows.size() >= flush_size) {
        flush(files.defects, rows);
    }
    return !files.bins.failed && !files.defects.failed;
}

// Closes bins.csv and defects.csv and puts the folder in place. 0, or 2 after a reported
// failure (the folder removed).
int end_packingsolver_instance(PackingsolverFiles& files, std::string& bins, std::string& rows) {
    flush(files.bins, bins);
    flush(files.defects, rows);
    const bool bins_ok = close_target(files.bins);
    if (!bins_ok || !close_target(files.defects)) {
        remove_packingsolver_instance(files);
        return 2;
    }
    return close_folder(files.folder) ? 0 : 2;
}

std::string instance_folder(std::int32_t number, std::int32_t largest) {
    const std::string digits = std::to_string(number);
    const std::size_t width = std::to_string(largest).size();
    return "instance-" + (digits.size() < width ? std::string(width - digits.size(), '0') : "") +
           digits;
}

int export_packingsolver(ExportRun& run, SetReader& reader) {
    PackingsolverFiles files;
    bool open = false; // an instance's files are being written
    std::int64_t object = 0;
    std::string bins;
    std::string rows;
    int status = 0;
    Progress progress;
    start_progress(progress, "export", reader.bytes_total);
    // Memory that runs out midway ends the command (in main); the cut instance goes first.
    try {
        read_set(reader, run.options->instance, progress, [&](const ObjectBatch& batch) {
            if (batch.starts_instance) {
                run.found = true;
                status = begin_packingsolver_instance(run, batch.head, files);
                open = status == 0;
                object = 0;
                if (status != 0) {
                    return false;
                }
            }
            if (!add_packingsolver_objects(run, batch, files, object, bins, rows)) {
                // The failure is reported by closing the file that met it.
                close_target(files.bins.failed ? files.bins : files.defects);
                remove_packingsolver_instance(files);
                open = false;
                status = 2;
                return false;
            }
            if (batch.ends_instance) {
                status = end_packingsolver_instance(files, bins, rows);
                open = false;
            }
            return status == 0;
        });
    } catch (...) {
        end_progress(progress);
        if (open) {
            remove_packingsolver_instance(files);
        }
        throw;
    }
    end_progress(progress);
    if (reader.failed) {
        if (open) {
            remove_packingsolver_instance(files);
        }
        return 1;
    }
    return status;
}
