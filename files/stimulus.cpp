#include "files/stimulus.h"

#include <algorithm>
#include <limits>
#include <string>

#include "files/terminals.h"
#include "files/text_scanner.h"
#include "universe/directions.h"
#include "universe/universe.h"

Stimulus::~Stimulus() {
    if (!boundUniverse || channels.empty()) return;
    boundUniverse->clearTerminalBindings([this](StimulusChannel* c) { return c->owner == this; });
}

namespace {

bool startsWith(const std::string& w, const char* prefix) { return w.rfind(prefix, 0) == 0; }

uint32_t timeOf(const std::string& word, size_t skip) { return uint32_t(TextScanner::leadingInt(word.substr(skip))); }

}  // namespace

std::unique_ptr<Stimulus> readStimulusFile(std::istream& in, const TerminalTable* terminals, Universe& universe) {
    auto stimulus = std::make_unique<Stimulus>();
    stimulus->boundUniverse = &universe;
    TextScanner s(in);
    std::string name, brace, w;
    for (;;) {
        if (!s.readWord(name) || !s.readWord(brace) || brace != "{") break;
        auto channel = std::make_unique<StimulusChannel>();
        channel->owner = stimulus.get();
        channel->terminal = findTerminal(terminals, name);
        // Remember what the cell was bound to, to undo a block cut off by the end.
        CellRef cell;
        StimulusChannel* previous = nullptr;
        if (channel->terminal && terminalInUniverseRange(*channel->terminal)) {
            const Terminal& t = *channel->terminal;
            cell = universe.cellForUpdate(t.x, t.y, t.z);
            previous = cell.block->terminalBinding(cell.slot);
            cell.block->setTerminalBinding(cell.slot, channel.get());
        }
        uint32_t running = 0;
        bool closed = false;
        while (s.readWord(w)) {
            if (w == "}") {
                closed = true;
                break;
            }
            if (w == "loop") {
                channel->loop = 1;
            } else if (startsWith(w, "b=")) {
                PartEvent e;
                e.time = running = timeOf(w, 2);
                std::string a, b, c;
                if (!s.readWord(a) || !s.readWord(b) || !s.readWord(c)) break;
                e.partType = TextScanner::leadingInt(a);
                e.front = TextScanner::leadingInt(b);
                e.side = TextScanner::leadingInt(c);
                channel->partEvents.push_back(e);
            } else {
                std::string value = w, delay;
                if (startsWith(w, "t=")) {
                    running = timeOf(w, 2);
                    if (!s.readWord(value)) break;
                }
                if (!s.readWord(delay)) break;
                running += uint32_t(TextScanner::leadingInt(delay));
                channel->bitEvents.push_back(BitEvent{running, uint8_t(value == "1")});
            }
        }
        if (!closed) {
            if (cell) cell.block->setTerminalBinding(cell.slot, previous);
            break;
        }
        stimulus->channels.push_back(std::move(channel));
    }
    return stimulus;
}

namespace {

// One generation of one channel; the single source of truth for the rules.
void applyChannel(StimulusChannel& ch, Universe* u) {
    const Terminal* t = ch.terminal;
    const bool acts = u && t && terminalInUniverseRange(*t);
    if (ch.bitIndex < ch.bitEvents.size()) {
        const BitEvent& e = ch.bitEvents[ch.bitIndex];
        if (e.on && acts) u->injectSignal(t->x, t->y, t->z, t->direction);
        if (ch.clock >= e.time) {
            ++ch.bitIndex;
            if (ch.bitIndex == ch.bitEvents.size() && ch.loop) ch.bitIndex = 0;
        }
    }
    while (ch.partIndex < ch.partEvents.size() && ch.partEvents[ch.partIndex].time == ch.clock) {
        const PartEvent& e = ch.partEvents[ch.partIndex];
        if (acts) {
            UniverseCell c;
            c.x = t->x;
            c.y = t->y;
            c.z = t->z;
            c.partType = e.partType;
            c.front = e.front;
            c.side = e.side;
            c.up = deriveUp(e.front, e.side);
            u->placeCell(c);
        }
        ++ch.partIndex;
    }
    ++ch.clock;
}

// Skips `count` generations of one channel without a universe. Quiet
// stretches (no bit event due, no part event at the clock) are jumped over;
// a looped list whose times all lie behind the clock consumes one event per
// generation, so its index can be jumped by arithmetic too.
void advanceChannel(StimulusChannel& ch, uint64_t count) {
    const uint64_t n = ch.bitEvents.size();
    uint32_t maxBitTime = 0;
    for (const BitEvent& e : ch.bitEvents) maxBitTime = std::max(maxBitTime, e.time);
    constexpr uint64_t kWrap = uint64_t(std::numeric_limits<uint32_t>::max()) + 1;
    while (count > 0) {
        const uint64_t clock = ch.clock;
        // Generations until the clock wraps, after which old times lie ahead again.
        uint64_t jump = std::min(count, kWrap - clock);
        const bool partsLive = ch.partIndex < ch.partEvents.size();
        if (partsLive) {
            const uint32_t pt = ch.partEvents[ch.partIndex].time;
            if (pt == clock) {
                applyChannel(ch, nullptr);
                --count;
                continue;
            }
            if (pt > clock) jump = std::min(jump, uint64_t(pt) - clock);
        }
        if (ch.bitIndex < n) {
            const uint32_t bt = ch.bitEvents[ch.bitIndex].time;
            if (bt > clock) {
                jump = std::min(jump, uint64_t(bt) - clock);
            } else if (ch.loop && clock >= maxBitTime) {
                // Every time lies behind the clock until it wraps: one event per generation.
                ch.bitIndex = uint32_t((ch.bitIndex + jump) % n);
            } else {
                applyChannel(ch, nullptr);
                --count;
                continue;
            }
        }
        ch.clock = uint32_t(clock + jump);
        count -= jump;
    }
}

}  // namespace

void applyStimulus(Stimulus& stimulus, Universe* universe) {
    for (auto& ch : stimulus.channels) applyChannel(*ch, universe);
}

void advanceStimulus(Stimulus& stimulus, uint64_t count) {
    for (auto& ch : stimulus.channels) advanceChannel(*ch, count);
}

bool moveTerminal(StimulusChannel* channel, int32_t direction) {
    if (!channel || !channel->terminal || !validDirection(direction)) return false;
    Terminal& t = *channel->terminal;
    // Wrapping adds: a terminal at the edge of the 32-bit range must not overflow.
    t.x = int32_t(uint32_t(t.x) + uint32_t(directionTable.dx[direction]));
    t.y = int32_t(uint32_t(t.y) + uint32_t(directionTable.dy[direction]));
    t.z = int32_t(uint32_t(t.z) + uint32_t(directionTable.dz[direction]));
    return t.name == kTrackedTerminalName;
}
