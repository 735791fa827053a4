#include "set_reader.h"

#include "set_scan.h"

#include <cstring>
#include <iostream>

struct SetReaderState {
    SetRules rules;
    ItemsScan items;
    DefectsScan defects;
    bool has_defects = false;
    bool in_defects_instance = false;    // the defects file stands inside an instance
    std::int32_t empty_objects_left = 0; // objects still to hand out without a defects file
};

namespace {

bool open_source(LineSource& source, const std::string& path, std::uint64_t& total) {
    int fd = -1;
    std::uint64_t size = 0;
    std::string message;
    if (!open_regular_file(path, fd, size, message)) {
        std::cerr << message << '\n';
        return false;
    }
    init_line_source(source, path, fd);
    total += size;
    return true;
}

bool take_problem(SetReader& reader, const LineSource& source, const ProblemList& problems) {
    if (source.error != 0) {
        reader.problem = source.path + ": cannot be read: " + std::strerror(source.error);
        reader.unreadable = true;
        return true;
    }
    if (problems.count > 0) {
        const Problem& first = problems.kept.front();
        reader.problem = source.path + ":" + std::to_string(first.line) + ": " + first.message;
        return true;
    }
    return false;
}

// True (with `problem` set) when either file has shown a problem.
bool failed(SetReader& reader) {
    if (!reader.problem.empty()) {
        return true;
    }
    SetReaderState& s = *reader.state;
    if (take_problem(reader, s.items.source, s.items.problems)) {
        return true;
    }
    return s.has_defects && take_problem(reader, s.defects.source, s.defects.problems);
}

void update_progress(SetReader& reader) {
    const SetReaderState& s = *reader.state;
    reader.bytes_done = s.items.source.bytes_done + s.defects.source.bytes_done;
}

// Reads the defects file to the end of its current instance.
void skip_defects_instance(SetReader& reader) {
    SetReaderState& s = *reader.state;
    Defect defect;
    while (s.in_defects_instance) {
        const DefectsEvent event = next_defects_event(s.defects, defect);
        if (event == DefectsEvent::instance_end || event == DefectsEvent::end) {
            s.in_defects_instance = false;
        }
    }
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
    s->items.rules = &s->rules;
    s->items.stop_at_problem = true;
    s->defects.rules = &s->rules;
    s->defects.stop_at_problem = true;
    if (!open_source(s->items.source, set.items_path, reader.bytes_total)) {
        close_set_reader(reader);
        return false;
    }
    s->has_defects = !set.defects_path.empty();
    if (s->has_defects && !open_source(s->defects.source, set.defects_path, reader.bytes_total)) {
        close_set_reader(reader);
        return false;
    }
    return true;
}

void close_set_reader(SetReader& reader) {
    if (reader.state != nullptr) {
        close_line_source(reader.state->items.source);
        close_line_source(reader.state->defects.source);
        delete reader.state;
        reader.state = nullptr;
    }
}

bool next_instance(SetReader& reader, InstanceHead& head) {
    if (reader.state == nullptr || failed(reader)) {
        return false;
    }
    SetReaderState& s = *reader.state;
    skip_defects_instance(reader);
    head.items.clear();
    Item item;
    for (;;) {
        const ItemsEvent event = next_items_event(s.items, item);
        if (event == ItemsEvent::item) {
            head.items.push_back(item);
            continue;
        }
        if (event == ItemsEvent::block_end) {
            break;
        }
        // The items file has ended: so must the defects file.
        if (failed(reader)) {
            return false;
        }
        if (s.has_defects) {
            Defect defect;
            if (next_defects_event(s.defects, defect) == DefectsEvent::instance_start) {
                reader.problem = s.defects.source.path + ":" +
                                 std::to_string(s.defects.source.lines) + ": " + "instance " +
                                 std::to_string(s.defects.instance) + " has no block in " +
                                 s.items.source.path + ", which holds " +
                                 std::to_string(s.items.blocks) + " instances";
                return false;
            }
            if (failed(reader)) {
                return false;
            }
        }
        update_progress(reader);
        return false;
    }
    if (failed(reader)) {
        return false;
    }
    head.number = s.items.blocks;
    if (s.has_defects) {
        Defect defect;
        if (next_defects_event(s.defects, defect) != DefectsEvent::instance_start) {
            if (!failed(reader)) {
                reader.problem = s.defects.source.path + ":" + std::to_string(s.defects.end_line) +
                                 ": the file ends after " + std::to_string(s.defects.instances) +
                                 " instances, where " + s.items.source.path + " holds more";
            }
            return false;
        }
        s.in_defects_instance = true;
        if (failed(reader)) {
            return false;
        }
    } else {
        s.empty_objects_left =
            reader.set->objects_per_instance > 0 ? reader.set->objects_per_instance : 0;
    }
    update_progress(reader);
    return true;
}

bool next_object(SetReader& reader, std::vector<Defect>& defects) {
    defects.clear();
    return append_next_object(reader, defects);
}

bool append_next_object(SetReader& reader, std::vector<Defect>& defects) {
    if (reader.state == nullptr || failed(reader)) {
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
    Defect defect;
    while (s.in_defects_instance) {
        const DefectsEvent event = next_defects_event(s.defects, defect);
        if (event == DefectsEvent::defect) {
            defects.push_back(defect);
            continue;
        }
        if (event == DefectsEvent::object_end) {
            update_progress(reader);
            return !failed(reader);
        }
        s.in_defects_instance = false;
    }
    update_progress(reader);
    failed(reader);
    return false;
}
