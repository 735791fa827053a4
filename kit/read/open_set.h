// Naming an instance set: by the answers file that the generator read on its standard
// input, or by the object's size and the files themselves.
#pragma once

#include "defectgen.h"

#include <cstdint>
#include <string>

// The command-line words that name a set; every subcommand that reads a set takes them.
struct SetOptions {
    std::string answers;       // ANSWERS, or empty
    std::string items;         // --items: overrides the answers' items file name
    std::string defects;       // --defects: overrides the answers' defects file name
    std::string object;        // --object LxW, when there are no answers
    std::int64_t objects = -1; // --objects N, when there are no answers
};

// What is known of a set before its files are read.
struct KitSet {
    bool from_answers = false;
    std::string answers_path;
    std::string answers_text; // the answers file as read (its first MiB), for verify
    // Every answer when from_answers (as the generator's own dialogue filled it); otherwise
    // only object.length, object.width and object.area.
    RunParams params;
    std::string items_path;
    std::string defects_path; // empty when the set has no defects file
    // Objects per instance and instances, when the answers or --objects tell; else -1 (the
    // defects file then tells the objects).
    std::int32_t objects_per_instance = -1;
    std::int32_t instances = -1;
};

// Fills `set` from the options: reads the answers with the generator's dialogue, or parses
// --object. On a problem prints it on stderr and returns false (the caller exits with 2).
bool open_set(const SetOptions& options, KitSet& set);
