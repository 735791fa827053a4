// The figures of `defectkit stats`, tallied instance by instance and object by object so
// that a set of any size is summarised in bounded memory. Counts and areas are summed as
// integers (exact); the length shares, which are fractions, with a compensated sum; the
// figures are therefore the same on every build.
#pragma once

#include "read/open_set.h"
#include "read/set_reader.h"

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

__extension__ typedef __int128 StatsWide; // sums of areas over a whole set

// A sum of doubles with Neumaier's compensation: the rounding error of every addition is
// carried along, so the order of millions of terms hardly matters and no wider type is used.
struct CompensatedSum {
    double sum = 0.0;
    double carry = 0.0;
};
void add_term(CompensatedSum& total, double term);
double sum_of(const CompensatedSum& total);

// Smallest and largest of a whole-number figure, and its sum.
struct IntRange {
    std::int64_t count = 0;
    std::int64_t min = 0;
    std::int64_t max = 0;
    StatsWide sum = 0;
};
void add_value(IntRange& range, std::int64_t value);

// The figures of one instance or of a whole set (a set's are its instances' merged).
struct StatsTally {
    std::int64_t object_length = 0;
    std::int64_t object_width = 0;
    std::int32_t instance = 0; // 0 for a whole set
    std::int64_t instances = 0;
    IntRange item_types_per_instance;
    IntRange objects_per_instance;
    IntRange item_area; // each item type's area
    // The length share length / (length + width): its extremes as exact fractions, its sum.
    std::int64_t share_min_num = 0, share_min_den = 0;
    std::int64_t share_max_num = 0, share_max_den = 0;
    CompensatedSum share_sum;
    std::array<std::int64_t, 10> share_histogram{}; // [0.0, 0.1), ..., [0.9, 1.0]
    std::int64_t items_beyond_object = 0;           // longer or wider than the object
    IntRange defects_per_object;
    IntRange cover; // the union area of each object's defects
    // Item area over defect-free area: per instance its own; for a set over its instances.
    std::int64_t tightness_count = 0; // instances whose defect-free area is not zero
    double tightness_min = 0.0, tightness_max = 0.0;
    CompensatedSum tightness_sum;
};

// A tally for the object of the set, before anything is added.
StatsTally empty_tally(std::int64_t object_length, std::int64_t object_width);
// Adds an instance's item types (the instance is then counted, with no objects yet).
void tally_items(StatsTally& tally, const InstanceHead& head);
// Adds one object of the current instance with the exact union area of its defects.
void tally_object(StatsTally& tally, std::int64_t defects, std::int64_t union_area);
// Ends an instance's tally (its item area over its defect-free area) and adds it to the set's.
void close_instance(StatsTally& instance, StatsTally& set);

// The figures as text tables (`title` names the set), and as one JSON document.
void write_stats_text(std::ostream& out, const std::string& title, const StatsTally& set,
                      const std::vector<StatsTally>& instances);
void write_stats_json(std::ostream& out, const KitSet& kit, const StatsTally& set,
                      const std::vector<StatsTally>& instances, bool per_instance);
