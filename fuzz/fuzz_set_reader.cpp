// libFuzzer entry for defectkit's readers. The input is a pair of files: its first byte
// picks what the set is held against (the README example's answers, or an object alone,
// with or without the number of objects), the next two give the items file's length, the
// rest is split there into the items file and the defects file. Both are read from memory
// files, with a small buffer so that lines cross its refills: as check reads them (to
// their end, every problem kept), and as the other commands do (to the first problem);
// both must agree. A violated property traps, so libFuzzer keeps the input as a crash.

#include "fuzz_support.h"
#include "read/fields.h"
#include "read/set_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// Everything the reader hands out, and the problem it ends with.
std::string batches(const KitSet& set, std::int32_t only) {
    SetReader reader;
    reader.buffer = 2048;
    if (!open_set_reader(reader, set)) {
        fail();
    }
    std::string t;
    Progress progress;
    const auto take = [&](const ObjectBatch& batch) {
        require(batch.head.items.size() <= static_cast<std::size_t>(MAXMOD));
        t += batch.starts_instance ? "I" + std::to_string(batch.head.number) + ":" +
                                         std::to_string(batch.head.items.size())
                                   : "B";
        for (const std::uint32_t size : batch.sizes) {
            require(size <= static_cast<std::uint32_t>(MAXDEF));
            t += " " + std::to_string(size);
        }
        for (const Defect& d : batch.defects) {
            t += " " + std::to_string(d.x1 ^ (d.y2 << 8)) + "@" + std::to_string(d.line);
        }
        t += batch.ends_instance ? ".\n" : "\n";
        return true;
    };
    read_set(reader, only, progress, take);
    require(!reader.failed || !reader.problem.unreadable);
    t += reader.failed ? "problem " + problem_text(reader.problem) : "clean";
    close_set_reader(reader);
    return t;
}

// check's reading of both files to their end: its problems and counts.
std::string checked(const KitSet& set, SetReader& reader) {
    reader.buffer = 2048;
    require(open_set_reader(reader, set, true));
    Progress progress;
    read_set(reader, 0, progress, [](const ObjectBatch&) { return true; });
    close_set_reader(reader);
    require(reader.items.finished && reader.items.source.error == 0);
    require(!reader.has_defects || (reader.defects.finished && reader.defects.source.error == 0));
    std::string t = std::to_string(reader.items.items) + " " + std::to_string(reader.items.blocks) +
                    " " + std::to_string(reader.defects.objects) + " " +
                    std::to_string(reader.defects.defects) + " " +
                    std::to_string(reader.defects.instances) + "\n";
    for (const ProblemList* list : {&reader.items.problems, &reader.defects.problems}) {
        t += std::to_string(list->count) + " problems\n";
        for (const Problem& problem : list->kept) {
            t += problem_text(problem) + "\n";
        }
    }
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
    // The parser takes a line in place, with the bytes after it in view, exactly when it
    // takes the line alone, and with the same numbers.
    for (const char* line = bytes; line < bytes + size;) {
        const char* const end = bytes + size;
        const void* found = std::memchr(line, '\n', static_cast<std::size_t>(end - line));
        const char* const nl = found == nullptr ? end : static_cast<const char*>(found);
        for (const int count : {3, 4}) {
            std::int64_t in_place[4] = {};
            std::int64_t alone[4] = {};
            std::string why;
            const char* q = parse_fields(line, end, in_place, count, nullptr);
            require((q != nullptr && q == nl && nl != end) ==
                    (nl != end && parse_line(line, nl, alone, count, why)));
            for (int i = 0; q == nl && nl != end && i < count; ++i) {
                require(in_place[i] == alone[i]);
            }
        }
        line = nl == end ? end : nl + 1;
    }

    const int items_fd = memory_file(bytes, items_size);
    const int defects_fd = with_defects ? memory_file(bytes + items_size, size - items_size) : -1;
    const KitSet set = make_set(mode & 0x7f, items_fd, defects_fd);

    // check's reading: its problems in file order.
    SetReader check;
    checked(set, check);
    require_ordered(check.items.problems);
    require_ordered(check.defects.problems);
    const bool clean = check.items.problems.count == 0 && check.defects.problems.count == 0 &&
                       (!with_defects || check.defects.instances == check.items.blocks);

    // The other commands' reading stops at a problem, and finds one exactly when check does
    // (or when the two files disagree on the number of instances); without a defects file,
    // it is check's first.
    for (const std::int32_t only : {0, 2}) {
        const std::string read = batches(set, only);
        if (only != 0) {
            continue;
        }
        const std::size_t at = read.rfind('\n') + 1;
        require((read.compare(at, std::string::npos, "clean") == 0) == clean);
        if (!with_defects && !clean) {
            require(read.substr(at) ==
                    "problem " + problem_text(check.items.problems.kept.front()));
        }
    }
    ::close(items_fd);
    if (defects_fd >= 0) {
        ::close(defects_fd);
    }
    return 0;
}
