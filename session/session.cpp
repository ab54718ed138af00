#include "session/session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <limits>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "files/checkpoint.h"
#include "files/grid_file.h"
#include "files/platform.h"
#include "files/saved_views.h"
#include "files/terminals.h"
#include "universe/directions.h"
#include "universe/universe.h"
#include "view/navigation.h"
#include "view/offscreen.h"
#include "view/png.h"
#include "view/scene.h"

// ---------------------------------------------------------------- opening

std::optional<DocumentKind> documentKindOf(const std::string& path) {
    if (path.size() < 4) return std::nullopt;
    std::string ext = path.substr(path.size() - 4);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".grd") return DocumentKind::Grid;
    if (ext == ".prj") return DocumentKind::Project;
    return std::nullopt;
}

int OpenProblem::errorNumber() const {
    switch (fault) {
        case OpenFault::Missing: return ENOENT;
        case OpenFault::Folder: return EISDIR;
        case OpenFault::NotRegular: return EINVAL;
        case OpenFault::Unreadable: return EACCES;
        default: return 0;
    }
}

std::string OpenProblem::message() const {
    const std::string named = what + " '" + path + "'";
    switch (fault) {
        case OpenFault::None: return std::string();
        case OpenFault::Missing: return "cannot read " + named + ": no such file";
        case OpenFault::Folder: return "cannot read " + named + ": it is a folder";
        case OpenFault::NotRegular: return "cannot read " + named + ": it is not a regular file";
        case OpenFault::Unreadable: return "cannot read " + named + ": permission denied";
        case OpenFault::WrongSuffix: return "'" + path + "' is neither a grid file (*.grd) nor a project file (*.prj)";
        case OpenFault::NoGrid: return "project '" + path + "' names no grid file (*.grd)";
        case OpenFault::Incomplete:
            return "grid '" + path + "' stopped being read at line " + std::to_string(line) + " before its end";
        case OpenFault::TooDeep:
            return "grid '" + path + "' nests its regions too deep at line " + std::to_string(line) +
                   " (more than " + std::to_string(kMaxRegionDepth) + " levels or " +
                   std::to_string(kMaxRegionPathBytes >> 20) + " MiB of region names)";
    }
    return std::string();
}

OpenProblem judgeInputPath(const std::string& path, const std::string& what) {
    OpenProblem p;
    p.what = what;
    p.path = path;
    switch (checkInputFile(path)) {
        case FileCheck::Regular: break;
        case FileCheck::Missing: p.fault = OpenFault::Missing; break;
        case FileCheck::Unreadable: p.fault = OpenFault::Unreadable; break;
        case FileCheck::NotRegular: {
            struct stat st {};
            p.fault = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? OpenFault::Folder : OpenFault::NotRegular;
            break;
        }
    }
    return p;
}

OpenProblem judgeDocumentPath(const std::string& path, DocumentKind& kind) {
    const std::optional<DocumentKind> k = documentKindOf(path);
    OpenProblem p = judgeInputPath(path, k == DocumentKind::Project ? "project" : k ? "grid" : "file");
    if (p) return p;
    if (!k) {
        p.fault = OpenFault::WrongSuffix;
        return p;
    }
    kind = *k;
    return p;
}

OpenProblem judgeProjectFiles(const ProjectFiles& files, const std::string& folder) {
    OpenProblem p;
    if (!files.grid) {
        p.fault = OpenFault::NoGrid;
        p.what = "project";
        return p;
    }
    const std::pair<const char*, const std::optional<std::string>*> named[] = {
        {"grid", &files.grid}, {"terminals file", &files.terminals}, {"stimulus file", &files.stimulus},
        {"monitor file", &files.monitor}, {"saved-views file", &files.views}};
    for (const auto& [what, name] : named) {
        if (!*name) continue;
        p = judgeInputPath(resolveInFolder(folder, **name), what);
        // The views file is also an output: Settings creates it.
        if (p.fault == OpenFault::Missing && name == &files.views) p = OpenProblem{};
        if (p) return p;
    }
    return p;
}

OpenProblem gridReadProblem(const GridReadResult& read, const std::string& path) {
    OpenProblem p;
    if (read.complete || read.file != FileCheck::Regular) return p;
    p.fault = read.regionsTooDeep ? OpenFault::TooDeep : OpenFault::Incomplete;
    p.what = "grid";
    p.path = path;
    p.line = read.stoppedAtLine;
    return p;
}

