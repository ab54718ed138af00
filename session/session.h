// The session layer: what every front end does with a document - open it,
// run it, draw it, recall its views - written once, below the desktop
// program, the runner and the Python module.
//
// Design note
//   * One rule set for opening. A path is judged before its suffix: what
//     stands there (missing, a folder, a FIFO or device, unreadable) is
//     the first answer, and only a readable file is then judged by its
//     suffix (".grd" or ".prj", without regard to case). Scripts and the
//     runner then also judge the files a project names (judgeProjectFiles),
//     so that a run that would lack its grid, terminals, stimulus or monitor
//     is refused instead of silently being another run; the desktop keeps
//     the loader's quiet absent objects and says what was missing.
//   * No working folder. Project files name their files relative to the
//     project's folder, and the loader resolves them there: nothing here
//     changes the process's current folder, so threads that open projects
//     never disturb each other's relative paths.
//   * Errors are values (OpenProblem, bool + text); each front end turns
//     them into its own form (an exit status, a Python exception, a status
//     line) without deciding anything again.
//   * A Session owns a headless platform, which owns the document (for a
//     project, the one the loader opened). The view centre and the message
//     hook are declared before the platform, so they outlive the worker,
//     which touches both.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "files/document.h"
#include "files/grid_file.h"
#include "files/input_file.h"
#include "files/project.h"
#include "session/recorder.h"
#include "session/timeline.h"
#include "universe/edits.h"
#include "view/bitmap.h"
#include "view/camera.h"
#include "view/offscreen.h"

class HeadlessPlatform;
struct Terminal;

// ---------------------------------------------------------------- opening

enum class DocumentKind { Grid, Project };

// The suffix of a document path, compared without regard to case.
std::optional<DocumentKind> documentKindOf(const std::string& path);

enum class OpenFault {
    None,
    Missing,      // nothing stands at the path
    Folder,       // a directory
    NotRegular,   // a FIFO, device or socket
    Unreadable,   // exists, but cannot be opened for reading
    WrongSuffix,  // neither *.grd nor *.prj
    NoGrid,       // a project without a grid line
    Incomplete,   // the grid stopped being read before its end (refused only when strict)
    TooDeep,      // the grid's regions nest past the reader's limits (always refused)
};

struct OpenProblem {
    OpenFault fault = OpenFault::None;
    std::string what;  // "project", "grid", "terminals file", ...
    std::string path;  // the file the fault is about
    size_t line = 0;   // Incomplete: the line at which reading stopped

    explicit operator bool() const { return fault != OpenFault::None; }
    // The errno a script's OSError carries (ENOENT, EISDIR, EINVAL, EACCES),
    // 0 for faults that are not about the file system.
    int errorNumber() const;
    // One line, e.g. "cannot read grid 'a.grd': no such file".
    std::string message() const;
};

// What stands at `path` for reading, as an open fault (None when a regular,
// readable file does). `what` names the file in the message.
OpenProblem judgeInputPath(const std::string& path, const std::string& what);

// The whole rule for a document path: the path first, then the suffix.
OpenProblem judgeDocumentPath(const std::string& path, DocumentKind& kind);

// The files a project names, resolved against its folder: the grid must be
// a readable file; the terminals, stimulus and monitor files must be readable
// when named; a named saved-views file may be missing (Settings creates it),
// but not a folder or FIFO.
OpenProblem judgeProjectFiles(const ProjectFiles& files, const std::string& folder);

// (A name from a project file is opened with resolveInFolder, files/project.h.)

// ---------------------------------------------------------------- cameras

// Cameras from text: parseCameraText and cameraAt in view/camera.h.

// A saved view as the desktop recalls it: each value cut to a whole number
// (toward zero, clamped to the 32-bit range), as the Settings dialog's list
// shows it. Every front end recalls a view this way, so a view name gives one
// picture everywhere.
Camera recallSavedView(const SavedView& view);

// The saved view described as `description`, recalled; none when there is none.
std::optional<Camera> findSavedView(const ViewList* views, const std::string& description);

