// A second, deliberately naive implementation of the assembler (with the
// decisions listed in cranetalk/cranetalk.h), used only by the tests to
// cross-check cranetalk_lib on random sources.  It shares no code with the library: its own tokenizer over a
// string, its own emulation of the stream's unsigned extraction, eager
// patching of every pending position at every definition, and its own
// formatting of every output.  It is quadratic and slow on purpose; keep the
// random sources small.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace reference {

struct Outputs {
    std::string out;       // standard output
    std::string err;       // standard error
    std::string listing;   // listing file contents
    std::string stimulus;  // stimulus file contents
    std::vector<unsigned char> image;  // 8192 bytes
    std::uint32_t length = 0;
    std::map<std::string, std::uint32_t> labels;
};

class Model {
public:
    explicit Model(std::string src) : src_(std::move(src)), image_(8192, 0) {}

    Outputs run(bool withStimulus = true) {
        assemble();
        Outputs o;
        o.err = err_;
        o.listing = listing();
        if (withStimulus) o.stimulus = stimulus();
        o.out = "unsigned prog[] = {\n";
        for (std::uint32_t a = 0; a < length_; ++a) o.out += std::to_string(image_[a]) + ",\n";
        o.out += "};\n";
        o.err += std::to_string(length_) + "\n";
        o.image = image_;
        o.length = length_;
        o.labels = labels_;
        return o;
    }

private:
    static bool ws(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    }

    // Stream-like state: eof is set when a read touched the end, fail when a
    // read failed.
    bool readToken() {
        if (eof_ || fail_) { fail_ = true; return false; }
        while (pos_ < src_.size() && ws(src_[pos_])) ++pos_;
        if (pos_ == src_.size()) { eof_ = fail_ = true; return false; }
        std::size_t start = pos_;
        while (pos_ < src_.size() && !ws(src_[pos_])) ++pos_;
        tok_ = src_.substr(start, pos_ - start);
        if (pos_ == src_.size()) eof_ = true;
        return true;
    }

    // libstdc++'s operator>>(unsigned&): skip whitespace, optional sign,
    // decimal digits; no digits or a value above 2^32-1 fails; a minus sign
    // negates modulo 2^32.
    bool readUnsigned(std::uint32_t& v) {
        if (eof_ || fail_) { fail_ = true; return false; }
        while (pos_ < src_.size() && ws(src_[pos_])) ++pos_;
        if (pos_ == src_.size()) { eof_ = fail_ = true; return false; }
        bool neg = false;
        if (src_[pos_] == '+' || src_[pos_] == '-') { neg = src_[pos_] == '-'; ++pos_; }
        std::uint64_t value = 0;
        bool digits = false, overflow = false;
        while (pos_ < src_.size() && src_[pos_] >= '0' && src_[pos_] <= '9') {
            digits = true;
            value = value * 10 + static_cast<unsigned>(src_[pos_] - '0');
            if (value > 0xFFFFFFFFull) { overflow = true; value = 0xFFFFFFFFull; }
            ++pos_;
        }
        if (pos_ == src_.size()) eof_ = true;
        if (!digits || overflow) { fail_ = true; return false; }
        v = neg ? static_cast<std::uint32_t>(0u - static_cast<std::uint32_t>(value))
                : static_cast<std::uint32_t>(value);
        return true;
    }

    void msg(const std::string& s) { err_ += s + "\n"; }

    void put(std::uint32_t a, unsigned v) {
        if (a >= 8192) { msg("Address " + std::to_string(a) + " is outside the 8192-byte program image"); return; }
        image_[a] = static_cast<unsigned char>(v);
    }

    void patch(std::uint32_t p, std::uint32_t addr) {
        put(p, 32 + ((addr >> 2) & 31));
        put(p + 1, 32 + ((addr >> 7) & 31));
    }

    static int orientation(const std::string& name) {
        static const char* names[24] = {"SF", "SB", "NB", "NF", "SW", "SE", "NE", "NW",
                                        "FN", "FS", "BS", "BN", "WN", "WS", "ES", "EN",
                                        "FW", "FE", "BE", "BW", "WB", "WF", "EF", "EB"};
        static const int bytes[24] = {63, 47, 55, 39, 59, 43, 51, 35, 61, 45, 53, 37,
                                      57, 41, 49, 33, 58, 42, 50, 34, 56, 40, 48, 32};
        for (int i = 0; i < 24; ++i)
            if (name == names[i]) return bytes[i] - 32;
        return -1;
    }

