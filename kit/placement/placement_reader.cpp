// The placement reader: one pass over the CSV file that checks each row's form and holds
// the BIN and ITEM rows, the DEFECT rows only as runs to be read again when their object
// comes. Lines come from the set's own line source, which cuts lines too long.
#include "placement/placement_reader.h"

#include "defectgen.h"
#include "read/line_source.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <string_view>
#include <unordered_map>

namespace {

// The next line as a string, without a "\r" before its line end, and the byte offset
// where it starts (from where the source began). False at the end or on a read error.
bool next_row_line(LineSource& src, std::string& line, std::uint64_t& start, bool& too_long) {
    start = src.bytes_done;
    Line read;
    if (!next_line(src, read)) {
        return false;
    }
    line.assign(read.data, read.size);
    too_long = read.too_long;
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return true;
}

// A field as a whole number: an optional minus sign and 1 to 15 digits.
bool parse_number(std::string_view field, std::int64_t& value) {
    bool negative = false;
    if (!field.empty() && field.front() == '-') {
        negative = true;
        field.remove_prefix(1);
    }
    if (field.empty() || field.size() > 15) {
        return false;
    }
    std::int64_t v = 0;
    for (const char c : field) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + (c - '0');
    }
    value = negative ? -v : v;
    return true;
}

