#include "run_driver.h"

#include "defects_file.h"
#include "dialogue.h"
#include "items_file.h"
#include "output_file.h"

#include <new>
#include <string>
#include <utility>

namespace {

// Prints the outcome's message, waits for one number (whatever it is, or nothing at the
// end of input) and hands the outcome back.
RunOutcome pause_and_exit(std::istream& in, std::ostream& out, RunOutcome outcome) {
    put_message(out, outcome);
    out << std::flush;
    std::int32_t scratch = 0;
    (void)read_int(in, scratch);
    return outcome;
}

// Needs no memory: a run that has run out of it ends this way too.
RunOutcome ended(RunEnd end, const char* message) {
    RunOutcome outcome;
    outcome.end = end;
    outcome.message = message;
    return outcome;
}

RunOutcome file_failed(const char* name, const char* message) {
    RunOutcome outcome = ended(RunEnd::file_failure, message);
    outcome.file = name;
    return outcome;
}

// How a file that could not be opened or completed ends the run; completed when it could.
RunOutcome file_outcome(OutputStatus status, const char* name) {
    switch (status) {
    case OutputStatus::ok:
        return {};
    case OutputStatus::cannot_create:
        return file_failed(name, message::cannot_create);
    case OutputStatus::locked:
        return file_failed(name, message::locked);
    case OutputStatus::no_memory:
        return ended(RunEnd::no_memory, message::no_memory);
    case OutputStatus::no_thread:
        return ended(RunEnd::no_thread, message::no_thread);
    case OutputStatus::cannot_write:
        return file_failed(name, message::cannot_write);
    }
    return {};
}

static_assert(item_rows_per_piece * max_line_length + item_block_ends_per_piece <=
              output_slot_size);
static_assert(max_defect_piece_length <= output_slot_size);
// Only whole blocks are committed, so the pieces of one instance all wait for its last:
// they must be fewer than the ring's slots (the liveness rule of output_file.h).
static_assert((MAXMOD + item_rows_per_piece - 1) / item_rows_per_piece < output_slot_count);

// Where a piece of the items file ends: at a block end, which completes every instance
// handed over so far, so that all of it may reach the file; or cut inside an instance
// too large for one piece, which must wait for the piece that ends it.
enum class PieceEnd { block_end, cut };

// Hands the gathered rows to a worker thread and starts a new piece.
void hand_over_rows(OutputFile& file, ItemRows& piece, PieceEnd end) {
    if (piece.rows.empty() && piece.block_ends.empty()) {
        return;
    }
    output_job(
        file, [rows = std::move(piece)](char* begin) { return put_item_rows(begin, rows); },
        end == PieceEnd::block_end);
    piece = ItemRows{};
    piece.rows.reserve(item_rows_per_piece);
}

// When memory runs out: the complete blocks still gathered go out if memory allows,
// nothing after them, so that the file holds whole blocks only.
OutputStatus abandon_items(OutputFile& file, ItemRows& piece) {
    try {
        piece.rows.resize(piece.block_ends.empty() ? 0 : piece.block_ends.back());
        hand_over_rows(file, piece, PieceEnd::block_end);
    } catch (const std::bad_alloc&) {
        // Those blocks are lost; the file still ends after a complete one.
    }
    (void)abandon_output(file);
    return OutputStatus::no_memory;
}

// The item phase. Each instance's items are generated in order on this thread; their
// lines are formatted on the worker threads, in pieces of whole rows that split an
// instance only when it does not fit a piece alone.
RunOutcome write_items_file(RunState& s, OutputSink& sink, OutputFile& file) {
    const RunParams& p = s.params;
    if (const OutputStatus opened = open_output(file, p.filename, sink, output_worker_count);
        opened != OutputStatus::ok) {
        return file_outcome(opened, p.filename);
    }
    ItemRows piece;
    OutputStatus status = OutputStatus::ok;
    try {
        piece.rows.reserve(item_rows_per_piece);
        for (std::int32_t instance = 1; instance <= p.no_instances && !file.failed; ++instance) {
            if (!generate_item_types(p, s.stream, s.items)) {
                // The earlier instances' blocks go out complete and nothing of this one. A
                // write failure meanwhile is the graver news: then even they are incomplete.
                hand_over_rows(file, piece, PieceEnd::block_end);
                status = close_output(file);
                return status == OutputStatus::ok
                           ? ended(RunEnd::item_failure, item_failure_message)
                           : file_outcome(status, p.filename);
            }
            if (piece.rows.size() + static_cast<std::size_t>(p.no_items) > item_rows_per_piece) {
                hand_over_rows(file, piece, PieceEnd::block_end);
            }
            // The instance's rows are copied in runs that fill the piece.
            const Rectangle* next = s.items.item.data();
            const Rectangle* const last = next + (p.no_items > 0 ? p.no_items : 0);
            while (next != last) {
                const auto room =
                    static_cast<std::ptrdiff_t>(item_rows_per_piece - piece.rows.size());
                const Rectangle* const end = last - next < room ? last : next + room;
                piece.rows.insert(piece.rows.end(), next, end);
                next = end;
                // A full piece goes out here only while the instance goes on; one that
                // its last item fills waits for the block end, so that it is whole.
                // Otherwise instances that fill pieces exactly would leave every piece
                // uncommitted, and the ring would hold them all back.
                if (piece.rows.size() == item_rows_per_piece && next != last) {
                    hand_over_rows(file, piece, PieceEnd::cut);
                }
            }
            piece.block_ends.push_back(static_cast<std::uint32_t>(piece.rows.size()));
            if (piece.block_ends.size() == item_block_ends_per_piece ||
                piece.rows.size() == item_rows_per_piece) {
                hand_over_rows(file, piece, PieceEnd::block_end);
            }
        }
        hand_over_rows(file, piece, PieceEnd::block_end);
        status = close_output(file);
    } catch (const std::bad_alloc&) {
        status = abandon_items(file, piece);
    }
    return file_outcome(status, p.filename);
}

// The defect phase. The counts of each instance are drawn here, in order; every placed
// defect then takes draws_per_defect draws, so the stream position of each piece's
// first defect is known and the pieces go to the worker threads.
RunOutcome write_defects_file(RunState& s, OutputSink& sink, OutputFile& file) {
    const RunParams& p = s.params;
    if (const OutputStatus opened = open_output(file, p.defectfilename, sink, output_worker_count);
        opened != OutputStatus::ok) {
        return file_outcome(opened, p.defectfilename);
    }
    OutputStatus status = OutputStatus::ok;
    try {
        for (std::int32_t instance = 1; instance <= p.no_instances && !file.failed; ++instance) {
            draw_defect_counts(p, s.stream, s.counts);
            const std::int32_t base = s.stream.rng_state;
            std::uint64_t defects_before = 0;
            std::int32_t o = 0;
            do {
                DefectPiece piece;
                o = gather_defect_piece(p, s.counts, instance, o, base, defects_before, piece);
                output_job(file, [&p, piece = std::move(piece)](char* begin) {
                    return put_defect_piece(begin, p, piece);
                });
            } while (o < p.no_objects && !file.failed);
            s.stream.rng_state = random_state_after(base, draws_per_defect * defects_before);
        }
        status = close_output(file);
    } catch (const std::bad_alloc&) {
        (void)close_output(file);
        status = OutputStatus::no_memory;
    }
    return file_outcome(status, p.defectfilename);
}

// The order of a run up to the closing prompt.
RunOutcome run_phases(RunState& s, std::istream& in, std::ostream& out, OutputSink& sink) {
    const RunParams& p = s.params;
    if (RunOutcome asked = run_dialogue(in, out, s.params, sink); asked.end != RunEnd::completed) {
        return asked;
    }
    seed_random_stream(s.stream, p.seed);
    // Each file stays locked until the run is over, so that no other run can replace
    // the items file while this one writes the defects file.
    OutputFile items_file;
    OutputFile defects_file;
    if (RunOutcome items = write_items_file(s, sink, items_file); items.end != RunEnd::completed) {
        return items;
    }
    if (p.no_def_type <= 0) {
        return {};
    }
    // Two names of one file may show only now that the items file exists.
    if (names_one_file(sink, p.filename, p.defectfilename)) {
        return ended(RunEnd::same_file, message::same_file);
    }
    return write_defects_file(s, sink, defects_file);
}

} // namespace

RunOutcome run_program(RunState& s, std::istream& in, std::ostream& out, OutputSink& sink) {
    RunOutcome outcome;
    try {
        outcome = run_phases(s, in, out, sink);
    } catch (const std::bad_alloc&) {
        outcome = ended(RunEnd::no_memory, message::no_memory);
    }
    if (outcome.end != RunEnd::completed) {
        return pause_and_exit(in, out, std::move(outcome));
    }
    out << closing_prompt << std::flush;
    std::int32_t i = 0;
    (void)read_int(in, i);
    return outcome;
}

int exit_status(const RunOutcome& outcome) {
    return outcome.end == RunEnd::completed ? 0 : 1;
}

void put_message(std::ostream& out, const RunOutcome& outcome) {
    if (outcome.end == RunEnd::file_failure) {
        out << "The file " << outcome.file;
    }
    if (outcome.message != nullptr) {
        out << outcome.message;
    }
}
