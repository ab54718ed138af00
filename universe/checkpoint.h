// Exact universe snapshots: the complete between-generation state of a
// Universe as a byte string, and back.
//
// What is kept
//   Everything the next generation reads and that cannot be recomputed: the
//   counters, the region entries, every block (empty ones too, until the
//   clean-up takes them) in bucket-then-chain order with its list flags and
//   all eleven cell columns, escaped wide values, region and binding
//   references, and the contents and order of the current, next, move and
//   commit lists. Links and bonds are kept as they are, one-sided bonds
//   included: the live engine honours those, so recomputing them as the grid
//   reader does would give a different machine.
//
// What is not kept
//   Derived state (occupied masks, neighbour pointers, the lookup table,
//   bucket tails, block count): Universe::rebuildCaches() recomputes it, and
//   every restore goes through it. Per-generation scratch is empty between
//   generations, so a snapshot is only meaningful there.
//
// Bindings point at stimulus channels that the universe does not own, so
// they are written as indexes into a caller-supplied channel list and read
// back through one.
//
// Layout (little-endian): u32 version, counters, regions, blocks, lists. Every
// count is checked against the bytes that remain before anything is sized by
// it, and the restored universe must pass verifyConsistency(), so no input
// can make the reader allocate without bound or leave a state the engine
// would trip over. A failed read leaves the target as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class Universe;
struct StimulusChannel;

class UniverseCheckpoint {
public:
    // Version 2 writes each distinct set of cell columns once and names it
    // by index after that; version 1 wrote every block's columns out. Both
    // read.
    static constexpr uint32_t kVersion = 2, kOldestVersion = 1;

    // Appends the snapshot of `u` to `out`. Each binding must be one of
    // `channels` (written as its index); false, with a message, otherwise.
    // (`version` is for tests that check older records still read.)
    static bool write(const Universe& u, const std::vector<const StimulusChannel*>& channels, std::string& out,
                      std::string& error, uint32_t version = kVersion);

    // Reads a snapshot from `bytes` into a fresh universe built here and, on
    // success only, exchanges it with `u`'s state (the hooks `onConflict` and
    // `moveTerminal` stay with `u`). A binding index i becomes channels[i].
    // `consumed` receives the snapshot's length when given; trailing bytes are
    // the caller's business.
    static bool read(Universe& u, std::string_view bytes, const std::vector<StimulusChannel*>& channels,
                     std::string& error, size_t* consumed = nullptr);
    // The same, returning the restored universe itself (none on failure).
    // Empty blocks that the husk sweep would take are read as husks at once,
    // unless `keepBlocksFull` (for tests that run a universe beside its
    // twin in full blocks).
    static std::unique_ptr<Universe> load(std::string_view bytes, const std::vector<StimulusChannel*>& channels,
                                          std::string& error, size_t* consumed = nullptr,
                                          bool keepBlocksFull = false);

    // Exchanges the stored state of two universes and rebuilds both caches.
    static void exchange(Universe& a, Universe& b);

    // Replaces every cell binding b by map(b) (for moving a restored universe
    // from stand-in channels to the real ones).
    template <class F>
    static void remapBindings(Universe& u, F&& map);
};

#include "universe/universe.h"

template <class F>
void UniverseCheckpoint::remapBindings(Universe& u, F&& map) {
    u.forEachBlock([&](UniverseBlock* b) {
        if (!b->extras) return;
        for (auto& ch : b->extras->binding)
            if (ch) ch = map(ch);
    });
}
