// defectkit export: where the export goes and which instances it holds. --out is never an
// input; it is created when missing; a target that holds something is refused unless
// --force. The formats themselves are in export_jsonl.cpp and export_packingsolver.cpp.
#include "commands/export.h"

#include "read/open_set.h"
#include "read/set_reader.h"

#include <filesystem>
#include <iostream>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

// Instances in the items file: every block ends with the file's only empty lines.
bool count_instances(const std::string& path, std::int32_t& count) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    std::vector<char> buffer(std::size_t{1} << 20);
    char previous = '\n';
    std::int64_t blocks = 0;
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        for (std::size_t i = 0; i < n; ++i) {
            if (buffer[i] == '\n' && previous == '\n') {
                ++blocks;
            }
            previous = buffer[i];
        }
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    count = blocks > MAXMOD ? MAXMOD : static_cast<std::int32_t>(blocks);
    return ok;
}

namespace {

// The jsonl target: a file (or a device); 0 to go on, else the exit status.
int check_file_target(const ExportOptions& options, const InputPaths& inputs) {
    if (options.objective_given) {
        std::cerr << "defectkit: --objective is for --format packingsolver; JSON Lines carry no "
                     "objective\n";
        return 2;
    }
    if (options.out == "-") {
        return 0; // standard output
    }
    if (refuse_input(options.out, inputs)) {
        return 2;
    }
    struct stat st {};
    if (::stat(options.out.c_str(), &st) != 0) {
        return 0; // created when opened
    }
    if (S_ISDIR(st.st_mode)) {
        std::cerr << "defectkit: " << options.out
                  << " is a folder; --format jsonl writes one file\n";
        return 2;
    }
    if (S_ISREG(st.st_mode) && st.st_size > 0 && !options.force) {
        std::cerr << "defectkit: " << options.out
                  << " is not empty; use --force to write over it\n";
        return 2;
    }
    return 0;
}

// The packingsolver target: a folder, made when missing (`made` then tells so); 0 to go on,
// else the exit status.
int check_folder_target(const ExportOptions& options, bool& made) {
    made = false;
    if (options.out == "-") {
        std::cerr << "defectkit: --format packingsolver writes a folder per instance, not "
                     "standard output\n";
        return 2;
    }
    std::error_code error;
    const fs::path out(options.out);
    const fs::file_status status = fs::status(out, error);
    if (fs::exists(status)) {
        if (!fs::is_directory(status)) {
            std::cerr << "defectkit: " << options.out
                      << " is not a folder; --format packingsolver writes a folder per instance\n";
            return 2;
        }
        if (!options.force && !fs::is_empty(out, error)) {
            std::cerr << "defectkit: " << options.out
                      << " is not empty; use --force to write into it\n";
            return 2;
        }
        return 0;
    }
    made = fs::create_directories(out, error);
    if (error) {
        std::cerr << "defectkit: cannot create the folder " << options.out << ": "
                  << error.message() << "\n";
        return 2;
    }
    return 0;
}

} // namespace

int run_export(const ExportOptions& options) {
    KitSet kit;
    if (const int status = open_set_for_instance(options.set, options.instance, kit)) {
        return status;
    }
    ExportRun run;
    run.options = &options;
    run.kit = &kit;
    run.inputs.paths = {kit.answers_path, kit.items_path, kit.defects_path};
    const bool jsonl = options.format == "jsonl";
    bool made_out = false;
    const int refused =
        jsonl ? check_file_target(options, run.inputs) : check_folder_target(options, made_out);
    if (refused != 0) {
        return refused;
    }
    SetReader reader;
    if (!open_set_reader(reader, kit)) {
        return 2;
    }
    run.largest = options.instance;
    if (!jsonl && options.instance == 0 && !count_instances(kit.items_path, run.largest)) {
        close_set_reader(reader);
        std::cerr << "defectkit: cannot read " << kit.items_path << "\n";
        return 2;
    }
    const int status = jsonl ? export_jsonl(run, reader) : export_packingsolver(run, reader);
    close_set_reader(reader);
    const bool missing = status == 0 && options.instance != 0 && !run.found;
    if (made_out && (status != 0 || missing)) {
        std::error_code ignored;
        fs::remove(options.out, ignored); // made by this run; only when still empty
    }
    if (status == 1) {
        return report_set_problem(reader);
    }
    if (missing) {
        std::cerr << "defectkit: the set has no instance " << options.instance << "\n";
        return 2;
    }
    return status;
}
