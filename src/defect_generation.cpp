#include "defect_generation.h"

#include <cmath>

// The count is the first s for which s * step reaches r. A search from s = 1 would take
// up to n (over two billion) steps for wide ranges, so the search starts at the
// estimate ceil(r * n) and walks from there. s * step is monotone in s (both factors
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

    std::int64_t s = static_cast<std::int64_t>(std::ceil(r * static_cast<double>(n)));
    if (s < 1) {
        s = 1;
    }
    if (s > n) {
        s = n;
    }
    while (s > 1 && reaches(s - 1)) {
        --s;
    }
    while (s <= n && !reaches(s)) {
        ++s;
    }
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

// std::round for the values placement produces, from 0 to below 2^31, without the
// library call that dominated this hot path: there v - trunc(v) is exact, and halves go
// up, as std::round sends them away from zero.
std::int32_t round_position(double value) {
    const auto whole = static_cast<std::int32_t>(value);
    return value - static_cast<double>(whole) >= 0.5 ? whole + 1 : whole;
}

PlacedDefect place_defect(const RunParams& p, RandomStream& stream) {
    PlacedDefect placed;
    const double r = uniform_random(stream);
    placed.type = static_cast<std::int32_t>(static_cast<double>(p.no_def_type) * r);
    const Rectangle& type = p.defect[static_cast<std::size_t>(placed.type)];
    // Every type fits on the object, so both positions lie in [0, object - type].
    const double r_x = uniform_random(stream);
    placed.x = round_position(
        r_x * (static_cast<double>(p.object.length) - static_cast<double>(type.length)));
    const double r_y = uniform_random(stream);
    placed.y = round_position(
        r_y * (static_cast<double>(p.object.width) - static_cast<double>(type.width)));
    return placed;
}
