#include "shell/main_frame.h"

#include <QSignalBlocker>
#include <QSlider>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QOpenGLWidget>
#include <QPointer>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>

#include <algorithm>
#include <optional>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "files/project.h"
#include "session/session.h"
#include "shell/cellforge_doc.h"
#include "shell/cellforge_view.h"
#include "shell/child_frame.h"
#include "shell/commands.h"
#include "shell/dialogs.h"
#include "shell/elided_label.h"
#include "shell/file_dialogs.h"
#include "shell/messages.h"
#include "shell/toolbar_icons.h"

namespace {
// A frame of a large machine hands the OpenGL driver some megabytes of
// vertices, which it copies into buffers of its own and frees again. With
// the C library's defaults such blocks are mapped fresh from the system each
// time and returned afterwards, so every frame pays for zeroing and faulting
// in thousands of pages (about a third of the drawing thread's time for the
// memory bank under the software renderer). Keeping freed blocks in the heap
// instead costs only that the process keeps its peak size.
void keepLargeBlocksInTheHeap() {
#ifdef __GLIBC__
    static const bool done = [] {
        mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);
        mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
        return true;
    }();
    (void)done;
#endif
}
}  // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    keepLargeBlocksInTheHeap();
    ownDialogs_ = std::make_unique<QtFileDialogs>();
    dialogs_ = ownDialogs_.get();
    setWindowTitle(QStringLiteral("Cellforge"));
    setWindowIcon(applicationIcon());
    // A window that gains its first OpenGL child after it was shown has its
    // native window recreated, which loses the keyboard activation (Ctrl+N
    // stops working until the user clicks the window). A hidden OpenGL child
    // from the start makes the window OpenGL-composited from its creation.
    auto* primer = new QOpenGLWidget(this);
    primer->hide();
    mdi_ = new QMdiArea(this);
    mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdi_);
    connect(mdi_, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow*) {
        updateTitle();
        updateCommandStates();
    });

    docs_ = std::make_unique<DocumentManager>(mdi_, recent_);
    connect(docs_.get(), &DocumentManager::documentsChanged, this, &CMainFrame::documentsChanged);
    connect(docs_.get(), &DocumentManager::recentFilesChanged, this, &CMainFrame::updateRecentMenu);
    connect(docs_.get(), &DocumentManager::message, this, &CMainFrame::showTransient);
    connect(docs_.get(), &DocumentManager::viewCreated, this, &CMainFrame::connectView);

    actions_ = std::make_unique<ActionSet>(this);
    createMenus();
    createToolBar();
    createEditBar();
    createPanes();
    createStatusBar();
    createPaceControl();
    connectCommands();
    connectEditCommands();
    updateMenuSet();
    updateRecentMenu();
    updateCommandStates();

    connect(&timer_, &QTimer::timeout, this, &CMainFrame::tick);
    timer_.start(50);
    resize(1000, 750);
}

CMainFrame::~CMainFrame() {
    timer_.stop();
    closing_ = true;
    docs_->closeAll();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // Only edited documents ask to be saved; running alone never asks.
    for (CCellforgeDoc* d : std::vector<CCellforgeDoc*>(documents())) {
        if (!confirmClose(d)) {
            event->ignore();
            return;
        }
    }
    timer_.stop();
    closing_ = true;
    docs_->closeAll();
    event->accept();
}

void CMainFrame::showMessage(const QString& text) { showMessageBox(text); }

// ------------------------------------------------------------------ menus and toolbar

QMenu* CMainFrame::buildMenu(const MenuSpec& entry) {
    auto* m = new QMenu(QString::fromUtf8(entry.title), this);
    for (int item : entry.items) {
        switch (item) {
        case layout::Separator: m->addSeparator(); break;
        case layout::RecentFiles:
            m->addSeparator();
            m->addAction(recentPlaceholder_);
            for (int i = 0; i < RecentFileList::kSize; ++i) m->addAction(action(cmd::RecentFile1 + i));
            m->addSeparator();
            connect(m, &QMenu::aboutToShow, this, &CMainFrame::updateRecentMenu);
            break;
        case layout::SavedViews: m->addMenu(savedViewsMenu_); break;
        case layout::WindowList:
            windowMenu_ = m;
            connect(m, &QMenu::aboutToShow, this, &CMainFrame::rebuildWindowList);
            break;
        default: m->addAction(action(item)); break;
        }
    }
    connect(m, &QMenu::aboutToShow, this, &CMainFrame::updateCommandStates);
    return m;
}

