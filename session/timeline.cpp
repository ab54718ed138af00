#include "session/timeline.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "files/checkpoint.h"
#include "files/document.h"
#include "files/monitor.h"
#include "universe/universe.h"

namespace {
int64_t nowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
constexpr const char* kPulse = "input pulse";
constexpr double kLongestReplaySeconds = 0.25;
}  // namespace

// A keyframe's buffer, made ready off the worker. Writing a checkpoint of a
// megabyte into fresh memory means faulting in every page of it, and on a
// virtual machine that costs several times the writing itself; so a thread
// of the timeline's own keeps one buffer of the last keyframe's size (and an
// eighth more) allocated and touched, and the worker only writes into it.
class Timeline::SpareBuffer {
public:
    SpareBuffer() : thread_([this] { loop(); }) {}
    ~SpareBuffer() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    // The ready buffer (empty, with its capacity) when it is large enough
    // for `bytes`, else an empty string; a buffer for next time is begun.
    std::string take(size_t bytes) {
        std::string out;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (ready_.capacity() >= bytes) out.swap(ready_);
            ready_ = std::string();
            want_ = bytes + bytes / 8;
        }
        wake_.notify_one();
        return out;
    }

private:
    void loop() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || want_ != 0; });
            if (stop_) return;
            const size_t bytes = want_;
            want_ = 0;
            lock.unlock();
            std::string buffer;
            buffer.resize(bytes);  // touches every page
            buffer.clear();        // keeps them
            lock.lock();
            if (want_ == 0) ready_.swap(buffer);
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::string ready_;
    size_t want_ = 0;
    bool stop_ = false;
    std::thread thread_;
};

Timeline::Timeline(CellforgeDocument& document, size_t budgetBytes) : doc_(document), budget_(budgetBytes) {
    Universe& u = doc_.universe();
    loadGeneration_ = newest_ = u.generation;
    takeKeyframe(u, 0);
}

Timeline::~Timeline() = default;

size_t Timeline::defaultBudget() {
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    const size_t quarter = pages > 0 && pageSize > 0 ? size_t(pages) / 4 * size_t(pageSize) : size_t(1) << 30;
    return std::min(quarter, size_t(1) << 30);
}

size_t Timeline::inputsAt(uint32_t generation) const {
    return size_t(std::count_if(inputs_.begin(), inputs_.end(), [&](const Input& i) { return i.generation == generation; }));
}

size_t Timeline::appliedSoFar(uint32_t generation) const {
    size_t n = 0;
    for (size_t i = 0; i < cursor_; ++i) n += inputs_[i].generation == generation;
    return n;
}

uint64_t Timeline::monitorLength() const {
    Monitor* m = doc_.monitor();
    if (!m || !m->output.is_open()) return 0;
    const std::streamoff at = m->output.tellp();
    return at > 0 ? uint64_t(at) : 0;
}

void Timeline::cutMonitor(uint64_t length) {
    Monitor* m = doc_.monitor();
    if (!m || !m->output.is_open() || monitorLength() == length) return;
    m->output.close();
    m->output.clear();
    if (::truncate(m->outputPath.c_str(), off_t(length)) != 0) {
        // Not a file we can cut (it went away): the lines simply follow.
    }
    m->output.open(m->outputPath, std::ios::in | std::ios::out | std::ios::binary);
    m->output.seekp(0, std::ios::end);
}

void Timeline::takeKeyframe(Universe& u, size_t applied) {
    const int64_t t0 = nowNanos();
    Keyframe k;
    if (!keyframes_.empty()) {
        // The load state is taken once; only a running timeline needs spares.
        if (!spare_) spare_ = std::make_unique<SpareBuffer>();
        k.bytes = spare_->take(std::prev(keyframes_.end())->second.bytes.size());
    }
    std::string error;
    if (!writeCheckpointBytes(doc_, k.bytes, error)) return;
    k.applied = applied;
    k.monitorBytes = monitorLength();
    bytes_ += k.bytes.capacity();
    auto old = keyframes_.find(u.generation);
    if (old != keyframes_.end()) bytes_ -= old->second.bytes.capacity();
    keyframes_[u.generation] = std::move(k);
    const double secs = double(nowNanos() - t0) * 1e-9;
    keyframeSeconds_ = keyframeSeconds_ == 0 ? secs : 0.8 * keyframeSeconds_ + 0.2 * secs;
    // Keyframes may take about 1% of the run: space them out when they cost
    // more, but not so far that a rewind replays more than a quarter of a
    // second (the budget may still thin them further).
    while (generationSeconds_ > 0 && keyframeSeconds_ > 0.01 * double(interval_) * generationSeconds_ &&
           2.0 * double(interval_) * generationSeconds_ <= kLongestReplaySeconds && interval_ < (1u << 30))
        interval_ *= 2;
    enforceBudget();
}