// ---------------------------------------------------------------- progress

// Throttled progress of a run: report() is called with (done, total, rate in
// generations per second) at most every `interval`, and always for the last
// generation.
class RunProgress {
public:
    using Report = std::function<void(uint64_t done, uint64_t total, double rate)>;
    RunProgress(uint64_t total, Report report, double intervalSeconds = 0.2);
    void update(uint64_t done);
    double elapsedSeconds() const;

private:
    uint64_t total_;
    Report report_;
    double interval_;
    int64_t start_, last_;
};

// ---------------------------------------------------------------- the session

// The largest picture drawn without a window, in pixels (4096 x 4096): the
// software renderer, its depth buffer and the captured rows take about 20
// bytes a pixel (330 MB at the limit), and 8192 x 4096 already took 2.6 GB.
constexpr uint64_t kMaxPicturePixels = uint64_t(4096) * 4096;

struct SessionOptions {
    // How the monitor's output and other files the loader writes are opened.
    OutputPolicy outputPolicy = OutputPolicy::AnyFile;
    // Also refuse a grid that stopped being read before its end.
    bool strict = false;
    // Keep a project's monitor output unopened after the open (the caller
    // resumes a checkpoint first, then calls startMonitorOutput). Without
    // it the output is opened once the open has succeeded; either way a
    // refused open leaves the file untouched.
    bool holdMonitorOutput = false;
    // Bytes the timeline may keep for undo and rewind (keyframes and the
    // record); 0 keeps no timeline (the runner, which never goes back).
    size_t historyBudget = 0;
    // Placement conflicts and load notes, as text; may be called on the worker.
    std::function<void(const std::string&)> messages;
};

// What a run did, and why it ended.
struct RunOutcome {
    uint64_t generations = 0;  // run by this call
    bool cancelled = false;    // the cancel flag was seen
    bool stoppedByHook = false;
};

struct RunControl {
    // Set from any thread; the run ends between two generations.
    const std::atomic<bool>* cancel = nullptr;
    RunProgress* progress = nullptr;
    // Called before each generation with the worker held; false ends the run.
    std::function<bool(Universe&)> beforeGeneration;
    // Sampled after every generation (traces for scripts).
    SignalRecorder* recorder = nullptr;
};

class Session {
public:
    // A new, empty document.
    explicit Session(SessionOptions options = {});
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Opens a grid or a project under the one rule set. None, with the
    // problem set, when the path or a file it needs cannot be read.
    static std::unique_ptr<Session> open(const std::string& path, SessionOptions options, OpenProblem& problem);

    CellforgeDocument& document() { return *doc_; }
    DocumentKind kind() const { return kind_; }
    const std::string& path() const { return path_; }  // the full path opened; "" for a new document
    const ProjectFiles& projectFiles() const { return files_; }
    size_t skippedParts() const { return skippedParts_; }
    // A grid that stopped being read before its end opens with what was read
    // before (the file format's rule); this says where, for the front end to
    // pass on. None when the grid was read to its end.
    const OpenProblem& loadNote() const { return note_; }

    // ---- running: n generations on this thread, the worker held meanwhile.
    RunOutcome run(uint64_t n, const RunControl& control = {});

    // ---- edits, undo and the timeline (see session/timeline.h). Every
    // edit is one undo step and is recorded, so that rewinding replays it.
    // Without a timeline the edits still apply; undo and rewind say why not.
    // Parts landing on occupied cells are reported through `messages` (the
    // engine's conflict text), once: a replay places them quietly.
    void placeParts(const std::vector<UniverseCell>& cells, const std::string& label = "place");
    bool erase(int32_t x, int32_t y, int32_t z);
    size_t eraseBox(const int32_t lo[3], const int32_t hi[3]);
    bool setBond(int32_t x, int32_t y, int32_t z, int32_t direction, bool on);
    size_t transformParts(const std::vector<CellPosition>& positions, const PartTransform& t,
                          const std::string& label = "transform");
    // Inputs that are not edits, recorded for the replay.
    void pulse();
    void injectSignal(int32_t x, int32_t y, int32_t z, int32_t direction);
    MemoryWriteReport writeMemory(int32_t x0, int32_t y0, int32_t z0, uint32_t offset,
                                  const std::vector<int32_t>& image);
    bool undo(std::string& error);
    bool redo(std::string& error);
    bool reset(std::string& error);
    bool rewind(uint32_t generation, std::string& error);
    Timeline* timeline() { return timeline_.get(); }
    // After the universe was replaced wholesale (a checkpoint resumed): the
    // timeline starts again from the state as it is now.
    void restartTimeline();
    // Replaces the per-generation hook of the caller (the runner's pulses and
    // checkpoints); the timeline's own runs first, and the caller's is not
    // run while the timeline replays.
    void setGenerationStart(std::function<void(Universe&)> action);

