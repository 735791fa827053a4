// The items file: one block per instance, one line "length\twidth\tarea" per item type
// (each "%f" of the single-precision value), and an empty line ending the block.
#pragma once

#include "defectgen.h"
#include "number_format.h"

#include <cstdint>
#include <vector>

// Item lines gathered for one piece of the file, possibly spanning several instances or
// part of one: the rows in file order, and after which row each block ends (a block of
// no items ends where the previous one did).
struct ItemRows {
    std::vector<Rectangle> rows;
    std::vector<std::uint32_t> block_ends;
};

// Most rows and block ends one piece may hold, so that its text fits one output slot.
inline constexpr std::size_t item_rows_per_piece = 4096;
inline constexpr std::size_t item_block_ends_per_piece = 4096;

// Writes the piece into a buffer of at least
// item_rows_per_piece * max_line_length + item_block_ends_per_piece bytes.
char* put_item_rows(char* p, const ItemRows& piece);
