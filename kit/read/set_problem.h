// How a command that consumes a set reports a problem the reader met in its files.
#pragma once

#include "read/set_reader.h"

#include <cstdint>
#include <iostream>

// Prints the reader's problem on stderr; returns the exit status: 2 when a file could not
// be read, else 1 with a hint to run check, which lists every problem and not only the first.
inline int report_set_problem(const SetReader& reader) {
    std::cerr << reader.problem << "\n";
    if (reader.unreadable) {
        return 2;
    }
    std::cerr << "defectkit: the set is not as defectgen writes it; defectkit check lists every "
                 "problem\n";
    return 1;
}

// Prints that the set holds `held` instances and so no instance `number`; returns 2.
inline int report_no_instance(std::int64_t number, std::int64_t held) {
    std::cerr << "defectkit: there is no instance " << number << ": the set has " << held
              << (held == 1 ? " instance\n" : " instances\n");
    return 2;
}