void CMainFrame::createMenus() {
    recentPlaceholder_ = new QAction(QStringLiteral("Recent File"), this);
    recentPlaceholder_->setEnabled(false);
    savedViewsMenu_ = new QMenu(QStringLiteral("Saved Views"), this);
    savedViewsMenu_->menuAction()->setData(int(cmd::SavedViews));
    savedViewsMenu_->menuAction()->setObjectName(QStringLiteral("command%1").arg(int(cmd::SavedViews)));
    savedViewsMenu_->menuAction()->setStatusTip(QStringLiteral("Show one of the project's saved views"));
    connect(savedViewsMenu_, &QMenu::aboutToShow, this, &CMainFrame::rebuildSavedViewsMenu);
    for (const MenuSpec& entry : noDocumentMenuLayout()) noDocumentMenus_.push_back(buildMenu(entry));
    for (const MenuSpec& entry : documentMenuLayout()) documentMenus_.push_back(buildMenu(entry));
}

void CMainFrame::createToolBar() {
    toolBar_ = new QToolBar(QStringLiteral("Standard"), this);
    toolBar_->setObjectName(QStringLiteral("toolbar128"));
    toolBar_->setMovable(true);
    toolBar_->setFloatable(true);
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    toolBar_->setIconSize(QSize(16, 15));
    toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    for (int id : toolbarLayout()) {
        if (id == layout::Separator) {
            toolBar_->addSeparator();
            continue;
        }
        QAction* a = action(id);
        a->setIcon(toolbarIcon(id));
        toolBar_->addAction(a);
    }
    addToolBar(Qt::TopToolBarArea, toolBar_);
    connect(action(cmd::ViewToolbar), &QAction::toggled, toolBar_, &QToolBar::setVisible);
    connect(toolBar_, &QToolBar::visibilityChanged, action(cmd::ViewToolbar), [this](bool visible) {
        if (!isHidden()) action(cmd::ViewToolbar)->setChecked(visible);
    });
}

void CMainFrame::createStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusbar59393"));
    // The part under the pointer has a pane of its own, left, where there is
    // room for its long line; messages and prompts cover it for a while.
    hoverPane_ = new ElidedLabel(bar);
    hoverPane_->setObjectName(QStringLiteral("hoverpane"));
    bar->addWidget(hoverPane_, 1);
    // The run state sits with the permanent panes, so no message or hover
    // line ever hides whether the universe is running.
    readyPane_ = new QLabel(QStringLiteral("Ready"), bar);
    readyPane_->setObjectName(QStringLiteral("pane0"));
    readyPane_->setFrameShape(QFrame::Panel);
    readyPane_->setFrameShadow(QFrame::Sunken);
    readyPane_->setMinimumWidth(readyPane_->fontMetrics().horizontalAdvance(QStringLiteral("Stopped at 1000000000")));
    bar->addPermanentWidget(readyPane_);
    linePane_ = new QLabel(bar);
    linePane_->setObjectName(QStringLiteral("pane1"));
    QScreen* screen = QGuiApplication::primaryScreen();
    linePane_->setFixedWidth(screen ? screen->geometry().width() / 4 : 256);
    linePane_->setFrameShape(QFrame::Panel);
    linePane_->setFrameShadow(QFrame::Sunken);
    bar->addPermanentWidget(linePane_);
    // Speed of the active view; its own pane so the six numbers stay as
    // they are.
    speedPane_ = new QLabel(bar);
    speedPane_->setObjectName(QStringLiteral("pane2"));
    speedPane_->setFrameShape(QFrame::Panel);
    speedPane_->setFrameShadow(QFrame::Sunken);
    speedPane_->setMinimumWidth(speedPane_->fontMetrics().horizontalAdvance(QStringLiteral("000000000 gen/s  00.0 fps")));
    bar->addPermanentWidget(speedPane_);
    connect(action(cmd::ViewStatusBar), &QAction::toggled, bar, &QStatusBar::setVisible);
}

QLabel* CMainFrame::statusPane(int index) const {
    switch (index) {
    case 0: return readyPane_;
    case 1: return linePane_;
    case 2: return speedPane_;
    case 3: return hoverPane_;
    default: return nullptr;
    }
}

void CMainFrame::showTransient(const QString& text) { statusBar()->showMessage(text, kTransientMs); }

QString CMainFrame::hoverText() const { return hoverPane_->text(); }

void CMainFrame::showHover(const QString& text) {
    if (text == hoverPane_->text()) return;
    hoverPane_->setFullText(text);
    // Pointing at a part is asking about it: a message covering the pane
    // gives way.
    if (!text.isEmpty()) statusBar()->clearMessage();
}

