#include "shell/cellforge_doc.h"

#include <QFileInfo>

#include "files/grid_file.h"
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
}

namespace {
int documentThreads = 1;
}

void CCellforgeDoc::setDefaultThreads(int threads) { documentThreads = threads < 1 ? 1 : threads > 64 ? 64 : threads; }

int CCellforgeDoc::defaultThreads() { return documentThreads; }

CCellforgeDoc::~CCellforgeDoc() {
    engine_->setFirstViewCentre(nullptr);
    // The engine document stops its worker before anything else goes.
    engine_.reset();
}

void CCellforgeDoc::setTitle(const QString& title) {
    if (title == title_) return;
    title_ = title;
    emit titleChanged();
}

bool CCellforgeDoc::onNewDocument() { return engine_->restartWorker(); }

bool CCellforgeDoc::onOpenDocument(const QString& path) {
    if (!hasGridSuffix(path.toStdString())) return false;
    bool opened = false;
    gridRead_ = GridReadResult{};
    engine_->withUniverse([&](Universe& u) { opened = openGridDocument(u, path.toStdString(), &gridRead_); });
    if (!opened) return false;
    pathName_ = QFileInfo(path).absoluteFilePath();
    engine_->setPath(pathName_.toStdString());
    setTitle(QFileInfo(path).fileName());
    return true;
}

bool CCellforgeDoc::onSaveDocument(const QString& path) {
    // saveGrid pauses the worker itself.
    bool ok = engine_->saveGrid(path.toStdString(), OutputPolicy::RegularOnly);
    if (ok) {
        pathName_ = QFileInfo(path).absoluteFilePath();
        engine_->setPath(pathName_.toStdString());
        setTitle(QFileInfo(path).fileName());
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

void CCellforgeDoc::updateAllViews() {
    for (CCellforgeView* v : views_) v->update();
}

