// The stepping driver: one worker thread per document that advances a
// Universe generation by generation, steered by 32-bit flags.
//
// Design
//   The user-interface thread and the worker talk only through the flags
//   below (each read and written whole, never read-modify-written) plus one
//   private wake counter. Every store that may release or satisfy a waiter
//   is followed by a bump of the wake counter and a notify, so a waiter can
//   block on the counter after a short yielding spin without ever missing a
//   change: an idle document costs no CPU, and a released worker still
//   reacts at once.
//
//   Borrowing the universe (`pauseForRead` / `resumeAfterRead`) always waits
//   until the worker actually stands at its pause point, even when `paused`
//   was already set (after "Stop" the worker may still be finishing a
//   generation, and after "Step" it may be about to start one). A reader
//   count keeps the worker at the pause point while any reader holds the
//   universe; the worker publishes `idle` = 0 before it re-checks that count
//   (a Dekker pair on sequentially consistent atomics), so a reader that saw
//   `idle` = 1 owns the universe until it resumes.
//
//   The worker leaves its pause point in this order: `idle` = 0, then
//   `hold` = 1. So "`idle` = 1 and `hold` = 1 and `paused` = 1" is only ever
//   seen when the worker waits with no step pending; `waitUntilStopped`
//   relies on that.
//
//   The stimulus and the monitor live in the files layer; the driver reaches
//   them through `GenerationHooks`, installed by the document.
//
// Threading: every member function except the worker's own loop is for the
// controlling (user-interface) thread. The hooks and the view centre are
// used by the worker between its pause point and the end of a generation,
// so they may be replaced only while the worker is paused (the setters here
// do the handshake themselves).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

class Universe;

// What the document runs around the four phases of each generation.
class GenerationHooks {
public:
    // Before the phases (the stimulus).
    virtual void beforeGeneration(Universe& universe) = 0;
    // After the phases and the tracked-terminal shift (the monitor).
    virtual void afterGeneration(Universe& universe) = 0;

protected:
    ~GenerationHooks() = default;
};

// The centre of a view, shared between the view (any thread) and the worker,
// which shifts it when the tracked terminal moves. A move changes exactly one
// axis, so per-component atomics always show a consistent centre.
struct ViewCentre {
    std::atomic<float> x{0.0f}, y{0.0f}, z{0.0f};

    void set(float nx, float ny, float nz) {
        x.store(nx);
        y.store(ny);
        z.store(nz);
    }
    // Adds one direction step; each sum is formed in double precision.
    void shift(int32_t direction);
};

class SteppingDriver {
public:
    explicit SteppingDriver(Universe& universe);
    // Stops the worker if it is still running.
    ~SteppingDriver();
    SteppingDriver(const SteppingDriver&) = delete;
    SteppingDriver& operator=(const SteppingDriver&) = delete;

    // ---- run-control flags (readable by anyone; write them through the
    //      commands below so that waiters are woken)
    std::atomic<int32_t> running{0};
    std::atomic<int32_t> paused{0};
    std::atomic<int32_t> hold{0};
    std::atomic<int32_t> slow{0};
    std::atomic<int32_t> idle{0};
    std::atomic<int32_t> exited{1};
    std::atomic<uint32_t> runUntil{0};

    // Resets the flags to the waiting state (no limit, not slow) and starts the
    // thread. A worker that is still running is stopped first.
    void startWorker();
    // Ends the worker and joins it; returns only when the thread has ended.
    // The worker finishes the generation in progress but starts no new one.
    // Harmless when no worker runs.
    void stopWorker();
    bool workerStarted() const { return thread_.joinable(); }

    // Hooks run by the worker; may be none. Pauses the worker around the swap.
    void setHooks(GenerationHooks* hooks);
    // The first view's centre, shifted when the tracked terminal moves; none
    // when no view is registered (the shift is then dropped). A view must
    // unregister (pass nullptr) before its centre is destroyed.
    void setFirstViewCentre(ViewCentre* centre);
    ViewCentre* firstViewCentre() const { return viewCentre_.load(); }
    // A tool's own per-generation action, run before the stimulus (the
    // headless runner's input pulses). Pauses the worker around the swap.
    void setGenerationStart(std::function<void(Universe&)> action);

    // ---- commands
    void runCommand();   // "Go"
    void stopCommand();  // "Stop"
    void stepCommand();  // "Step"
    void slowCommand();  // "Go Slow"
    void frameDrawn();   // a view drew a frame
    void setRunUntil(uint32_t limit);

    // Enable rules of the commands.
    bool canGo() const { return paused.load() != 0 && slow.load() == 0; }
    bool canStep() const { return canGo(); }
    bool canGoSlow() const { return canGo(); }
    bool canStop() const { return paused.load() == 0 || slow.load() != 0; }

    // ---- the pause handshake
    // Brings the worker to its pause point and keeps it there. Returns whether
    // this call set `paused` (pass that to resumeAfterRead). Nested calls are
    // fine. With no worker running, or on the worker itself (a hook), it
    // returns at once: the caller already owns the universe.
    bool pauseForRead();
    void resumeAfterRead(bool pausedHere);

    // Blocks until the worker waits at its pause point with `paused` set and
    // no step pending, i.e. until it has stopped itself or been stopped;
    // returns at once if the worker has exited. Used by tools and tests to
    // wait for "Step" or a run-until limit without sleeping.
    void waitUntilStopped();

    // One generation exactly as the worker runs it (steps 4 to 8: clear the
    // tracked flag, start action, before hook, the four phases, the view
    // shift, after hook). Only for a caller that holds the universe through
    // pauseForRead, or when no worker runs.
    void runGeneration();

    Universe& universe() { return universe_; }

    // Runs the worker thread at a lower priority (a nice value, 0 to 19),
    // now and whenever it is started again. On a machine with few cores a
    // worker in "Go" otherwise takes a whole core from the drawing; the
    // desktop program lowers it, tools that only simulate do not.
    void setWorkerNice(int nice);
    // The worker's current nice value as the system reports it (0 when no
    // worker runs); for tests.
    int workerNiceNow() const;

private:
    void workerLoop();
    void pausePoint();
    void wake();  // bump the wake counter and notify every waiter
    template <class Pred>
    void waitFor(Pred done);
    void setFlag(std::atomic<int32_t>& flag, int32_t value) {
        flag.store(value);
        wake();
    }

    Universe& universe_;
    std::thread thread_;                        // touched by the controlling thread only
    std::atomic<std::thread::id> workerId_{};  // lets the worker recognise itself
    std::atomic<int32_t> workerNice_{0};
    std::atomic<int64_t> workerTid_{0};  // the worker's kernel thread id while it runs
    std::atomic<uint32_t> wakeCount_{0};
    std::atomic<int32_t> readers_{0};
    std::atomic<GenerationHooks*> hooks_{nullptr};
    std::atomic<ViewCentre*> viewCentre_{nullptr};
    std::function<void(Universe&)> generationStart_;  // guarded by the handshake
};
