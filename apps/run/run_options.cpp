#include "apps/run/run_options.h"

#include <functional>
#include <vector>

namespace {

bool parseUnsigned(const char* s, uint64_t max, uint64_t& out) {
    if (!s || !*s) return false;
    uint64_t v = 0;
    for (const char* p = s; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + uint64_t(*p - '0');
        if (v > max) return false;
    }
    out = v;
    return true;
}

// "WxH", each 1 to 16384.
bool parseSize(const char* s, int& w, int& h) {
    const std::string t = s;
    const size_t x = t.find('x');
    uint64_t a, b;
    if (x == std::string::npos || !parseUnsigned(t.substr(0, x).c_str(), 16384, a) ||
        !parseUnsigned(t.substr(x + 1).c_str(), 16384, b) || a == 0 || b == 0)
        return false;
    w = int(a);
    h = int(b);
    return true;
}

bool parseCorner(const char* s, int32_t out[3]) {
    std::string t = s;
    size_t start = 0;
    for (int k = 0; k < 3; ++k) {
        size_t end = k < 2 ? t.find(',', start) : t.size();
        if (end == std::string::npos) return false;
        std::string part = t.substr(start, end - start);
        bool negative = !part.empty() && part[0] == '-';
        uint64_t v;
        if (!parseUnsigned(part.c_str() + (negative ? 1 : 0), negative ? 2147483648ull : 2147483647ull, v))
            return false;
        out[k] = negative ? int32_t(-int64_t(v)) : int32_t(v);
        start = end + 1;
    }
    return true;
}

// One option: its names, the word for its value (empty for a flag), the
// help line, and what it does with the value; false means "needs ...".
struct Option {
    const char* names;  // "-n, --generations" or "--save"
    const char* value;  // "N", "PATH", ... or "" for a flag
    const char* help;
    const char* needs;  // the usage error's ending when the value is missing or bad
    std::function<bool(RunOptions&, const char*)> apply;
};

bool path(std::string& into, const char* v) {
    into = v;
    return !into.empty();
}

const std::vector<Option>& optionTable() {
    static const std::vector<Option> table = {
        {"-n, --generations", "N", "run N generations", "a non-negative whole number",
         [](RunOptions& o, const char* v) { return parseUnsigned(v, UINT64_MAX / 10, o.generations); }},
        {"--pulse", "G", "set the input pulse before generation G (repeatable)", "a generation number",
         [](RunOptions& o, const char* v) {
             uint64_t g;
             if (!parseUnsigned(v, UINT32_MAX, g)) return false;
             o.pulses.insert(uint32_t(g));
             return true;
         }},
        {"--save", "PATH", "write the universe as a grid file after the run", "a path",
         [](RunOptions& o, const char* v) { return path(o.save, v); }},
        {"--memory", "FILE", "write a memory file into the memory modules before the run", "a path",
         [](RunOptions& o, const char* v) { return path(o.memory, v); }},
        {"--corner", "X,Y,Z", "corner of the first memory module (default 0,0,0)", "X,Y,Z (three whole numbers)",
         [](RunOptions& o, const char* v) { return parseCorner(v, o.corner); }},
        {"--offset", "K", "loop offset of the memory write (default 0)", "a non-negative whole number",
         [](RunOptions& o, const char* v) {
             uint64_t k;
             if (!parseUnsigned(v, UINT32_MAX, k)) return false;
             o.offset = uint32_t(k);
             return true;
         }},
        {"--save-terminals", "PATH", "write the terminal table after the run", "a path",
         [](RunOptions& o, const char* v) { return path(o.saveTerminals, v); }},
        {"--checkpoint", "PATH", "write an exact checkpoint of the run after the run", "a path",
         [](RunOptions& o, const char* v) { return path(o.checkpoint, v); }},
        {"--checkpoint-every", "N", "also write it whenever the generation is a multiple of N",
         "a positive whole number",
         [](RunOptions& o, const char* v) {
             uint64_t k;
             if (!parseUnsigned(v, UINT32_MAX, k) || k == 0) return false;
             o.checkpointEvery = uint32_t(k);
             return true;
         }},
        {"--resume", "PATH", "load FILE as usual, then continue the run a checkpoint froze", "a path",
         [](RunOptions& o, const char* v) { return path(o.resume, v); }},
        {"--resume-any-source", "", "resume even when FILE is not what the checkpointed run was loaded from", "",
         [](RunOptions& o, const char*) { return o.resumeAnySource = true; }},
        {"--run-until", "N", "run the worker thread until generation N (instead of -n)",
         "a non-negative whole number",
         [](RunOptions& o, const char* v) {
             uint64_t k;
             if (!parseUnsigned(v, UINT32_MAX, k)) return false;
             o.runUntil = uint32_t(k);
             return true;
         }},
        {"--render", "PATH", "draw the first view after the run and save it as a bitmap (*.bmp, or *.png)", "a path",
         [](RunOptions& o, const char* v) { return path(o.render, v); }},
        {"--camera", "X,Y,Z,ALT,AZ", "camera of the first view (default: the centre of mass, 50 units in front)",
         "X,Y,Z,ALT,AZ (five numbers)",
         [](RunOptions& o, const char* v) {
             const std::optional<Camera> c = parseCameraText(v);
             if (!c) return false;
             o.camera = *c;
             return o.cameraGiven = true;
         }},
        {"--size", "WxH", "size of the drawn view in pixels (default 640x480; at most 4096x4096 pixels in all)",
         "WxH (whole numbers from 1 to 16384)",
         [](RunOptions& o, const char* v) { return parseSize(v, o.width, o.height); }},
        {"--write-eps", "", "write the Drive coordinates of the first view to dump.eps after the run", "",
         [](RunOptions& o, const char*) { return o.writeEps = true; }},
        {"--stats", "", "print generation, active blocks and speed after the run", "",
         [](RunOptions& o, const char*) { return o.stats = true; }},
        {"--threads", "N", "evaluate the rules on N threads (1 to 64, default 1; same results)", "a number from 1 to 64",
         [](RunOptions& o, const char* v) {
             uint64_t n;
             if (!parseUnsigned(v, 64, n) || n == 0) return false;
             o.threads = int(n);
             return true;
         }},
        {"--progress", "", "show a progress bar on stderr (default when stderr is a terminal)", "",
         [](RunOptions& o, const char*) {
             o.progress = 1;
             return true;
         }},
        {"--no-progress", "", "never show the progress bar", "",
         [](RunOptions& o, const char*) {
             o.progress = 0;
             return true;
         }},
        {"-h, --help", "", "show this help", "", [](RunOptions& o, const char*) { return o.help = true; }},
    };
    return table;
}

// Whether `arg` is one of the option's comma-separated names.
bool names(const Option& opt, const std::string& arg) {
    std::string all = opt.names;
    size_t at = 0;
    while (at < all.size()) {
        size_t end = all.find(',', at);
        if (end == std::string::npos) end = all.size();
        std::string name = all.substr(at, end - at);
        while (!name.empty() && name[0] == ' ') name.erase(0, 1);
        if (name == arg) return true;
        at = end + 1;
    }
    return false;
}

}  // namespace

