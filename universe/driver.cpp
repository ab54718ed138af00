#include "universe/driver.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "universe/directions.h"
#include "universe/universe.h"

namespace {
// Waits yield for a short while before they block: the pauses a view makes
// every frame last about a millisecond, and a worker that had gone to sleep
// takes longer than that to wake on a loaded machine. Longer waits (a
// stopped document) block and cost nothing.
class Backoff {
public:
    // True while the caller should yield and test again; false once it
    // should block.
    bool spin() {
        if ((++count_ & 15) == 0 && std::chrono::steady_clock::now() - start_ > kSpinTime) return false;
        std::this_thread::yield();
        return true;
    }
    void restart() {
        count_ = 0;
        start_ = std::chrono::steady_clock::now();
    }

private:
    static constexpr std::chrono::microseconds kSpinTime{2000};
    unsigned count_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};
}  // namespace

void ViewCentre::shift(int32_t direction) {
    if (!validDirection(direction)) return;
    auto add = [](std::atomic<float>& v, int32_t d) {
        if (d == 0) return;
        float old = v.load();
        while (!v.compare_exchange_weak(old, float(double(old) + double(d)))) {
        }
    };
    add(x, directionTable.dx[direction]);
    add(y, directionTable.dy[direction]);
    add(z, directionTable.dz[direction]);
}

SteppingDriver::SteppingDriver(Universe& universe) : universe_(universe) {}

SteppingDriver::~SteppingDriver() { stopWorker(); }

void SteppingDriver::wake() {
    wakeCount_.fetch_add(1);
    wakeCount_.notify_all();
}

template <class Pred>
void SteppingDriver::waitFor(Pred done) {
    Backoff backoff;
    for (;;) {
        // Read the counter before the test: a change after the test bumps it,
        // so the wait below cannot sleep through that change.
        const uint32_t seen = wakeCount_.load();
        if (done()) return;
        if (!backoff.spin()) wakeCount_.wait(seen);
    }
}

void SteppingDriver::startWorker() {
    stopWorker();
    running.store(1);
    paused.store(1);
    hold.store(1);
    idle.store(0);
    exited.store(0);
    slow.store(0);
    runUntil.store(0);
    readers_.store(0);
    thread_ = std::thread([this] { workerLoop(); });
}

void SteppingDriver::stopWorker() {
    if (!thread_.joinable()) return;
    running.store(0);
    paused.store(0);
    wake();
    waitFor([this] { return exited.load() != 0; });
    thread_.join();
    workerId_.store(std::thread::id());
    workerTid_.store(0);
}

void SteppingDriver::setHooks(GenerationHooks* hooks) {
    const bool p = pauseForRead();
    hooks_.store(hooks);
    resumeAfterRead(p);
}

void SteppingDriver::setFirstViewCentre(ViewCentre* centre) {
    const bool p = pauseForRead();
    viewCentre_.store(centre);
    resumeAfterRead(p);
}

void SteppingDriver::setGenerationStart(std::function<void(Universe&)> action) {
    const bool p = pauseForRead();
    generationStart_ = std::move(action);
    resumeAfterRead(p);
}

void SteppingDriver::runCommand() { setFlag(paused, 0); }

void SteppingDriver::stopCommand() {
    paused.store(1);
    setFlag(slow, 0);
}

void SteppingDriver::stepCommand() { setFlag(hold, 0); }

void SteppingDriver::slowCommand() {
    slow.store(1);
    setFlag(hold, 0);
}

void SteppingDriver::frameDrawn() {
    if (slow.load() != 0) setFlag(hold, 0);
}

void SteppingDriver::setRunUntil(uint32_t limit) {
    runUntil.store(limit);
    wake();
}

bool SteppingDriver::pauseForRead() {
    // The worker already owns the universe; waiting for itself would never end.
    if (workerId_.load() == std::this_thread::get_id() || !thread_.joinable()) return false;
    readers_.fetch_add(1);
    bool pausedHere = false;
    if (paused.load() == 0) {
        paused.store(1);
        pausedHere = true;
    }
    wake();
    waitFor([this] { return idle.load() != 0 || exited.load() != 0; });
    return pausedHere;
}

