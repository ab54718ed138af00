#include "shell/document_manager.h"

#include <QDir>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QCloseEvent>
#include <QResizeEvent>

#include <algorithm>

#include "files/grid_file.h"
#include "files/input_file.h"
#include "files/project.h"
#include "session/session.h"
#include "shell/cellforge_doc.h"
#include "shell/cellforge_view.h"
#include "shell/child_frame.h"
#include "shell/qt_platform.h"
#include "shell/recent_files.h"
#include "shell/toolbar_icons.h"

CChildFrame::CChildFrame(CCellforgeDoc* doc, QWidget* parent) : QMdiSubWindow(parent), doc_(doc) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(applicationIcon());
    view_ = new CCellforgeView(doc, this);
    setWidget(view_);
}

void CChildFrame::closeEvent(QCloseEvent* event) {
    auto* manager = qobject_cast<DocumentManager*>(doc_ ? doc_->parent() : nullptr);
    if (manager && manager->confirmClose && doc_->views().size() == 1 && !manager->confirmClose(doc_)) {
        event->ignore();
        return;
    }
    QMdiSubWindow::closeEvent(event);
}

DocumentManager::DocumentManager(QMdiArea* area, RecentFileList& recent, QObject* parent)
    : QObject(parent), area_(area), recent_(recent) {
    area_->viewport()->installEventFilter(this);
}

bool DocumentManager::eventFilter(QObject* watched, QEvent* event) {
    if (watched == area_->viewport() && event->type() == QEvent::Resize) {
        const auto* resize = static_cast<QResizeEvent*>(event);
        const QRect before(QPoint(0, 0), resize->oldSize());
        for (QMdiSubWindow* w : area_->subWindowList())
            if (!w->isMaximized() && !w->isMinimized() && w->geometry() == before)
                w->setGeometry(QRect(QPoint(0, 0), resize->size()));
    }
    return QObject::eventFilter(watched, event);
}

DocumentManager::~DocumentManager() { closeAll(); }

bool DocumentManager::hasDocument(uintptr_t handle) const {
    for (CCellforgeDoc* d : documents_)
        if (reinterpret_cast<uintptr_t>(d) == handle) return true;
    return false;
}

CCellforgeDoc* DocumentManager::find(const CellforgeDocument* engine) const {
    for (CCellforgeDoc* d : documents_)
        if (&d->engine() == engine) return d;
    return nullptr;
}

CCellforgeView* DocumentManager::activeView() const {
    // currentSubWindow keeps its answer while a dialog or another
    // application has the focus, unlike activeSubWindow.
    auto* frame = qobject_cast<CChildFrame*>(area_->currentSubWindow());
    if (!frame) {
        const auto list = area_->subWindowList(QMdiArea::ActivationHistoryOrder);
        if (!list.isEmpty()) frame = qobject_cast<CChildFrame*>(list.last());
    }
    return frame ? frame->view() : nullptr;
}

CCellforgeDoc* DocumentManager::activeDocument() const {
    CCellforgeView* v = activeView();
    return v ? v->document() : nullptr;
}

// ------------------------------------------------------------------ windows

CChildFrame* DocumentManager::addChildWindow(CCellforgeDoc* doc) {
    auto* frame = new CChildFrame(doc);
    area_->addSubWindow(frame);
    emit viewCreated(frame->view());
    frame->resize(480, 360);
    frame->show();
    frame->view()->setFocus();
    emit doc->titleChanged();
    return frame;
}

namespace {
void retitleWindows(CCellforgeDoc* doc) {
    const auto& views = doc->views();
    for (size_t i = 0; i < views.size(); ++i) {
        QWidget* frame = views[i]->parentWidget();
        if (!frame) continue;
        frame->setWindowTitle(views.size() == 1 ? doc->displayTitle()
                                                 : QStringLiteral("%1:%2").arg(doc->displayTitle()).arg(i + 1));
    }
}
}  // namespace

