// The engine side of a document: one Universe, its stepping driver and the
// four run objects a project hands over. No toolkit code: the desktop shell
// wraps this class, the headless runner uses it as it is.
//
// Invariants
//   * Member order makes the universe outlive the driver and the run
//     objects; the destructor stops the worker first, then frees the run
//     objects (the stimulus unbinds its cells), then the universe goes.
//   * Run objects are replaced or freed only while the worker stands at its
//     pause point (setRunObjects pauses it) or after it has ended, so the
//     worker never sees a freed stimulus or monitor.
//   * Everything that reads or writes the universe from outside the worker
//     goes through withUniverse (the pause handshake).
//   * Replacement frees the monitor and stimulus before the terminal table
//     they point into.
//   * A run watcher (the desktop's signal lanes) is sampled by the worker
//     after the monitor, and told before the run objects go, with the worker
//     held or ended, so it can drop whatever of theirs it points into.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "files/memory_image.h"
#include "files/monitor.h"
#include "files/saved_views.h"
#include "files/stimulus.h"
#include "files/terminals.h"
#include "universe/driver.h"
#include "universe/universe.h"

// Something outside the files layer that follows the run generation by
// generation. Both calls come with the universe owned by the caller: the
// worker's own generation, a generation run with the worker held, or the run
// objects being replaced or freed with the worker held or ended.
class RunWatcher {
public:
    // After each generation, after the monitor.
    virtual void generationDone(const Universe& universe) = 0;
    // Before the terminal table, stimulus and monitor are freed.
    virtual void runObjectsGoing() = 0;

protected:
    ~RunWatcher() = default;
};

class CellforgeDocument : private GenerationHooks {
public:
    // Builds the universe and starts the worker in the waiting state.
    CellforgeDocument();
    // Stops the worker (waiting until it has ended), frees the run objects,
    // then the universe.
    ~CellforgeDocument();
    CellforgeDocument(const CellforgeDocument&) = delete;
    CellforgeDocument& operator=(const CellforgeDocument&) = delete;

    Universe& universe() { return universe_; }
    SteppingDriver& driver() { return driver_; }

    // The path the document was opened from ("" for a new document).
    const std::string& path() const { return path_; }
    void setPath(std::string path) { path_ = std::move(path); }
    // What the run was loaded from (sourceFingerprint in files/checkpoint.h);
    // empty for a document built in memory.
    const std::string& source() const { return source_; }
    void setSource(std::string source) { source_ = std::move(source); }

    // ---- worker lifecycle
    void startWorker();  // no run objects, waiting, no limit
    void stopWorker();   // ends the worker, then frees the run objects
    // The framework's new-document step (may be empty), then stop and start;
    // the universe is kept. False, with nothing changed, when the step fails.
    bool restartWorker(const std::function<bool()>& newDocumentStep = {});

    // ---- run objects
    void setRunObjects(std::unique_ptr<TerminalTable> terminals, std::unique_ptr<Stimulus> stimulus,
                       std::unique_ptr<ViewList> savedViews, std::unique_ptr<Monitor> monitor);
    TerminalTable* terminals() const { return terminals_.get(); }
    // The table, made empty when the document has none (terminals added from
    // code); the other run objects are kept. Call with the worker held.
    TerminalTable& ensureTerminals();
    Stimulus* stimulus() const { return stimulus_.get(); }
    ViewList* savedViews() const { return savedViews_.get(); }
    Monitor* monitor() const { return monitor_.get(); }

    // ---- commands and their enable rules (see SteppingDriver)
    void runCommand() { driver_.runCommand(); }
    void stopCommand() { driver_.stopCommand(); }
    void stepCommand() { driver_.stepCommand(); }
    void slowCommand() { driver_.slowCommand(); }
    void frameDrawn() { driver_.frameDrawn(); }
    void setRunUntil(uint32_t limit) { driver_.setRunUntil(limit); }
    bool canGo() const { return driver_.canGo(); }
    bool canStep() const { return driver_.canStep(); }
    bool canGoSlow() const { return driver_.canGoSlow(); }
    bool canStop() const { return driver_.canStop(); }

    // ---- the pause handshake and guarded access
    bool pauseForRead() { return driver_.pauseForRead(); }
    void resumeAfterRead(bool pausedHere) { driver_.resumeAfterRead(pausedHere); }
    // Runs f with the worker held at its pause point.
    void withUniverse(const std::function<void(Universe&)>& f);

    // Installs (or, with none, removes) the run watcher; holds the worker
    // around the swap. The watcher must stay alive until it is removed.
    void setRunWatcher(RunWatcher* watcher);
    RunWatcher* runWatcher() const { return watcher_; }

    // The first view's centre (see SteppingDriver::setFirstViewCentre).
    void setFirstViewCentre(ViewCentre* centre) { driver_.setFirstViewCentre(centre); }

    // ---- guarded readers and writers
    // Grid form; false if not written (or the policy refuses the path).
    bool saveGrid(const std::string& path, OutputPolicy policy = OutputPolicy::AnyFile);
    bool saveTerminals(std::ostream& out);                    // writeTerminalFile of the table
    MemoryWriteReport writeMemory(int32_t x0, int32_t y0, int32_t z0, uint32_t offset,
                                  const std::vector<int32_t>& image);
    bool centreOfMass(double& x, double& y, double& z);       // false when the universe is empty

private:
    void beforeGeneration(Universe& universe) override;
    void afterGeneration(Universe& universe) override;
    void freeRunObjects();

    Universe universe_;
    SteppingDriver driver_;
    std::unique_ptr<TerminalTable> terminals_;
    std::unique_ptr<Stimulus> stimulus_;
    std::unique_ptr<ViewList> savedViews_;
    std::unique_ptr<Monitor> monitor_;
    std::string path_;
    std::string source_;
    RunWatcher* watcher_ = nullptr;  // changed only with the worker held
};
