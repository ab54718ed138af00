#include "shell/cellforge_doc.h"

#include <algorithm>

#include <QFileInfo>

#include "files/grid_file.h"
#include "universe/edits.h"
#include "shell/cellforge_view.h"
#include "shell/messages.h"

namespace {
// Nice 5 weighs the worker at about a third of the drawing thread when they
// share a core; with a core to itself it runs at full speed.
constexpr int kWorkerNice = 5;
}  // namespace

CCellforgeDoc::CCellforgeDoc(QObject* parent)
    : QObject(parent), engine_(std::make_unique<CellforgeDocument>()) {
    // Conflicts come from grid loading (this thread) and from the stimulus
    // dropping parts (the worker); showMessageBox handles both.
    engine_->universe().onConflict = [](const std::string& text) {
        showMessageBox(QString::fromStdString(text));
    };
    const int threads = defaultThreads();
    engine_->withUniverse([threads](Universe& u) { u.setThreads(threads); });
    // The view must keep drawing while the universe runs flat out: the
    // worker yields the processor to the drawing whenever both want it.
    engine_->driver().setWorkerNice(kWorkerNice);
    signals_ = std::make_unique<SignalWatch>(*engine_);
    startTimeline();
}

namespace {
// Every core but the one that draws the views (1 on a two-core machine),
// unless --threads says otherwise.
int documentThreads = Session::defaultThreads(1);
}

void CCellforgeDoc::setDefaultThreads(int threads) { documentThreads = threads < 1 ? 1 : threads > 64 ? 64 : threads; }

int CCellforgeDoc::defaultThreads() { return documentThreads; }

CCellforgeDoc::~CCellforgeDoc() {
    signals_.reset();  // takes its hook away with the worker held
    engine_->setFirstViewCentre(nullptr);
    // The hook goes before the timeline it calls.
    engine_->driver().setGenerationStart({});
    timeline_.reset();
    // The engine document stops its worker before anything else goes.
    engine_.reset();
}

void CCellforgeDoc::setTitle(const QString& title) {
    if (title == title_) return;
    title_ = title;
    emit titleChanged();
}

bool CCellforgeDoc::onNewDocument() {
    if (!engine_->restartWorker()) return false;
    startTimeline();
    return true;
}

bool CCellforgeDoc::onOpenDocument(const QString& path) {
    if (!hasGridSuffix(path.toStdString())) return false;
    bool opened = false;
    gridRead_ = GridReadResult{};
    engine_->withUniverse([&](Universe& u) { opened = openGridDocument(u, path.toStdString(), &gridRead_); });
    if (!opened) return false;
    pathName_ = QFileInfo(path).absoluteFilePath();
    engine_->setPath(pathName_.toStdString());
    modified_ = false;
    startTimeline();
    setTitle(QFileInfo(path).fileName());
    return true;
}

bool CCellforgeDoc::onSaveDocument(const QString& path) {
    // saveGrid pauses the worker itself.
    bool ok = engine_->saveGrid(path.toStdString(), OutputPolicy::RegularOnly);
    if (ok) {
        pathName_ = QFileInfo(path).absoluteFilePath();
        engine_->setPath(pathName_.toStdString());
        modified_ = false;
        savedMark_ = topMark();  // undo and redo come back to this point clean
        setTitle(QFileInfo(path).fileName());
        emit titleChanged();
    }
    return ok;
}

void CCellforgeDoc::addView(CCellforgeView* view) {
    views_.push_back(view);
    registerFirstViewCentre();
}

void CCellforgeDoc::removeView(CCellforgeView* view) {
    std::erase(views_, view);
    registerFirstViewCentre();
    emit viewRemoved();
}

void CCellforgeDoc::registerFirstViewCentre() {
    ViewCentre* wanted = views_.empty() ? nullptr : &views_.front()->centre();
    if (engine_->driver().firstViewCentre() != wanted) engine_->setFirstViewCentre(wanted);
}

