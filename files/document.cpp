#include "files/document.h"

#include <ostream>

#include "files/grid_file.h"
#include "files/memory_image.h"

CellforgeDocument::CellforgeDocument() : driver_(universe_) {
    universe_.moveTerminal = &moveTerminal;
    driver_.setHooks(this);  // before the worker exists: no handshake needed
    startWorker();
}

CellforgeDocument::~CellforgeDocument() { stopWorker(); }

void CellforgeDocument::startWorker() {
    // Run objects are none here: stopWorker has freed them (or none were set).
    driver_.startWorker();
}

void CellforgeDocument::stopWorker() {
    driver_.stopWorker();
    freeRunObjects();
}

bool CellforgeDocument::restartWorker(const std::function<bool()>& newDocumentStep) {
    if (newDocumentStep && !newDocumentStep()) return false;
    stopWorker();
    startWorker();
    return true;
}

TerminalTable& CellforgeDocument::ensureTerminals() {
    if (!terminals_) terminals_ = std::make_unique<TerminalTable>();
    return *terminals_;
}

void CellforgeDocument::freeRunObjects() {
    if (watcher_) watcher_->runObjectsGoing();
    // Referrers first: the monitor and the stimulus point into the table,
    // and the stimulus unbinds its cells on the way out.
    monitor_.reset();
    stimulus_.reset();
    savedViews_.reset();
    terminals_.reset();
}

void CellforgeDocument::setRunObjects(std::unique_ptr<TerminalTable> terminals, std::unique_ptr<Stimulus> stimulus,
                                      std::unique_ptr<ViewList> savedViews, std::unique_ptr<Monitor> monitor) {
    const bool p = pauseForRead();
    freeRunObjects();
    terminals_ = std::move(terminals);
    stimulus_ = std::move(stimulus);
    savedViews_ = std::move(savedViews);
    monitor_ = std::move(monitor);
    resumeAfterRead(p);
}

void CellforgeDocument::withUniverse(const std::function<void(Universe&)>& f) {
    const bool p = pauseForRead();
    f(universe_);
    resumeAfterRead(p);
}

bool CellforgeDocument::saveGrid(const std::string& path, OutputPolicy policy) {
    bool ok = false;
    withUniverse([&](Universe& u) { ok = writeGridFile(u, path, policy); });
    return ok;
}

bool CellforgeDocument::saveTerminals(std::ostream& out) {
    bool ok = false;
    // Bound terminals move with the worker; hold it so the file shows one generation.
    withUniverse([&](Universe&) { ok = writeTerminalFile(terminals_.get(), out); });
    return ok;
}

MemoryWriteReport CellforgeDocument::writeMemory(int32_t x0, int32_t y0, int32_t z0, uint32_t offset,
                                                 const std::vector<int32_t>& image) {
    MemoryWriteReport report;
    withUniverse([&](Universe& u) { report = writeMemoryImage(u, x0, y0, z0, offset, image); });
    return report;
}

bool CellforgeDocument::centreOfMass(double& x, double& y, double& z) {
    bool ok = false;
    withUniverse([&](Universe& u) { ok = u.centroid(x, y, z); });
    return ok;
}

void CellforgeDocument::beforeGeneration(Universe& universe) {
    if (stimulus_) applyStimulus(*stimulus_, &universe);
}

void CellforgeDocument::afterGeneration(Universe& universe) {
    if (monitor_) sampleMonitor(*monitor_, &universe);
    if (watcher_) watcher_->generationDone(universe);
}

void CellforgeDocument::setRunWatcher(RunWatcher* watcher) {
    const bool p = pauseForRead();
    watcher_ = watcher;
    resumeAfterRead(p);
}