void Timeline::enforceBudget() {
    while (bytes_ > budget_ && keyframes_.size() > 2) {
        // Every other keyframe goes (the load state never), and they come half as often.
        bool drop = false;
        for (auto it = std::next(keyframes_.begin()); it != keyframes_.end();) {
            if (drop) {
                bytes_ -= it->second.bytes.capacity();
                it = keyframes_.erase(it);
            } else {
                ++it;
            }
            drop = !drop;
        }
        if (interval_ < (1u << 30)) interval_ *= 2;
    }
}

void Timeline::applyDue(Universe& u, uint32_t generation, size_t upTo) {
    size_t done = appliedSoFar(generation);
    while (cursor_ < inputs_.size() && inputs_[cursor_].generation == generation && done < upTo) {
        inputs_[cursor_].apply(u);
        ++cursor_;
        ++done;
    }
}

void Timeline::atGenerationStart(Universe& u) {
    const int64_t now = nowNanos();
    // Gaps between runs (a paused worker, a script between calls) are not
    // generations: only short intervals go into the estimate.
    if (lastHookNanos_ != 0) {
        const double secs = double(now - lastHookNanos_) * 1e-9;
        if (secs < 0.05) generationSeconds_ = generationSeconds_ == 0 ? secs : 0.95 * generationSeconds_ + 0.05 * secs;
    }
    lastHookNanos_ = now;
    const uint32_t g = u.generation;
    // The view's K key: taken here rather than by the universe, so that it
    // is recorded with the generation it pulses (left waiting during a replay).
    u.pulseRequestsTakenOutside = true;
    if (!replaying_ && u.pulseRequest.load(std::memory_order_relaxed) != 0 && u.pulseRequest.exchange(0) != 0)
        u.inputPulse = 1;
    const bool pulseFromOutside = u.inputPulse.load() != 0;
    // Every generation passes here: nothing below may walk the whole record.
    while (cursor_ < inputs_.size() && inputs_[cursor_].generation == g) inputs_[cursor_++].apply(u);
    if (pulseFromOutside && !replaying_) {
        // Set straight on the universe (the view's key): record it, once.
        bool recorded = false;
        for (size_t i = cursor_; i > 0 && inputs_[i - 1].generation == g; --i)
            recorded = recorded || inputs_[i - 1].label == kPulse;
        if (!recorded) record(u, kPulse, [](Universe& v) { v.inputPulse = 1; }, sizeof(Input), false);
    }
    newest_ = std::max(newest_, g);
    auto after = keyframes_.upper_bound(g);
    const uint32_t last = after == keyframes_.begin() ? 0 : std::prev(after)->first;
    if (keyframes_.count(g) == 0 && g >= last + interval_) takeKeyframe(u, appliedSoFar(g));
}

void Timeline::dropAfterPosition() {
    const uint32_t g = doc_.universe().generation;
    const size_t applied = appliedSoFar(g);
    for (size_t i = cursor_; i < inputs_.size(); ++i) {
        bytes_ -= inputs_[i].bytes;
        const uint64_t id = inputs_[i].id;
        undoStack_.erase(std::remove(undoStack_.begin(), undoStack_.end(), id), undoStack_.end());
    }
    inputs_.erase(inputs_.begin() + std::ptrdiff_t(cursor_), inputs_.end());
    dropKeyframesPast(g, applied);
    newest_ = g;
}

void Timeline::record(Universe& u, std::string label, Apply apply, size_t bytes, bool undoable) {
    if (cursor_ < inputs_.size() || newest_ > u.generation) dropAfterPosition();
    redoStack_.clear();
    Input in;
    in.id = nextId_++;
    in.generation = u.generation;
    in.label = std::move(label);
    in.apply = std::move(apply);
    in.bytes = bytes + sizeof(Input);
    in.undoable = undoable;
    in.apply(u);
    bytes_ += in.bytes;
    if (undoable) undoStack_.push_back(in.id);
    inputs_.push_back(std::move(in));
    cursor_ = inputs_.size();
    newest_ = std::max(newest_, u.generation);
}

bool Timeline::restore(const Keyframe& k, std::string& error) {
    if (!readCheckpointBytes(doc_, k.bytes, error)) return false;
    cutMonitor(k.monitorBytes);
    return true;
}

void Timeline::dropKeyframesPast(uint32_t generation, size_t applied) {
    for (auto k = keyframes_.begin(); k != keyframes_.end();) {
        const bool past = k->first > generation || (k->first == generation && k->second.applied > applied);
        if (past && k != keyframes_.begin()) {
            bytes_ -= k->second.bytes.capacity();
            k = keyframes_.erase(k);
        } else {
            ++k;
        }
    }
}

bool Timeline::rollBackTo(uint32_t generation, size_t applied, std::string& error) {
    // The newest keyframe at or before the position.
    auto best = keyframes_.end();
    for (auto it = keyframes_.begin(); it != keyframes_.end(); ++it)
        if (it->first < generation || (it->first == generation && it->second.applied <= applied)) best = it;
    if (best == keyframes_.end()) {
        error = "generation " + std::to_string(generation) + " is before the earliest one kept";
        return false;
    }
    if (!restore(best->second, error)) return false;
    cursor_ = 0;
    size_t atKey = 0;
    while (cursor_ < inputs_.size() && (inputs_[cursor_].generation < best->first ||
                                        (inputs_[cursor_].generation == best->first && atKey < best->second.applied))) {
        atKey += inputs_[cursor_].generation == best->first;
        ++cursor_;
    }
    return true;
}

