#include "defects_file.h"

char* put_instance_header(char* p, std::int32_t instance) {
    std::memcpy(p, "instance: ", 10);
    p = put_digits(p + 10, static_cast<std::uint64_t>(instance)); // instances count from 1
    std::memcpy(p, "\n\n", 2);
    return p + 2;
}
