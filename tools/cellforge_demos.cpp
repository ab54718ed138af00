// cellforge-demos: writes the demo projects.
//   cellforge-demos write EXAMPLES_DIR   writes EXAMPLES_DIR/cars/* and EXAMPLES_DIR/showcase/*
//   cellforge-demos check EXAMPLES_DIR   exits 1 (naming the file) when a file there differs
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tools/demo_scenes.h"

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (argc != 3 || (mode != "write" && mode != "check")) {
        std::cerr << "usage: cellforge-demos write|check EXAMPLES_DIR\n";
        return 2;
    }
    const std::string root = argv[2];
    int differ = 0;
    for (const auto& [folder, files] : {std::pair{"cars", demos::carsDemo()}, std::pair{"showcase", demos::showcaseDemo()}}) {
        for (const auto& [name, text] : files) {
            const std::string path = root + "/" + folder + "/" + name;
            if (mode == "write") {
                std::ofstream out(path, std::ios::binary | std::ios::trunc);
                out << text;
                if (!out.flush()) {
                    std::cerr << "cellforge-demos: cannot write " << path << "\n";
                    return 1;
                }
            } else {
                std::ifstream in(path, std::ios::binary);
                std::ostringstream have;
                have << in.rdbuf();
                if (!in || have.str() != text) {
                    std::cerr << "cellforge-demos: " << path << " differs from the generator's output\n";
                    ++differ;
                }
            }
        }
    }
    return differ ? 1 : 0;
}