    // ---- terminals from code, and writing the document as a project.
    // Adds a terminal (a table is made when the document has none). False
    // when the name is empty, holds white space or is taken, or the
    // direction is not 0..5. Terminals are run objects, not edits: undo and
    // rewind leave the table as it is.
    bool addTerminal(const Terminal& terminal, std::string& error);
    // Writes NAME.prj and, beside it, NAME.grd (the universe now), NAME.trm
    // (the terminals where they stand now) and copies of the stimulus,
    // monitor and ini files a project was opened with, and its saved views.
    // Reopening it gives the same parts and terminals. False with a message
    // (errno as the failed write left it) when a file cannot be written.
    bool saveProject(const std::string& path, std::string& error);

    // ---- threads: 1 to kMaxThreads, with the runner's meaning.
    static constexpr int kMaxThreads = 64;
    // The threads a front end gives a document it opens when the user says
    // nothing: the machine's cores, less the `coresKept` it keeps for
    // itself (the desktop keeps one for drawing its views), at least 1.
    // A second thread never costs a run more than its trials (the engine
    // measures whether sharing pays), so every core but those is offered.
    static int defaultThreads(int coresKept);
    bool setThreads(int n, std::string& error);
    int threads();

    // ---- the first view: centre of mass at load, then following the
    // tracked terminal through the run.
    Camera firstViewCamera() const;
    void setFirstViewCamera(const Camera& camera);

    // ---- the first view drawn without a window: into pixels, or into a
    // file (BMP or PNG by the suffix). A context of the right size may be
    // handed in (the runner makes one before the run, to fail early);
    // otherwise one is made for the call. One drawing at a time per process.
    bool render(const Camera& camera, int width, int height, ScreenBitmap& pixels, std::string& error,
                OffscreenContext* context = nullptr);
    // On a write failure, errno is left as the write left it.
    bool renderToFile(const Camera& camera, int width, int height, const std::string& path, std::string& error,
                      OffscreenContext* context = nullptr);
    // The camera the desktop's Fit All takes for a width x height view of
    // every part (fitAllCamera in view/navigation.h, on the box around the
    // cell centres widened by half a cell); none for an empty universe.
    std::optional<Camera> fitCamera(int width, int height);
    // Recomputes the first view from the centre of mass (after a resume).
    void centreFirstView();

private:
    struct Empty {};
    Session(SessionOptions options, Empty);  // no document yet: the loader makes it
    void attach();

    SessionOptions options_;
    ViewCentre centre_;
    Camera camera_;
    std::unique_ptr<HeadlessPlatform> platform_;
    CellforgeDocument* doc_ = nullptr;
    DocumentKind kind_ = DocumentKind::Grid;
    std::string path_;
    ProjectFiles files_;
    size_t skippedParts_ = 0;
    OpenProblem note_;
    std::unique_ptr<Timeline> timeline_;
    std::function<void(Universe&)> generationStart_;
    void startTimeline();
    // Applies (and records) one input with the worker held.
    void input(const std::string& label, std::function<void(Universe&)> apply, size_t bytes, bool undoable);
};

// The open problem a grid read amounts to: TooDeep, Incomplete or none.
OpenProblem gridReadProblem(const GridReadResult& read, const std::string& path);
