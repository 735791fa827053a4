#include "run_driver.h"

#include "defects_file.h"
#include "dialogue.h"
#include "items_file.h"

#include <array>
#include <string>
#include <vector>

namespace {

std::string cannot_create(const char* name) {
    return std::string("The file ") + name + " could not be created!";
}

std::string cannot_write(const char* name) {
    return std::string("The file ") + name + " could not be written completely!";
}

static_assert(item_rows_per_piece * max_line_length + item_block_ends_per_piece <=
              output_slot_size);

// Hands the gathered rows to a formatter thread and starts a new piece.
void hand_over_rows(OutputFile& file, ItemRows& piece) {
    if (piece.rows.empty() && piece.block_ends.empty()) {
        return;
    }
    output_job(file, [rows = std::move(piece)](char* begin) { return put_item_rows(begin, rows); });
    piece = ItemRows{};
}

// The item phase. Each instance's items are generated in order on this thread; their
// lines are formatted on the formatter threads, in pieces of whole rows. Returns the
// message that ends the run, or an empty string.
std::string write_items_file(RunState& s, MemoryFiles* memory) {
    const RunParams& p = s.params;
    OutputFile file;
    if (!open_output(file, p.filename, memory)) {
        return cannot_create(p.filename);
    }
    ItemRows piece;
    for (std::int32_t instance = 1; instance <= p.no_instances && !file.failed; ++instance) {
        if (!generate_item_types(p, s.stream, s.items)) {
            // The earlier instances' blocks go out complete and nothing of this one. A
            // write failure meanwhile is the graver news: then even they are incomplete.
            hand_over_rows(file, piece);
            if (!close_output(file)) {
                return cannot_write(p.filename);
            }
            return item_failure_message;
        }
        for (std::int32_t j = 0; j < p.no_items; ++j) {
            piece.rows.push_back(s.items.item[static_cast<std::size_t>(j)]);
            if (piece.rows.size() == item_rows_per_piece) {
                hand_over_rows(file, piece);
            }
        }
        piece.block_ends.push_back(static_cast<std::uint32_t>(piece.rows.size()));
        if (piece.block_ends.size() == item_block_ends_per_piece) {
            hand_over_rows(file, piece);
        }
    }
    hand_over_rows(file, piece);
    if (!close_output(file)) {
        return cannot_write(p.filename);
    }
    return {};
}

// Consecutive objects of one instance whose defects one formatter job places and
// writes. The chunk knows where in the random stream its first defect draws, so chunks
// can be filled on any thread, in any order, and still give the same bytes.
struct DefectChunk {
    std::int32_t instance = 0;
    bool starts_instance = false;
    bool ends_instance = false;
    std::int32_t start_state = 0;
    std::vector<std::int32_t> counts; // defects of each object of the chunk
};

// Bounds of a chunk: it must fit one output slot even when its last object carries the
// most defects an object can.
constexpr std::int64_t chunk_defects = 4096;
constexpr std::int64_t chunk_objects = 4096;
static_assert(max_header_length + (chunk_defects + MAXDEF) * max_line_length + chunk_objects + 1 <=
              output_slot_size);

char* write_defect_chunk(char* p, const RunParams& params, const DefectChunk& chunk) {
    // The chunk's draws, computed ahead so that the placements do not wait on each other.
    std::size_t defects = 0;
    for (const std::int32_t count : chunk.counts) {
        defects += count > 0 ? static_cast<std::size_t>(count) : 0;
    }
    std::array<std::int32_t, 3 * (chunk_defects + MAXDEF)> states;
    random_states(chunk.start_state, states.data(), 3 * defects);
    const std::int32_t* draw = states.data();
    if (chunk.starts_instance) {
        p = put_instance_header(p, chunk.instance);
    }
    for (const std::int32_t count : chunk.counts) {
        for (std::int32_t d = 0; d < count; ++d, draw += 3) {
            const PlacedDefect placed = place_defect(params, random_value(draw[0]),
                                                     random_value(draw[1]), random_value(draw[2]));
            p = put_defect_line(p, placed.x, placed.y,
                                params.defect[static_cast<std::size_t>(placed.type)]);
        }
        p = put_block_end(p);
    }
    if (chunk.ends_instance) {
        p = put_block_end(p);
    }
    return p;
}

// The defect phase. The counts of each instance are drawn here, in order; every placed
// defect then takes three draws, so the stream position of each chunk's first defect is
// known and the chunks go to the formatter threads. Returns the message that ends the
// run, or an empty string.
std::string write_defects_file(RunState& s, MemoryFiles* memory) {
    const RunParams& p = s.params;
    OutputFile file;
    if (!open_output(file, p.defectfilename, memory)) {
        return cannot_create(p.defectfilename);
    }
    for (std::int32_t instance = 1; instance <= p.no_instances && !file.failed; ++instance) {
        draw_defect_counts(p, s.stream, s.counts);
        const std::int32_t base = s.stream.rng_state;
        std::uint64_t defects_before = 0; // defects of the instance placed by earlier chunks
        std::int32_t o = 0;
        do {
            DefectChunk chunk;
            chunk.instance = instance;
            chunk.starts_instance = o == 0;
            chunk.start_state = random_state_after(base, 3 * defects_before);
            std::int64_t defects = 0;
            while (o < p.no_objects && defects < chunk_defects &&
                   static_cast<std::int64_t>(chunk.counts.size()) < chunk_objects) {
                const std::int32_t count = s.counts.no_defects[static_cast<std::size_t>(o)];
                chunk.counts.push_back(count);
                defects += count > 0 ? count : 0;
                ++o;
            }
            chunk.ends_instance = o >= p.no_objects;
            defects_before += static_cast<std::uint64_t>(defects);
            output_job(file, [&p, chunk = std::move(chunk)](char* begin) {
                return write_defect_chunk(begin, p, chunk);
            });
        } while (o < p.no_objects && !file.failed);
        s.stream.rng_state = random_state_after(base, 3 * defects_before);
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
