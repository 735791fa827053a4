// defectkit stats: the figures of a set that a paper's table gives. One pass over the
// files, instance by instance and object by object; see stats.h for how the sums are kept.
#include "commands/stats.h"

#include "commands/commands.h"
#include "geometry/rect_union.h"
#include "output/json_name.h"
#include "output/progress.h"
#include "read/set_reader.h"

#include <cmath>
#include <cstdio>
#include <iostream>
#include <limits>
#include <nlohmann/json.hpp>

void add_term(CompensatedSum& total, double term) {
    const double sum = total.sum + term;
    if (std::fabs(total.sum) >= std::fabs(term)) {
        total.carry += (total.sum - sum) + term;
    } else {
        total.carry += (term - sum) + total.sum;
    }
    total.sum = sum;
}

double sum_of(const CompensatedSum& total) {
    return total.sum + total.carry;
}

void add_value(IntRange& range, std::int64_t value) {
    if (range.count == 0 || value < range.min) {
        range.min = value;
    }
    if (range.count == 0 || value > range.max) {
        range.max = value;
    }
    ++range.count;
    range.sum += value;
}

namespace {

void merge_range(IntRange& into, const IntRange& from) {
    if (from.count == 0) {
        return;
    }
    if (into.count == 0 || from.min < into.min) {
        into.min = from.min;
    }
    if (into.count == 0 || from.max > into.max) {
        into.max = from.max;
    }
    into.count += from.count;
    into.sum += from.sum;
}

// a / b < c / d for positive denominators, exactly.
bool fraction_less(std::int64_t a, std::int64_t b, std::int64_t c, std::int64_t d) {
    return static_cast<StatsWide>(a) * d < static_cast<StatsWide>(c) * b;
}

double wide_to_double(StatsWide value) {
    return static_cast<double>(value);
}

double ratio(StatsWide numerator, StatsWide denominator) {
    return wide_to_double(numerator) / wide_to_double(denominator);
}

StatsWide object_area(const StatsTally& t) {
    return static_cast<StatsWide>(t.object_length) * t.object_width;
}

StatsWide free_area(const StatsTally& t) {
    return object_area(t) * t.defects_per_object.count - t.cover.sum;
}

} // namespace

StatsTally empty_tally(std::int64_t object_length, std::int64_t object_width) {
    StatsTally tally;
    tally.object_length = object_length;
    tally.object_width = object_width;
    return tally;
}

void tally_items(StatsTally& t, const InstanceHead& head) {
    t.instance = head.number;
    t.instances = 1;
    add_value(t.item_types_per_instance, static_cast<std::int64_t>(head.items.size()));
    for (const Item& item : head.items) {
        add_value(t.item_area, item.area);
        const std::int64_t den = item.length + item.width;
        const std::int64_t num = den > 0 ? item.length : 0;
        const std::int64_t safe_den = den > 0 ? den : 1;
        if (t.share_min_den == 0 ||
            fraction_less(num, safe_den, t.share_min_num, t.share_min_den)) {
            t.share_min_num = num;
            t.share_min_den = safe_den;
        }
        if (t.share_max_den == 0 ||
            fraction_less(t.share_max_num, t.share_max_den, num, safe_den)) {
            t.share_max_num = num;
            t.share_max_den = safe_den;
        }
        add_term(t.share_sum, static_cast<double>(num) / static_cast<double>(safe_den));
        const auto bin = static_cast<std::size_t>(static_cast<StatsWide>(10) * num / safe_den);
        ++t.share_histogram[bin < 10 ? bin : 9];
        if (item.length > t.object_length || item.width > t.object_width) {
            ++t.items_beyond_object;
        }
    }
}

void tally_object(StatsTally& t, std::int64_t defects, std::int64_t union_area) {
    add_value(t.defects_per_object, defects);
    add_value(t.cover, union_area);
}

