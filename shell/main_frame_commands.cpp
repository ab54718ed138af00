// The command handlers of the main window: application commands (open,
// run animation, about), the document and view commands, and the animation
// runner's host operations.
#include "shell/main_frame.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>

#include <fstream>

#include "files/input_file.h"
#include "files/memory_image.h"
#include "files/project.h"
#include "session/session.h"
#include "view/camera.h"
#include "shell/cellforge_doc.h"
#include "shell/cellforge_view.h"
#include "shell/commands.h"
#include "shell/dialogs.h"
#include "shell/file_dialogs.h"
#include "shell/messages.h"
#include "view/drive_dump.h"

namespace {

// The Settings dialog's view of a document's saved-views list.
class ViewListStore : public SavedViewStore {
public:
    explicit ViewListStore(ViewList& list) : list_(list) {}
    std::vector<SavedViewRecord> records() const override {
        std::vector<SavedViewRecord> out;
        for (const SavedView& v : list_.views)
            out.push_back({QString::fromStdString(v.description), v.x, v.y, v.z, v.alt, v.az});
        return out;
    }
    void append(const SavedViewRecord& r) override {
        SavedView v;
        // The file format keeps at most 255 characters of a description; a
        // longer one would make the whole file unreadable from that line on.
        v.description = r.description.toStdString().substr(0, 255);
        v.x = r.x;
        v.y = r.y;
        v.z = r.z;
        v.alt = r.alt;
        v.az = r.az;
        list_.views.push_back(v);
        writeViewFile(list_, OutputPolicy::RegularOnly);
    }

private:
    ViewList& list_;
};
}  // namespace

void CMainFrame::connectCommands() {
    using namespace cmd;
    auto on = [this](int id, auto handler) { connect(action(id), &QAction::triggered, this, handler); };
    on(FileOpen, &CMainFrame::onFileOpen);
    on(FileNew, [this] { newDocument(); });
    on(RunAnimation, &CMainFrame::onRunAnimation);
    for (int i = 0; i < RecentFileList::kSize; ++i) on(RecentFile1 + i, [this, i] { openRecentProject(i + 1); });
    on(Exit, [this] { close(); });
    on(About, &CMainFrame::onAbout);
    on(FileClose, [this] {
        CCellforgeDoc* d = activeDocument();
        if (d && confirmClose(d)) closeDocument(d);
    });
    on(FileSaveAs, &CMainFrame::onFileSaveAs);
    on(SaveTerminals, &CMainFrame::onSaveTerminals);
    on(WriteDriveCoordinates, &CMainFrame::onWriteDriveCoordinates);
    on(Regions, &CMainFrame::onRegions);
    on(CentreOfMass, &CMainFrame::onCentreOfMass);
    for (int id : {Go, Stop, Step, GoSlow}) on(id, [this, id] { onRunCommand(id); });
    on(Settings, &CMainFrame::onSettings);
    on(SaveBitmap, &CMainFrame::onSaveBitmap);
    on(AnimationSettings, &CMainFrame::onAnimationDialog);
    on(WriteMemory, &CMainFrame::onWriteMemory);
    on(WindowNew, [this] {
        if (CCellforgeDoc* d = activeDocument()) newWindow(d);
    });
    on(WindowCascade, &CMainFrame::cascadeWindows);
    on(FitAll, [this] { onFitAll(false); });
    on(FitEverything, [this] { onFitAll(true); });
    on(WindowTileHorz, [this] { mdi_->tileSubWindows(); });
    on(WindowArrange, &CMainFrame::onArrangeIcons);
}

void CMainFrame::onRunCommand(int id) {
    CCellforgeDoc* d = activeDocument();
    // At the run-until limit the worker would stop again at once.
    if (d && id != cmd::Stop && d->heldAtRunLimit()) d = nullptr;
    if (d) {
        CellforgeDocument& e = d->engine();
        switch (id) {
        case cmd::Go: if (e.canGo()) e.runCommand(); break;
        case cmd::Stop: if (e.canStop()) e.stopCommand(); break;
        case cmd::Step: if (e.canStep()) e.stepCommand(); break;
        case cmd::GoSlow: if (e.canGoSlow()) e.slowCommand(); break;
        default: break;
        }
    }
    updateCommandStates();
}