// A whole number in form, with more digits than parse_number takes.
bool too_many_digits(std::string_view field) {
    if (!field.empty() && field.front() == '-') {
        field.remove_prefix(1);
    }
    return field.size() > 15 && field.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string printable(std::string_view text) {
    std::string out;
    for (const char c : text.substr(0, 40)) {
        const auto u = static_cast<unsigned char>(c);
        out += u >= 0x20 && u < 0x7f ? c : '?';
    }
    return text.size() > 40 ? out + "..." : out;
}

// The fields of a row; false when their number is wrong.
bool split(std::string_view line, std::size_t expected, std::array<std::string_view, 9>& fields) {
    std::size_t count = 0;
    for (;;) {
        const std::size_t comma = line.find(',');
        if (count == expected) {
            return false;
        }
        fields[count++] = line.substr(0, comma);
        if (comma == std::string_view::npos) {
            break;
        }
        line.remove_prefix(comma + 1);
    }
    return count == expected;
}

enum class RowType { bin, item, defect };

struct ParsedRow {
    RowType type = RowType::bin;
    std::int64_t id = 0, copies = 1, bin = 0, x = 0, y = 0, lx = 0, ly = 0;
};

constexpr std::array<const char*, 8> column_names = {"TYPE", "ID", "COPIES", "BIN",
                                                     "X",    "Y",  "LX",     "LY"};

// Parses a data row; on a problem returns its message.
std::string parse_row(std::string_view line, std::size_t columns, ParsedRow& row) {
    std::array<std::string_view, 9> fields{};
    if (!split(line, columns, fields)) {
        return "expected " + std::to_string(columns) + " comma-separated fields, as the header";
    }
    if (fields[0] == "BIN") {
        row.type = RowType::bin;
    } else if (fields[0] == "ITEM") {
        row.type = RowType::item;
    } else if (fields[0] == "DEFECT") {
        row.type = RowType::defect;
    } else {
        return "unknown row type \"" + printable(fields[0]) + "\" (BIN, ITEM or DEFECT)";
    }
    // The fields each row type uses; the others may be empty or any whole number.
    constexpr std::array<std::array<bool, 8>, 3> used = {{
        {false, true, true, true, false, false, true, true},
        {false, true, false, true, true, true, true, true},
        {false, true, false, true, true, true, true, true},
    }};
    std::array<std::int64_t, 8> values{0, 0, 1, 0, 0, 0, 0, 0};
    for (std::size_t i = 1; i < 8; ++i) {
        const bool needed = used[static_cast<std::size_t>(row.type)][i];
        if (fields[i].empty() && !needed) {
            continue;
        }
        if (!parse_number(fields[i], values[i])) {
            return std::string(column_names[i]) + " \"" + printable(fields[i]) +
                   (too_many_digits(fields[i]) ? "\" is too long: at most 15 digits"
                                               : "\" is not a whole number");
        }
    }
    row.id = values[1];
    row.copies = values[2];
    row.bin = values[3];
    row.x = values[4];
    row.y = values[5];
    row.lx = values[6];
    row.ly = values[7];
    if (row.type == RowType::item && row.copies != 1) {
        return "COPIES " + std::to_string(row.copies) + ": an ITEM row places one item";
    }
    return {};
}

// Only regular files are read: a FIFO cannot hold the program.
bool open_placement(const std::string& path, int& fd) {
    std::uint64_t size = 0;
    std::string message;
    if (open_regular_file(path, fd, size, message)) {
        return true;
    }
    if (errno == EISDIR || errno == EINVAL) {
        std::cerr << path << ": not a regular file (a placement is read from a file)\n";
    } else {
        std::cerr << path << ": cannot open the placement: " << std::strerror(errno) << "\n";
    }
    return false;
}

// Lines of at most this many bytes are read whole; a longer one is cut and marked.
static_assert(placement_max_line == max_kit_line_length);

// ---- One pass over the file.

// What the pass keeps as it goes: the placement it fills, the line it stands at and where
// that line starts, and the DEFECT rows counted per bin.
struct Pass {
    Placement& placement;
    const std::uint64_t max_items;
    std::uint64_t number = 0;
    std::uint64_t start = 0;
    // With {}, Pass{placement, max_items} initialises every member (-Wextra asks for it).
    std::unordered_map<std::int64_t, std::uint32_t> defects_per_bin{};
};

// Notes a problem of the current line; false once so many are noted that the reading stops.
bool note_problem(Pass& pass, std::string message) {
    pass.placement.problems.push_back({pass.number, std::move(message)});
    return pass.placement.problems.size() < placement_max_problems;
}

// The first line, which tells the number of columns. False when it is no header: the
// file is then not read further.
bool read_header(Pass& pass, std::string& line, bool too_long) {
    if (too_long) {
        note_problem(pass, "the header is longer than " + std::to_string(placement_max_line) +
                               " bytes: is this a placement file?");
        return false;
    }
    if (line.starts_with("\xEF\xBB\xBF")) {
        line.erase(0, 3);
    }
    if (line == "TYPE,ID,COPIES,BIN,X,Y,LX,LY") {
        pass.placement.columns = 8;
    } else if (line == "TYPE,ID,COPIES,BIN,X,Y,LX,LY,GROUP_ID") {
        pass.placement.columns = 9;
    } else {
        note_problem(pass, "the header is not TYPE,ID,COPIES,BIN,X,Y,LX,LY (optionally followed "
                           "by ,GROUP_ID): is this a placement file?");
        return false;
    }
    return true;
}

// The bounds below stop the reading at the first row beyond them, so that memory stays
// bounded whatever the file holds.

bool take_bin(Pass& pass, const ParsedRow& row) {
    std::vector<PlacementBin>& bins = pass.placement.bins;
    if (bins.size() == static_cast<std::size_t>(MAXMOD)) {
        note_problem(pass, "more than " + std::to_string(MAXMOD) +
                               " BIN rows: an instance has at most that many objects");
        return false;
    }
    bins.push_back({row.id, row.bin, row.copies, row.lx, row.ly, pass.number});
    return true;
}

bool take_item(Pass& pass, const ParsedRow& row) {
    std::vector<PlacementItem>& items = pass.placement.items;
    if (items.size() == pass.max_items) {
        note_problem(pass, "more ITEM rows than the instance has items (" +
                               std::to_string(pass.max_items) +
                               "): each item is placed once at most");
        return false;
    }
    items.push_back({row.id, row.bin, row.x, row.y, row.lx, row.ly, pass.number});
    return true;
}

// A DEFECT row is not held: it extends the run of the row before it, or starts a run.
bool take_defect(Pass& pass, const ParsedRow& row) {
    Placement& placement = pass.placement;
    std::uint32_t& count = pass.defects_per_bin[row.bin];
    if (count == static_cast<std::uint32_t>(MAXDEF)) {
        note_problem(pass, "more than " + std::to_string(MAXDEF) + " DEFECT rows for bin " +
                               std::to_string(row.bin) +
                               ": an object has at most that many defects");
        return false;
    }
    ++count;
    ++placement.defect_rows;
    DefectRun* last = placement.defect_runs.empty() ? nullptr : &placement.defect_runs.back();
    if (last != nullptr && last->bin == row.bin && last->line + last->count == pass.number) {
        ++last->count;
        return true;
    }
    if (placement.defect_runs.size() == placement_max_defect_runs) {
        note_problem(pass, "the DEFECT rows are scattered over more than " +
                               std::to_string(placement_max_defect_runs) +
                               " runs: write the DEFECT rows of each bin together");
        return false;
    }
    placement.defect_runs.push_back({row.bin, pass.start, pass.number, 1});
    return true;
}

// A line after the header: nothing when empty, else a row held by its type or a problem.
// False when the reading stops.
bool read_row(Pass& pass, const std::string& line, bool too_long) {
    if (too_long) {
        return note_problem(pass,
                            "line longer than " + std::to_string(placement_max_line) + " bytes");
    }
    if (line.empty()) {
        return true;
    }
    ParsedRow row;
    if (std::string message = parse_row(line, pass.placement.columns, row); !message.empty()) {
        return note_problem(pass, std::move(message));
    }
    switch (row.type) {
    case RowType::bin:
        return take_bin(pass, row);
    case RowType::item:
        return take_item(pass, row);
    case RowType::defect:
        return take_defect(pass, row);
    }
    return false;
}

// Every line in turn until the end or until the reading stops.
void read_lines(LineSource& src, Pass& pass) {
    std::string line;
    bool too_long = false;
    while (next_row_line(src, line, pass.start, too_long)) {
        ++pass.number;
        if (!(pass.number == 1 ? read_header(pass, line, too_long)
                               : read_row(pass, line, too_long))) {
            return;
        }
    }
}

} // namespace