void SteppingDriver::resumeAfterRead(bool pausedHere) {
    if (workerId_.load() == std::this_thread::get_id() || !thread_.joinable()) return;
    // An unmatched resume must not drive the count negative and hold the worker for good.
    int32_t r = readers_.load();
    while (r > 0 && !readers_.compare_exchange_weak(r, r - 1)) {
    }
    if (!pausedHere) {
        wake();
        return;
    }
    setFlag(paused, 0);
    // Let the worker actually start again before the caller can borrow the
    // universe once more; a "Stop" in between also ends the wait.
    waitFor([this] { return idle.load() != 1 || paused.load() != 0 || exited.load() != 0 || readers_.load() != 0; });
}

void SteppingDriver::waitUntilStopped() {
    if (!thread_.joinable()) return;
    waitFor([this] {
        return exited.load() != 0 ||
               (idle.load() != 0 && hold.load() != 0 && paused.load() != 0 && readers_.load() == 0);
    });
}

void SteppingDriver::pausePoint() {
    Backoff backoff;
    for (;;) {
        const uint32_t seen = wakeCount_.load();
        if (running.load() == 0) return;
        const bool held = (paused.load() != 0 && hold.load() != 0) || readers_.load() != 0;
        if (!held) {
            if (idle.load() == 0) {
                hold.store(1);  // nobody waits for this while idle is 0
                return;
            }
            // Publish "not idle" before re-checking for readers: a reader that
            // still saw idle = 1 has registered by now, and we stay.
            idle.store(0);
            wake();
            if (readers_.load() == 0) {
                hold.store(1);
                wake();
                return;
            }
        }
        if (idle.load() == 0) {
            idle.store(1);
            wake();
            backoff.restart();
            continue;
        }
        if (!backoff.spin()) wakeCount_.wait(seen);
    }
}

void SteppingDriver::runGeneration() {
    Universe& u = universe_;
    u.trackedMoved = 0;
    if (generationStart_) generationStart_(u);
    GenerationHooks* hooks = hooks_.load();
    if (hooks) hooks->beforeGeneration(u);
    u.stepGeneration();
    if (u.trackedMoved) {
        if (ViewCentre* c = viewCentre_.load()) c->shift(u.trackedDirection);
    }
    if (hooks) hooks->afterGeneration(u);
}

// Thread priorities are per thread on Linux: PRIO_PROCESS with a thread id
// (0 for the calling thread) changes that thread alone.
static void applyNice(int64_t tid, int nice) { ::setpriority(PRIO_PROCESS, id_t(tid), nice); }

void SteppingDriver::setWorkerNice(int nice) {
    nice = std::max(0, std::min(nice, 19));
    workerNice_.store(nice);
    // Stored before the id is read, while the worker stores its id before it
    // reads the value: one of the two applies it.
    if (const int64_t tid = workerTid_.load()) applyNice(tid, nice);
}

int SteppingDriver::workerNiceNow() const {
    const int64_t tid = workerTid_.load();
    if (tid == 0) return 0;
    errno = 0;
    const int n = ::getpriority(PRIO_PROCESS, id_t(tid));
    return errno == 0 ? n : 0;
}

void SteppingDriver::workerLoop() {
    workerId_.store(std::this_thread::get_id());
    workerTid_.store(int64_t(::syscall(SYS_gettid)));
    if (const int nice = workerNice_.load()) applyNice(0, nice);
    while (running.load() != 0) {
        pausePoint();
        if (running.load() == 0) break;
        const uint32_t limit = runUntil.load();
        if (limit != 0 && universe_.generation >= limit) {
            paused.store(1);
            slow.store(0);
            wake();
            continue;
        }
        runGeneration();
    }
    idle.store(0);
    exited.store(1);
    wake();
}
