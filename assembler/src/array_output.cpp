#include "cranetalk/array_output.h"

#include <string>

#include "cranetalk/line_writer.h"

namespace cranetalk {

void printImage(std::ostream& os, const AssemblyResult& r) {
    writeLine(os, "unsigned prog[] = {");
    for (std::uint32_t a = 0; a < r.programLength; ++a) {
        writeLine(os, std::to_string(r.image[a]) + ",");
    }
    writeLine(os, "};");
}

}  // namespace cranetalk