std::optional<uint32_t> CCellforgeDoc::heldAtRunLimit() {
    if (!engine_->canGo()) return std::nullopt;
    const uint32_t limit = driver().runUntil.load();
    if (limit == 0) return std::nullopt;
    uint32_t generation = 0;
    engine_->withUniverse([&](Universe& u) { generation = u.generation; });
    if (generation < limit) return std::nullopt;
    return limit;
}

void CCellforgeDoc::setSlowPace(int ms) { slowPaceMs_ = std::clamp(ms, 0, kMaxSlowPaceMs); }

void CCellforgeDoc::frameDrawn() {
    // Every view's frame counts, but a frame comes at least every timer tick,
    // so the pace is kept to within one tick.
    if (slowPaceMs_ == 0) {
        engine_->frameDrawn();
        return;
    }
    if (driver().slow.load() == 0 || !paceClock_.isValid()) {
        paceClock_.start();
        return;
    }
    if (paceClock_.elapsed() >= slowPaceMs_) {
        engine_->frameDrawn();
        paceClock_.start();
    }
}

void CCellforgeDoc::updateAllViews() {
    for (CCellforgeView* v : views_) v->update();
}


// ------------------------------------------------------------------ edits

void CCellforgeDoc::startTimeline() {
    SteppingDriver& driver = engine_->driver();
    driver.setGenerationStart({});
    engine_->withUniverse([&](Universe& u) {
        timeline_ = std::make_unique<Timeline>(*engine_, Timeline::defaultBudget());
        signals_->loadChanged(u);
    });
    // A fresh record has nothing to undo: the state is the saved one unless
    // the document was already edited (a project's objects handed to it).
    undoMarks_.clear();
    redoMarks_.clear();
    savedMark_ = modified_ ? std::nullopt : std::optional<uint64_t>(0);
    driver.setGenerationStart([this](Universe& u) {
        if (timeline_) timeline_->atGenerationStart(u);
    });
}

void CCellforgeDoc::setModified(bool on) {
    // Marked clean here, the document is clean again when it comes back here.
    savedMark_ = on ? std::nullopt : std::optional<uint64_t>(topMark());
    if (on == modified_) return;
    modified_ = on;
    emit titleChanged();
}

void CCellforgeDoc::updateModifiedFromMarks() {
    const bool on = !(savedMark_ && *savedMark_ == topMark());
    if (on == modified_) return;
    modified_ = on;
    emit titleChanged();
}

void CCellforgeDoc::followMarks(TimelineChange change, const Timeline::History& h) {
    bool followed = true;
    switch (change) {
    case TimelineChange::Edit:
    case TimelineChange::Input: {
        // A record drops what lay beyond the position (the newest undo
        // entries) and forgets what could be redone.
        const size_t added = change == TimelineChange::Edit ? 1 : 0;
        followed = h.undo >= added && h.undo - added <= undoMarks_.size();
        if (followed) {
            undoMarks_.resize(h.undo - added);
            if (added) undoMarks_.push_back(nextMark_++);
            redoMarks_.clear();
        }
        break;
    }
    case TimelineChange::Undo:
        followed = !undoMarks_.empty() && h.undo + 1 == undoMarks_.size() && h.redo == redoMarks_.size() + 1;
        if (followed) {
            redoMarks_.push_back(undoMarks_.back());
            undoMarks_.pop_back();
        }
        break;
    case TimelineChange::Redo:
        followed = !redoMarks_.empty() && h.redo + 1 == redoMarks_.size() && h.undo == undoMarks_.size() + 1;
        if (followed) {
            undoMarks_.push_back(redoMarks_.back());
            redoMarks_.pop_back();
        }
        break;
    case TimelineChange::Reset:
        undoMarks_.clear();
        redoMarks_.clear();
        break;
    case TimelineChange::Rewind:
        break;
    }
    if (!followed || undoMarks_.size() != h.undo || redoMarks_.size() != h.redo) {
        // Out of step with the timeline: fresh marks, and no way back to the
        // saved point but the empty record.
        const bool savedAtLoad = savedMark_ && *savedMark_ == 0;
        undoMarks_.clear();
        redoMarks_.clear();
        for (size_t i = 0; i < h.undo; ++i) undoMarks_.push_back(nextMark_++);
        for (size_t i = 0; i < h.redo; ++i) redoMarks_.push_back(nextMark_++);
        savedMark_ = savedAtLoad ? std::optional<uint64_t>(0) : std::nullopt;
    }
    updateModifiedFromMarks();
}

