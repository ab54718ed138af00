// Terminals: named cell positions with a face direction, through which the
// stimulus feeds signals in and the monitor reads them out.
//
// Layout: the table owns its terminals through unique_ptr so their addresses
// never change; stimulus channels and monitor groups point at them. Those
// referrers must be destroyed before the table (the document frees the
// stimulus and the monitor first).
//
// A bound terminal moves with its part, so x, y, z are written by the worker
// thread; read them on another thread only with the worker paused.
//
// Names are capped at kMaxTerminalName characters (object nesting adds to the
// prefix); reaching the cap ends the reading like any failed read, so deep
// nesting cannot make the table grow faster than its input.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

struct Terminal {
    std::string name;
    int32_t x = 0, y = 0, z = 0;
    uint8_t flag = 0;
    int32_t direction = 0;
};

struct TerminalTable {
    std::vector<std::unique_ptr<Terminal>> terminals;

    size_t size() const { return terminals.size(); }
    Terminal& at(size_t i) const { return *terminals[i]; }
    Terminal& add(Terminal t) {
        terminals.push_back(std::make_unique<Terminal>(std::move(t)));
        return *terminals.back();
    }
};

constexpr size_t kMaxTerminalName = 1024;

// Reads the "object NAME { ... }" form. Never fails: keeps every terminal read
// before the first failed read; a terminal line cut short is not added.
std::unique_ptr<TerminalTable> readTerminalFile(std::istream& in);

// First terminal whose full name equals `name`, or none.
Terminal* findTerminal(const TerminalTable* table, const std::string& name);

// Writes the seven-line form per terminal, flushing after each line; a name
// that form cannot hold (an empty part around its last dot, or a keyword as
// its last part) is written as one plain line instead. Writes
// nothing without a table. Returns false when the stream failed.
bool writeTerminalFile(const TerminalTable* table, std::ostream& out);

// True when a position may be handed to the universe: terminals far outside
// the range a grid can fill never touch it, so no coordinate arithmetic of
// the universe can overflow on their account.
bool terminalInUniverseRange(const Terminal& t);