// ---------------------------------------------------------------- cameras

namespace {
float wholeNumber(float v) {
    if (std::isnan(v)) return 0.0f;
    if (v >= 2147483647.0f) return float(std::numeric_limits<int32_t>::max());
    if (v <= -2147483648.0f) return float(std::numeric_limits<int32_t>::min());
    return float(int32_t(v));
}
}  // namespace

Camera recallSavedView(const SavedView& v) {
    return cameraAt(wholeNumber(v.x), wholeNumber(v.y), wholeNumber(v.z), wholeNumber(v.alt), wholeNumber(v.az));
}

std::optional<Camera> findSavedView(const ViewList* views, const std::string& description) {
    if (!views) return std::nullopt;
    for (const SavedView& v : views->views)
        if (v.description == description) return recallSavedView(v);
    return std::nullopt;
}

// ---------------------------------------------------------------- progress

namespace {
int64_t nowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
}  // namespace

RunProgress::RunProgress(uint64_t total, Report report, double intervalSeconds)
    : total_(total), report_(std::move(report)), interval_(intervalSeconds), start_(nowNanoseconds()), last_(start_) {}

double RunProgress::elapsedSeconds() const { return double(nowNanoseconds() - start_) * 1e-9; }

void RunProgress::update(uint64_t done) {
    if (!report_) return;
    const int64_t now = nowNanoseconds();
    if (double(now - last_) * 1e-9 < interval_ && done != total_) return;
    last_ = now;
    const double secs = double(now - start_) * 1e-9;
    report_(done, total_, secs > 0 ? double(done) / secs : 0.0);
}

// ---------------------------------------------------------------- the session

Session::Session(SessionOptions options) : options_(std::move(options)), platform_(std::make_unique<HeadlessPlatform>()) {
    platform_->outputPolicy = options_.outputPolicy;
    auto doc = std::make_unique<CellforgeDocument>();
    doc_ = doc.get();
    platform_->adopt(std::move(doc));
    attach();
    startTimeline();
}

Session::~Session() {
    if (doc_) doc_->setFirstViewCentre(nullptr);
    platform_.reset();  // stops the worker before the centre and the hook go
}

void Session::startTimeline() {
    SteppingDriver& driver = doc_->driver();
    if (options_.historyBudget > 0)
        doc_->withUniverse([&](Universe&) { timeline_ = std::make_unique<Timeline>(*doc_, options_.historyBudget); });
    driver.setGenerationStart([this](Universe& u) {
        if (timeline_) timeline_->atGenerationStart(u);
        if (generationStart_ && !(timeline_ && timeline_->replaying())) generationStart_(u);
    });
}

void Session::restartTimeline() {
    timeline_.reset();
    startTimeline();
}

void Session::setGenerationStart(std::function<void(Universe&)> action) {
    const bool pausedHere = doc_->pauseForRead();
    generationStart_ = std::move(action);
    doc_->resumeAfterRead(pausedHere);
}

void Session::input(const std::string& label, std::function<void(Universe&)> apply, size_t bytes, bool undoable) {
    doc_->withUniverse([&](Universe& u) {
        if (timeline_)
            timeline_->record(u, label, std::move(apply), bytes, undoable);
        else
            apply(u);
    });
}

void Session::placeParts(const std::vector<UniverseCell>& cells, const std::string& label) {
    auto copy = std::make_shared<const std::vector<UniverseCell>>(cells);
    // A conflict is news once: the first application reports it through the
    // universe's handler (placeCell is editCell with the message), a replay
    // after a rewind or redo places quietly.
    auto first = std::make_shared<bool>(true);
    input(label, [copy, first](Universe& u) {
        const bool report = *first;
        *first = false;
        for (const UniverseCell& c : *copy) {
            if (report && c.partType != 0)
                u.placeCell(c);
            else
                editCell(u, c);
        }
    }, cells.size() * sizeof(UniverseCell), true);
}

bool Session::erase(int32_t x, int32_t y, int32_t z) {
    if (!Universe::inCoordinateRange(x, y, z)) return false;
    bool had = false;
    doc_->withUniverse([&](Universe& u) { had = partAt(u, x, y, z).has_value(); });
    if (!had) return false;
    UniverseCell empty;
    empty.x = x;
    empty.y = y;
    empty.z = z;
    input("erase", [empty](Universe& u) { editCell(u, empty); }, sizeof empty, true);
    return true;
}

