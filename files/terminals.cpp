#include "files/terminals.h"

#include <ostream>

#include "files/grid_file.h"
#include "files/text_scanner.h"

std::unique_ptr<TerminalTable> readTerminalFile(std::istream& in) {
    auto table = std::make_unique<TerminalTable>();
    TextScanner s(in);
    std::string prefix;
    int64_t depth = 0;
    std::string w;
    for (bool done = false; !s.failed() && !done;) {
        // Names are read to the length a full terminal name may have: the
        // written form puts a terminal's whole object path in one word.
        if (!s.readWord(w, kMaxTerminalName)) break;
        if (w == "object") {
            std::string name, brace;
            s.readWord(name, kMaxTerminalName);
            if (prefix.size() + name.size() + 1 > kMaxTerminalName) break;
            prefix += name;
            prefix += '.';
            if (!s.readWord(brace) || brace != "{") done = true;
            ++depth;
        } else if (w == "}") {
            const int64_t before = depth--;
            if (before == 1 || prefix.empty()) {
                prefix.clear();
                continue;
            }
            prefix.pop_back();
            const size_t dot = prefix.rfind('.');
            if (dot == std::string::npos)
                prefix.clear();
            else
                prefix.resize(dot + 1);
        } else {
            Terminal t;
            int32_t flag = 0;
            // A line cut short (or holding a non-number) adds nothing.
            if (!s.readInt(t.x) || !s.readInt(t.y) || !s.readInt(t.z) || !s.readInt(t.direction) || !s.readInt(flag))
                break;
            if (prefix.size() + w.size() > kMaxTerminalName) break;
            t.name = prefix + w;
            t.flag = flag != 0;
            table->add(std::move(t));
        }
    }
    return table;
}

Terminal* findTerminal(const TerminalTable* table, const std::string& name) {
    if (!table) return nullptr;
    for (const auto& t : table->terminals)
        if (t->name == name) return t.get();
    return nullptr;
}

bool writeTerminalFile(const TerminalTable* table, std::ostream& out) {
    if (!table) return bool(out);
    for (const auto& t : table->terminals) {
        const size_t dot = t->name.rfind('.');
        const std::string object = dot == std::string::npos ? t->name : t->name.substr(0, dot);
        const std::string own = dot == std::string::npos ? t->name : t->name.substr(dot + 1);
        // The seven-line form cannot hold an empty object or own name, nor an
        // own name the reader takes for a keyword; such a name is written as
        // a plain line, which reads back exactly (and keeps the terminals
        // after it readable).
        if (dot != std::string::npos && (dot == 0 || own.empty() || own == "object" || own == "}")) {
            out << t->name << ' ' << t->x << ' ' << t->y << ' ' << t->z << ' ' << t->direction << ' '
                << (t->flag ? 1 : 0) << '\n'
                << std::flush;
            continue;
        }
        out << "object " << object << '\n' << std::flush;
        out << "{\n" << std::flush;
        out << own << '\n' << std::flush;
        out << t->x << ' ' << t->y << ' ' << t->z << '\n' << std::flush;
        out << t->direction << '\n' << std::flush;
        out << (t->flag ? 1 : 0) << '\n' << std::flush;
        out << "}\n" << std::flush;
    }
    return bool(out);
}

bool terminalInUniverseRange(const Terminal& t) {
    auto ok = [](int32_t v) { return v >= -kCoordinateLimit && v <= kCoordinateLimit; };
    return ok(t.x) && ok(t.y) && ok(t.z);
}
