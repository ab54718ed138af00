// The listing.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>

#include "cranetalk/assembler.h"

namespace cranetalk {

// Listing name table: address -> label name (the name that sorts last among
// the labels at that address).  Only addresses inside the image can ever be
// looked up (the walk stays below the program length, call targets plus 4096
// are below 8192), so labels at 8192 or above are left out.
using ListingNames = std::array<const std::string*, kImageSize>;

ListingNames buildListingNames(const std::map<std::string, std::uint32_t>& labels);

// listInstruction(address): writes the listing line of the instruction at
// `address` and returns the address of the next one (+1, or +2 after a call).
std::uint32_t listInstruction(std::ostream& os, const AssemblyResult& r,
                              const ListingNames& names, std::uint32_t address);

// The whole listing, on a stream.
void writeListing(std::ostream& os, const AssemblyResult& r);

// writeListing(file name): creates or truncates the file and writes the
// listing; a file that cannot be opened is skipped, and false returned (the
// command line reports it).
bool writeListing(const std::string& fileName, const AssemblyResult& r);

}  // namespace cranetalk