size_t Session::eraseBox(const int32_t lo[3], const int32_t hi[3]) {
    const std::array<int32_t, 3> a{lo[0], lo[1], lo[2]}, b{hi[0], hi[1], hi[2]};
    size_t n = 0;
    doc_->withUniverse([&](Universe& u) { n = partsInBox(u, a.data(), b.data()).size(); });
    if (n == 0) return 0;
    input("erase box", [a, b](Universe& u) { ::eraseBox(u, a.data(), b.data()); }, 2 * sizeof a, true);
    return n;
}

// Inputs are applied again on every replay, long after the call that made
// them returned: what they report goes through shared memory, never a local.
bool Session::setBond(int32_t x, int32_t y, int32_t z, int32_t direction, bool on) {
    bool ok = false;
    doc_->withUniverse([&](Universe& u) {
        ok = partAt(u, x, y, z).has_value() && validDirection(direction) &&
             Universe::inCoordinateRange(int64_t(x) + directionTable.dx[direction],
                                         int64_t(y) + directionTable.dy[direction],
                                         int64_t(z) + directionTable.dz[direction]) &&
             partAt(u, x + directionTable.dx[direction], y + directionTable.dy[direction],
                    z + directionTable.dz[direction])
                 .has_value();
    });
    if (!ok) return false;
    input(on ? "bond" : "unbond", [x, y, z, direction, on](Universe& u) { editBond(u, x, y, z, direction, on); }, 32,
          true);
    return true;
}

size_t Session::transformParts(const std::vector<CellPosition>& positions, const PartTransform& t,
                               const std::string& label) {
    auto copy = std::make_shared<const std::vector<CellPosition>>(positions);
    auto placed = std::make_shared<size_t>(0);
    input(label, [copy, t, placed](Universe& u) { *placed = ::transformParts(u, *copy, t); },
          positions.size() * sizeof(CellPosition) + sizeof t, true);
    return *placed;
}

void Session::pulse() {
    input("input pulse", [](Universe& u) { u.inputPulse = 1; }, 16, false);
}

void Session::injectSignal(int32_t x, int32_t y, int32_t z, int32_t direction) {
    input("inject", [x, y, z, direction](Universe& u) { u.injectSignal(x, y, z, direction); }, 32, false);
}

MemoryWriteReport Session::writeMemory(int32_t x0, int32_t y0, int32_t z0, uint32_t offset,
                                       const std::vector<int32_t>& image) {
    auto copy = std::make_shared<const std::vector<int32_t>>(image);
    auto report = std::make_shared<MemoryWriteReport>();
    input("memory", [copy, x0, y0, z0, offset, report](Universe& u) {
        *report = writeMemoryImage(u, x0, y0, z0, offset, *copy);
    }, image.size() * sizeof(int32_t), false);
    return *report;
}

namespace {
bool noTimeline(std::string& error) {
    error = "this document keeps no history";
    return false;
}
}  // namespace

bool Session::undo(std::string& error) {
    if (!timeline_) return noTimeline(error);
    bool ok = false;
    doc_->withUniverse([&](Universe&) { ok = timeline_->undo(error); });
    return ok;
}

bool Session::redo(std::string& error) {
    if (!timeline_) return noTimeline(error);
    bool ok = false;
    doc_->withUniverse([&](Universe&) { ok = timeline_->redo(error); });
    return ok;
}

bool Session::reset(std::string& error) {
    if (!timeline_) return noTimeline(error);
    bool ok = false;
    doc_->withUniverse([&](Universe&) { ok = timeline_->reset(error); });
    return ok;
}

bool Session::rewind(uint32_t generation, std::string& error) {
    if (!timeline_) return noTimeline(error);
    bool ok = false;
    doc_->withUniverse([&](Universe&) { ok = timeline_->rewind(generation, error); });
    return ok;
}

void Session::attach() {
    if (options_.messages) platform_->messageSink = options_.messages;
    doc_->withUniverse([&](Universe& u) {
        u.onConflict = [this](const std::string& m) {
            if (options_.messages) options_.messages(m);
        };
        camera_ = Camera{};
        centreOfMass(camera_, u);
    });
    centre_.set(camera_.x, camera_.y, camera_.z);
    doc_->setFirstViewCentre(&centre_);
}