void DocumentManager::watchDocument(CCellforgeDoc* doc) {
    connect(doc, &CCellforgeDoc::titleChanged, this, [this, doc] {
        retitleWindows(doc);
        emit documentsChanged();
    });
    // A document whose last window the user closed goes with it. The view is
    // being destroyed when this arrives, so the close is done afterwards.
    QPointer<CCellforgeDoc> guarded(doc);
    connect(doc, &CCellforgeDoc::viewRemoved, this, [this, guarded] {
        QMetaObject::invokeMethod(
            this,
            [this, guarded] {
                if (!guarded || closing_) return;
                if (std::find(documents_.begin(), documents_.end(), guarded.data()) == documents_.end()) return;
                if (guarded->views().empty())
                    closeDocument(guarded.data());
                else
                    retitleWindows(guarded.data());
                emit documentsChanged();
            },
            Qt::QueuedConnection);
    });
}

void DocumentManager::adopt(CCellforgeDoc* doc) {
    watchDocument(doc);
    documents_.push_back(doc);
    emit documentsChanged();  // the document menus before its window
    addChildWindow(doc);
}

CCellforgeDoc* DocumentManager::newDocument() {
    auto* doc = new CCellforgeDoc(this);
    if (!doc->onNewDocument()) {
        delete doc;
        return nullptr;
    }
    doc->setTitle(QStringLiteral("Forge%1").arg(++untitledCount_));
    adopt(doc);
    emit documentsChanged();
    return doc;
}

CCellforgeDoc* DocumentManager::openDocument(const QString& path, bool addToRecent) {
    // Only grids open as documents, even one already open under that name
    // (a document saved as "x.txt" is not a grid document).
    if (!hasGridSuffix(path.toStdString())) return nullptr;
    // A folder (or a device, or a pipe) named like a grid is no grid; it is
    // never handed to the reader. A grid that does not exist still opens,
    // empty.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) return nullptr;
    const QString full = info.absoluteFilePath();
    for (CCellforgeDoc* d : documents_) {
        if (!d->pathName().isEmpty() && d->pathName() == full) {
            if (CCellforgeView* v = d->firstView())
                area_->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(v->parentWidget()));
            if (addToRecent) {
                recent_.add(full);
                emit recentFilesChanged();
            }
            return d;
        }
    }
    auto* doc = new CCellforgeDoc(this);
    if (!doc->onOpenDocument(path)) {
        delete doc;
        return nullptr;
    }
    adopt(doc);
    if (addToRecent) recent_.add(full);
    emit recentFilesChanged();
    emit documentsChanged();
    return doc;
}

CCellforgeView* DocumentManager::newWindow(CCellforgeDoc* doc) { return addChildWindow(doc)->view(); }

void DocumentManager::closeDocument(CCellforgeDoc* doc) {
    auto it = std::find(documents_.begin(), documents_.end(), doc);
    if (it == documents_.end()) return;
    documents_.erase(it);
    // Windows first: each view unregisters its centre from the worker.
    std::vector<QWidget*> frames;
    for (CCellforgeView* v : doc->views())
        if (v->parentWidget()) frames.push_back(v->parentWidget());
    for (QWidget* f : frames) {
        area_->removeSubWindow(f);
        delete f;
    }
    delete doc;  // stops the worker, then frees the run objects and the universe
    if (!closing_) emit documentsChanged();
}

void DocumentManager::closeAll() {
    closing_ = true;
    while (!documents_.empty()) closeDocument(documents_.back());
}

// ------------------------------------------------------------------ projects

namespace {
// After a file dialog the window system may leave no window active (or
// hand the activation back to whatever had it before), so the view's focus
// alone would not reach the keyboard: the main window is activated too.
void giveKeyboard(CCellforgeView* view) {
    view->window()->activateWindow();
    view->setFocus(Qt::OtherFocusReason);
}
}  // namespace

