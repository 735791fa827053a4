// libFuzzer entry for defectkit's readers. The input is a pair of files: its first byte
// picks what the set is held against (the README example's answers, or an object alone,
// with or without the number of objects), the next two give the items file's length, the
// rest is split there into the items file and the defects file. Both are read from memory
// files, with a small buffer so that lines cross its refills: by check's scanners to their
// end, once telling every event and once quiet, and by the set reader; all must agree, and
// read_ahead must hand out the same batches and problem on two threads as on one. A
// violated property traps, so libFuzzer keeps the input as a crash.

#include "fuzz_support.h"
#include "read/read_ahead.h"
#include "read/set_reader.h"
#include "read/set_scan.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// Everything read_ahead hands out, and the problem it ends with.
std::string batches(const KitSet& set, ReadThreads threads, std::int32_t only) {
    SetReader reader;
    if (!open_set_reader(reader, set)) {
        fail();
    }
    std::string t;
    Progress progress;
    const auto take = [&](const ObjectBatch& batch) {
        t += batch.starts_instance ? "I" + std::to_string(batch.head.number) + ":" +
                                         std::to_string(batch.head.items.size())
                                   : "B";
        for (const std::uint32_t size : batch.sizes) {
            t += " " + std::to_string(size);
        }
        for (const Defect& d : batch.defects) {
            t += " " + std::to_string(d.x1 ^ (d.y2 << 8)) + "@" + std::to_string(d.line);
        }
        t += batch.ends_instance ? ".\n" : "\n";
        return true;
    };
    read_ahead(reader, only, progress, take, threads);
    t += reader.problem + (reader.unreadable ? " unreadable" : "");
    close_set_reader(reader);
    return t;
}

KitSet make_set(std::uint8_t mode, int items_fd, int defects_fd) {
    KitSet set;
    RunParams& p = set.params;
    p.object = Rectangle{10000, 100, 100};
    set.items_path = fd_path(items_fd);
    set.defects_path = defects_fd >= 0 ? fd_path(defects_fd) : std::string();
    switch (mode % 3) {
    case 0: // the README example's answers
        set.from_answers = true;
        p.no_instances = 1 + mode / 3 % 3;
        p.no_objects = 2;
        p.no_items = 5;
        p.minrelsize = 0.01f;
        p.maxrelsize = 0.15f;
        p.minarea = 100;
        p.maxarea = 1500;
        p.no_def_type = 3;
        p.defect[0] = Rectangle{20, 5, 4};
        p.defect[1] = Rectangle{100, 10, 10};
        p.defect[2] = Rectangle{60, 20, 3};
        p.mindefects = 1;
        p.maxdefects = 3;
        set.instances = p.no_instances;
        set.objects_per_instance = 2;
        break;
    case 1: // --object alone: the files tell the rest
        break;
    default: // --object with --objects
        set.objects_per_instance = mode / 3 % 4;
        break;
    }
    return set;
}

// Problems come out in file order, and as many are kept as the list keeps.
void require_ordered(const ProblemList& list) {
    require(list.kept.size() == (list.count < list.keep ? list.count : list.keep));
    for (std::size_t i = 1; i < list.kept.size(); ++i) {
        require(list.kept[i - 1].line <= list.kept[i].line);
    }
}

