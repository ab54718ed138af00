// The project loader with all of its files. The input is cut into six parts
// at lines holding only "%%": the project's own lines, then the grid,
// terminals, stimulus, saved views and monitor files, which are written into
// the scratch folder under fixed names. The fixed names are written first and
// the fuzzed project lines after them, so both the line roles and the
// files they name are exercised. Lines naming a monitor file are dropped:
// a monitor file creates the file its first word names, and only the fixed
// one, whose first word the harness sets, may do that.
#include <fstream>
#include <string>
#include <vector>

#include "files/document.h"
#include "files/platform.h"
#include "files/project.h"
#include "fuzz/fuzz_support.h"
#include "universe/universe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& home = fuzz::startFolder();
    const std::string& folder = fuzz::scratchFolder();
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts(1);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        if (line == "%%" && parts.size() < 6)
            parts.emplace_back();
        else
            parts.back() += line + "\n";
        start = end + 1;
    }
    parts.resize(6);
    // The fixed names come first, so a fuzzed line of the same role wins.
    std::string project = "p.grd\np.trm\np.sti\np.uvw\np.mon\n";
    size_t pos = 0;
    while (pos < parts[0].size()) {
        const size_t end = parts[0].find('\n', pos);
        const std::string line = parts[0].substr(pos, end - pos);
        pos = end + 1;
        const std::string stem = line.size() >= 4 ? line.substr(line.size() - 4) : "";
        if (stem == ".mon" || (line.size() >= 5 && line.compare(line.size() - 5, 5, ".mon\r") == 0)) continue;
        project += line + "\n";
    }
    fuzz::writeFile(folder + "/p.prj", project);
    fuzz::writeFile(folder + "/p.grd", parts[1]);
    fuzz::writeFile(folder + "/p.trm", parts[2]);
    fuzz::writeFile(folder + "/p.sti", parts[3]);
    fuzz::writeFile(folder + "/p.uvw", parts[4]);
    fuzz::writeFile(folder + "/p.mon", folder + "/monitor.out\n" + parts[5]);

    HeadlessPlatform platform;
    ProjectLoadResult loaded;
    loadProjectFromPath(platform, folder + "/p.prj", &loaded);
    // The loader makes the project's folder current; the fuzzer needs its own back.
    if (chdir(home.c_str()) != 0) std::abort();
    if (loaded.document) {
        CellforgeDocument& doc = *loaded.document;
        doc.withUniverse([&](Universe& u) {
            for (int g = 0; g < 4; ++g) doc.driver().runGeneration();
            const std::string why = u.verifyConsistency();
            if (!why.empty()) fuzz::fail(why);
        });
    }
    return 0;
}
