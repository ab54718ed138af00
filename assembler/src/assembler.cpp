#include "cranetalk/assembler.h"

#include <algorithm>
#include <cassert>
#include <memory>
#include <utility>

#include "cranetalk/line_writer.h"
#include "cranetalk/tokenizer.h"

namespace cranetalk {

namespace {

static_assert(sizeof(unsigned int) == 4, "the location counter is unsigned 32-bit");

// The statements of the source language, in dispatch order.
enum class Statement {
    End,
    Call,
    Return,
    Membank,
    North,
    East,
    South,
    West,
    Front,
    Back,
    Orient,
    Sli,
    Fus,
    Ufs,
    Rot,
    Nor,
    Del,
    Nop,
    Gather,
    Org,
    Label,
    Unrecognised,
};

struct Keyword {
    std::string_view text;
    Statement statement;
};

// Exact, whole-token, case-sensitive keywords and their short forms.
constexpr std::array<Keyword, 28> kKeywords = {{
    {"END", Statement::End},         {"CALL", Statement::Call},
    {"RETURN", Statement::Return},   {"RET", Statement::Return},
    {"MEMBANK", Statement::Membank}, {"MBK", Statement::Membank},
    {"NORTH", Statement::North},     {"N", Statement::North},
    {"EAST", Statement::East},       {"E", Statement::East},
    {"SOUTH", Statement::South},     {"S", Statement::South},
    {"WEST", Statement::West},       {"W", Statement::West},
    {"FRONT", Statement::Front},     {"F", Statement::Front},
    {"BACK", Statement::Back},       {"B", Statement::Back},
    {"ORIENT", Statement::Orient},   {"O", Statement::Orient},
    {"SLI", Statement::Sli},         {"FUS", Statement::Fus},
    {"UFS", Statement::Ufs},         {"ROT", Statement::Rot},
    {"NOR", Statement::Nor},         {"DEL", Statement::Del},
    {"NOP", Statement::Nop},         {"GATHER", Statement::Gather},
}};

Statement classify(std::string_view token) {
    if (token.size() <= 7) {
        for (const Keyword& k : kKeywords) {
            if (k.text == token) return k.statement;
        }
        if (token == "ORG") return Statement::Org;
    }
    if (!token.empty() && token.back() == ':') return Statement::Label;
    return Statement::Unrecognised;
}

std::uint8_t plainCode(Statement s) {
    switch (s) {
        case Statement::Return: return code::Return;
        case Statement::Membank: return code::Membank;
        case Statement::North: return code::North;
        case Statement::East: return code::East;
        case Statement::South: return code::South;
        case Statement::West: return code::West;
        case Statement::Front: return code::Front;
        case Statement::Back: return code::Back;
        case Statement::Sli: return code::Sli;
        case Statement::Fus: return code::Fus;
        case Statement::Ufs: return code::Ufs;
        case Statement::Rot: return code::Rot;
        case Statement::Nor: return code::Nor;
        case Statement::Del: return code::Del;
        case Statement::Nop: return code::Nop;
        case Statement::Gather: return code::Gather;
        default: return code::Nop;
    }
}

// One run of the single assembly pass.
//
// Writes are recorded with a logical time.  Patches of pending references are
// recorded per label name (time and address of the last definition) and
// applied when the pass ends; see the design note in cranetalk.h.
class Assembly {
public:
    Assembly(std::istream& in, std::ostream& err) : tokens_(in), err_(err) {}

    AssemblyResult run();

private:
    // Pending references of one label name.
    struct Pending {
        std::vector<std::uint32_t> positions;  // in the order met
        bool frozen = false;                   // the name has been defined
        std::vector<std::uint32_t> outside;    // out-of-image write attempts of one patch, in order
        std::uint64_t patchTime = 0;           // time of the last definition
        std::uint32_t patchAddress = 0;        // address of the last definition
    };
    struct Cover {
        const Pending* pending;
        bool high;  // which operand byte the patch writes here
    };

    void dispatch(Statement s, const std::string& token);
    void emit(std::uint8_t value);
    void put(std::uint32_t address, std::uint8_t value);
    void reportOutside(std::uint32_t address);
    void call();
    void orient();
    void org();
    void defineLabel(std::string name);
    void freeze(Pending& p);
    void updateLength();
    void materialise();

