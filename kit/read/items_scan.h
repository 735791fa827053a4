// The items file read block by block and held against everything defectgen guarantees
// of it. The set reader stops at the first problem; check reads on to the end and keeps
// every problem (`every_problem`).
#pragma once

#include "read/line_source.h"
#include "read/set_rules.h"

#include <cstdint>
#include <vector>

struct ItemsScan {
    LineSource source;
    const SetRules* rules = nullptr;
    ProblemList problems;
    bool every_problem = false; // check: read on past problems
    // check decides itself what a file short of instances is (it may be a generation
    // failure); the reader reports it at once.
    bool report_missing_instances = true;

    std::int32_t blocks = 0;     // complete blocks so far
    std::int64_t in_block = 0;   // item lines of the block being read
    std::int64_t per_block = -1; // item lines every block must hold, once known
    std::uint64_t items = 0;     // item lines in complete and partial blocks
    std::uint64_t end_line = 0;  // the line after the last one, at the end
    bool ended_inside = false;   // the file ended inside a block
    bool finished = false;
    // Notes for check.
    std::uint64_t beyond_object = 0; // items longer or wider than the object
    bool all_alike = true;
    Item first_item;
};

// Takes over `fd`.
void init_items_scan(ItemsScan& scan, const SetRules& rules, const std::string& path, int fd,
                     std::size_t buffer);

// Reads the next block: its item types without a problem into `items` (cleared first).
// False at the end of the file, or of reading (after a problem unless every_problem, or a
// failed read: source.error).
bool read_block(ItemsScan& scan, std::vector<Item>& items);
