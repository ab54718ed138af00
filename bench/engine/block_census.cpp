// Block census: where a universe's memory goes while it runs. Machines that
// move leave empty blocks behind them, and those stay (in the chains, the
// table and their storage) until the periodic clean-up; this counts them.
//
// Every PERIOD generations it prints, for the blocks of the universe:
//   blocks     - all of them, husks included
//   husks      - blocks kept in the compact form (universe.h, Husks); the
//                columns below count only the others
//   empty      - no part in any cell
//   dormant    - empty and on no list: nothing refers to them but their
//                neighbours, the chains and the table
//   interior   - dormant blocks whose every face neighbour is dormant or
//                missing: a listed or occupied block is at least two steps
//                away
//   columns    - distinct cell-column contents among the interior blocks
//   woken      - interior blocks of the previous report that were on the
//                current list at some generation since (they would have
//                had to be brought back)
//   storage MB - Universe::storageBytes() (blocks of every chunk, extras,
//                table, chains); worklist KB - Universe::worklistBytes();
//                rss MB - the process's resident size
//
// usage: block_census cars N | FILE.grd [GENERATIONS] [PERIOD]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <unordered_set>

#include "files/grid_file.h"
#include "tools/workloads.h"
#include "universe/universe.h"

namespace {

long residentMB() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6) / 1024;
    return -1;
}

bool dormant(const UniverseBlock* b) { return b->listFlags == 0 && b->occupied == 0 && !b->extras; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: block_census cars N | FILE.grd [GENERATIONS] [PERIOD]\n");
        return 2;
    }
    Universe u;
    int next = 2;
    if (std::strcmp(argv[1], "cars") == 0 && argc > 2) {
        workloads::CarOptions o;
        o.cars = std::atoi(argv[2]);
        std::ostringstream text;
        workloads::writeCars(text, o);
        std::istringstream in(text.str());
        readGridFile(u, in);
        next = 3;
    } else {
        std::ifstream in(argv[1]);
        if (!in) {
            std::fprintf(stderr, "block_census: cannot open '%s'\n", argv[1]);
            return 2;
        }
        readGridFile(u, in);
    }
    const long generations = argc > next ? std::atol(argv[next]) : 10000;
    const long period = argc > next + 1 ? std::atol(argv[next + 1]) : 1000;
    std::printf("sizeof(UniverseBlock) %zu, cell columns %zu\n", sizeof(UniverseBlock), sizeof(CellColumns));
    std::unordered_set<const UniverseBlock*> interiorBefore, wokenSince;
    uint64_t epoch = u.layoutEpoch();
    for (long g = 1; g <= generations; ++g) {
        u.stepGeneration();
        if (u.layoutEpoch() != epoch) {  // freed or moved blocks: the old pointers mean nothing
            interiorBefore.clear();
            wokenSince.clear();
            epoch = u.layoutEpoch();
        }
        if (!interiorBefore.empty())
            for (const UniverseBlock* b : u.currentList())
                if (interiorBefore.count(b)) wokenSince.insert(b);
        if (g % period != 0 && g % Universe::kCleanUpPeriod != Universe::kCleanUpPeriod - 1) continue;
        size_t empty = 0, dormantCount = 0, interior = 0;
        std::set<std::string> columns;
        std::unordered_set<const UniverseBlock*> interiorNow;
        u.forEachBlock([&](const UniverseBlock* b) {
            empty += b->occupied == 0;
            if (!dormant(b)) return;
            ++dormantCount;
            for (const UniverseBlock* n : b->neighbour)
                if (n && !dormant(n)) return;
            ++interior;
            interiorNow.insert(b);
            columns.insert(std::string(reinterpret_cast<const char*>(&b->cells), sizeof b->cells));
        });
        std::printf("gen %u blocks %zu husks %zu empty %zu dormant %zu interior %zu columns %zu woken %zu storage %zu MB "
                    "worklist %zu KB rss %ld MB\n",
                    u.generation, u.blockCount(), u.huskCount(), empty, dormantCount, interior, columns.size(),
                    wokenSince.size(),
                    u.storageBytes() >> 20, u.worklistBytes() >> 10, residentMB());
        std::fflush(stdout);
        interiorBefore.swap(interiorNow);
        wokenSince.clear();
    }
    return 0;
}
