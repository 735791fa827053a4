#include "defects_file.h"

char* put_instance_header(char* p, std::int32_t instance) {
    std::memcpy(p, "instance: ", 10);
    p = put_digits(p + 10, static_cast<std::uint64_t>(instance)); // instances count from 1
    std::memcpy(p, "\n\n", 2);
    return p + 2;
}

char* put_defect_line(char* p, std::int32_t x, std::int32_t y, const Rectangle& type) {
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