    void assemble() {
        static const std::map<std::string, int> plain = {
            {"RETURN", 24}, {"RET", 24}, {"MEMBANK", 28}, {"MBK", 28}, {"NORTH", 8}, {"N", 8},
            {"EAST", 13},   {"E", 13},   {"SOUTH", 12},   {"S", 12},   {"WEST", 9},   {"W", 9},
            {"FRONT", 14},  {"F", 14},   {"BACK", 10},    {"B", 10},   {"SLI", 7},    {"FUS", 3},
            {"UFS", 6},     {"ROT", 4},  {"NOR", 2},      {"DEL", 5},  {"NOP", 0},    {"GATHER", 16}};
        bool end = false;
        while (readToken()) {
            std::string t = tok_;
            if (t == "END") { end = true; break; }
            if (t == "CALL") {
                if (readToken()) {
                    auto it = labels_.find(tok_);
                    if (it != labels_.end()) {
                        patch(lc_, it->second);
                    } else {
                        pending_[tok_].push_back(lc_);
                        put(lc_, 32);
                    }
                    lc_ += 2;
                }
            } else if (plain.count(t)) {
                put(lc_, static_cast<unsigned>(plain.at(t)));
                lc_ += 1;
            } else if (t == "ORIENT" || t == "O") {
                if (readToken()) {
                    int oc = orientation(tok_);
                    if (oc < 0) { msg("Unrecognised direction string " + tok_); oc = 0; }
                    put(lc_, 32 + static_cast<unsigned>(oc));
                    lc_ += 1;
                }
            } else if (t == "ORG") {
                std::uint32_t n;
                if (readUnsigned(n)) lc_ = n;
            } else if (t.back() == ':') {
                while (lc_ % 4 != 0) lc_ += 1;
                std::string name = t.substr(0, t.size() - 1);
                labels_[name] = lc_;
                auto it = pending_.find(name);
                if (it != pending_.end())
                    for (std::uint32_t p : it->second) patch(p, lc_);
            } else {
                msg("Unrecognised token " + t);
            }
            if (lc_ > length_) length_ = lc_ > 8192 ? 8192 : lc_;
            if (fail_) break;
        }
        if (!end) {
            msg("Assembly finished before END found");
            msg("Last token was '" + tok_ + "'");
        }
    }

    std::string listing() const {
        static const char* names[29] = {"NOP", "PSH", "NOR", "FUS", "ROT", "DEL", "UFS", "SLI",
                                        "NORTH", "WEST", "BACK", nullptr, "SOUTH", "EAST", "FRONT", nullptr,
                                        "GATHER", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                        "RETURN", nullptr, nullptr, nullptr, "MEMBANK"};
        static const char* onames[32] = {"EB", "EN", "BW", "NW", "??", "BN", "??", "NF",
                                         "WF", "WS", "FE", "SE", "??", "FS", "??", "SB",
                                         "EF", "ES", "BE", "NE", "??", "BS", "??", "NB",
                                         "WB", "WN", "FW", "SW", "??", "FN", "??", "SF"};
        std::map<std::uint32_t, std::string> at;
        for (const auto& [n, a] : labels_) at[a] = n;
        std::string s;
        char buf[64];
        std::uint32_t a = 0;
        while (a < length_) {
            if (at.count(a)) s += "     " + at.at(a) + ":\n";
            unsigned b = image_[a];
            std::snprintf(buf, sizeof buf, "%04u ", a);
            s += buf;
            if (b < 32) {
                if (b < 29 && names[b]) s += std::string(names[b]) + "\n";
                else s += "DB " + std::to_string(b) + "\n";
                a += 1;
            } else if (a + 1 < length_ && image_[a + 1] >= 32) {
                unsigned t = ((image_[a + 1] & 31u) << 7) | ((b & 31u) << 2);
                s += "CALL " + std::to_string(t) + " (" + (at.count(t + 4096) ? at.at(t + 4096) : "") + ")\n";
                a += 2;
            } else {
                s += std::string("ORIENT ") + onames[b - 32] + "\n";
                a += 1;
            }
        }
        return s;
    }

    std::string stimulus() const {
        std::string s;
        const char* mods[32] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k",
                                "l", "m", "n", "o", "p", "q", "r", "s", "t", "u", "v",
                                "w", "x", "y", "z", "ba", "bb", "bc", "bd", "be", "bf"};
        for (int d = 0; d < 32; ++d)
            for (int j = 0; j < 6; ++j) {
                s += std::string("pc1.mc.mad.mem.memory-module-") + mods[d] + ".m.i" + std::to_string(j) + "\n{\n  t=0\n";
                int start = (6 * d + j + 230) % 256;
                for (int k = 0; k < 256; ++k) {
                    unsigned b = image_[256 * d + (start + k) % 256];
                    s += (b >> j) & 1 ? "  0 1\n" : "  1 1\n";
                }
                s += "  loop\n}\n";
            }
        return s;
    }

    std::string src_;
    std::size_t pos_ = 0;
    bool eof_ = false, fail_ = false;
    std::string tok_;
    std::vector<unsigned char> image_;
    std::uint32_t lc_ = 0, length_ = 0;
    std::map<std::string, std::uint32_t> labels_;
    std::map<std::string, std::vector<std::uint32_t>> pending_;
    std::string err_;
};

inline Outputs run(const std::string& source, bool withStimulus = true) {
    return Model(source).run(withStimulus);
}

}  // namespace reference
