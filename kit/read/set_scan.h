// The two files of a set parsed line by line and held against everything defectgen
// guarantees of them. Each file has a scanner of its own that hands out events in file
// order and collects the problems it meets; `check` runs both to their end and reports
// every problem, the set reader stops at the first one.
#pragma once

#include "read/line_source.h"
#include "read/open_set.h"
#include "read/set_reader.h"

#include <cstdint>
#include <string>
#include <vector>

// The line numbers of both files' problems, in file order; only the first few are kept.
struct Problem {
    std::uint64_t line = 0;
    std::string message;
};

struct ProblemList {
    std::vector<Problem> kept;
    std::size_t keep = 20;
    std::uint64_t count = 0;
};

void add_problem(ProblemList& list, std::uint64_t line, std::string message);

// What the files must hold, from the answers (every rule) or from --object alone (the
// object and whatever the files tell of themselves).
struct SetRules {
    bool from_answers = false;
    std::int64_t length = 0; // the object
    std::int64_t width = 0;
    std::int64_t area = 0;
    std::int32_t instances = -1;            // -1: not known
    std::int32_t items_per_instance = -1;   // -1: the first block tells
    std::int32_t objects_per_instance = -1; // -1: the first instance tells
    // Areas as single precision holds them, when the answers give the bounds.
    std::int64_t minarea = 0;
    std::int64_t maxarea = 0;
    // Defect lines an object may carry (when the answers give the bounds).
    std::int64_t min_defects = 0;
    std::int64_t max_defects = MAXDEF;
    // The defect types (length, width) as the answers give them, and the same pairs
    // sorted for looking sizes up.
    std::vector<Rectangle> types;
    std::vector<std::uint64_t> type_keys;
    // The answers give a few types (at most 8), so that most defect lines are told fine
    // by a few comparisons; otherwise every line takes the general way.
    bool few_types = false;
};

SetRules make_set_rules(const KitSet& set);

// The numbers of a line of either file: `count` whole numbers, each written as "%f" writes
// a single-precision value, separated by single tabs. Fills `values` and returns true when
// the line is exactly that; else false with what is wrong in `why`.
bool parse_number_fields(const char* p, const char* end, std::int64_t* values, int count,
                         std::string& why);

// The same for a line exactly as defectgen writes it, parsed in place with its line end:
// returns the bytes taken, or 0 for any other line (and sometimes for one that is fine,
// near the end of what can be read), which the general path then reads.
std::size_t parse_in_place(const char* p, const char* end, std::int64_t* values, int count);

enum class ItemsEvent { item, block_end, end };

struct ItemsScan {
    LineSource source;
    const SetRules* rules = nullptr;
    ProblemList problems;
    bool stop_at_problem = false; // the reader: no events after the first problem
    bool quiet = false;           // check: no item events, only problems and counts
    // check decides itself what a file short of instances is (it may be a generation
    // failure); the reader reports it at once.
    bool report_missing_instances = true;

    std::int32_t blocks = 0;     // complete blocks so far
    std::int64_t in_block = 0;   // item lines of the block being read
    std::int64_t per_block = -1; // item lines every block must hold, once known
    std::uint64_t items = 0;     // item lines in complete and partial blocks
    std::uint64_t end_line = 0;  // the line after the last one, at the end
    bool ended_inside = false;   // the file ended inside a block
    bool finished = false;
    // Notes.
    std::uint64_t beyond_object = 0; // items longer or wider than the object
    bool all_alike = true;
    Item first_item;
};

// The next item line, block end or the end of the file (or of reading, after a problem
// when stop_at_problem is set, or a read error: source.error).
ItemsEvent next_items_event(ItemsScan& scan, Item& item);

enum class DefectsEvent { instance_start, defect, object_end, instance_end, end };

enum class DefectsState { want_header, want_header_blank, want_object, in_object };

struct DefectsScan {
    LineSource source;
    const SetRules* rules = nullptr;
    ProblemList problems;
    bool stop_at_problem = false;
    bool quiet = false; // check: fewer events (no defects, most object ends not told)

    DefectsState state = DefectsState::want_header;
    bool holding = false; // `held` is to be handled again in the new state
    Line held;
    std::int32_t instance = 0;      // the current (or last) instance's number
    std::int64_t objects_done = 0;  // objects of the current instance
    std::int64_t per_instance = -1; // objects every instance must hold, once known
    bool told_too_many = false;     // "a block too many" said for this instance
    std::int64_t in_object = 0;     // defect lines of the current object
    std::int32_t instances = 0;     // complete instances
    std::uint64_t objects = 0;
    std::uint64_t defects = 0;
    std::uint64_t end_line = 0;
    bool finished = false;
    bool all_at_origin = true;
    // A scan of the first part of a file that another scan goes on with: its end is no
    // end of the file, and ends_cleanly tells whether it fell between two instances.
    bool file_goes_on = false;
    bool ends_cleanly = false;
};

DefectsEvent next_defects_event(DefectsScan& scan, Defect& defect);

// The reader's way through an object in one go: the defect lines ahead that
// next_defects_event would hand out one by one without a word, appended to `defects`.
// True when the object's closing empty line has been taken too (as an object_end event
// would take it); false when a line is left that next_defects_event must read.
bool take_plain_defects(DefectsScan& scan, std::vector<Defect>& defects);

// "1 object", "2 objects".
std::string counted(std::uint64_t n, const char* one, const char* many);

// "the file ends inside instance 17; was the run cut short?"
std::string cut_short_message(std::int64_t instance);
// "the file ends after instance 16 of 200; was the run cut short?"
std::string missing_instances_message(std::int32_t held, std::int32_t asked);
