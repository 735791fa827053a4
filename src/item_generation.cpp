#include "item_generation.h"

#include <cmath>
#include <cstdint>

// Every double operation below stands in the order and grouping that reproduces the
// files bit for bit; algebraically equal forms round differently and must not replace
// them. Integer products and sums are formed in 64 bits, which gives the same result
// wherever 32 bits would not have overflowed.

namespace {

double to_double(std::int64_t value) {
    return static_cast<double>(value);
}

} // namespace

// Rounds halves away from zero, as std::round does, and converts to 32 bits; false for
// NaN or a result that does not fit, where the conversion would be undefined. Inside
// the range the fraction value - trunc(value) is exact, so comparing it with one half
// gives std::round's result without the library call that weighed on every item.
bool round_to_int32(double value, std::int32_t& result) {
    if (!(value > -2147483648.5 && value < 2147483647.5)) {
        return false;
    }
    const auto whole = static_cast<std::int64_t>(value);
    const double fraction = value - static_cast<double>(whole);
    result =
        static_cast<std::int32_t>(whole + (fraction >= 0.5 ? 1 : 0) - (fraction <= -0.5 ? 1 : 0));
    return true;
}

bool repair_pass(const RunParams& p, double r3, std::int32_t& length, std::int32_t& width) {
    const std::int64_t minarea = p.minarea;
    const std::int64_t maxarea = p.maxarea;
    // l, w and the area as they stand when the pass begins; both steps test that area,
    // even after the first has changed the item.
    const std::int64_t l = length;
    const std::int64_t w = width;
    const std::int64_t start_area = l * w;
    if (start_area < minarea) {
        if (r3 < 0.5 && l < p.object.length && (l + 1) * w <= maxarea &&
            to_double(l + 1) / ((to_double(l) + 1.0) + to_double(w)) <= maxratio) {
            length = static_cast<std::int32_t>(l + 1);
        } else if (w < p.object.width && (w + 1) * l <= maxarea &&
                   to_double(l) / (to_double(l + w) + 1.0) >= minratio) {
            width = static_cast<std::int32_t>(w + 1);
        } else {
            return false;
        }
    }
    // In a run an area above maxarea (which is at least 0) has both sides at least 1, so
    // the tests of l and w against 0 below never fail there; they guard other callers.
    if (start_area > maxarea) {
        if (r3 < 0.5 && l > 0 && (l - 1) * w >= minarea &&
            to_double(l - 1) / ((to_double(l) - 1.0) + to_double(w)) >= minratio) {
            length = static_cast<std::int32_t>(l - 1);
        } else if (w > 0 && (w - 1) * l >= minarea &&
                   to_double(l) / (to_double(l + w) - 1.0) <= maxratio) {
            width = static_cast<std::int32_t>(w - 1);
        } else {
            return false;
        }
    }
    return true;
}

namespace {

// std::fmax and std::fmin against a bound that is neither NaN nor zero: the share when it
// lies beyond the bound, the bound otherwise and for a NaN share, as the library calls
// give them; inline, since the calls weighed on every item.
double larger_share(double bound, double share) {
    return share > bound ? share : bound;
}

double smaller_share(double bound, double share) {
    return share < bound ? share : bound;
}

// One item type: its area, its length share, the rounded dimensions, the repairs.
bool generate_item_type(const RunParams& p, RandomStream& stream, Rectangle& item) {
    const std::int32_t object_length = p.object.length;
    const std::int32_t object_width = p.object.width;
    const std::int64_t minarea = p.minarea;
    const std::int64_t maxarea = p.maxarea;

    const double r1 = uniform_random(stream);
    const double a = r1 * to_double(maxarea - minarea) + to_double(minarea);

    const double big_w = static_cast<double>(object_width);
    const double t = (a * a) / (big_w * big_w);
    const double lowshare = larger_share(minratio, t / (t + a));
    const double big_l = static_cast<double>(object_length);
    const double v = big_l * big_l;
    const double highshare = smaller_share(maxratio, v / (v + a));

    const double r2 = uniform_random(stream);
    const double z = r2 * (highshare - lowshare) + lowshare;
    const double lreal = std::sqrt((z * a) / (1.0 - z));

    // Never fails in a run: a lies in (0, 2^31) and the share between the two bounds, so
    // lreal lies between min(sqrt(a / 9), L) and max(sqrt(9 a), a / W), and both values
    // stay below max(a, 139023) but for rounding. The check keeps the conversion defined.
    std::int32_t length = 0;
    std::int32_t width = 0;
    if (!round_to_int32(lreal, length) || !round_to_int32(a / lreal, width)) {
        return false;
    }
    std::int64_t area = std::int64_t{length} * width;

    while (area < minarea || area > maxarea) {
        if (!repair_pass(p, uniform_random(stream), length, width)) {
            return false;
        }
        area = std::int64_t{length} * width;
    }
    // The loop ends only inside [minarea, maxarea], which fits 32 bits.
    item.length = length;
    item.width = width;
    item.area = static_cast<std::int32_t>(area);
    return true;
}

} // namespace

bool generate_item_types(const RunParams& p, RandomStream& stream, ItemTable& items) {
    for (std::int32_t j = 0; j < p.no_items; ++j) {
        if (!generate_item_type(p, stream, items.item[static_cast<std::size_t>(j)])) {
            return false;
        }
    }
    return true;
}
