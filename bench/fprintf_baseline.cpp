// The generator with the plainest possible writer: every line through fprintf("%f") on a
// default-buffered stream, on one thread. It answers the same dialogue and draws the
// same numbers as defectgen, so the two can be timed on the same workload; its files are
// the same bytes.
#include "defect_generation.h"
#include "dialogue.h"
#include "item_generation.h"
#include "random_stream.h"

#include <cstdio>
#include <iostream>
#include <memory>

int main() {
    auto params = std::make_unique<RunParams>();
    if (const RunOutcome asked = run_dialogue(std::cin, std::cout, *params, OutputSink{});
        asked.end != RunEnd::completed) {
        std::cout << asked.message << '\n';
        return 1;
    }
    const RunParams& p = *params;
    RandomStream stream;
    seed_random_stream(stream, p.seed);
    auto items = std::make_unique<ItemTable>();
    std::FILE* itemfile = std::fopen(p.filename, "w");
    if (itemfile == nullptr) {
        return 1;
    }
    for (int instance = 1; instance <= p.no_instances; ++instance) {
        if (!generate_item_types(p, stream, *items)) {
            std::cout << item_failure_message << '\n';
            return 1;
        }
        for (int j = 0; j < p.no_items; ++j) {
            const Rectangle& item = items->item[static_cast<std::size_t>(j)];
            std::fprintf(itemfile, "%f\t%f\t%f\n",
                         static_cast<double>(static_cast<float>(item.length)),
                         static_cast<double>(static_cast<float>(item.width)),
                         static_cast<double>(static_cast<float>(item.area)));
        }
        std::fprintf(itemfile, "\n");
    }
    std::fclose(itemfile);
    if (p.no_def_type <= 0) {
        return 0;
    }
    auto counts = std::make_unique<DefectCounts>();
    std::FILE* defectfile = std::fopen(p.defectfilename, "w");
    if (defectfile == nullptr) {
        return 1;
    }
    for (int instance = 1; instance <= p.no_instances; ++instance) {
        draw_defect_counts(p, stream, *counts);
        std::fprintf(defectfile, "instance: %d\n\n", instance);
        for (int o = 0; o < p.no_objects; ++o) {
            for (int d = 0; d < counts->no_defects[static_cast<std::size_t>(o)]; ++d) {
                const PlacedDefect placed = place_defect(p, stream);
                const Rectangle& type = p.defect[static_cast<std::size_t>(placed.type)];
                const float x1 = static_cast<float>(placed.x);
                const float y1 = static_cast<float>(placed.y);
                const float x2 = x1 + static_cast<float>(type.length);
                const float y2 = y1 + static_cast<float>(type.width);
                std::fprintf(defectfile, "%f\t%f\t%f\t%f\n", static_cast<double>(x1),
                             static_cast<double>(y1), static_cast<double>(x2),
                             static_cast<double>(y2));
            }
            std::fprintf(defectfile, "\n");
        }
        std::fprintf(defectfile, "\n");
    }
    std::fclose(defectfile);
    return 0;
}
