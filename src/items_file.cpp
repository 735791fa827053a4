#include "items_file.h"

char* put_item_rows(char* p, const ItemRows& piece) {
    std::size_t next_end = 0;
    const std::size_t ends = piece.block_ends.size();
    // The loop always ends at the break below, after the block ends that follow the last row.
    for (std::size_t j = 0; j <= piece.rows.size(); ++j) {
        while (next_end < ends && piece.block_ends[next_end] == j) {
            *p++ = '\n';
            ++next_end;
        }
        if (j == piece.rows.size()) {
            break;
        }
        const Rectangle& item = piece.rows[j];
        p = put_int_as_float(p, item.length);
        *p++ = '\t';
        p = put_int_as_float(p, item.width);
        *p++ = '\t';
        p = put_int_as_float(p, item.area);
        *p++ = '\n';
    }
    return p;
}
