// The picture that draw writes, as plain records, and its SVG text. Everything is drawn
// to one scale: objects in a grid (x to the right, y up from each object's lower left
// corner), defects translucent so that overlaps show darker, placed items filled with one
// colour per item type, and below the objects either the instance's item types or the
// placement's summary.
#pragma once

#include "records.h"

#include <cstdint>
#include <string>
#include <vector>

struct PictureItem {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t lx = 0;
    std::int64_t ly = 0;
    std::int64_t type = 0;
    bool bad = false; // breaks a rule: outlined red
};

struct PictureObject {
    std::int64_t index = 0;         // from 0, as in the placement files
    std::int64_t defects_total = 0; // the object's defects; `defects` may hold only the first
    std::vector<Defect> defects;
    std::vector<PictureItem> items;
};

struct Picture {
    std::string title;    // the set, the instance and the objects' size
    std::string subtitle; // how many objects are shown, and of how many
    std::int64_t length = 0;
    std::int64_t width = 0;
    std::vector<PictureObject> objects;
    bool placement = false;
    // Without a placement: all the instance's item types (lx, ly and type), by decreasing
    // area; the picture draws a sample of them.
    std::vector<PictureItem> item_types;
    std::vector<std::string> caption; // lines under the picture
};

// Item types drawn at most; more are sampled evenly over the order by area, and fewer
// when their boxes would fill more than about picture_item_rows_px of rows.
inline constexpr std::size_t picture_max_item_types = 300;
inline constexpr double picture_item_rows_px = 1500;
// Objects drawn at most, and defects drawn at most over all the objects of a picture:
// together they keep the file within a few megabytes.
inline constexpr std::int64_t picture_max_objects = 300;
inline constexpr std::int64_t picture_max_defects = 40000;

std::string render_svg(const Picture& picture);

// Text for XML: &, <, > and " escaped, bytes outside printable ASCII replaced by '?'.
std::string xml_text(const std::string& text);
