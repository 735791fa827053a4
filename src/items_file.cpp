#include "items_file.h"

void write_item_block(OutputFile& out, const ItemTable& items, std::int32_t no_items) {
    for (std::int32_t j = 0; j < no_items; ++j) {
        const Rectangle& item = items.item[static_cast<std::size_t>(j)];
        char* p = output_space(out, max_line_length);
        p = put_int_as_float(p, item.length);
        *p++ = '\t';
        p = put_int_as_float(p, item.width);
        *p++ = '\t';
        p = put_int_as_float(p, item.area);
        *p++ = '\n';
        output_commit(out, p);
    }
    output_newline(out);
}
