// Makes a large feasible placement for the check-solution benchmark: reads the first
// instance of an items file and a defects file as defectgen writes them and places the
// items in order, PER_OBJECT on each object, along the object's lower edge from left to
// right, each moved past any defect it would cover. Writes the placement CSV on stdout,
// with the DEFECT rows of every object used when ECHO is 1.
//
//   kit_placement_maker ITEMS DEFECTS LENGTH WIDTH PER_OBJECT ECHO > placement.csv
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Box {
    long x1, y1, x2, y2;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::cerr << "usage: kit_placement_maker ITEMS DEFECTS LENGTH WIDTH PER_OBJECT ECHO\n";
        return 2;
    }
    const long length = std::atol(argv[3]);
    const long width = std::atol(argv[4]);
    const long per_object = std::atol(argv[5]);
    const bool echo = std::atol(argv[6]) == 1;
    std::ifstream items_file(argv[1]);
    std::ifstream defects_file(argv[2]);
    std::vector<std::pair<long, long>> items;
    std::string line;
    while (std::getline(items_file, line) && !line.empty()) {
        double l = 0, w = 0, a = 0;
        std::istringstream(line) >> l >> w >> a;
        items.emplace_back(static_cast<long>(l), static_cast<long>(w));
    }
    std::getline(defects_file, line); // instance: 1
    std::getline(defects_file, line); // its empty line
    std::string out = "TYPE,ID,COPIES,BIN,X,Y,LX,LY\n";
    std::size_t next = 0;
    std::vector<Box> defects;
    for (long object = 0; next < items.size(); ++object) {
        defects.clear();
        while (std::getline(defects_file, line) && !line.empty()) {
            double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
            std::istringstream(line) >> x1 >> y1 >> x2 >> y2;
            defects.push_back({static_cast<long>(x1), static_cast<long>(y1), static_cast<long>(x2),
                               static_cast<long>(y2)});
        }
        if (!defects_file) {
            break;
        }
        out += "BIN," + std::to_string(object) + ",1," + std::to_string(object) + ",0,0," +
               std::to_string(length) + "," + std::to_string(width) + "\n";
        long x = 0;
        for (long k = 0; k < per_object && next < items.size(); ++k) {
            const auto [l, w] = items[next];
            bool moved = true;
            while (moved && x + l <= length) {
                moved = false;
                for (const Box& d : defects) {
                    if (d.x1 < x + l && x < d.x2 && d.y1 < w && 0 < d.y2) {
                        x = d.x2;
                        moved = true;
                    }
                }
            }
            if (x + l > length || w > width) {
                break; // the rest of this object's row is taken: the next object
            }
            out += "ITEM," + std::to_string(next) + ",1," + std::to_string(object) + "," +
                   std::to_string(x) + ",0," + std::to_string(l) + "," + std::to_string(w) + "\n";
            x += l;
            ++next;
        }
        if (echo) {
            for (std::size_t d = 0; d < defects.size(); ++d) {
                const Box& b = defects[d];
                out += "DEFECT," + std::to_string(d) + ",," + std::to_string(object) + "," +
                       std::to_string(b.x1) + "," + std::to_string(b.y1) + "," +
                       std::to_string(b.x2 - b.x1) + "," + std::to_string(b.y2 - b.y1) + "\n";
            }
        }
        if (out.size() > (1u << 20)) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::cerr << next << " of " << items.size() << " items placed\n";
    return next == items.size() ? 0 : 1;
}
