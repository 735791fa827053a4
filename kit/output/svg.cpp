#include "output/svg.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

constexpr double margin = 24;
constexpr double cell = 290;       // the longer side of an object, in pixels
constexpr double min_cell = 170;   // room for an object's label
constexpr double gap = 24;         // between objects
constexpr double label = 18;       // an object's label line above it
constexpr double item_gap = 6;     // between the item types drawn below
constexpr double content = 1270;   // the width the grid aims at
constexpr double line_height = 18; // of the caption's lines
constexpr double min_defect = 2;   // the least side of a defect as drawn

// Twenty colours far enough apart to tell neighbouring item types from one another.
constexpr std::array<const char*, 20> palette = {
    "#4e79a7", "#a0cbe8", "#59a14f", "#8cd17d", "#b6992d", "#f1ce63", "#499894",
    "#86bcb6", "#79706e", "#bab0ac", "#d37295", "#fabfd2", "#b07aa1", "#d4a6c8",
    "#9d7660", "#d7b5a6", "#6b8e23", "#b8d86b", "#5f9ed1", "#c8d9ea"};

// A coordinate with at most two decimals, without trailing zeros.
std::string num(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", v);
    std::string s = buffer;
    while (s.back() == '0') {
        s.pop_back();
    }
    if (s.back() == '.') {
        s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

void rect(std::string& out, double x, double y, double w, double h, const std::string& extra) {
    out += "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" + num(w) + "\" height=\"" +
           num(h) + "\"" + extra + "/>\n";
}

void text(std::string& out, double x, double y, const std::string& body,
          const std::string& extra = "") {
    out += "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\"" + extra + ">" + xml_text(body) +
           "</text>\n";
}

// A number written inside a box of w x h pixels when it fits there.
void number_inside(std::string& out, double x, double y, double w, double h, std::int64_t n) {
    const std::string digits = std::to_string(n);
    if (w >= 6.5 * static_cast<double>(digits.size()) + 4 && h >= 13) {
        text(out, x + w / 2, y + h / 2 + 4, digits);
    }
}

std::string plural(std::int64_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

} // namespace

std::string xml_text(const std::string& body) {
    std::string out;
    for (const char c : body) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default: {
            const auto u = static_cast<unsigned char>(c);
            out += u >= 0x20 && u < 0x7f ? c : '?';
        }
        }
    }
    return out;
}

