// The timeline of a document: every input from outside, in the order it
// came, and keyframes to go back to - so that edits can be undone, and a run
// rewound to any earlier generation, exactly.
//
// Design note
//   * A generation's result depends only on the state before it, and that
//     state only on the load and the inputs from outside (edits, the input
//     pulse, memory writes, injected signals). So the timeline records every
//     input with the generation it was applied at, and keeps keyframes: the
//     document's exact checkpoint bytes, taken at generation starts. Any
//     earlier position is then the last keyframe before it plus a replay of
//     the recorded inputs - byte for byte what a straight run gave.
//   * Undo is the same move: take the undone edit out of the record and go
//     back to the position just before it. Redo puts it back and goes to the
//     position just after it. Memory per step is the size of the edit;
//     keyframes share one budget (thinned to every other one, and taken half
//     as often, when it is reached), the load state always stays.
//   * A position is (generation, inputs applied at that generation). Inputs
//     recorded at generation g are applied between generations g and g + 1;
//     rewinding to g applies all of them. An input made at an earlier
//     position than the newest recorded one starts a new branch: the later
//     record and keyframes are dropped.
//   * The monitor's output is cut back to its length at the position gone
//     back to; the run writes its lines again as it passes there.
//   * Keyframes are taken at most every `interval` generations, and the
//     interval grows so that taking them costs about 1% of the run, as
//     long as a rewind replays at most about a quarter of a second. A
//     thread of the timeline's own faults in the next keyframe's memory.
//   * Not thread-safe by itself: the session calls it with the worker held,
//     and the worker calls atGenerationStart while it owns the universe.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class CellforgeDocument;
class Universe;

class Timeline {
public:
    using Apply = std::function<void(Universe&)>;

    // Keyframes the document as it stands now (the load state).
    Timeline(CellforgeDocument& document, size_t budgetBytes);
    ~Timeline();

    // A quarter of the machine's memory or 1 GiB, whichever is smaller.
    static size_t defaultBudget();

    // The generation-start hook of whoever runs generations: applies the
    // recorded inputs due here (after a rewind), notices an input pulse set
    // from outside, and takes a keyframe when one is due.
    void atGenerationStart(Universe& universe);

    // Applies an input now and records it. An undoable one (an edit) is one
    // step of undo; `bytes` is what keeping it costs.
    void record(Universe& universe, std::string label, Apply apply, size_t bytes, bool undoable);

    bool canUndo() const { return !undoStack_.empty(); }
    bool canRedo() const { return !redoStack_.empty(); }
    // False, with the reason, when there is nothing to undo or the position
    // cannot be reached.
    bool undo(std::string& error);
    bool redo(std::string& error);
    // Back to the state as loaded; forgets the record.
    bool reset(std::string& error);
    // To generation g (every input recorded at g applied): any generation from
    // the first keyframe's to the newest one recorded.
    bool rewind(uint32_t generation, std::string& error);

    struct History {
        uint32_t first = 0;   // the earliest reachable generation
        uint32_t last = 0;    // the newest generation recorded
        size_t undo = 0, redo = 0;
        size_t inputs = 0;    // recorded inputs of every kind
        size_t keyframes = 0;
        size_t bytes = 0;     // keyframes and inputs held
        uint32_t interval = 0;
        double keyframeSeconds = 0;  // what taking one costs, lately
        std::vector<std::string> undoLabels;  // oldest first
    };
    History history() const;

private:
    struct Input {
        uint64_t id = 0;
        uint32_t generation = 0;
        std::string label;
        Apply apply;
        size_t bytes = 0;
        bool undoable = false;
    };
    struct Keyframe {
        std::string bytes;
        size_t applied = 0;        // inputs recorded at its generation already in it
        uint64_t monitorBytes = 0; // the monitor output's length then
    };

    void takeKeyframe(Universe& u, size_t applied);
    bool restore(const Keyframe& k, std::string& error);
    // Goes to (generation, applied): restores a keyframe when it must go
    // back, then replays the record.
    bool goTo(uint32_t generation, size_t applied, std::string& error);
    bool rollBackTo(uint32_t generation, size_t applied, std::string& error);
    void replayTo(uint32_t generation, size_t applied);
    void dropKeyframesPast(uint32_t generation, size_t applied);
    void applyDue(Universe& u, uint32_t generation, size_t upTo);
    void dropAfterPosition();
    void enforceBudget();
    size_t inputsAt(uint32_t generation) const;
    size_t appliedSoFar(uint32_t generation) const;
    uint64_t monitorLength() const;
    void cutMonitor(uint64_t length);

    class SpareBuffer;
    std::unique_ptr<SpareBuffer> spare_;  // the next keyframe's memory, faulted in off the worker
    CellforgeDocument& doc_;
    size_t budget_;
    uint32_t interval_ = 64;
    double keyframeSeconds_ = 0, generationSeconds_ = 0;
    int64_t lastHookNanos_ = 0;
    std::map<uint32_t, Keyframe> keyframes_;
    uint32_t loadGeneration_ = 0;
    std::vector<Input> inputs_;  // by generation, then in the order made
    size_t cursor_ = 0;          // inputs_[cursor_] is the next one not applied
    std::vector<uint64_t> undoStack_;
    std::vector<Input> redoStack_;
    std::vector<size_t> redoPositions_;  // inputs at its generation before each redo entry
    uint64_t nextId_ = 1;
    uint32_t newest_ = 0;        // the newest generation the record reaches
    size_t bytes_ = 0;
    bool replaying_ = false;

public:
    bool replaying() const { return replaying_; }
};
