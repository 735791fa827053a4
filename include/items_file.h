// The items file: one block per instance, one line "length\twidth\tarea" per item type
// (each "%f" of the single-precision value), and an empty line ending the block.
#pragma once

#include "item_generation.h"
#include "output_file.h"

#include <cstdint>

void write_item_block(OutputFile& out, const ItemTable& items, std::int32_t no_items);