    Tokenizer tokens_;
    std::ostream& err_;
    AssemblyResult r_;
    std::map<std::string, Pending> pending_;
    std::array<std::uint64_t, kImageSize> stamp_{};  // time of the last direct write per byte
    std::vector<std::vector<Cover>> covers_ = std::vector<std::vector<Cover>>(kImageSize);
    std::vector<std::uint32_t> freezeMark_ = std::vector<std::uint32_t>(kImageSize, 0);
    std::uint32_t freezeCount_ = 0;
    std::uint64_t clock_ = 0;
};

AssemblyResult Assembly::run() {
    for (;;) {
        if (!tokens_.readToken()) break;
        // Only CALL and ORIENT read an operand (which replaces the token
        // buffer), and they do not use their own token afterwards.
        const std::string& token = tokens_.token();
        const Statement s = classify(token);
        if (s == Statement::End) {
            r_.endFound = true;
            break;
        }
        dispatch(s, token);
        updateLength();
        if (tokens_.failed()) break;
    }
    r_.lastToken = tokens_.takeToken();
    if (!r_.endFound) {
        writeLine(err_, "Assembly finished before END found");
        writeLine(err_, "Last token was '", r_.lastToken, "'");
    }
    materialise();
    for (auto& [name, p] : pending_) r_.pending.emplace(name, std::move(p.positions));
    return std::move(r_);
}

void Assembly::dispatch(Statement s, const std::string& token) {
    switch (s) {
        case Statement::Call: call(); return;
        case Statement::Orient: orient(); return;
        case Statement::Org: org(); return;
        case Statement::Label: defineLabel(token.substr(0, token.size() - 1)); return;
        case Statement::Unrecognised: writeLine(err_, "Unrecognised token ", token); return;
        case Statement::End: return;
        default: emit(plainCode(s)); return;
    }
}

void Assembly::emit(std::uint8_t value) {
    put(r_.locationCounter, value);
    r_.locationCounter += 1;
}

void Assembly::reportOutside(std::uint32_t address) {
    writeLine(err_, "Address ", std::to_string(address), " is outside the 8192-byte program image");
}

void Assembly::put(std::uint32_t address, std::uint8_t value) {
    if (address >= kImageSize) {
        reportOutside(address);
        return;
    }
    r_.image[address] = value;
    stamp_[address] = ++clock_;
}

void Assembly::call() {
    // A CALL whose operand cannot be read (end of input) is dropped.
    if (!tokens_.readToken()) return;
    const std::string& name = tokens_.token();
    const std::uint32_t p = r_.locationCounter;
    auto label = r_.labels.find(name);
    if (label != r_.labels.end()) {
        put(p, callOperandLow(label->second));
        put(p + 1, callOperandHigh(label->second));  // 32-bit: wraps like the counter
    } else {
        Pending& pend = pending_[name];
        assert(!pend.frozen);
        pend.positions.push_back(p);
        put(p, code::OperandBit);
    }
    r_.locationCounter += 2;
}

void Assembly::orient() {
    // An ORIENT / O whose operand cannot be read (end of input) is dropped.
    if (!tokens_.readToken()) return;
    const std::uint8_t oc = parseOrientation(tokens_.token(), err_);
    emit(static_cast<std::uint8_t>(code::OperandBit + oc));
}

void Assembly::org() {
    std::uint32_t n = 0;
    if (tokens_.readUnsigned(n)) r_.locationCounter = n;
    // Otherwise the counter stays and the stream has failed: the loop ends.
}

void Assembly::defineLabel(std::string name) {
    std::uint32_t& lc = r_.locationCounter;
    if (lc % 4 != 0) lc = (lc + 3u) & ~3u;  // next multiple of 4 (32-bit)
    r_.labels.insert_or_assign(name, lc);
    auto it = pending_.find(name);
    if (it == pending_.end()) return;
    Pending& p = it->second;
    if (!p.frozen) freeze(p);
    p.patchTime = ++clock_;
    p.patchAddress = lc;
    // The in-image bytes of the patch are applied in materialise(); the
    // attempts outside the image are reported now, in list order.
    for (std::uint32_t a : p.outside) reportOutside(a);
}

// First definition of a name with pending references: its list can no longer
// grow (later calls find the label).  Work out once which bytes one patch
// writes and with which half of the operand, and which attempts fall outside.
void Assembly::freeze(Pending& p) {
    p.frozen = true;
    ++freezeCount_;
    // Walk the list backwards: the last entry touching a byte decides it.
    std::vector<std::pair<std::uint32_t, bool>> inside;
    for (auto it = p.positions.rbegin(); it != p.positions.rend(); ++it) {
        const std::uint32_t attempts[2] = {*it + 1u, *it};  // high byte was written after the low one
        const bool high[2] = {true, false};
        for (int k = 0; k < 2; ++k) {
            const std::uint32_t a = attempts[k];
            if (a >= kImageSize) continue;
            if (freezeMark_[a] == freezeCount_) continue;
            freezeMark_[a] = freezeCount_;
            inside.emplace_back(a, high[k]);
        }
    }
    for (const auto& [a, high] : inside) covers_[a].push_back(Cover{&p, high});
    for (std::uint32_t pos : p.positions) {
        if (pos >= kImageSize) p.outside.push_back(pos);
        const std::uint32_t next = pos + 1u;
        if (next >= kImageSize) p.outside.push_back(next);
    }
}

void Assembly::updateLength() {
    const std::uint32_t lc = std::min(r_.locationCounter, kImageSize);
    if (lc > r_.programLength) r_.programLength = lc;
}

void Assembly::materialise() {
    for (std::uint32_t a = 0; a < kImageSize; ++a) {
        std::uint64_t latest = stamp_[a];
        for (const Cover& c : covers_[a]) {
            if (c.pending->patchTime > latest) {
                latest = c.pending->patchTime;
                r_.image[a] = c.high ? callOperandHigh(c.pending->patchAddress)
                                     : callOperandLow(c.pending->patchAddress);
            }
        }
    }
}

}  // namespace

std::uint8_t parseOrientation(std::string_view name, std::ostream& err) {
    if (auto oc = findOrientation(name)) return *oc;
    writeLine(err, "Unrecognised direction string ", name);
    return 0;
}

AssemblyResult assembleSource(std::istream& in, std::ostream& err) {
    // The state is large (per-byte stamps and covers); keep it off the stack.
    auto assembly = std::make_unique<Assembly>(in, err);
    return assembly->run();
}

}  // namespace cranetalk