std::string runUsage() {
    std::string text = "usage: cellforge-run [OPTIONS] FILE\n";
    auto line = [&text](std::string left, const char* help) {
        left = "  " + left;
        if (left.size() < 26) left.resize(26, ' ');
        else left += ' ';
        text += left + help + "\n";
    };
    line("FILE", "a grid file (*.grd) or a project file (*.prj)");
    for (const Option& o : optionTable()) line(std::string(o.names) + (*o.value ? " " : "") + o.value, o.help);
    return text;
}

std::optional<std::string> parseRunOptions(int argc, char** argv, RunOptions& out) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const Option* match = nullptr;
        for (const Option& o : optionTable())
            if (names(o, a)) match = &o;
        if (match) {
            const char* v = nullptr;
            if (*match->value) {
                if (i + 1 >= argc) return "option " + a + " needs " + match->needs;
                v = argv[++i];
            }
            if (!match->apply(out, v)) return "option " + a + " needs " + match->needs;
            if (out.help) return std::nullopt;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return "unknown option " + a;
        } else if (out.file.empty()) {
            out.file = a;
        } else {
            return std::string("more than one file given");
        }
    }
    if (out.file.empty()) return std::string("no file given");
    if (out.checkpointEvery && out.checkpoint.empty())
        return std::string("option --checkpoint-every needs --checkpoint PATH");
    if (uint64_t(out.width) * uint64_t(out.height) > kMaxPicturePixels && (!out.render.empty() || out.writeEps))
        return "option --size asks for " + std::to_string(out.width) + "x" + std::to_string(out.height) +
               " pixels; at most " + std::to_string(kMaxPicturePixels) + " (4096x4096) are drawn";
    return std::nullopt;
}
