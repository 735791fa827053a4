// One instance as defectkit run hands it to a solver: while the set is read, its objects
// go into the solver's input (the export in --format), into a file of the work folder
// that keeps its defects for the check (so that no instance is held in memory), and into
// its bound; after the solver, its placement is checked object by object from that file.
#pragma once

#include "commands/export.h"
#include "geometry/placement_check.h"
#include "geometry/bounds.h"

#include <cstdint>
#include <string>

struct InstanceWork {
    std::int32_t number = 0;
    std::string folder;    // DIR/work/K, absolute
    std::string input;     // what {input} names
    std::string placement; // DIR/work/K/placement.csv
    std::string shown;     // work/K/placement.csv, as messages name it
    std::string objects_path;
    bool jsonl = false;
    InstanceHead head;
    std::int64_t objects = 0;
    BoundsRun bound; // defectkit bound's bounds, object by object
    ExportOptions export_options;
    ExportRun export_run;
    PackingsolverFiles files;
    std::string bins, rows, line;
    OutputTarget jsonl_file, objects_file;
};

// Makes the work folder (a placement left by an earlier try is removed) and starts the
// input. False after a message on stderr.
bool begin_instance_work(InstanceWork& work, const KitSet& set, const std::string& folder,
                         const std::string& shown_folder, const std::string& format,
                         bool allow_rotation, const InstanceHead& head);
// The batch's objects into the input, the defects file and the bound. False after a message.
bool add_instance_objects(InstanceWork& work, const ObjectBatch& batch);
// Closes the input and the defects file. False after a message (the input then removed).
bool end_instance_work(InstanceWork& work);
// Removes what is open after a failure elsewhere.
void abandon_instance_work(InstanceWork& work);
// Removes the input (the solver may have removed it itself) and the defects file.
void remove_instance_input(InstanceWork& work, bool keep_input);

struct PlacementVerdict {
    std::string placement = "missing"; // feasible, infeasible, missing, unreadable
    std::string message;
    PlacementSummary summary;
};
// Checks the placement the solver left; false when the kept defects cannot be read again
// (a message on stderr; exit 2).
bool check_instance_placement(InstanceWork& work, const KitSet& set, bool allow_rotation,
                              PlacementVerdict& verdict);