void require_same(const ProblemList& a, const ProblemList& b) {
    require(a.count == b.count && a.kept.size() == b.kept.size());
    for (std::size_t i = 0; i < a.kept.size(); ++i) {
        require(a.kept[i].line == b.kept[i].line && a.kept[i].message == b.kept[i].message);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const std::uint8_t mode = data[0];
    const bool with_defects = (mode & 0x80) == 0;
    std::size_t items_size = static_cast<std::size_t>(data[1]) << 8 | data[2];
    const char* bytes = reinterpret_cast<const char*>(data + 3);
    size -= 3;
    if (items_size > size) {
        items_size = size;
    }
    // The in-place parser of the usual lines may refuse any line, but what it takes the
    // general parser takes too, with the same numbers.
    for (const char* line = bytes; line < bytes + size;) {
        const char* const end = bytes + size;
        for (const int count : {3, 4}) {
            std::int64_t fast[4] = {};
            std::int64_t general[4] = {};
            std::string why;
            if (const std::size_t taken = parse_in_place(line, end, fast, count); taken > 0) {
                require(line[taken - 1] == '\n');
                require(parse_number_fields(line, line + taken - 1, general, count, why));
                for (int i = 0; i < count; ++i) {
                    require(fast[i] == general[i]);
                }
            }
        }
        const void* next = std::memchr(line, '\n', static_cast<std::size_t>(end - line));
        line = next == nullptr ? end : static_cast<const char*>(next) + 1;
    }

    const int items_fd = memory_file(bytes, items_size);
    const int defects_fd = with_defects ? memory_file(bytes + items_size, size - items_size) : -1;
    const KitSet set = make_set(mode & 0x7f, items_fd, defects_fd);
    const SetRules rules = make_set_rules(set);

    // check's scanners, to the end of both files, once telling every event and once
    // quiet as check runs them: both must find the same.
    ItemsScan items;
    ItemsScan quiet_items;
    quiet_items.quiet = true;
    for (ItemsScan* scan : {&items, &quiet_items}) {
        scan->rules = &rules;
        init_line_source(scan->source, set.items_path, ::dup(items_fd), 2048);
        Item item;
        std::uint64_t seen = 0;
        for (ItemsEvent e; (e = next_items_event(*scan, item)) != ItemsEvent::end;) {
            seen += e == ItemsEvent::item ? 1 : 0;
        }
        require(scan->finished && scan->source.error == 0);
        require(seen <= scan->items);
        require_ordered(scan->problems);
        close_line_source(scan->source);
    }
    require_same(items.problems, quiet_items.problems);
    require(items.items == quiet_items.items && items.blocks == quiet_items.blocks);

    DefectsScan defects;
    DefectsScan quiet_defects;
    quiet_defects.quiet = true;
    if (with_defects) {
        for (DefectsScan* scan : {&defects, &quiet_defects}) {
            scan->rules = &rules;
            init_line_source(scan->source, set.defects_path, ::dup(defects_fd), 2048);
            Defect defect;
            std::uint64_t objects = 0;
            for (DefectsEvent e; (e = next_defects_event(*scan, defect)) != DefectsEvent::end;) {
                objects += e == DefectsEvent::object_end ? 1 : 0;
                require(scan->in_object <= MAXDEF + 1);
            }
            require(scan->finished && scan->source.error == 0);
            require(scan->quiet ? objects <= scan->objects : objects == scan->objects);
            require_ordered(scan->problems);
            close_line_source(scan->source);
        }
        require_same(defects.problems, quiet_defects.problems);
        require(defects.objects == quiet_defects.objects &&
                defects.defects == quiet_defects.defects &&
                defects.instances == quiet_defects.instances);
    }
    const bool clean = items.problems.count == 0 && defects.problems.count == 0 &&
                       (!with_defects || defects.instances == items.blocks);

    // The set reader: it stops at a problem, and finds one exactly when check does (or
    // when the two files disagree on the number of instances).
    SetReader reader;
    require(open_set_reader(reader, set));
    InstanceHead head;
    std::vector<Defect> found;
    std::uint64_t read_items = 0;
    std::int32_t instances = 0;
    while (next_instance(reader, head)) {
        require(head.number == ++instances);
        require(head.items.size() <= static_cast<std::size_t>(MAXMOD));
        read_items += head.items.size();
        while (next_object(reader, found)) {
            require(found.size() <= static_cast<std::size_t>(MAXDEF));
        }
    }
    require(!reader.unreadable);
    require(reader.problem.empty() == clean);
    if (clean) {
        require(read_items == items.items && instances == items.blocks);
    }
    if (!with_defects && !clean) {
        const Problem& first = items.problems.kept.front();
        require(reader.problem ==
                set.items_path + ":" + std::to_string(first.line) + ": " + first.message);
    }
    close_set_reader(reader);
    for (const std::int32_t only : {0, 2}) {
        require(batches(set, ReadThreads::two, only) == batches(set, ReadThreads::none, only));
    }
    ::close(items_fd);
    if (defects_fd >= 0) {
        ::close(defects_fd);
    }
    return 0;
}
