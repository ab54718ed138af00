// Helpers shared by the cranetalk tests.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cranetalk/cranetalk.h"

namespace cranetalk_test {

namespace fs = std::filesystem;

// Result of assembling a source in-process.
struct Assembled {
    cranetalk::AssemblyResult r;
    std::string err;   // everything written on the message stream
    std::string rest;  // what the assembler left unread in the input
};

inline Assembled assemble(const std::string& source) {
    std::istringstream in(source);
    std::ostringstream err;
    Assembled a{cranetalk::assembleSource(in, err), {}, {}};
    a.err = err.str();
    in.clear();
    a.rest.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return a;
}

inline std::vector<int> bytes(const cranetalk::AssemblyResult& r, std::uint32_t from, std::uint32_t count) {
    std::vector<int> v;
    for (std::uint32_t a = from; a < from + count; ++a) v.push_back(r.image[a]);
    return v;
}

inline std::string listingOf(const cranetalk::AssemblyResult& r) {
    std::ostringstream os;
    cranetalk::writeListing(os, r);
    return os.str();
}

inline std::string stimulusOf(const cranetalk::AssemblyResult& r) {
    std::ostringstream os;
    cranetalk::writeStimulus(os, r);
    return os.str();
}

inline std::vector<std::string> splitLines(const std::string& s) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < s.size()) {
        std::size_t nl = s.find('\n', start);
        if (nl == std::string::npos) {
            lines.push_back(s.substr(start));
            break;
        }
        lines.push_back(s.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}

inline std::string readFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

inline void writeFile(const fs::path& p, const std::string& s) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f << s;
}

// A fresh temporary directory, removed at the end of the scope.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "cranetalk-test-XXXXXX").string();
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        const char* made = ::mkdtemp(buf.data());
        path_ = made ? fs::path(made) : fs::temp_directory_path();
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

// The simulator's memory-file reader, as the tests read cranetalk's standard
// output back: everything up to and including the first "{" is ignored; the
// items are the texts between commas, each by leading-integer conversion
// (leading white space, optional sign, digits; 0 without digits); what
// follows the last comma is ignored.
//
// interop_test.cpp compares it with the simulator's own reader
// (readProgramImage, files/memory_image.h) when that is built.
inline std::vector<std::int32_t> parseMemoryFile(const std::string& text) {
    std::vector<std::int32_t> image;
    std::size_t brace = text.find('{');
    if (brace == std::string::npos) return image;
    std::size_t start = brace + 1;
    for (;;) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) break;
        std::string item = text.substr(start, comma - start);
        std::size_t i = 0;
        while (i < item.size() && std::isspace(static_cast<unsigned char>(item[i]))) ++i;
        bool neg = false;
        if (i < item.size() && (item[i] == '+' || item[i] == '-')) neg = item[i++] == '-';
        std::int64_t v = 0;
        while (i < item.size() && item[i] >= '0' && item[i] <= '9') v = v * 10 + (item[i++] - '0');
        image.push_back(static_cast<std::int32_t>(neg ? -v : v));
        start = comma + 1;
    }
    return image;
}

// Runs a program with real standard streams: standard input from a file
// (its open file description is shared with the child, so the offset after
// the run shows how much the program read), standard output and standard
// error to files, or both to one file.
struct ProcessResult {
    int exitStatus = -1;  // 0..255, or -1 when it did not exit normally
    std::string out;
    std::string err;
    off_t stdinOffset = 0;
};

