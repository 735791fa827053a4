#include "run_driver.h"

#include "defects_file.h"
#include "dialogue.h"
#include "items_file.h"

#include <string>

namespace {

std::string cannot_create(const char* name) {
    return std::string("The file ") + name + " could not be created!";
}

std::string cannot_write(const char* name) {
    return std::string("The file ") + name + " could not be written completely!";
}

// The item phase. Returns the message that ends the run, or an empty string.
std::string write_items_file(RunState& s, MemoryFiles* memory) {
    const RunParams& p = s.params;
    OutputFile file;
    if (!open_output(file, p.filename, memory)) {
        return cannot_create(p.filename);
    }
    for (std::int32_t instance = 1; instance <= p.no_instances && !file.failed; ++instance) {
        if (!generate_item_types(p, s.stream, s.items)) {
            // The earlier instances' blocks stay complete in the file; nothing of this one
            // has been written.
            (void)close_output(file);
            return item_failure_message;
        }
        write_item_block(file, s.items, p.no_items);
    }
    if (!close_output(file)) {
        return cannot_write(p.filename);
    }
    return {};
}

// The defect phase. Returns the message that ends the run, or an empty string.
std::string write_defects_file(RunState& s, MemoryFiles* memory) {
    const RunParams& p = s.params;
    OutputFile file;
    if (!open_output(file, p.defectfilename, memory)) {
        return cannot_create(p.defectfilename);
    }
    for (std::int32_t instance = 1; instance <= p.no_instances && !file.failed; ++instance) {
        draw_defect_counts(p, s.stream, s.counts);
        write_instance_header(file, instance);
        for (std::int32_t o = 0; o < p.no_objects && !file.failed; ++o) {
            const std::int32_t count = s.counts.no_defects[static_cast<std::size_t>(o)];
            for (std::int32_t d = 0; d < count; ++d) {
                const PlacedDefect placed = place_defect(p, s.stream);
                write_defect_line(file, placed.x, placed.y,
                                  p.defect[static_cast<std::size_t>(placed.type)]);
            }
            end_object_block(file);
        }
        end_instance_block(file);
    }
    if (!close_output(file)) {
        return cannot_write(p.defectfilename);
    }
    return {};
}

} // namespace

int pause_and_exit(std::istream& in, std::ostream& out, std::string_view message) {
    out << message << std::flush;
    std::int32_t scratch = 0;
    (void)read_int(in, scratch);
    return 1;
}

int run_program(RunState& s, std::istream& in, std::ostream& out, MemoryFiles* memory) {
    if (const char* failure = run_dialogue(in, out, s.params)) {
        return pause_and_exit(in, out, failure);
    }
    seed_random_stream(s.stream, s.params.seed);
    std::string failure = write_items_file(s, memory);
    if (failure.empty() && s.params.no_def_type > 0) {
        failure = write_defects_file(s, memory);
    }
    if (!failure.empty()) {
        return pause_and_exit(in, out, failure);
    }
    out << closing_prompt << std::flush;
    std::int32_t i = 0;
    (void)read_int(in, i);
    return 0;
}