std::unique_ptr<Session> Session::open(const std::string& path, SessionOptions options, OpenProblem& problem) {
    problem = OpenProblem{};
    DocumentKind kind = DocumentKind::Grid;
    problem = judgeDocumentPath(path, kind);
    if (problem) return nullptr;
    const std::string full = fullPath(path);

    if (kind == DocumentKind::Grid) {
        auto s = std::make_unique<Session>(std::move(options));
        GridReadResult rr;
        s->doc_->withUniverse([&](Universe& u) { openGridDocument(u, full, &rr); });
        s->note_ = gridReadProblem(rr, path);
        if (s->note_.fault == OpenFault::TooDeep || (s->options_.strict && s->note_)) {
            problem = s->note_;
            return nullptr;
        }
        s->doc_->setPath(full);
        s->doc_->setSource(sourceFingerprint({{"grid", full, {}}}));
        s->path_ = full;
        s->kind_ = kind;
        s->skippedParts_ = rr.skippedParts;
        s->attach();
        s->timeline_.reset();
        s->startTimeline();
        return s;
    }

    // A project: its named files are judged before anything is loaded.
    const std::string folder = folderOf(full);
    ProjectFiles files;
    {
        InputFile in(full);
        if (!in.isOpen()) {
            problem = judgeInputPath(full, "project");
            if (!problem) problem.fault = OpenFault::Unreadable;
            return nullptr;
        }
        files = readProjectLines(in);
    }
    problem = judgeProjectFiles(files, folder);
    if (problem.fault == OpenFault::NoGrid) problem.path = path;
    if (problem) return nullptr;
    std::unique_ptr<Session> s(new Session(std::move(options), Empty{}));
    s->platform_->holdMonitorOutput = true;
    ProjectLoadResult loaded;
    if (!loadProjectFromPath(*s->platform_, full, &loaded) || !loaded.document) {
        problem = judgeInputPath(resolveInFolder(folder, *files.grid), "grid");
        if (!problem) problem.fault = OpenFault::Unreadable;
        return nullptr;
    }
    s->note_ = gridReadProblem(s->platform_->lastGridRead, *files.grid);
    if (s->note_.fault == OpenFault::TooDeep || (s->options_.strict && s->note_)) {
        problem = s->note_;
        return nullptr;
    }
    s->doc_ = loaded.document;
    std::vector<SourceInput> inputs;
    const std::pair<const char*, const std::optional<std::string>*> roles[] = {
        {"grid", &files.grid}, {"terminals", &files.terminals}, {"stimulus", &files.stimulus},
        {"monitor", &files.monitor}};
    for (const auto& [role, name] : roles)
        if (*name) inputs.push_back({role, resolveInFolder(folder, **name), {}});
    if (files.stimulus) inputs.push_back({"advance", {}, std::to_string(files.advanceCount)});
    s->doc_->setSource(sourceFingerprint(inputs));
    s->kind_ = kind;
    s->path_ = full;
    s->files_ = loaded.files;
    s->attach();
    if (!s->options_.holdMonitorOutput && s->doc_->monitor()) startMonitorOutput(*s->doc_->monitor());
    s->startTimeline();
    return s;
}

Session::Session(SessionOptions options, Empty) : options_(std::move(options)), platform_(std::make_unique<HeadlessPlatform>()) {
    platform_->outputPolicy = options_.outputPolicy;
    if (options_.messages) platform_->messageSink = options_.messages;
}

RunOutcome Session::run(uint64_t n, const RunControl& control) {
    RunOutcome out;
    SteppingDriver& driver = doc_->driver();
    // The worker waits at its pause point throughout; we step in its stead.
    const bool pausedHere = doc_->pauseForRead();
    Universe& u = doc_->universe();
    for (uint64_t i = 0; i < n; ++i) {
        if (control.cancel && control.cancel->load(std::memory_order_relaxed)) {
            out.cancelled = true;
            break;
        }
        if (control.beforeGeneration && !control.beforeGeneration(u)) {
            out.stoppedByHook = true;
            break;
        }
        driver.runGeneration();
        if (control.recorder) control.recorder->sample(u);
        ++out.generations;
        if (control.progress && (i & 255) == 0) control.progress->update(out.generations);
    }
    doc_->resumeAfterRead(pausedHere);
    if (control.progress) control.progress->update(out.generations);
    return out;
}