std::string render_svg(const Picture& p) {
    const double longer = static_cast<double>(std::max<std::int64_t>({p.length, p.width, 1}));
    const double s = cell / longer;
    const double ow = static_cast<double>(p.length) * s;
    const double oh = static_cast<double>(p.width) * s;
    const double cw = std::max(ow, min_cell);
    const auto count = static_cast<std::int64_t>(p.objects.size());
    const std::int64_t fit =
        std::max<std::int64_t>(1, static_cast<std::int64_t>((content + gap) / (cw + gap)));
    const std::int64_t columns = std::max<std::int64_t>(1, std::min(fit, count));
    const std::int64_t rows = (count + columns - 1) / columns;
    const double grid_w = static_cast<double>(columns) * (cw + gap) - gap;
    // Wide enough for the legend and for the longest caption line (about 7.2 px a character
    // at 13 px).
    double text_w = 800;
    for (const std::string& line : p.caption) {
        text_w = std::max(text_w, 7.2 * static_cast<double>(line.size()));
    }
    const double picture_w = std::max(grid_w, text_w) + 2 * margin;
    const double top = margin + 92;

    std::string body;
    // The objects: outline, label, items, then the defects over them.
    for (std::int64_t k = 0; k < count; ++k) {
        const PictureObject& o = p.objects[static_cast<std::size_t>(k)];
        const double ox = margin + static_cast<double>(k % columns) * (cw + gap);
        const double oy = top + static_cast<double>(k / columns) * (label + oh + gap) + label;
        std::string name =
            "object " + std::to_string(o.index) + ": " + plural(o.defects_total, "defect");
        if (static_cast<std::int64_t>(o.defects.size()) < o.defects_total) {
            name += ", " + std::to_string(o.defects.size()) + " drawn";
        }
        if (p.placement) {
            name += ", " + plural(static_cast<std::int64_t>(o.items.size()), "item");
        }
        text(body, ox, oy - 5, name, " font-size=\"12\"");
        rect(body, ox, oy, ow, oh, " fill=\"#ffffff\" stroke=\"#222222\"");
        auto at = [&](std::int64_t x, std::int64_t y, std::int64_t ly, double& sx, double& sy) {
            sx = ox + static_cast<double>(x) * s;
            sy = oy + static_cast<double>(p.width - y - ly) * s;
        };
        if (!o.items.empty()) {
            body += "<g stroke=\"#333333\" stroke-width=\"0.5\">\n";
            for (const PictureItem& it : o.items) {
                double x = 0, y = 0;
                at(it.x, it.y, it.ly, x, y);
                const auto colour = palette[static_cast<std::size_t>(it.type) % palette.size()];
                rect(body, x, y, static_cast<double>(it.lx) * s, static_cast<double>(it.ly) * s,
                     std::string(" fill=\"") + colour + "\"");
            }
            body += "</g>\n";
        }
        if (!o.defects.empty()) {
            body += "<g fill=\"#e4572e\" fill-opacity=\"0.5\">\n";
            for (const Defect& d : o.defects) {
                double x = 0, y = 0;
                at(d.x1, d.y1, d.y2 - d.y1, x, y);
                double w = static_cast<double>(d.x2 - d.x1) * s;
                double h = static_cast<double>(d.y2 - d.y1) * s;
                // Kept visible: a side below the least is widened about its centre.
                if (w < min_defect) {
                    x -= (min_defect - w) / 2;
                    w = min_defect;
                }
                if (h < min_defect) {
                    y -= (min_defect - h) / 2;
                    h = min_defect;
                }
                rect(body, x, y, w, h, "");
            }
            body += "</g>\n";
        }
        if (!o.items.empty()) {
            body += "<g font-size=\"11\" text-anchor=\"middle\" fill=\"#111111\">\n";
            for (const PictureItem& it : o.items) {
                double x = 0, y = 0;
                at(it.x, it.y, it.ly, x, y);
                number_inside(body, x, y, static_cast<double>(it.lx) * s,
                              static_cast<double>(it.ly) * s, it.type);
            }
            body += "</g>\n";
            body += "<g fill=\"none\" stroke=\"#d00000\" stroke-width=\"2\">\n";
            for (const PictureItem& it : o.items) {
                if (it.bad) {
                    double x = 0, y = 0;
                    at(it.x, it.y, it.ly, x, y);
                    rect(body, x, y, static_cast<double>(it.lx) * s, static_cast<double>(it.ly) * s,
                         "");
                }
            }
            body += "</g>\n";
        }
    }
    double y = top + static_cast<double>(rows) * (label + oh + gap);

    // The item types, in rows, to the objects' scale: an even sample over the order by
    // area when they are too many for the picture.
    if (!p.placement) {
        const std::size_t total = p.item_types.size();
        double area = 0;
        for (const PictureItem& it : p.item_types) {
            area += static_cast<double>(it.lx * it.ly) * s * s;
        }
        const double room = (picture_w - 2 * margin) * picture_item_rows_px * 0.5;
        std::size_t shown = std::min(total, picture_max_item_types);
        if (area > 0) {
            const double fit = room / (area / static_cast<double>(total));
            shown = std::min(shown, static_cast<std::size_t>(std::max(1.0, fit)));
        }
        const std::string note =
            shown < total
                ? std::to_string(shown) + " of " + std::to_string(total) +
                      " item types by decreasing area, evenly sampled from the "
                      "largest to the smallest"
                : plural(static_cast<std::int64_t>(total), "item type") + " by decreasing area";
        y += 8;
        text(body, margin, y, note, " font-size=\"13\"");
        y += 12;
        const double right = picture_w - margin;
        double x = margin;
        double row_h = 0;
        std::string boxes;
        std::string numbers;
        for (std::size_t k = 0; k < shown; ++k) {
            const PictureItem& it = p.item_types[k * total / shown];
            const double w = static_cast<double>(it.lx) * s;
            const double h = static_cast<double>(it.ly) * s;
            if (x > margin && x + w > right) {
                x = margin;
                y += row_h + item_gap;
                row_h = 0;
            }
            rect(boxes, x, y, w, h, "");
            number_inside(numbers, x, y, w, h, it.type);
            x += w + item_gap;
            row_h = std::max(row_h, h);
        }
        body += "<g fill=\"#9db4c0\" stroke=\"#334455\" stroke-width=\"0.5\">\n" + boxes +
                "</g>\n<g font-size=\"11\" text-anchor=\"middle\" fill=\"#111111\">\n" + numbers +
                "</g>\n";
        y += row_h + gap;
    }
    for (const std::string& line : p.caption) {
        y += line_height - 4;
        text(body, margin, y, line, " font-size=\"13\"");
        y += 4;
    }
    const double picture_h = y + margin;

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      num(picture_w) + "\" height=\"" + num(picture_h) + "\" viewBox=\"0 0 " +
                      num(picture_w) + " " + num(picture_h) +
                      "\" font-family=\"DejaVu Sans, Verdana, sans-serif\">\n";
    out += "<title>" + xml_text(p.title) + "</title>\n";
    rect(out, 0, 0, picture_w, picture_h, " fill=\"#ffffff\"");
    text(out, margin, margin + 16, p.title, " font-size=\"18\" font-weight=\"bold\"");
    text(out, margin, margin + 38, p.subtitle, " font-size=\"13\"");
    text(out, margin, margin + 56,
         "x to the right, y up from each object's lower left corner; 1 unit = " + num(s) +
             " px; objects and items numbered from 0, as in placement files",
         " font-size=\"12\" fill=\"#444444\"");
    rect(out, margin, margin + 65, 24, 10, " fill=\"#e4572e\" fill-opacity=\"0.5\"");
    rect(out, margin + 12, margin + 68, 24, 10, " fill=\"#e4572e\" fill-opacity=\"0.5\"");
    text(out, margin + 44, margin + 76,
         "defects, darker where they overlap (drawn at least 2 px wide and high)",
         " font-size=\"12\" fill=\"#444444\"");
    out += body;
    out += "</svg>\n";
    return out;
}
