// Reading a placement: the CSV file that a placement algorithm writes for one instance
// (header TYPE,ID,COPIES,BIN,X,Y,LX,LY, optionally followed by GROUP_ID, which is ignored),
// with BIN, ITEM and DEFECT rows. Memory stays bounded whatever the file holds: at most
// as many ITEM rows as the instance has items, at most MAXMOD BIN rows, and the DEFECT
// rows are not held at all: only where each run of them starts, to be read again when
// their object comes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A problem in the placement file: its line, and the message that follows "FILE:LINE: ".
struct PlacementProblem {
    std::uint64_t line = 0;
    std::string message;
    std::uint64_t sequence = 0; // the order found, among problems of one line
};

// A BIN row: the placement's bin `index` is object `type` of the instance.
struct PlacementBin {
    std::int64_t type = 0;
    std::int64_t index = 0;
    std::int64_t copies = 0;
    std::int64_t lx = 0;
    std::int64_t ly = 0;
    std::uint64_t line = 0;
};

// An ITEM row: item `type` placed on placement bin `bin` with its corner nearest the
// origin at (x, y) and the placed size lx x ly.
struct PlacementItem {
    std::int64_t type = 0;
    std::int64_t bin = 0;
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t lx = 0;
    std::int64_t ly = 0;
    std::uint64_t line = 0;
};

// A DEFECT row: the echo of defect `id` of the object that placement bin `bin` is.
struct PlacementDefect {
    std::int64_t id = 0;
    std::int64_t bin = 0;
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t lx = 0;
    std::int64_t ly = 0;
    std::uint64_t line = 0;
};

// Consecutive DEFECT rows of one bin: where the first starts in the file.
struct DefectRun {
    std::int64_t bin = 0;
    std::uint64_t offset = 0;
    std::uint64_t line = 0;
    std::uint32_t count = 0;
};

struct Placement {
    std::string path;
    std::size_t columns = 8; // 9 when the header ends with GROUP_ID
    int fd = -1;             // kept open to read the DEFECT runs again; see close_placement
    std::vector<PlacementBin> bins;
    std::vector<PlacementItem> items;
    std::vector<DefectRun> defect_runs;
    std::uint64_t defect_rows = 0;
    std::vector<PlacementProblem> problems; // rows that cannot be read, in file order
};

// Longest line read; a valid row is far shorter.
inline constexpr std::size_t placement_max_line = 1024;
// Malformed rows reported before the reading stops.
inline constexpr std::size_t placement_max_problems = 100;
// Separate runs of DEFECT rows held at most (each run is a few bytes).
inline constexpr std::size_t placement_max_defect_runs = 100000;

// Reads the file, holding at most `max_items` ITEM rows (the instance's items times their
// copies). Malformed rows go to `problems`; the reading stops at the first row beyond a
// bound. False, with the message on stderr, when the file cannot be opened or read (exit 2).
bool read_placement(const std::string& path, std::uint64_t max_items, Placement& placement);
void close_placement(Placement& placement);

// Reads the DEFECT rows of one run again. Malformed rows cannot occur (the first reading
// checked them); false, with the message on stderr, when the file cannot be read again.
bool read_defect_run(Placement& placement, const DefectRun& run,
                     std::vector<PlacementDefect>& rows);