bool Session::addTerminal(const Terminal& terminal, std::string& error) {
    if (terminal.name.empty() || terminal.name.size() > kMaxTerminalName) {
        error = "a terminal name must be 1 to " + std::to_string(kMaxTerminalName) + " characters";
        return false;
    }
    for (unsigned char ch : terminal.name)
        if (std::isspace(ch) || ch == '{' || ch == '}') {
            error = "a terminal name cannot hold white space or braces: '" + terminal.name + "'";
            return false;
        }
    // The terminals file reads these words as its own.
    const size_t dot = terminal.name.rfind('.');
    const std::string own = dot == std::string::npos ? terminal.name : terminal.name.substr(dot + 1);
    if (terminal.name == "object" || own.empty() || own == "object" || dot == 0) {
        error = "a terminals file cannot hold the terminal name '" + terminal.name + "'";
        return false;
    }
    if (!validDirection(terminal.direction)) {
        error = "a terminal's direction must be 0 to 5";
        return false;
    }
    bool added = false;
    doc_->withUniverse([&](Universe&) {
        if (findTerminal(doc_->terminals(), terminal.name)) return;
        doc_->ensureTerminals().add(terminal);
        added = true;
    });
    if (!added) error = "there is already a terminal named '" + terminal.name + "'";
    return added;
}

namespace {

bool readWhole(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return !in.bad();
}

}  // namespace

bool Session::saveProject(const std::string& path, std::string& error) {
    const std::optional<DocumentKind> kind = documentKindOf(path);
    if (kind != DocumentKind::Project) {
        error = "a project's name ends in .prj: '" + path + "'";
        errno = EINVAL;
        return false;
    }
    const std::string full = fullPath(path);
    const std::string folder = folderOf(full);
    std::string stem = full.substr(full.find_last_of('/') + 1);
    stem.resize(stem.size() - 4);
    const std::string oldFolder = path_.empty() ? std::string() : folderOf(path_);
    auto at = [&](const std::string& suffix) { return stem + suffix; };
    auto inFolder = [&](const std::string& name) { return resolveInFolder(folder, name); };
    auto fail = [&](const std::string& what, const std::string& file) {
        const int err = errno;
        error = "cannot write the " + what + " '" + file + "'";
        errno = err;
        return false;
    };
    std::vector<std::string> lines;

    // The files that are copied are read first: saving over the project that
    // was opened must not read what it has just written.
    struct Copy {
        std::string suffix, what, bytes;
    };
    std::vector<Copy> copies;
    if (kind_ == DocumentKind::Project) {
        const std::pair<const std::optional<std::string>*, const char*> named[] = {
            {&files_.stimulus, "stimulus"}, {&files_.monitor, "monitor"}, {&files_.ini, "ini"}};
        for (const auto& [name, what] : named) {
            if (!*name) continue;
            const std::string source = resolveInFolder(oldFolder, **name);
            Copy c{name->value().size() >= 4 ? name->value().substr(name->value().size() - 4) : "", what, {}};
            if (!readWhole(source, c.bytes)) {
                error = std::string("cannot read the ") + what + " '" + source + "'";
                return false;
            }
            copies.push_back(std::move(c));
        }
    }

    lines.push_back(at(".grd"));
    if (!doc_->saveGrid(inFolder(at(".grd")), options_.outputPolicy)) return fail("grid", inFolder(at(".grd")));
    if (doc_->terminals()) {
        std::string text;
        doc_->withUniverse([&](Universe&) {
            // The file's object form names a terminal by its object path, so
            // a name without a dot would read back doubled ("a" as "a.a"):
            // such a terminal is written as a plain line, which reads back
            // exactly. Every other one is written as the terminals file is.
            std::ostringstream out;
            const TerminalTable* table = doc_->terminals();
            for (size_t i = 0; i < table->size(); ++i) {
                const Terminal& t = table->at(i);
                if (t.name.find('.') == std::string::npos) {
                    out << t.name << ' ' << t.x << ' ' << t.y << ' ' << t.z << ' ' << t.direction << ' '
                        << (t.flag ? 1 : 0) << '\n';
                } else {
                    TerminalTable one;
                    one.add(t);
                    writeTerminalFile(&one, out);
                }
            }
            text = out.str();
        });
        if (!writeFileAtomically(inFolder(at(".trm")), text, error)) return false;
        lines.push_back(at(".trm"));
    }
    for (const Copy& c : copies) {
        if (!writeFileAtomically(inFolder(at(c.suffix)), c.bytes, error)) return false;
        lines.push_back(at(c.suffix));
        if (c.what == std::string("stimulus")) lines.push_back(std::to_string(files_.advanceCount));
    }
    if (const ViewList* views = doc_->savedViews()) {
        ViewList copy = *views;
        copy.fileName = inFolder(at(".uvw"));
        if (!writeViewFile(copy, options_.outputPolicy)) return fail("saved views", copy.fileName);
        lines.push_back(at(".uvw"));
    }
    std::string project;
    for (const std::string& l : lines) project += l + "\n";
    return writeFileAtomically(full, project, error);
}