void Timeline::replayTo(uint32_t generation, size_t applied) {
    Universe& u = doc_.universe();
    replaying_ = true;
    SteppingDriver& driver = doc_.driver();
    while (u.generation < generation) driver.runGeneration();
    applyDue(u, generation, applied);
    replaying_ = false;
}

bool Timeline::goTo(uint32_t generation, size_t applied, std::string& error) {
    const uint32_t g0 = doc_.universe().generation;
    // The position left behind stays reachable: a run stands one generation
    // past the last generation start the hook saw.
    newest_ = std::max(newest_, g0);
    const bool forward = generation > g0 || (generation == g0 && applied >= appliedSoFar(g0));
    if (!forward && !rollBackTo(generation, applied, error)) return false;
    replayTo(generation, applied);
    return true;
}

bool Timeline::undo(std::string& error) {
    if (undoStack_.empty()) {
        error = "nothing to undo";
        return false;
    }
    const uint64_t id = undoStack_.back();
    auto it = std::find_if(inputs_.begin(), inputs_.end(), [&](const Input& i) { return i.id == id; });
    if (it == inputs_.end()) {
        undoStack_.pop_back();
        error = "nothing to undo";
        return false;
    }
    const size_t index = size_t(it - inputs_.begin());
    const uint32_t g = it->generation;
    size_t before = 0;
    for (size_t i = 0; i < index; ++i) before += inputs_[i].generation == g;
    // Take the edit out of the record (and the keyframes that hold it), then
    // go back to just before its place: through a keyframe, since the
    // universe holds it now.
    Input taken = std::move(*it);
    inputs_.erase(it);
    cursor_ = inputs_.size();
    bytes_ -= taken.bytes;
    dropKeyframesPast(g, before);
    if (!rollBackTo(g, before, error)) return false;
    replayTo(g, before);
    undoStack_.pop_back();
    redoStack_.push_back(std::move(taken));
    redoPositions_.push_back(before);
    return true;
}

bool Timeline::redo(std::string& error) {
    if (redoStack_.empty()) {
        error = "nothing to redo";
        return false;
    }
    const uint32_t g = redoStack_.back().generation;
    const size_t before = redoPositions_.back();
    if (!goTo(g, before, error)) return false;
    Input in = std::move(redoStack_.back());
    redoStack_.pop_back();
    redoPositions_.pop_back();
    // Keyframes past its place were taken without it.
    dropKeyframesPast(g, before);
    in.apply(doc_.universe());
    bytes_ += in.bytes;
    undoStack_.push_back(in.id);
    inputs_.insert(inputs_.begin() + std::ptrdiff_t(cursor_), std::move(in));
    ++cursor_;
    return true;
}

bool Timeline::reset(std::string& error) {
    if (!restore(keyframes_.begin()->second, error)) return false;
    const uint32_t g = keyframes_.begin()->first;
    Keyframe load = std::move(keyframes_.begin()->second);
    keyframes_.clear();
    keyframes_[g] = std::move(load);
    inputs_.clear();
    cursor_ = 0;
    undoStack_.clear();
    redoStack_.clear();
    redoPositions_.clear();
    newest_ = g;
    bytes_ = keyframes_[g].bytes.capacity();
    return true;
}

bool Timeline::rewind(uint32_t generation, std::string& error) {
    const uint32_t first = keyframes_.begin()->first;
    const uint32_t last = std::max(newest_, doc_.universe().generation);
    if (generation < first || generation > last) {
        error = "generation " + std::to_string(generation) + " cannot be reached: the record holds " +
                std::to_string(first) + " to " + std::to_string(last);
        return false;
    }
    // The generation the last run ended at was never a generation start, so
    // the record has not counted it yet; leaving it must not lose it.
    newest_ = last;
    return goTo(generation, inputsAt(generation), error);
}

Timeline::History Timeline::history() const {
    History h;
    h.first = keyframes_.begin()->first;
    h.last = std::max(newest_, doc_.universe().generation);
    h.undo = undoStack_.size();
    h.redo = redoStack_.size();
    h.inputs = inputs_.size();
    h.keyframes = keyframes_.size();
    h.bytes = bytes_;
    h.interval = interval_;
    h.keyframeSeconds = keyframeSeconds_;
    // The desktop asks for this with the worker held, after every step:
    // one pass over the record, not one per undo step.
    std::unordered_map<uint64_t, const std::string*> labels;
    labels.reserve(undoStack_.size());
    for (uint64_t id : undoStack_) labels.emplace(id, nullptr);
    for (const Input& i : inputs_)
        if (auto it = labels.find(i.id); it != labels.end()) it->second = &i.label;
    for (uint64_t id : undoStack_)
        if (const std::string* label = labels[id]) h.undoLabels.push_back(*label);
    return h;
}
