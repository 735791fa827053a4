// Reading a set on threads of their own while the command works on what has been read:
// one thread reads the items file, another the defects file, and the command takes the
// objects in batches, in file order, from a few buffers. Parsing and the command's own
// work (unions, formatting, writing) so share the two cores. Memory stays bounded: a batch
// holds at most an instance's items and batch_defects defects.
#pragma once

#include "output/progress.h"
#include "read/set_reader.h"

#include <cstdint>
#include <functional>
#include <vector>

struct ObjectBatch {
    bool starts_instance = false; // `head` is a new instance, whose objects follow
    bool ends_instance = false;   // the instance's last object is in this batch
    InstanceHead head;
    std::vector<Defect> defects;      // the defects of the batch's objects, in order
    std::vector<std::uint32_t> sizes; // per object, its number of defects
};

enum class ReadThreads {
    two,  // each file on a thread of its own
    none, // reading and taking in turn on the calling thread
};

// Reads the set through `reader` and calls `take` with every batch in file order, on the
// calling thread: every instance, or only instance `only_instance` when it is not 0,
// and reading stops after it. `take` returns false to stop early. Progress goes to
// `progress`. Afterwards `reader.problem` tells whether the files had a problem: the same
// batches and the same problem whatever `threads` says, and with ReadThreads::none when no
// thread can be started (or the set has no defects file).
void read_ahead(SetReader& reader, std::int32_t only_instance, Progress& progress,
                const std::function<bool(const ObjectBatch&)>& take,
                ReadThreads threads = ReadThreads::two);
