// Makes a hostile placement for the memory bound of check-solution and draw: ROWS DEFECT
// rows, every one of them a problem, written on stdout.
//   orphans:  1000 DEFECT rows for each of ROWS / 1000 bins that have no BIN row (any set);
//   mismatch: BINS BIN rows for the objects 0 to BINS - 1 of LENGTH x WIDTH, each followed by
//             ROWS / BINS DEFECT rows of a size no defect has (a set of at least BINS objects).
//
//   kit_faulty_placement orphans ROWS > placement.csv
//   kit_faulty_placement mismatch ROWS BINS LENGTH WIDTH > placement.csv
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void emit(std::string& out, bool last = false) {
    if (last || out.size() > (1u << 20)) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
    }
}

void defect_rows(std::string& out, long bin, long count) {
    const std::string row_end = "," + std::to_string(bin) + ",0,0,1,1\n";
    for (long d = 0; d < count; ++d) {
        out += "DEFECT," + std::to_string(d) + "," + row_end;
        emit(out);
    }
}

} // namespace

int main(int argc, char** argv) {
    const bool orphans = argc == 3 && std::strcmp(argv[1], "orphans") == 0;
    const bool mismatch = argc == 6 && std::strcmp(argv[1], "mismatch") == 0;
    if (!orphans && !mismatch) {
        std::fprintf(stderr, "usage: kit_faulty_placement orphans ROWS\n"
                             "       kit_faulty_placement mismatch ROWS BINS LENGTH WIDTH\n");
        return 2;
    }
    const long rows = std::atol(argv[2]);
    std::string out = "TYPE,ID,COPIES,BIN,X,Y,LX,LY\n";
    if (orphans) {
        for (long bin = 0; bin < rows / 1000; ++bin) {
            defect_rows(out, bin, 1000);
        }
    } else {
        const long bins = std::atol(argv[3]);
        for (long bin = 0; bin < bins; ++bin) {
            out += "BIN," + std::to_string(bin) + ",1," + std::to_string(bin) + ",,," +
                   std::string(argv[4]) + "," + std::string(argv[5]) + "\n";
            defect_rows(out, bin, rows / bins);
        }
    }
    emit(out, true);
    return 0;
}
