// The defects file: per instance a header "instance: k" and an empty line, then per
// object one line "x1\ty1\tx2\ty2" per defect and an empty line ending the object, and
// one more empty line ending the instance. The pieces write into a buffer the caller
// has sized (see max_line_length) and return the end of what they wrote.
#pragma once

#include "defectgen.h"
#include "number_format.h"

#include <cstdint>

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

// The empty line that ends an object's block or an instance's block.
inline char* put_block_end(char* p) {
    *p = '\n';
    return p + 1;
}