// ------------------------------------------------------------------ application commands

namespace {
// Why a file cannot be read, in the words every front end uses, or empty.
// Nothing is read from a path judged unfit: a folder opens as a stream on
// this system and would reach the reader. (InputFile never blocks on a FIFO.)
QString unreadable(const QString& path, const char* what, const InputFile& in) {
    OpenProblem problem = judgeInputPath(path.toStdString(), what);
    if (!problem && !in.isOpen()) problem.fault = OpenFault::Unreadable;
    return QString::fromStdString(problem.message());
}
}  // namespace

void CMainFrame::onFileOpen() {
    auto path = dialogs_->openFile(this, QStringLiteral("prj"), QStringLiteral("Cellforge project file (*.prj)|*.prj||"));
    if (path) openProjectFile(*path);
}

bool CMainFrame::runAnimationFile(const QString& path) {
    InputFile in(path.toStdString());
    const QString why = unreadable(path, "animation file", in);
    if (!why.isEmpty()) {
        showTransient(why);
        return false;
    }
    auto plan = std::make_unique<AnimationSpec>(readAnimationSpec(in));
    const size_t n = plan->entries.size();
    const QString folder = QString::fromStdString(plan->folder);
    runner_.install(std::move(plan));
    if (!QFileInfo(folder).isDir())
        showTransient(QStringLiteral("Animation: the output folder %1 does not exist").arg(folder));
    else
        showTransient(QStringLiteral("Animation: %1 entries, pictures into %2").arg(n).arg(folder));
    return true;
}

void CMainFrame::onRunAnimation() {
    auto path =
        dialogs_->openFile(this, QStringLiteral("asf"), QStringLiteral("Animation specification file (*.asf)|*.asf||"));
    if (path) runAnimationFile(*path);
}

void CMainFrame::onAbout() {
    AboutDialog d(this);
    d.exec();
}

void CMainFrame::onArrangeIcons() {
    // Minimised windows are lined up along the bottom edge, left to right.
    int x = 0;
    const int bottom = mdi_->viewport()->height();
    for (QMdiSubWindow* w : mdi_->subWindowList()) {
        if (!w->isMinimized()) continue;
        w->move(x, bottom - w->height());
        x += w->width();
    }
}

// ------------------------------------------------------------------ document and view commands

void CMainFrame::onFileSaveAs() {
    CCellforgeDoc* d = activeDocument();
    if (!d) return;
    auto path = dialogs_->saveFile(this, QString(), QStringLiteral("All Files (*.*)|*.*||"));
    if (!path) return;
    const QString shown = QDir::toNativeSeparators(QFileInfo(*path).absoluteFilePath());
    if (d->onSaveDocument(*path)) {
        showTransient(QStringLiteral("Saved the universe as %1").arg(shown));
        return;
    }
    const QString why = outputProblem(*path);
    showTransient(QStringLiteral("Could not save the universe as %1: %2")
                      .arg(shown, why.isEmpty() ? QStringLiteral("the file could not be written") : why));
}

void CMainFrame::onSaveTerminals() {
    CCellforgeDoc* d = activeDocument();
    if (!d) return;
    auto path = dialogs_->saveFile(this, QStringLiteral("trm"), QStringLiteral("Terminal Files (*.trm)|*.trm||"));
    if (!path) return;
    const QString shown = QDir::toNativeSeparators(QFileInfo(*path).absoluteFilePath());
    // A FIFO or device would block the window until something reads it.
    if (!outputAllowed(path->toStdString(), OutputPolicy::RegularOnly)) {
        showTransient(QStringLiteral("Could not write terminals to %1: it is not a regular file").arg(shown));
        return;
    }
    std::ofstream out(path->toStdString(), std::ios::trunc);
    if (!out) {
        const QString why = outputProblem(*path);
        showTransient(QStringLiteral("Could not write terminals to %1: %2")
                          .arg(shown, why.isEmpty() ? QStringLiteral("the file could not be written") : why));
        return;
    }
    d->engine().saveTerminals(out);
    out.flush();
    showTransient(out ? QStringLiteral("Wrote terminals to %1").arg(shown)
                      : QStringLiteral("Could not write terminals to %1").arg(shown));
}

