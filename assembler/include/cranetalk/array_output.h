// The program image as an array initialiser (the memory file that the
// simulator reads).
#pragma once

#include <ostream>

#include "cranetalk/assembler.h"

namespace cranetalk {

// printImage: "unsigned prog[] = {", one line "<value>," per byte from 0 to
// the program length minus 1, then "};".
void printImage(std::ostream& os, const AssemblyResult& r);

}  // namespace cranetalk
