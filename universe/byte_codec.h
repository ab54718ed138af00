// Little-endian byte records for the checkpoint formats (the universe
// snapshot and the file around it share one encoding).
//
// Reads are bounds-checked: once a read runs past the end, every later read
// fails too and returns zeros, so callers may check once per record and no
// count read from a file can make them step outside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

struct ByteWriter {
    std::string& out;
    void u8(uint8_t v) { out.push_back(char(v)); }
    void u32(uint32_t v) {
        char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
        out.append(b, 4);
    }
    void i32(int32_t v) { u32(uint32_t(v)); }
    void u64(uint64_t v) {
        u32(uint32_t(v));
        u32(uint32_t(v >> 32));
    }
    void bytes(const void* p, size_t n) { out.append(static_cast<const char*>(p), n); }
    // A length-prefixed string.
    void str(const std::string& v) {
        u32(uint32_t(v.size()));
        out.append(v);
    }
};

struct ByteReader {
    const unsigned char* p;
    size_t left;
    bool failed = false;

    bool take(size_t n) {
        if (failed || n > left) {
            failed = true;
            return false;
        }
        return true;
    }
    uint8_t u8() {
        if (!take(1)) return 0;
        --left;
        return *p++;
    }
    uint32_t u32() {
        if (!take(4)) return 0;
        const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        p += 4;
        left -= 4;
        return v;
    }
    int32_t i32() { return int32_t(u32()); }
    uint64_t u64() {
        const uint64_t lo = u32();
        return lo | uint64_t(u32()) << 32;
    }
    bool bytes(void* dst, size_t n) {
        if (!take(n)) return false;
        std::memcpy(dst, p, n);
        p += n;
        left -= n;
        return true;
    }
    bool str(std::string& v) {
        const uint32_t n = u32();
        if (!take(n)) return false;
        v.assign(reinterpret_cast<const char*>(p), n);
        p += n;
        left -= n;
        return true;
    }
};