void CMainFrame::onSaveBitmap() {
    CCellforgeView* v = activeView();
    if (!v) return;
    auto path = dialogs_->saveFile(this, QStringLiteral("bmp"), QStringLiteral("Bitmap Files (*.bmp)|*.bmp||"));
    if (!path) return;
    const QString shown = QDir::toNativeSeparators(QFileInfo(*path).absoluteFilePath());
    if (v->saveBitmap(*path)) {
        showTransient(QStringLiteral("Saved the picture as %1").arg(shown));
        return;
    }
    const QString why = outputProblem(*path);
    showTransient(QStringLiteral("Could not save the picture as %1: %2")
                      .arg(shown, why.isEmpty() ? QStringLiteral("the file could not be written") : why));
}

void CMainFrame::onWriteDriveCoordinates() {
    CCellforgeView* v = activeView();
    if (!v) return;
    const QString path = QString::fromLatin1(kDriveDumpFile);
    const QString shown = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    showTransient(v->writeDriveCoordinates(path) ? QStringLiteral("Wrote Drive coordinates to %1").arg(shown)
                                                 : QStringLiteral("Could not write Drive coordinates to %1").arg(shown));
}

void CMainFrame::onFitAll(bool everything) {
    CCellforgeView* v = activeView();
    if (!v) return;
    const CCellforgeView::FitOutcome fit = v->fitAll(everything);
    if (!fit.fitted)
        showTransient(QStringLiteral("Fit All: nothing to show"));
    else if (fit.outside > 0)
        showTransient(QStringLiteral("Fit All: %1 runaway parts left out (Home again: all)").arg(fit.outside));
}

void CMainFrame::onAnimationDialog() {
    CCellforgeView* v = activeView();
    if (!v) return;
    AnimationDialog d(this);
    FrameOutput& present = v->frameOutput();
    d.setFields({present.folder, present.prefix, present.interval});
    if (d.exec() != QDialog::Accepted) return;
    FrameOutputFields f = d.fields();
    FrameOutput& out = v->frameOutput();
    out.folder = f.folder;
    out.prefix = f.prefix;
    out.interval = f.interval;
    out.counter = 0;
    out.lastGeneration = 0xFFFFFFFFu;
    if (f.interval != 0 && !QFileInfo(f.folder).isDir())
        showTransient(QStringLiteral("Animation: the output folder %1 does not exist; no frames can be written")
                          .arg(QDir::toNativeSeparators(f.folder)));
    else if (f.interval != 0)
        showTransient(QStringLiteral("Animation: a frame every %1 generations into %2")
                          .arg(f.interval)
                          .arg(QDir::toNativeSeparators(f.folder)));
}

void CMainFrame::onSettings() {
    CCellforgeView* v = activeView();
    if (!v) return;
    CCellforgeDoc* d = v->document();
    if (!d->engine().canGo()) return;  // only while the worker is stopped
    Camera c = v->camera();
    std::unique_ptr<ViewListStore> store;
    if (ViewList* list = d->engine().savedViews()) store = std::make_unique<ViewListStore>(*list);
    SettingsDialog dialog(d->engine().driver().runUntil.load(), {c.x, c.y, c.z, c.alt, c.az}, v->description(),
                          store.get(), this);
    if (dialog.exec() != QDialog::Accepted) return;
    d->engine().setRunUntil(dialog.runUntil());
    CameraFields f = dialog.camera();
    v->setCamera(cameraAt(f.x, f.y, f.z, f.alt, f.az));
    v->setDescription(dialog.description());
    updateCommandStates();  // a limit at or below the generation is announced at once
}