QString CMainFrame::stateText() const {
    CCellforgeDoc* d = activeDocument();
    if (!d) return QStringLiteral("Ready");
    SteppingDriver& driver = d->engine().driver();
    if (driver.slow.load()) return QStringLiteral("Go Slow");
    if (!d->engine().canGo()) return QStringLiteral("Running");
    if (const auto limit = d->heldAtRunLimit()) return QStringLiteral("Stopped at %1").arg(*limit);
    return QStringLiteral("Stopped");
}

void CMainFrame::updateSpeedPane() {
    CCellforgeView* v = activeView();
    QString text = v ? QStringLiteral("%1 gen/s  %2 fps")
                           .arg(qRound64(v->generationsPerSecond()))
                           .arg(v->framesPerSecond(), 0, 'f', 1)
                     : QString();
    if (CCellforgeDoc* d = v ? v->document() : nullptr) {
        const int pace = d->slowPace();
        text += pace == 0 ? QStringLiteral("  slow: 1/frame")
                          : QStringLiteral("  slow: 1/%1 s").arg(pace / 1000.0, 0, 'f', 1);
        if (paceSlider_->value() != pace / kPaceStepMs) {
            const QSignalBlocker block(paceSlider_);
            paceSlider_->setValue(pace / kPaceStepMs);
        }
    }
    paceSlider_->setEnabled(v != nullptr);
    if (speedPane_->text() != text) speedPane_->setText(text);
}

void CMainFrame::setStatusLine(const QString& text) {
    if (linePane_->text() != text) linePane_->setText(text);
}

QStringList CMainFrame::menuTitles() const {
    QStringList out;
    for (QAction* a : menuBar()->actions())
        if (a->menu()) out << a->text();
    return out;
}

QMenu* CMainFrame::menu(const QString& title) const {
    for (QAction* a : menuBar()->actions())
        if (a->menu() && a->text() == title) return a->menu();
    return nullptr;
}

void CMainFrame::setFileDialogs(FileDialogs* dialogs) { dialogs_ = dialogs ? dialogs : ownDialogs_.get(); }

void CMainFrame::connectView(CCellforgeView* view) {
    connect(view, &CCellforgeView::selectionChanged, this, &CMainFrame::updateCommandStates);
    connect(view, &CCellforgeView::statusLineChanged, this, &CMainFrame::setStatusLine);
    connect(view, &CCellforgeView::hoverTextChanged, this, &CMainFrame::showHover);
    connect(view, &CCellforgeView::message, this, &CMainFrame::showTransient);
    // A watched part shows at once: the Signals pane opens if it was closed.
    connect(view, &CCellforgeView::partWatched, this, [this] {
        action(cmd::ViewSignals)->setChecked(true);
        refreshSignals();
    });
}

void CMainFrame::rebuildSavedViewsMenu() {
    savedViewsMenu_->clear();
    CCellforgeView* v = activeView();
    ViewList* list = v ? v->document()->engine().savedViews() : nullptr;
    if (!list || list->views.empty()) {
        savedViewsMenu_->addAction(QStringLiteral("(no saved views)"))->setEnabled(false);
        return;
    }
    for (size_t i = 0; i < list->views.size(); ++i) {
        const SavedView& sv = list->views[i];
        QString label = QString::fromStdString(sv.description);
        if (label.trimmed().isEmpty())
            label = formatSavedViewLine({QString(), sv.x, sv.y, sv.z, sv.alt, sv.az}).trimmed();
        label.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* a = savedViewsMenu_->addAction(label);
        // Recalled exactly as the Settings dialog recalls a view: whole
        // numbers, written straight into the camera, also while running.
        QPointer<CCellforgeView> target(v);
        const Camera c = recallSavedView(sv);
        connect(a, &QAction::triggered, this, [target, c] {
            if (target) target->setCamera(c);
        });
    }
}

void CMainFrame::cascadeWindows() {
    // The area's own cascade: each window a title bar below and to the right
    // of the one before, in columns when they would run off the bottom, so
    // every title bar stays in sight and can be clicked.
    mdi_->cascadeSubWindows();
}

void CMainFrame::rebuildWindowList() {
    for (QAction* a : windowListActions_) {
        windowMenu_->removeAction(a);
        delete a;
    }
    windowListActions_.clear();
    const auto windows = mdi_->subWindowList(QMdiArea::CreationOrder);
    if (windows.isEmpty()) return;
    windowListActions_.push_back(windowMenu_->addSeparator());
    QMdiSubWindow* current = mdi_->currentSubWindow();
    for (int i = 0; i < windows.size(); ++i) {
        QMdiSubWindow* w = windows[i];
        QString title = w->windowTitle();
        title.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* a = windowMenu_->addAction(i < 9 ? QStringLiteral("&%1 %2").arg(i + 1).arg(title) : title);
        a->setCheckable(true);
        a->setChecked(w == current);
        QPointer<QMdiSubWindow> target(w);
        connect(a, &QAction::triggered, this, [this, target] {
            if (!target) return;
            if (target->isMinimized()) target->showNormal();
            mdi_->setActiveSubWindow(target);
            if (QWidget* view = target->widget()) view->setFocus();
        });
        windowListActions_.push_back(a);
    }
}

