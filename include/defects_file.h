// The defects file: per instance a header "instance: k" and an empty line, then per
// object one line "x1\ty1\tx2\ty2" per defect and an empty line ending the object, and
// one more empty line ending the instance. The pieces write into a buffer the caller
// has sized (see max_line_length) and return the end of what they wrote.
#pragma once

#include "defect_generation.h"
#include "defectgen.h"
#include "number_format.h"

#include <cstdint>
#include <vector>

// Room the header of any instance needs at most.
inline constexpr std::size_t max_header_length = 32;

char* put_instance_header(char* p, std::int32_t instance);

// x2 and y2 are single-precision sums of the converted corner and the converted type
// size, as the file has always held them.
inline char* put_defect_line(char* p, std::int32_t x, std::int32_t y, const Rectangle& type) {
    const float x1 = static_cast<float>(x);
    const float y1 = static_cast<float>(y);
    const float x2 = x1 + static_cast<float>(type.length);
    const float y2 = y1 + static_cast<float>(type.width);
    p = put_float(p, x1);
    *p++ = '\t';
    p = put_float(p, y1);
    *p++ = '\t';
    p = put_float(p, x2);
    *p++ = '\t';
    p = put_float(p, y2);
    *p++ = '\n';
    return p;
}

// Whether every number of every defect line is a whole number below small_number_limit,
// as it is when the object is smaller than that and every type lies on it: a defect's
// corners then lie between 0 and the object's sides. Such numbers are exact in single
// precision, and so are the sums of put_defect_line, which put_small_defect_line then
// forms in integers, with the same bytes.
bool defect_lines_are_small(const RunParams& params);

// put_defect_line for a run whose lines are small (defect_lines_are_small).
inline char* put_small_defect_line(char* p, std::int32_t x, std::int32_t y, const Rectangle& type) {
    p = put_small_whole(p, static_cast<std::uint32_t>(x));
    *p++ = '\t';
    p = put_small_whole(p, static_cast<std::uint32_t>(y));
    *p++ = '\t';
    p = put_small_whole(p, static_cast<std::uint32_t>(x + type.length));
    *p++ = '\t';
    p = put_small_whole(p, static_cast<std::uint32_t>(y + type.width));
    *p++ = '\n';
    return p;
}

// The empty line that ends an object's block or an instance's block.
inline char* put_block_end(char* p) {
    *p = '\n';
    return p + 1;
}

// Consecutive objects of one instance whose defects are placed and written together,
// possibly on another thread. The piece knows where in the random stream its first
// defect draws, so pieces can be filled on any thread, in any order, and still give the
// bytes of one thread drawing every number in turn.
struct DefectPiece {
    std::int32_t instance = 0;
    bool starts_instance = false;
    bool ends_instance = false;
    std::int32_t start_state = 0;     // the stream's state before the first defect's draws
    std::vector<std::int32_t> counts; // defects of each object of the piece
};

// Bounds of a piece: its text must fit one output slot even when its last object
// carries the most defects an object can.
inline constexpr std::int64_t defects_per_piece = 4096;
inline constexpr std::int64_t objects_per_piece = 4096;
inline constexpr std::size_t max_defect_piece_length =
    max_header_length + (defects_per_piece + MAXDEF) * max_line_length + objects_per_piece + 1;

// The next piece of an instance: the objects from `first` on, as many as the bounds
// allow. `base` is the stream's state right after the instance's counts were drawn, and
// `defects_before` the defects of the instance's earlier pieces, to which the piece's
// own are added. Returns the object after the piece's last.
std::int32_t gather_defect_piece(const RunParams& params, const DefectCounts& counts,
                                 std::int32_t instance, std::int32_t first, std::int32_t base,
                                 std::uint64_t& defects_before, DefectPiece& piece);

// Places the piece's defects and writes its text into a buffer of at least
// max_defect_piece_length bytes.
char* put_defect_piece(char* p, const RunParams& params, const DefectPiece& piece);
