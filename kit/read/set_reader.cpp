// The set reader: both sides of the set read in turn on the calling thread, block k of
// the items file and then instance k of the defects file.
#include "read/set_reader.h"

#include "read/set_sides.h"

#include <iostream>

namespace {

bool open_file(const std::string& path, int& fd, std::uint64_t& total) {
    std::uint64_t size = 0;
    std::string message;
    if (!open_regular_file(path, fd, size, message)) {
        std::cerr << message << '\n';
        return false;
    }
    total += size;
    return true;
}

void update_progress(SetReader& reader) {
    const SetReaderState& s = *reader.state;
    reader.bytes_done = s.items.scan.source.bytes_done + s.defects.scan.source.bytes_done;
}

} // namespace

bool open_set_reader(SetReader& reader, const KitSet& set) {
    reader.set = &set;
    reader.problem.clear();
    reader.unreadable = false;
    reader.bytes_total = 0;
    reader.bytes_done = 0;
    auto* s = new SetReaderState;
    reader.state = s;
    s->rules = make_set_rules(set);
    int fd = -1;
    if (!open_file(set.items_path, fd, reader.bytes_total)) {
        close_set_reader(reader);
        return false;
    }
    init_items_side(s->items, s->rules, set.items_path, fd);
    s->has_defects = !set.defects_path.empty();
    if (s->has_defects) {
        if (!open_file(set.defects_path, fd, reader.bytes_total)) {
            close_set_reader(reader);
            return false;
        }
        init_defects_side(s->defects, s->rules, set.defects_path, fd);
    }
    return true;
}

void close_set_reader(SetReader& reader) {
    if (reader.state != nullptr) {
        close_line_source(reader.state->items.scan.source);
        close_line_source(reader.state->defects.scan.source);
        delete reader.state;
        reader.state = nullptr;
    }
}

bool next_instance(SetReader& reader, InstanceHead& head) {
    if (reader.state == nullptr || !reader.problem.empty()) {
        return false;
    }
    SetReaderState& s = *reader.state;
    const bool block = next_block(s.items, head);
    if (!s.items.problem.text.empty()) {
        take_side_problem(reader, s.items.problem);
    } else if (!s.has_defects) {
        s.empty_objects_left =
            block && reader.set->objects_per_instance > 0 ? reader.set->objects_per_instance : 0;
    } else {
        const InstanceStart start = next_defects_instance(s.defects);
        const std::string& items = reader.set->items_path;
        const std::string& defects = reader.set->defects_path;
        take_side_problem(reader, block ? join_block(items, defects, start, s.defects.problem)
                                        : join_items_end(items, s.items.scan.blocks, defects, start,
                                                         s.defects.problem));
    }
    update_progress(reader);
    return block && reader.problem.empty();
}

bool next_object(SetReader& reader, std::vector<Defect>& defects) {
    defects.clear();
    return append_next_object(reader, defects);
}

bool append_next_object(SetReader& reader, std::vector<Defect>& defects) {
    if (reader.state == nullptr || !reader.problem.empty()) {
        return false;
    }
    SetReaderState& s = *reader.state;
    if (!s.has_defects) {
        if (s.empty_objects_left > 0) {
            --s.empty_objects_left;
            return true;
        }
        return false;
    }
    const bool more = append_object(s.defects, defects);
    if (!more) {
        take_side_problem(reader, s.defects.problem);
    }
    update_progress(reader);
    return more;
}