void CMainFrame::onCentreOfMass() {
    CCellforgeView* v = activeView();
    if (!v) return;
    // An empty universe has no centre; the camera then stays where it is.
    Camera c = v->camera();
    bool found = false;
    v->document()->engine().withUniverse([&](Universe& u) { found = centreOfMass(c, u); });
    if (found) v->setCamera(c);
}

void CMainFrame::onRegions() {
    CCellforgeDoc* d = activeDocument();
    if (!d) return;
    RegionsDialog dialog(d->universe(), this);
    dialog.exec();
}

void CMainFrame::onWriteMemory() {
    CCellforgeDoc* d = activeDocument();
    if (!d) return;
    MemoryDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted) return;
    MemoryWriteFields f = dialog.fields();
    const QString shown = QDir::toNativeSeparators(f.path);
    InputFile in(f.path.toStdString());
    const QString why = unreadable(f.path, "memory file", in);
    if (!why.isEmpty()) {
        showTransient(QStringLiteral("Memory: ") + why);
        return;
    }
    std::vector<int32_t> image = readProgramImage(in);
    if (image.empty()) {
        showTransient(QStringLiteral("Memory: %1 holds no program image; nothing written").arg(shown));
        return;
    }
    // The writer skips positions without a module, so "nothing written" is
    // worth saying; it reports the modules it met.
    // Through the timeline, so rewinding past the write keeps it.
    const MemoryWriteReport report = d->writeMemory(f.x, f.y, f.z, uint32_t(f.offset), image);
    const size_t present = report.modules;
    if (present == 0) {
        showTransient(QStringLiteral("Memory: no memory module at (%1, %2, %3); nothing written")
                          .arg(f.x)
                          .arg(f.y)
                          .arg(f.z));
        return;
    }
    showTransient(QStringLiteral("Wrote %1 words into %2 modules").arg(image.size()).arg(present));
}

// ------------------------------------------------------------------ animation host

uintptr_t CMainFrame::openGridDocument(const std::string& path) {
    // A run's grids are temporary files deleted after their picture, so
    // they are kept off the recent-file list.
    return reinterpret_cast<uintptr_t>(docs_->openDocument(QString::fromStdString(path), false));
}

void CMainFrame::showEntry(uintptr_t handle, const AnimationEntry& entry) {
    if (!docs_->hasDocument(handle)) return;
    auto* d = reinterpret_cast<CCellforgeDoc*>(handle);
    CCellforgeView* v = d->firstView();
    if (!v) return;
    int32_t ax = 0, ay = 0, az = 0;
    d->engine().withUniverse([&](Universe& u) { u.findMarker(ax, ay, az); });
    v->setCamera(cameraAt(float(double(entry.x) + ax), float(double(entry.y) + ay), float(double(entry.z) + az),
                          entry.alt, entry.az));
    if (QWidget* frame = v->parentWidget()) frame->showMaximized();
    v->renderNow();
}

bool CMainFrame::saveFirstViewBitmap(uintptr_t handle, const std::string& path) {
    if (!docs_->hasDocument(handle)) return false;
    CCellforgeView* v = reinterpret_cast<CCellforgeDoc*>(handle)->firstView();
    const bool ok = v && v->saveBitmap(QString::fromStdString(path));
    // A failure is reported by entryMissing.
    if (const AnimationSpec* plan = runner_.plan(); plan && ok)
        showTransient(QStringLiteral("Animation: frame %1 of %2").arg(plan->currentIndex + 1).arg(plan->entries.size()));
    return ok;
}

void CMainFrame::entryMissing(size_t index, const AnimationEntry&, const std::string& why) {
    const AnimationSpec* plan = runner_.plan();
    showTransient(QStringLiteral("Animation: entry %1 of %2 gives no picture: %3")
                      .arg(index + 1)
                      .arg(plan ? plan->entries.size() : index + 1)
                      .arg(QString::fromStdString(why)));
}

void CMainFrame::closeDocument(uintptr_t handle) {
    if (docs_->hasDocument(handle)) closeDocument(reinterpret_cast<CCellforgeDoc*>(handle));
}
