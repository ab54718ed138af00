// cellforge-membank: writes the memory-bank demo project into a folder.
//   cellforge-membank DIR
// The stimulus file the project names comes from assembling a program with
// cranetalk into the same folder.
#include <iostream>
#include <string>

#include "tools/membank_project.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: cellforge-membank DIR\n";
        return 2;
    }
    std::string error;
    if (!membank::writeProjectFiles(argv[1], error)) {
        std::cerr << "cellforge-membank: cannot write '" << error << "'\n";
        return 1;
    }
    return 0;
}