bool read_placement(const std::string& path, std::uint64_t max_items, Placement& placement) {
    placement = Placement{};
    placement.path = path;
    if (!open_placement(path, placement.fd)) {
        return false;
    }
    LineSource src;
    init_line_source(src, path, ::dup(placement.fd), std::size_t{1} << 16);
    Pass pass{placement, max_items};
    read_lines(src, pass);
    const int error = src.error;
    close_line_source(src);
    if (error != 0) {
        std::cerr << path << ": cannot read the placement: " << std::strerror(error) << "\n";
        close_placement(placement);
        return false;
    }
    if (pass.number == 0) {
        placement.problems.push_back(
            {1, "the file is empty: no header TYPE,ID,COPIES,BIN,X,Y,LX,LY"});
    }
    return true;
}

void close_placement(Placement& placement) {
    if (placement.fd >= 0) {
        ::close(placement.fd);
        placement.fd = -1;
    }
}

bool read_defect_run(Placement& placement, const DefectRun& run,
                     std::vector<PlacementDefect>& rows) {
    rows.clear();
    const int fd = placement.fd >= 0 ? ::dup(placement.fd) : -1;
    if (fd < 0) {
        std::cerr << placement.path << ": cannot read the placement again\n";
        return false;
    }
    LineSource src;
    init_line_source(src, placement.path, fd, std::size_t{1} << 16);
    src.offset = run.offset; // the run's first row
    std::string line;
    std::uint64_t start = 0;
    bool too_long = false;
    for (std::uint64_t number = run.line; number < run.line + run.count; ++number) {
        ParsedRow row;
        if (!next_row_line(src, line, start, too_long) ||
            !parse_row(line, placement.columns, row).empty() || row.type != RowType::defect) {
            std::cerr << placement.path << ":" << number
                      << ": the placement changed while it was read\n";
            close_line_source(src);
            return false;
        }
        rows.push_back({row.id, row.bin, row.x, row.y, row.lx, row.ly, number});
    }
    close_line_source(src);
    return true;
}
