// CCellforgeDoc: the desktop document around the engine's CellforgeDocument.
//
// The engine document owns the universe, the worker and the run objects; this
// class adds only what the windowing side needs: a title, the list of views
// showing it, and the framework's open/new/save steps. It adds nothing to the
// simulation itself.
//
// The first view's centre is registered with the worker (it shifts the
// centre when the tracked terminal moves). Views register and unregister
// through addView/removeView, so the worker never holds a centre of a view
// that has gone.
//
// Edits go through the document's Timeline, as a script's edits go through
// its session's: the timeline is the driver's generation-start hook, every
// edit is recorded with the generation it was made at, and undo, redo,
// reset and rewinding replay the record exactly. Every call into the
// timeline holds the worker. The timeline starts afresh whenever the
// document's load state changes (open, new, a project's run objects).
//
// The modified flag follows the user's edits only, and says whether they
// differ from the last save or load: the document mirrors the timeline's
// undo and redo stacks with marks of its own and remembers the mark on top
// at the last save or load, so undoing back to that point clears the flag
// and redoing away from it sets it again. An edit on another branch makes
// the saved point unreachable. Running never changes the flag.
#pragma once

#include "files/grid_file.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

#include "files/document.h"
#include "files/memory_image.h"
#include "session/session.h"
#include "session/timeline.h"
#include "shell/signal_watch.h"
#include "view/scene.h"

class CCellforgeView;

class CCellforgeDoc : public QObject {
    Q_OBJECT
public:
    explicit CCellforgeDoc(QObject* parent = nullptr);
    ~CCellforgeDoc() override;

    // Threads that each new document's universe evaluates its rules on
    // (`cellforge --threads N`). The default, 1, leaves the second core of
    // a two-core machine to drawing, so the view stays smooth.
    static void setDefaultThreads(int threads);
    static int defaultThreads();

    CellforgeDocument& engine() { return *engine_; }
    Universe& universe() { return engine_->universe(); }

    QString title() const { return title_; }
    void setTitle(const QString& title);
    QString pathName() const { return pathName_; }

    // The framework's new-document step: the worker is restarted, the
    // universe kept.
    bool onNewDocument();
    // Fails (no message) for a path that is not a grid; a grid file that
    // cannot be read still opens, empty.
    bool onOpenDocument(const QString& path);
    // What reading the grid found (where it stopped, when it did not reach the end).
    const GridReadResult& gridRead() const { return gridRead_; }
    // Writes the grid form with the worker paused; any extension is accepted.
    bool onSaveDocument(const QString& path);

    const std::vector<CCellforgeView*>& views() const { return views_; }
    CCellforgeView* firstView() const { return views_.empty() ? nullptr : views_.front(); }
    void addView(CCellforgeView* view);
    void removeView(CCellforgeView* view);
    // Asks every view to repaint (each repaint draws one frame).
    void updateAllViews();

    SteppingDriver& driver() { return engine_->driver(); }

    // ---- Go Slow's pace
    // The least time between two generations in slow mode, 0 to 1000 ms; 0
    // lets one generation through per drawn frame.
    static constexpr int kMaxSlowPaceMs = 1000;
    void setSlowPace(int ms);
    int slowPace() const { return slowPaceMs_; }
    // A view drew a frame: in slow mode the worker may take a generation
    // once the pace has passed since the last one it was let take.
    void frameDrawn();
    // The run-until limit, when the worker is stopped at or beyond it (it
    // would stop again at once if let go); none otherwise.
    std::optional<uint32_t> heldAtRunLimit();

    // ---- edits and the timeline
    // Keyframes the universe as it stands as the state to reset to, and
    // hooks the timeline into the worker.
    void startTimeline();
    // Applies an edit now (worker held) as one step of undo.
    void recordEdit(const std::string& label, Timeline::Apply apply, size_t bytes);
    // Writes a program image into the memory modules as a recorded input
    // (kept through rewinds and replays, but no step of undo).
    MemoryWriteReport writeMemory(int32_t x0, int32_t y0, int32_t z0, uint32_t offset,
                                  const std::vector<int32_t>& image);
    // Places the cells (one undo step); none placed for an empty list.
    void placeParts(const std::vector<UniverseCell>& cells, const std::string& label);
    // The timeline moves stop the worker first; false with the reason.
    bool undo(QString& error);
    bool redo(QString& error);
    bool resetToLoad(QString& error);
    bool rewindTo(uint32_t generation, QString& error);
    struct TimelineState {
        bool canUndo = false, canRedo = false;
        uint32_t first = 0, last = 0, generation = 0;
    };
    // Read with the worker held.
    TimelineState timelineState();

    // What the Signals pane shows of this document.
    SignalWatch& signalWatch() { return *signals_; }

    bool isModified() const { return modified_; }
    void setModified(bool on);
    // The title with an asterisk while modified.
    QString displayTitle() const { return modified_ ? title_ + QLatin1Char('*') : title_; }

signals:
    // The universe was changed by an edit or a timeline move.
    void universeEdited();
    // Undo, redo, reset or a rewind put the universe somewhere else: parts
    // may have gone from under a selection.
    void timelineMoved();
    void titleChanged();
    // After a view has left the document (its window is going away).
    void viewRemoved();

private:
    void registerFirstViewCentre();

    enum class TimelineChange { Edit, Input, Undo, Redo, Reset, Rewind };
    bool timelineMove(const std::function<bool(Timeline&, std::string&)>& move, QString& error,
                      TimelineChange change);
    // Follows a change of the timeline's stacks with the marks (timeline
    // read with the worker held), then sets the flag from them.
    void followMarks(TimelineChange change, const Timeline::History& h);
    void updateModifiedFromMarks();
    uint64_t topMark() const { return undoMarks_.empty() ? 0 : undoMarks_.back(); }

    std::unique_ptr<CellforgeDocument> engine_;
    std::unique_ptr<Timeline> timeline_;  // hooked into engine_'s driver; goes first
    std::unique_ptr<SignalWatch> signals_;  // hooked into engine_ while active; unhooked first
    bool modified_ = false;
    std::vector<uint64_t> undoMarks_, redoMarks_;  // one per timeline undo/redo entry
    uint64_t nextMark_ = 1;
    std::optional<uint64_t> savedMark_ = 0;  // topMark() at the last save or load; none when unreachable
    int slowPaceMs_ = 0;
    QElapsedTimer paceClock_;  // since the last generation let through (or the last frame outside slow mode)
    QString title_;
    QString pathName_;
    std::vector<CCellforgeView*> views_;
    GridReadResult gridRead_;
};