void CCellforgeDoc::recordEdit(const std::string& label, Timeline::Apply apply, size_t bytes) {
    Timeline::History h;
    engine_->withUniverse([&](Universe& u) {
        timeline_->record(u, label, std::move(apply), bytes, true);
        h = timeline_->history();
    });
    followMarks(TimelineChange::Edit, h);
    emit universeEdited();
}

// Inputs are applied again on every replay, long after this call returns:
// the report goes through shared memory, never a local.
MemoryWriteReport CCellforgeDoc::writeMemory(int32_t x0, int32_t y0, int32_t z0, uint32_t offset,
                                             const std::vector<int32_t>& image) {
    auto copy = std::make_shared<const std::vector<int32_t>>(image);
    auto report = std::make_shared<MemoryWriteReport>();
    Timeline::History h;
    engine_->withUniverse([&](Universe& u) {
        timeline_->record(u, "memory", [copy, x0, y0, z0, offset, report](Universe& w) {
            *report = writeMemoryImage(w, x0, y0, z0, offset, *copy);
        }, image.size() * sizeof(int32_t), false);
        h = timeline_->history();
    });
    followMarks(TimelineChange::Input, h);
    return *report;
}

void CCellforgeDoc::placeParts(const std::vector<UniverseCell>& cells, const std::string& label) {
    if (cells.empty()) return;
    auto copy = std::make_shared<const std::vector<UniverseCell>>(cells);
    recordEdit(label, [copy](Universe& u) {
        for (const UniverseCell& c : *copy) editCell(u, c);
    }, cells.size() * sizeof(UniverseCell));
}

bool CCellforgeDoc::timelineMove(const std::function<bool(Timeline&, std::string&)>& move, QString& error,
                                 TimelineChange change) {
    // A move while running would race the generations it replays: the
    // worker stops first and stays stopped at the position reached.
    engine_->stopCommand();
    bool ok = false;
    std::string why;
    Timeline::History h;
    engine_->withUniverse([&](Universe& u) {
        // The replay records the generations it runs again; the rows of the
        // run being left would stand beside them out of order.
        signals_->dropRows();
        ok = move(*timeline_, why);
        signals_->catchUp(u);
        h = timeline_->history();
    });
    error = QString::fromStdString(why);
    if (ok) {
        followMarks(change, h);
        emit timelineMoved();
        emit universeEdited();
    }
    return ok;
}

bool CCellforgeDoc::undo(QString& error) {
    return timelineMove([](Timeline& t, std::string& e) { return t.undo(e); }, error, TimelineChange::Undo);
}

bool CCellforgeDoc::redo(QString& error) {
    return timelineMove([](Timeline& t, std::string& e) { return t.redo(e); }, error, TimelineChange::Redo);
}

bool CCellforgeDoc::resetToLoad(QString& error) {
    return timelineMove([](Timeline& t, std::string& e) { return t.reset(e); }, error, TimelineChange::Reset);
}

bool CCellforgeDoc::rewindTo(uint32_t generation, QString& error) {
    return timelineMove([generation](Timeline& t, std::string& e) { return t.rewind(generation, e); }, error,
                        TimelineChange::Rewind);
}

CCellforgeDoc::TimelineState CCellforgeDoc::timelineState() {
    TimelineState s;
    engine_->withUniverse([&](Universe& u) {
        s.canUndo = timeline_->canUndo();
        s.canRedo = timeline_->canRedo();
        const Timeline::History h = timeline_->history();
        s.first = h.first;
        s.last = h.last;
        s.generation = u.generation;
    });
    return s;
}
