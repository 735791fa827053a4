// Reading a set on a thread of its own while the command works on what has been read: the
// reader hands over batches of objects through a few buffers, so that parsing and the
// command's own work (unions, formatting, writing) share the two cores. Memory stays
// bounded: a batch holds at most an instance's items and batch_defects defects.
#pragma once

#include "progress.h"
#include "set_reader.h"

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

// Reads the set through `reader` and calls `take` with every batch in file order, on the
// calling thread: every instance, or only instance `only_instance` when it is not 0,
// and reading stops after it. `take` returns false to stop early. The reading thread shows
// `progress`. Afterwards `reader.problem` tells whether the files had a problem. Runs on
// one thread when no second one can be started.
void read_ahead(SetReader& reader, std::int32_t only_instance, Progress& progress,
                const std::function<bool(const ObjectBatch&)>& take);
