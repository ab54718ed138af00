// Shared pieces of the harnesses: the input as a stream, a private scratch
// folder, and a hard stop that turns a broken engine invariant into a crash
// the fuzzer records.
#pragma once
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

namespace fuzz {

inline std::istringstream streamOf(const uint8_t* data, size_t size) {
    return std::istringstream(std::string(reinterpret_cast<const char*>(data), size));
}

// Every harness that writes files works in a folder of its own, made once
// per process, so fuzzed names can never reach the caller's files. Paths
// into it are absolute: the fuzzer itself keeps reading its corpus relative
// to the folder it was started in, so a harness never leaves that folder
// for good.
inline const std::string& scratchFolder() {
    static const std::string folder = [] {
        char name[] = "/tmp/cellforge-fuzz-XXXXXX";
        if (!mkdtemp(name)) std::abort();
        return std::string(name);
    }();
    return folder;
}
inline std::string scratchPath(const char* name) { return scratchFolder() + "/" + name; }

// The folder the fuzzer was started in.
inline const std::string& startFolder() {
    static const std::string folder = [] {
        char buf[4096];
        if (!getcwd(buf, sizeof buf)) std::abort();
        return std::string(buf);
    }();
    return folder;
}

inline void writeFile(const std::string& path, std::string_view text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

[[noreturn]] inline void fail(const std::string& what) {
    std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
    std::abort();
}

}  // namespace fuzz
