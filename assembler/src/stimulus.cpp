#include "cranetalk/stimulus.h"

#include <fstream>

#include "cranetalk/line_writer.h"

namespace cranetalk {

std::string moduleName(std::uint32_t page) {
    std::string name;
    if (page >= 26) name.push_back(static_cast<char>('a' + page / 26));
    name.push_back(static_cast<char>('a' + page % 26));
    return name;
}

std::string terminalName(std::uint32_t page, std::uint32_t bitLine) {
    return "pc1.mc.mad.mem.memory-module-" + moduleName(page) + ".m.i" +
           static_cast<char>('0' + bitLine);
}

void writeStimulus(std::ostream& os, const AssemblyResult& r) {
    std::int64_t s = -26;  // running offset
    for (std::uint32_t d = 0; d < kPageCount; ++d) {
        for (std::uint32_t j = 0; j < 6; ++j) {
            writeLine(os, terminalName(d, j));
            writeLine(os, "{");
            writeLine(os, "  t=0");
            for (std::int64_t k = 0; k < 256; ++k) {
                const std::int64_t offset = ((s + k) % 256 + 256) % 256;
                const std::uint8_t byte = r.image[256 * d + static_cast<std::uint32_t>(offset)];
                // The value is the inverse of the bit; the delay is always 1.
                writeLineRaw(os, ((byte >> j) & 1u) ? "  0 1\n" : "  1 1\n");
            }
            writeLine(os, "  loop");
            writeLine(os, "}");
            s += 1;
        }
    }
}

bool writeStimulus(const std::string& fileName, const AssemblyResult& r) {
    std::ofstream file(fileName, std::ios::out | std::ios::trunc);
    if (!file.is_open()) return false;
    writeStimulus(file, r);
    return true;
}

}  // namespace cranetalk