void close_instance(StatsTally& inst, StatsTally& set) {
    add_value(inst.objects_per_instance, inst.defects_per_object.count);
    const StatsWide free = free_area(inst);
    if (free > 0) {
        const double tightness = ratio(inst.item_area.sum, free);
        inst.tightness_count = 1;
        inst.tightness_min = inst.tightness_max = tightness;
        add_term(inst.tightness_sum, tightness);
    }

    ++set.instances;
    merge_range(set.item_types_per_instance, inst.item_types_per_instance);
    merge_range(set.objects_per_instance, inst.objects_per_instance);
    merge_range(set.item_area, inst.item_area);
    if (inst.share_min_den != 0 &&
        (set.share_min_den == 0 || fraction_less(inst.share_min_num, inst.share_min_den,
                                                 set.share_min_num, set.share_min_den))) {
        set.share_min_num = inst.share_min_num;
        set.share_min_den = inst.share_min_den;
    }
    if (inst.share_max_den != 0 &&
        (set.share_max_den == 0 || fraction_less(set.share_max_num, set.share_max_den,
                                                 inst.share_max_num, inst.share_max_den))) {
        set.share_max_num = inst.share_max_num;
        set.share_max_den = inst.share_max_den;
    }
    add_term(set.share_sum, inst.share_sum.sum);
    add_term(set.share_sum, inst.share_sum.carry);
    for (std::size_t bin = 0; bin < 10; ++bin) {
        set.share_histogram[bin] += inst.share_histogram[bin];
    }
    set.items_beyond_object += inst.items_beyond_object;
    merge_range(set.defects_per_object, inst.defects_per_object);
    merge_range(set.cover, inst.cover);
    if (inst.tightness_count > 0) {
        const double value = inst.tightness_min;
        if (set.tightness_count == 0 || value < set.tightness_min) {
            set.tightness_min = value;
        }
        if (set.tightness_count == 0 || value > set.tightness_max) {
            set.tightness_max = value;
        }
        ++set.tightness_count;
        add_term(set.tightness_sum, value);
    }
}

