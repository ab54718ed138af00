// Instruction codes, orientation table and call operands.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace cranetalk {

// The program image holds 8192 bytes: 32 memory pages of 256 bytes.
inline constexpr std::uint32_t kImageSize = 8192;
inline constexpr std::uint32_t kPageSize = 256;
inline constexpr std::uint32_t kPageCount = kImageSize / kPageSize;

// Instruction codes.  Codes 32 to 63 are operand bytes (bit 5 set).
namespace code {
inline constexpr std::uint8_t Nop = 0;
inline constexpr std::uint8_t Psh = 1;
inline constexpr std::uint8_t Nor = 2;
inline constexpr std::uint8_t Fus = 3;
inline constexpr std::uint8_t Rot = 4;
inline constexpr std::uint8_t Del = 5;
inline constexpr std::uint8_t Ufs = 6;
inline constexpr std::uint8_t Sli = 7;
inline constexpr std::uint8_t North = 8;
inline constexpr std::uint8_t West = 9;
inline constexpr std::uint8_t Back = 10;
inline constexpr std::uint8_t South = 12;
inline constexpr std::uint8_t East = 13;
inline constexpr std::uint8_t Front = 14;
inline constexpr std::uint8_t Gather = 16;
inline constexpr std::uint8_t Return = 24;
inline constexpr std::uint8_t Membank = 28;
inline constexpr std::uint8_t OperandBit = 32;
}  // namespace code

// The listing name of a plain instruction code (0-10, 12-14, 16, 24, 28), or
// an empty view for any other value.
std::string_view listingName(std::uint8_t value);

// One row of the orientation table.
struct OrientationRow {
    std::string_view name;
    std::uint8_t tableCode;
};

// The 24 rows, in the order in which they are searched.
extern const std::array<OrientationRow, 24> kOrientationTable;

// Orientation code of a table code: the 5 low bits of the complement,
// in reversed order (bit i of the result is NOT bit 4-i of the table code).
constexpr std::uint8_t orientationCodeOf(std::uint8_t tableCode) {
    std::uint8_t inv = static_cast<std::uint8_t>(~tableCode & 31u);
    std::uint8_t out = 0;
    for (int i = 0; i < 5; ++i) {
        if (inv & (1u << (4 - i))) out = static_cast<std::uint8_t>(out | (1u << i));
    }
    return out;
}

// The orientation code (0-31) of the row whose name equals `name` exactly,
// or nothing.  (parseOrientation, which also reports, is in assembler.h.)
std::optional<std::uint8_t> findOrientation(std::string_view name);

// orientationName(code): the name of the row whose derived orientation code
// equals `code`, or "??" when none does.
std::string_view orientationName(unsigned code);

// Call operand for address A: the low byte carries address bits 2-6, the
// high byte bits 7-11, each with bit 5 set.
constexpr std::uint8_t callOperandLow(std::uint32_t address) {
    return static_cast<std::uint8_t>(32u + ((address >> 2) & 31u));
}
constexpr std::uint8_t callOperandHigh(std::uint32_t address) {
    return static_cast<std::uint8_t>(32u + ((address >> 7) & 31u));
}
// Decoded target of an operand pair (b0, b1): 0 to 4092, a multiple of 4.
constexpr std::uint32_t decodeCallTarget(std::uint8_t b0, std::uint8_t b1) {
    return ((static_cast<std::uint32_t>(b1) & 31u) << 7) |
           ((static_cast<std::uint32_t>(b0) & 31u) << 2);
}

}  // namespace cranetalk
