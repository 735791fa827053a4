// The defects file: per instance a header "instance: k" and an empty line, then per
// object one line "x1\ty1\tx2\ty2" per defect and an empty line ending the object, and
// one more empty line ending the instance.
#pragma once

#include "defectgen.h"
#include "output_file.h"

#include <cstdint>

void write_instance_header(OutputFile& out, std::int32_t instance);

// x2 and y2 are single-precision sums of the converted corner and the converted type
// size, as the file has always held them.
void write_defect_line(OutputFile& out, std::int32_t x, std::int32_t y, const Rectangle& type);

inline void end_object_block(OutputFile& out) { output_newline(out); }
inline void end_instance_block(OutputFile& out) { output_newline(out); }