inline ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                                const std::string& input, const fs::path& workDir,
                                bool mergeStreams = false) {
    ProcessResult res;
    const fs::path inPath = workDir / "stdin.txt";
    const fs::path outPath = workDir / "stdout.txt";
    const fs::path errPath = workDir / "stderr.txt";
    writeFile(inPath, input);
    int inFd = ::open(inPath.c_str(), O_RDONLY);
    int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int errFd = mergeStreams ? outFd : ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (inFd < 0 || outFd < 0 || errFd < 0) return res;
    std::vector<std::string> argvStore;
    argvStore.push_back(program);
    for (const auto& a : args) argvStore.push_back(a);
    std::vector<char*> argv;
    for (auto& a : argvStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(inFd, 0);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    res.stdinOffset = ::lseek(inFd, 0, SEEK_CUR);
    ::close(inFd);
    ::close(outFd);
    if (!mergeStreams) ::close(errFd);
    if (WIFEXITED(status)) res.exitStatus = WEXITSTATUS(status);
    res.out = readFile(outPath);
    if (!mergeStreams) res.err = readFile(errPath);
    return res;
}

// Random sources for the differential and fuzz tests.
class SourceGenerator {
public:
    explicit SourceGenerator(std::uint32_t seed) : rng_(seed) {}

    std::string source(int tokens) {
        std::string s;
        for (int i = 0; i < tokens; ++i) {
            s += token();
            s += separator();
        }
        if (pick(4) != 0) s += "END";  // sometimes no END
        if (pick(3) == 0) s += separator() + token();
        return s;
    }

    std::string binary(std::size_t length) {
        std::string s;
        for (std::size_t i = 0; i < length; ++i) s.push_back(static_cast<char>(pick(256)));
        return s;
    }

    std::uint32_t pick(std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng_); }

private:
    std::string separator() {
        static const char* seps[] = {" ", "\n", "\t", "\r\n", "\v", "\f", "  \n\t "};
        return seps[pick(7)];
    }

    std::string label() {
        static const char* names[] = {"a", "b", "sub", "loop", "END", "NOP", "x:y", "", "a:", "Z"};
        return names[pick(10)];
    }

    std::string number() {
        switch (pick(9)) {
            case 0: return std::to_string(pick(64));
            case 1: return std::to_string(pick(9000));
            case 2: return std::to_string(8180 + pick(20));
            case 3: return std::to_string(4090 + pick(12));
            case 4: return std::to_string(4294967290u + pick(6));
            case 5: return std::string(1, '+').append(std::to_string(pick(300)));
            case 6: return std::string(1, '-').append(std::to_string(pick(3)));
            case 7: return std::to_string(pick(100)) + "X";
            default: return pick(2) ? "4294967296" : "Q";
        }
    }

    std::string token() {
        static const char* plain[] = {"NOP", "NOR", "FUS", "ROT", "DEL", "UFS", "SLI", "GATHER",
                                      "N", "E", "S", "W", "F", "B", "NORTH", "EAST", "SOUTH", "WEST",
                                      "FRONT", "BACK", "RET", "RETURN", "MBK", "MEMBANK"};
        static const char* orients[] = {"SF", "SB", "NB", "NF", "SW", "SE", "NE", "NW", "FN", "FS", "BS", "BN",
                                        "WN", "WS", "ES", "EN", "FW", "FE", "BE", "BW", "WB", "WF", "EF", "EB",
                                        "XY", "sf", "END", "S"};
        static const std::string junk[] = {"nop", "Nop", "NOP;", "PSH", ";", "#", "END:", "NOP:", "ORG:",
                                           "CALL:", "::", "\x01\x02", std::string("A\0B", 3), "\xff\xfe", "é"};
        switch (pick(20)) {
            case 0: case 1: case 2: case 3: case 4: case 5: return plain[pick(24)];
            case 6: case 7: case 8: return "CALL" + separator() + label();
            case 9: case 10: return label() + ":";
            case 11: case 12: return std::string(pick(2) ? "ORIENT" : "O") + separator() + orients[pick(28)];
            case 13: return "ORG" + separator() + number();
            case 14: return junk[pick(15)];
            case 15: return pick(2) ? "ORG 0" : "ORG " + std::to_string(pick(12));
            case 16: return "ORG " + std::to_string(8186 + pick(8));
            default: return plain[pick(24)];
        }
    }

    std::mt19937 rng_;
};

// The initialiser list that cranetalk prints for an assembly.
inline std::string initialiserOf(const cranetalk::AssemblyResult& r) {
    std::ostringstream os;
    cranetalk::printImage(os, r);
    return os.str();
}

// An image read back from that list equals the assembled program, byte for byte.
inline void expectSameImage(const cranetalk::AssemblyResult& r, const std::vector<std::int32_t>& image) {
    ASSERT_EQ(image.size(), r.programLength);
    for (std::uint32_t a = 0; a < r.programLength; ++a) ASSERT_EQ(image[a], r.image[a]) << a;
}

}  // namespace cranetalk_test
