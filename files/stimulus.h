// Stimulus: timed signals and part drops fed into terminals, one channel per
// block of the stimulus file.
//
// Ownership and lifetime: the stimulus owns its channels (unique_ptr, stable
// addresses); the cell at a channel's terminal refers to the channel through
// its terminalBinding. To keep that reference from ever dangling, a stimulus
// remembers the universe it bound cells in and, when destroyed, clears every
// binding that points at one of its channels. Destroy it only while the
// universe is not being stepped (the document pauses or stops the worker),
// and before that universe.
//
// A channel's terminal belongs to the TerminalTable the stimulus was read
// with; that table must outlive the stimulus.
//
// Times are unsigned 32-bit and wrap like the clock; a negative time in a
// file simply lies far in the future.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <vector>

class Universe;
struct Terminal;
struct TerminalTable;
class Stimulus;

struct BitEvent {
    uint32_t time = 0;
    uint8_t on = 0;
};

struct PartEvent {
    uint32_t time = 0;
    int32_t partType = 0;
    int32_t front = 0;
    int32_t side = 0;
};

struct StimulusChannel {
    Terminal* terminal = nullptr;
    std::vector<BitEvent> bitEvents;
    std::vector<PartEvent> partEvents;
    uint32_t bitIndex = 0;
    uint32_t partIndex = 0;
    uint32_t clock = 0;
    uint8_t loop = 0;
    const Stimulus* owner = nullptr;  // for unbinding when the stimulus goes
};

class Stimulus {
public:
    Stimulus() = default;
    ~Stimulus();  // unbinds every cell bound to one of its channels
    Stimulus(const Stimulus&) = delete;
    Stimulus& operator=(const Stimulus&) = delete;

    std::vector<std::unique_ptr<StimulusChannel>> channels;  // file order
    Universe* boundUniverse = nullptr;
};

// The terminal name whose moves shift the first view.
inline constexpr const char* kTrackedTerminalName = "pc1.mc.mad.mem.memory-module-a.m.i0";

// Reads channel blocks until the input ends or a block's second word is not
// "{". Binds the cell at each found terminal to its channel. A block cut off
// by the end of input is dropped and its binding undone (the cell gets back
// the binding it had). Never returns null.
std::unique_ptr<Stimulus> readStimulusFile(std::istream& in, const TerminalTable* terminals, Universe& universe);

// One generation of every channel. Without a universe the clocks and
// indexes advance but nothing is written (the load-time skip-ahead).
void applyStimulus(Stimulus& stimulus, Universe* universe);

// `count` generations without a universe; equivalent to calling
// applyStimulus(stimulus, nullptr) that many times, but jumps over quiet
// stretches so that any count finishes at once.
void advanceStimulus(Stimulus& stimulus, uint64_t count);

// The universe's move hook: moves the channel's terminal one step in
// `direction`; true when that terminal is the tracked one.
bool moveTerminal(StimulusChannel* channel, int32_t direction);
