#include "defects_file.h"

#include "random_stream.h"

#include <array>

char* put_instance_header(char* p, std::int32_t instance) {
    std::memcpy(p, "instance: ", 10);
    p = put_digits(p + 10, static_cast<std::uint64_t>(instance)); // instances count from 1
    std::memcpy(p, "\n\n", 2);
    return p + 2;
}

bool defect_lines_are_small(const RunParams& p) {
    constexpr auto limit = static_cast<std::int32_t>(small_number_limit);
    if (p.object.length >= limit || p.object.width >= limit) {
        return false;
    }
    for (std::int32_t t = 0; t < p.no_def_type; ++t) {
        const Rectangle& type = p.defect[static_cast<std::size_t>(t)];
        if (type.length < 0 || type.width < 0 || type.length > p.object.length ||
            type.width > p.object.width) {
            return false;
        }
    }
    return true;
}

std::int32_t gather_defect_piece(const RunParams& p, const DefectCounts& counts,
                                 std::int32_t instance, std::int32_t first, std::int32_t base,
                                 std::uint64_t& defects_before, DefectPiece& piece) {
    piece.instance = instance;
    piece.starts_instance = first == 0;
    piece.start_state = random_state_after(base, draws_per_defect * defects_before);
    piece.counts.clear();
    std::int64_t defects = 0;
    std::int32_t o = first;
    while (o < p.no_objects && defects < defects_per_piece &&
           static_cast<std::int64_t>(piece.counts.size()) < objects_per_piece) {
        const std::int32_t count = counts.no_defects[static_cast<std::size_t>(o)];
        piece.counts.push_back(count);
        defects += count > 0 ? count : 0;
        ++o;
    }
    piece.ends_instance = o >= p.no_objects;
    defects_before += static_cast<std::uint64_t>(defects);
    return o;
}

char* put_defect_piece(char* p, const RunParams& params, const DefectPiece& piece) {
    // The piece's draws, computed ahead so that the placements do not wait on each other.
    std::size_t defects = 0;
    for (const std::int32_t count : piece.counts) {
        defects += count > 0 ? static_cast<std::size_t>(count) : 0;
    }
    std::array<std::int32_t, draws_per_defect*(defects_per_piece + MAXDEF)> states;
    random_states(piece.start_state, states.data(), draws_per_defect * defects);
    const std::int32_t* draw = states.data();
    const bool small = defect_lines_are_small(params);
    if (piece.starts_instance) {
        p = put_instance_header(p, piece.instance);
    }
    for (const std::int32_t count : piece.counts) {
        for (std::int32_t d = 0; d < count; ++d, draw += draws_per_defect) {
            const PlacedDefect placed = place_defect(params, random_value(draw[0]),
                                                     random_value(draw[1]), random_value(draw[2]));
            const Rectangle& type = params.defect[static_cast<std::size_t>(placed.type)];
            p = small ? put_small_defect_line(p, placed.x, placed.y, type)
                      : put_defect_line(p, placed.x, placed.y, type);
        }
        p = put_block_end(p);
    }
    if (piece.ends_instance) {
        p = put_block_end(p);
    }
    return p;
}