std::optional<Camera> Session::fitCamera(int width, int height) {
    bool any = false;
    Bounds box;
    doc_->withUniverse([&](Universe& u) {
        u.forEachBlock([&](const UniverseBlock* b) {
            if (!b->occupied) return;
            for (int s = 0; s < 12; ++s) {
                if (b->cells.type[s] == 0) continue;
                const double p[3] = {double(b->cellX(s)), double(b->cellY(s)), double(b->cellZ(s))};
                for (int a = 0; a < 3; ++a) {
                    if (!any || p[a] - 0.5 < box.lo[a]) box.lo[a] = p[a] - 0.5;
                    if (!any || p[a] + 0.5 > box.hi[a]) box.hi[a] = p[a] + 0.5;
                }
                any = true;
            }
        });
    });
    if (!any) return std::nullopt;
    return fitAllCamera(box, width, height);
}

bool Session::setThreads(int n, std::string& error) {
    if (n < 1 || n > kMaxThreads) {
        error = "threads must be from 1 to " + std::to_string(kMaxThreads) + ", not " + std::to_string(n);
        return false;
    }
    doc_->withUniverse([n](Universe& u) { u.setThreads(n); });
    return true;
}

int Session::defaultThreads(int coresKept) {
    const int cores = int(std::thread::hardware_concurrency());  // 0 when unknown
    return std::clamp(cores - coresKept, 1, kMaxThreads);
}

int Session::threads() {
    int n = 1;
    doc_->withUniverse([&n](Universe& u) { n = u.threads(); });
    return n;
}

Camera Session::firstViewCamera() const {
    Camera c = camera_;
    c.x = centre_.x.load();
    c.y = centre_.y.load();
    c.z = centre_.z.load();
    return c;
}

void Session::setFirstViewCamera(const Camera& camera) {
    camera_ = camera;
    centre_.set(camera.x, camera.y, camera.z);
}

bool Session::render(const Camera& camera, int width, int height, ScreenBitmap& pixels, std::string& error,
                     OffscreenContext* context) {
    if (width < 1 || height < 1 || uint64_t(width) * uint64_t(height) > kMaxPicturePixels) {
        error = "cannot draw a picture of " + std::to_string(width) + "x" + std::to_string(height) +
                " pixels: at most " + std::to_string(kMaxPicturePixels) + " (4096x4096) are drawn";
        return false;
    }
    static std::mutex drawing;
    std::lock_guard<std::mutex> one(drawing);
    std::unique_ptr<OffscreenContext> own;
    if (!context || context->width() != width || context->height() != height || !context->makeCurrent()) {
        own = OffscreenContext::create(width, height, error);
        if (!own) {
            error = "cannot draw the view: " + error;
            return false;
        }
        context = own.get();
    }
    setUpViewState(width, height);
    SceneRenderer renderer;
    const bool pausedHere = doc_->pauseForRead();
    renderer.renderFrame(camera, doc_->universe(), &doc_->driver());
    doc_->resumeAfterRead(pausedHere);
    pixels = captureFramebuffer(width, height);
    if (pixels.pixels.empty()) {
        error = "cannot draw the view: no pixels";
        return false;
    }
    return true;
}

bool Session::renderToFile(const Camera& camera, int width, int height, const std::string& path, std::string& error,
                           OffscreenContext* context) {
    ScreenBitmap pixels;
    if (!render(camera, width, height, pixels, error, context)) return false;
    errno = 0;
    if (!writePictureFile(pixels, path)) {
        error = "cannot write '" + path + "'";
        return false;
    }
    return true;
}

void Session::centreFirstView() { attach(); }
