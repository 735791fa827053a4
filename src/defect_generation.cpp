#include "defect_generation.h"

// The count is the first s for which s * step reaches r. A search from s = 1 would take
// up to n (over two billion) steps for wide ranges, so the search starts at the
// estimate r * n + 1 and walks from there. s * step is monotone in s (both factors
// are exact or correctly rounded), so the walk ends at the same first s as the search
// from 1 would, after a step or two.
std::int32_t defect_count(std::int32_t mindefects, std::int32_t maxdefects, double r) {
    const std::int64_t difference = std::int64_t{maxdefects} - mindefects;
    const std::int64_t n = difference + 1;
    if (n < 1) {
        return 0;
    }
    const double step = 1.0 / (static_cast<double>(difference) + 1.0);
    const auto reaches = [step, r](std::int64_t s) { return static_cast<double>(s) * step >= r; };

    std::int64_t s = static_cast<std::int64_t>(r * static_cast<double>(n)) + 1;
    if (s < 1) { // not for a draw, which is never negative
        s = 1;
    }
    if (s > n) {
        s = n;
    }
    while (s > 1 && reaches(s - 1)) {
        --s;
    }
    // The estimate has reached r for every draw tried (all 2^31 draws of the stream on
    // the widest ranges, and draws next to step boundaries of all kinds of ranges); the
    // walk up stays for the rounding of r * n and s * step, which nothing here rules out.
    while (s <= n && !reaches(s)) {
        ++s;
    }
    // Not for a draw: n * step lies within a unit in the last place of 1, above every
    // draw (at most 1 - 1 / rng_m), so s = n always reaches it.
    if (s > n) {
        return 0;
    }
    return static_cast<std::int32_t>(mindefects + (s - 1));
}

void draw_defect_counts(const RunParams& p, RandomStream& stream, DefectCounts& counts) {
    for (std::int32_t o = 0; o < p.no_objects; ++o) {
        counts.no_defects[static_cast<std::size_t>(o)] =
            defect_count(p.mindefects, p.maxdefects, uniform_random(stream));
    }
}

PlacedDefect place_defect(const RunParams& p, RandomStream& stream) {
    const double r_type = uniform_random(stream);
    const double r_x = uniform_random(stream);
    const double r_y = uniform_random(stream);
    return place_defect(p, r_type, r_x, r_y);
}
