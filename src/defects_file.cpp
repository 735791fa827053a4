#include "defects_file.h"

void write_instance_header(OutputFile& out, std::int32_t instance) {
    char* p = output_space(out, max_line_length);
    std::memcpy(p, "instance: ", 10);
    p += 10;
    p = put_digits(p, static_cast<std::uint64_t>(instance)); // instances count from 1
    std::memcpy(p, "\n\n", 2);
    output_commit(out, p + 2);
}

void write_defect_line(OutputFile& out, std::int32_t x, std::int32_t y, const Rectangle& type) {
    const float x1 = static_cast<float>(x);
    const float y1 = static_cast<float>(y);
    const float x2 = x1 + static_cast<float>(type.length);
    const float y2 = y1 + static_cast<float>(type.width);
    char* p = output_space(out, max_line_length);
    p = put_float(p, x1);
    *p++ = '\t';
    p = put_float(p, y1);
    *p++ = '\t';
    p = put_float(p, x2);
    *p++ = '\t';
    p = put_float(p, y2);
    *p++ = '\n';
    output_commit(out, p);
}