namespace {

// The figures as they are shown: a row of minimum, mean and maximum, each possibly absent.
struct Row {
    bool has_min = false, has_mean = false, has_max = false;
    bool whole = false; // minimum and maximum are whole numbers
    double min = 0.0, mean = 0.0, max = 0.0;
};

Row count_row(const IntRange& r) {
    Row row;
    if (r.count > 0) {
        row.has_min = row.has_mean = row.has_max = row.whole = true;
        row.min = static_cast<double>(r.min);
        row.max = static_cast<double>(r.max);
        row.mean = ratio(r.sum, r.count);
    }
    return row;
}

Row item_area_row(const StatsTally& t) {
    Row row;
    const StatsWide area = object_area(t);
    if (t.item_area.count > 0 && area > 0) {
        row.has_min = row.has_mean = row.has_max = true;
        row.min = ratio(t.item_area.min, area);
        row.max = ratio(t.item_area.max, area);
        row.mean = ratio(t.item_area.sum, area * t.item_area.count);
    }
    return row;
}

Row share_row(const StatsTally& t) {
    Row row;
    if (t.item_area.count > 0) {
        row.has_min = row.has_mean = row.has_max = true;
        row.min = ratio(t.share_min_num, t.share_min_den);
        row.max = ratio(t.share_max_num, t.share_max_den);
        row.mean = sum_of(t.share_sum) / static_cast<double>(t.item_area.count);
    }
    return row;
}

Row cover_row(const StatsTally& t) {
    Row row;
    const StatsWide area = object_area(t);
    if (t.cover.count > 0 && area > 0) {
        row.has_mean = row.has_max = true;
        row.max = ratio(t.cover.max, area);
        row.mean = ratio(t.cover.sum, area * t.cover.count);
    }
    return row;
}

Row tightness_row(const StatsTally& t) {
    Row row;
    if (t.tightness_count > 0) {
        row.has_min = row.has_mean = row.has_max = true;
        row.min = t.tightness_min;
        row.max = t.tightness_max;
        row.mean = sum_of(t.tightness_sum) / static_cast<double>(t.tightness_count);
    }
    return row;
}

std::string fixed(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

std::string cell(bool present, bool whole, double value) {
    if (!present) {
        return "-";
    }
    if (whole) {
        char text[32];
        std::snprintf(text, sizeof text, "%.0f", value);
        return text;
    }
    return fixed(value);
}

std::string pad_left(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string pad_right(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

constexpr std::size_t label_width = 44;
constexpr std::size_t number_width = 14;

void write_row(std::ostream& out, const std::string& label, const Row& row) {
    out << pad_right(label, label_width)
        << pad_left(cell(row.has_min, row.whole, row.min), number_width)
        << pad_left(cell(row.has_mean, false, row.mean), number_width)
        << pad_left(cell(row.has_max, row.whole, row.max), number_width) << "\n";
}

std::string wide_text(StatsWide value) {
    if (value == 0) {
        return "0";
    }
    const bool negative = value < 0;
    std::string digits;
    while (value != 0) {
        const auto digit = static_cast<int>(value % 10);
        digits.insert(digits.begin(), static_cast<char>('0' + (digit < 0 ? -digit : digit)));
        value /= 10;
    }
    return negative ? "-" + digits : digits;
}

void write_block(std::ostream& out, const StatsTally& t) {
    out << pad_right(t.instance == 0 ? "instances" : "item types", label_width)
        << (t.instance == 0 ? wide_text(t.instances) : wide_text(t.item_area.count)) << "\n";
    if (t.instance == 0) {
        out << pad_right("item types", label_width) << wide_text(t.item_area.count) << "\n";
    }
    out << pad_right("objects", label_width) << wide_text(t.defects_per_object.count) << "\n";
    out << pad_right("defects", label_width) << wide_text(t.defects_per_object.sum) << "\n";
    out << pad_right("item area", label_width) << wide_text(t.item_area.sum) << "\n";
    out << pad_right("defect-free area of the objects", label_width) << wide_text(free_area(t))
        << "\n";
    out << pad_right("items longer or wider than the object", label_width) << t.items_beyond_object
        << "\n\n";
    out << pad_right("", label_width) << pad_left("minimum", number_width)
        << pad_left("mean", number_width) << pad_left("maximum", number_width) << "\n";
    if (t.instance == 0) {
        write_row(out, "item types per instance", count_row(t.item_types_per_instance));
        write_row(out, "objects per instance", count_row(t.objects_per_instance));
    }
    write_row(out, "item area / object area", item_area_row(t));
    write_row(out, "length share: length / (length + width)", share_row(t));
    write_row(out, "defects per object", count_row(t.defects_per_object));
    write_row(out, "defect cover: union of defects / object area", cover_row(t));
    write_row(out,
              t.instance == 0 ? "item area / defect-free area, per instance"
                              : "item area / defect-free area",
              tightness_row(t));
    out << "\nlength share histogram (item types)\n";
    for (std::size_t bin = 0; bin < 10; ++bin) {
        char label[32];
        std::snprintf(label, sizeof label, "  [%.1f, %.1f%c", static_cast<double>(bin) / 10.0,
                      static_cast<double>(bin + 1) / 10.0, bin == 9 ? ']' : ')');
        out << pad_right(label, label_width) << t.share_histogram[bin] << "\n";
    }
}

} // namespace

void write_stats_text(std::ostream& out, const std::string& title, const StatsTally& set,
                      const std::vector<StatsTally>& instances) {
    out << pad_right("set", label_width) << title << "\n";
    out << pad_right("object", label_width) << set.object_length << " x " << set.object_width
        << " (area " << wide_text(object_area(set)) << ")\n";
    write_block(out, set);
    for (const StatsTally& inst : instances) {
        out << "\ninstance " << inst.instance << "\n";
        write_block(out, inst);
    }
}

namespace {

using Json = nlohmann::ordered_json;

Json number(bool present, double value) {
    return present ? Json(value) : Json(nullptr);
}

Json whole(StatsWide value) {
    if (value >= std::numeric_limits<std::int64_t>::min() &&
        value <= std::numeric_limits<std::int64_t>::max()) {
        return Json(static_cast<std::int64_t>(value));
    }
    return Json(wide_to_double(value));
}

Json row_json(const Row& row, bool with_min = true) {
    Json j = Json::object();
    if (with_min) {
        j["min"] = row.whole && row.has_min ? whole(static_cast<std::int64_t>(row.min))
                                            : number(row.has_min, row.min);
    }
    j["mean"] = number(row.has_mean, row.mean);
    j["max"] = row.whole && row.has_max ? whole(static_cast<std::int64_t>(row.max))
                                        : number(row.has_max, row.max);
    return j;
}

Json tally_json(const StatsTally& t) {
    Json j = Json::object();
    if (t.instance != 0) {
        j["instance"] = t.instance;
    } else {
        j["instances"] = t.instances;
        j["item_types_per_instance"] = row_json(count_row(t.item_types_per_instance));
        j["objects_per_instance"] = row_json(count_row(t.objects_per_instance));
    }
    j["item_types"] = t.item_area.count;
    j["objects"] = t.defects_per_object.count;
    j["defects"] = whole(t.defects_per_object.sum);
    j["item_area"] = whole(t.item_area.sum);
    j["defect_free_area"] = whole(free_area(t));
    j["item_area_share"] = row_json(item_area_row(t));
    Json share = row_json(share_row(t));
    share["histogram"] = t.share_histogram;
    j["length_share"] = share;
    j["items_longer_or_wider"] = t.items_beyond_object;
    j["defects_per_object"] = row_json(count_row(t.defects_per_object));
    j["defect_cover"] = row_json(cover_row(t), false);
    if (t.instance != 0) {
        const Row row = tightness_row(t);
        j["item_area_to_defect_free_area"] = number(row.has_mean, row.mean);
    } else {
        j["item_area_to_defect_free_area"] = row_json(tightness_row(t));
    }
    return j;
}

// A file name as a JSON member, with KEY_not_utf8 beside it when its bytes are not UTF-8
// (json_name.h).
void add_name(Json& j, const std::string& key, const std::string& name) {
    if (is_utf8(name)) {
        j[key] = name;
        return;
    }
    j[key] = latin1_to_utf8(name);
    j[key + "_not_utf8"] = true;
}

} // namespace

void write_stats_json(std::ostream& out, const KitSet& kit, const StatsTally& set,
                      const std::vector<StatsTally>& instances, bool per_instance) {
    Json j = Json::object();
    if (kit.from_answers) {
        add_name(j, "answers", kit.answers_path);
    } else {
        j["answers"] = nullptr;
    }
    add_name(j, "items_file", kit.items_path);
    if (kit.defects_path.empty()) {
        j["defects_file"] = nullptr;
    } else {
        add_name(j, "defects_file", kit.defects_path);
    }
    j["object"] = {{"length", set.object_length},
                   {"width", set.object_width},
                   {"area", whole(object_area(set))}};
    j["set"] = tally_json(set);
    std::string text = j.dump(2);
    if (!per_instance) {
        out << text << "\n";
        return;
    }
    // The instances one at a time, as dump(2) would place them inside the document, so that
    // 20000 of them never stand in memory as one tree.
    text.resize(text.size() - 2); // "\n}"
    out << text << ",\n  \"per_instance\": [";
    const char* separator = "\n    ";
    for (const StatsTally& inst : instances) {
        std::string record = tally_json(inst).dump(2);
        std::string indented;
        indented.reserve(record.size() + record.size() / 8);
        for (const char c : record) {
            indented += c;
            if (c == '\n') {
                indented += "    ";
            }
        }
        out << separator << indented;
        separator = ",\n    ";
    }
    out << (instances.empty() ? "]\n}\n" : "\n  ]\n}\n");
}

int run_stats(const StatsOptions& options) {
    KitSet kit;
    if (!open_set(options.set, kit)) {
        return 2;
    }
    SetReader reader;
    if (!open_set_reader(reader, kit)) {
        return 2;
    }
    StatsTally set = empty_tally(kit.params.object.length, kit.params.object.width);
    std::vector<StatsTally> instances;
    StatsTally inst;
    UnionScratch scratch;
    Progress progress;
    start_progress(progress, "stats", reader.bytes_total);
    read_set(reader, 0, progress, [&](const ObjectBatch& batch) {
        if (batch.starts_instance) {
            inst = empty_tally(set.object_length, set.object_width);
            tally_items(inst, batch.head);
        }
        const Defect* defects = batch.defects.data();
        for (const std::uint32_t size : batch.sizes) {
            tally_object(inst, size,
                         union_area(defects, size, set.object_length, set.object_width, scratch));
            defects += size;
        }
        if (batch.ends_instance) {
            close_instance(inst, set);
            if (options.per_instance) {
                instances.push_back(inst);
            }
        }
        return true;
    });
    end_progress(progress);
    close_set_reader(reader);
    if (reader.failed) {
        return report_set_problem(reader);
    }
    if (options.json) {
        write_stats_json(std::cout, kit, set, instances, options.per_instance);
    } else {
        const std::string title =
            kit.from_answers
                ? kit.answers_path
                : kit.items_path +
                      (kit.defects_path.empty() ? std::string() : ", " + kit.defects_path);
        write_stats_text(std::cout, title, set, instances);
    }
    return 0; // main checks that the figures reached standard output
}
