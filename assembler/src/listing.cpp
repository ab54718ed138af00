#include "cranetalk/listing.h"

#include <fstream>
#include <string_view>

#include "cranetalk/line_writer.h"

namespace cranetalk {

ListingNames buildListingNames(const std::map<std::string, std::uint32_t>& labels) {
    ListingNames names{};
    // Ascending byte-wise order: where labels share an address, the name
    // that sorts last stays.
    for (const auto& [name, address] : labels) {
        if (address < kImageSize) names[address] = &name;
    }
    return names;
}

namespace {

// Four-digit address with leading zeros, then one space.
void appendAddress(std::string& line, std::uint32_t address) {
    std::string digits = std::to_string(address);
    if (digits.size() < 4) line.append(4 - digits.size(), '0');
    line.append(digits);
    line.push_back(' ');
}

}  // namespace

std::uint32_t listInstruction(std::ostream& os, const AssemblyResult& r,
                              const ListingNames& names, std::uint32_t address) {
    const std::uint8_t b = r.image[address];
    std::string line;
    appendAddress(line, address);
    if ((b & code::OperandBit) == 0) {
        const std::string_view name = listingName(b);
        if (!name.empty()) {
            line.append(name);
        } else {
            // Codes without a listing name: "DB " and the value.
            line.append("DB ");
            line.append(std::to_string(b));
        }
        writeLine(os, line);
        return address + 1;
    }
    if (address + 1 < r.programLength && (r.image[address + 1] & code::OperandBit) != 0) {
        const std::uint32_t target = decodeCallTarget(b, r.image[address + 1]);
        line.append("CALL ");
        line.append(std::to_string(target));
        line.append(" (");
        const std::string* name = names[target + 4096];
        writeLine(os, line, name ? std::string_view(*name) : std::string_view(), ")");
        return address + 2;
    }
    line.append("ORIENT ");
    line.append(orientationName(b - code::OperandBit));
    writeLine(os, line);
    return address + 1;
}

void writeListing(std::ostream& os, const AssemblyResult& r) {
    const ListingNames names = buildListingNames(r.labels);
    std::uint32_t address = 0;
    while (address < r.programLength) {
        if (const std::string* name = names[address]) writeLine(os, "     ", *name, ":");
        address = listInstruction(os, r, names, address);
    }
}

bool writeListing(const std::string& fileName, const AssemblyResult& r) {
    std::ofstream file(fileName, std::ios::out | std::ios::trunc);
    if (!file.is_open()) return false;
    writeListing(file, r);
    return true;
}

}  // namespace cranetalk