// ------------------------------------------------------------------ state

void CMainFrame::documentsChanged() {
    if (closing_) return;
    updateMenuSet();
    updateTitle();
    updateCommandStates();
}

void CMainFrame::updateMenuSet() {
    const bool wantDocument = !documents().empty();
    if (!menuBar()->actions().isEmpty() && wantDocument == showingDocumentMenus_) return;
    menuBar()->clear();
    for (QMenu* m : wantDocument ? documentMenus_ : noDocumentMenus_) menuBar()->addMenu(m);
    showingDocumentMenus_ = wantDocument;
}

void CMainFrame::updateRecentMenu() {
    const QStringList& entries = recent_.entries();
    for (int i = 0; i < RecentFileList::kSize; ++i) {
        QAction* a = action(cmd::RecentFile1 + i);
        if (i < entries.size()) {
            QString shown = QDir::toNativeSeparators(entries[i]);
            shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
            a->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(shown));
            a->setVisible(true);
        } else {
            a->setVisible(false);
        }
    }
    recentPlaceholder_->setVisible(entries.isEmpty());
}

void CMainFrame::updateTitle() {
    CCellforgeDoc* d = activeDocument();
    setWindowTitle(d ? QStringLiteral("Cellforge - %1").arg(d->displayTitle()) : QStringLiteral("Cellforge"));
}

void CMainFrame::updateCommandStates() {
    CCellforgeDoc* d = activeDocument();
    CommandContext context;
    context.haveView = d != nullptr;
    // The worker stops itself at its run-until limit and would stop again
    // at once: Go, Step and Go Slow stay off there, and the status bar says
    // why once, until the limit is raised in Settings.
    const std::optional<uint32_t> limit = d ? d->heldAtRunLimit() : std::nullopt;
    context.stopped = context.haveView && d->engine().canGo();
    context.canGo = context.stopped && !limit;
    if (limit && (limitReported_ != d || limitReportedValue_ != *limit)) {
        showTransient(QStringLiteral("Reached the run-until limit of %1 generations; Run > Settings... raises it").arg(*limit));
        limitReported_ = d;
        limitReportedValue_ = *limit;
    } else if (!limit && limitReported_ == d) {
        limitReported_ = nullptr;
    }
    context.canStop = context.haveView && d->engine().canStop();
    if (d) {
        // One read of the timeline per refresh (it holds the worker), shared
        // with the slider.
        const CCellforgeDoc::TimelineState t = d->timelineState();
        lastTimeline_ = t;
        context.canUndo = t.canUndo;
        context.canRedo = t.canRedo;
        CCellforgeView* v = activeView();
        context.hasSelection = v && v->selection().has_value();
        context.canPaste = clipboardHoldsGrid();
    }
    // Every command that works on a view or its document needs an active
    // view; without one they are all off, toolbar buttons included.
    actions_->updateEnabled(context);
    savedViewsMenu_->menuAction()->setEnabled(context.haveView);
    const QString state = stateText();
    if (readyPane_->text() != state) readyPane_->setText(state);
}

// ------------------------------------------------------------------ timer

void CMainFrame::tick() {
    for (CCellforgeDoc* d : documents()) d->updateAllViews();
    refreshSignals();
    updateCommandStates();
    updateSpeedPane();
    showTimeline(activeDocument() ? &lastTimeline_ : nullptr);
    // A run waits while a dialog is open: the dialog may be working on the
    // very document the run is about to close.
    if (!QApplication::activeModalWidget()) {
        const bool wasRunning = runner_.installed();
        const AnimationSpec* plan = runner_.plan();
        const QString folder = plan ? QString::fromStdString(plan->folder) : QString();
        const size_t entries = plan ? plan->entries.size() : 0;
        runner_.advance(*this);
        if (wasRunning && !runner_.installed()) {
            // Say what was written, not what was planned, and name each entry
            // that gave no picture.
            QString text = QStringLiteral("Animation: finished, %1 of %2 pictures written in %3")
                               .arg(runner_.picturesWritten())
                               .arg(entries)
                               .arg(folder);
            const auto& missing = runner_.missingEntries();
            if (!missing.empty()) {
                QStringList lines;
                for (const std::string& m : missing) lines << QString::fromStdString(m);
                text += QStringLiteral("; missing: ") + lines.join(QStringLiteral("; "));
            }
            showTransient(text);
        }
    }
}