void DocumentManager::reportProjectLoad(const QString& projectPath, const ProjectLoadResult& result) {
    const std::string full = projectPath.toStdString();
    const std::string folder = folderOf(full);
    const QString name = QFileInfo(projectPath).fileName();
    OpenProblem problem = judgeProjectFiles(result.files, folder);
    if (problem.fault == OpenFault::NoGrid) {
        problem.path = full;  // the words every front end uses
        emit message(QString::fromStdString(problem.message()) + QStringLiteral("; nothing was opened"));
        return;
    }
    CCellforgeDoc* doc = find(result.document);
    const bool gridProblem = problem && problem.what == "grid";
    if (!doc || gridProblem) {
        // The loader leaves a missing grid's universe empty and opens nothing
        // for a grid that cannot be a document; either way, say why.
        const QString why = QString::fromStdString(
            gridProblem ? problem.message()
                        : "cannot open grid '" + resolveInFolder(folder, *result.files.grid) + "' as a document");
        emit message(doc ? QStringLiteral("Project %1: %2; the universe is empty").arg(name, why)
                         : QStringLiteral("Project %1: %2").arg(name, why));
        return;
    }
    size_t parts = 0;
    doc->engine().withUniverse([&](Universe& u) { parts = u.partCount(); });
    const ViewList* views = doc->engine().savedViews();
    const size_t saved = views ? views->views.size() : 0;
    QString text = QStringLiteral("Opened %1: %2 parts. Home (View > Fit All) shows them all").arg(name).arg(parts);
    if (saved > 0) text += QStringLiteral("; View > Saved Views lists %1 views").arg(saved);
    // What the loader quietly left out (a missing terminals or stimulus file),
    // and where a grid stopped being read (what was read before is kept).
    if (problem) text += QStringLiteral("; ") + QString::fromStdString(problem.message());
    if (const OpenProblem note = gridReadProblem(doc->gridRead(), *result.files.grid))
        text += QStringLiteral("; ") + QString::fromStdString(note.message());
    emit message(text);
}

bool DocumentManager::openProjectFile(const QString& path) {
    const std::string full = fullPath(path.toStdString());
    // The path is judged before any reader sees it, by the rule every front
    // end uses (what stands there; a path that failed here is not put on the
    // recent-file list). Its suffix is not judged: the Open command reads
    // whatever file was chosen as a project.
    if (const OpenProblem problem = judgeInputPath(full, "project")) {
        emit message(QString::fromStdString(problem.message()));
        return false;
    }
    // Opened without blocking: the path may have turned into a FIFO since
    // it was judged.
    InputFile in(full);
    if (!in.isOpen()) {
        OpenProblem problem = judgeInputPath(full, "project");
        if (!problem) problem.fault = OpenFault::Unreadable;
        emit message(QString::fromStdString(problem.message()));
        return false;
    }
    // The loader resolves the project's names in its folder; the folder also
    // becomes the current one, where relative outputs (the coordinate dump)
    // are written.
    const std::string folder = folderOf(full);
    QDir::setCurrent(QString::fromStdString(folder));
    QtPlatform platform(*this);
    const ProjectLoadResult result = ::loadProject(platform, in, folder);
    CCellforgeDoc* doc = find(result.document);
    // The state to reset to is the project as loaded, run objects and all.
    if (doc) doc->startTimeline();
    reportProjectLoad(QString::fromStdString(full), result);
    // Only a project that opened its grid goes on the recent-file list.
    if (doc && !judgeInputPath(resolveInFolder(folder, *result.files.grid), "grid")) {
        recent_.add(QString::fromStdString(full));
        emit recentFilesChanged();
    }
    // A project is what the user came to work on: its window takes the
    // whole area and the keyboard, so Home and F5 work at once.
    if (doc) {
        if (CCellforgeView* v = doc->firstView()) {
            if (auto* sub = qobject_cast<QMdiSubWindow*>(v->parentWidget())) {
                // Filled rather than maximized: a maximized child would merge
                // its title into the main window's and take the other
                // windows into the maximized state with it.
                if (!sub->isMaximized()) sub->setGeometry(QRect(QPoint(0, 0), area_->viewport()->size()));
                area_->setActiveSubWindow(sub);
            }
            giveKeyboard(v);
        }
    }
    return true;
}

bool DocumentManager::openRecentProject(int n) {
    const QString entry = recent_.entry(n);
    if (entry.isEmpty()) return false;
    return openProjectFile(entry);
}
