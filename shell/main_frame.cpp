#include "shell/main_frame.h"

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
#include <QMessageBox>
#include <QOpenGLWidget>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QThread>
#include <QToolBar>

#include <algorithm>
#include <fstream>
#include <limits>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "files/grid_file.h"
#include "files/input_file.h"
#include "files/memory_image.h"
#include "files/project.h"
#include "shell/cellforge_doc.h"
#include "shell/cellforge_view.h"
#include "shell/child_frame.h"
#include "shell/commands.h"
#include "shell/dialogs.h"
#include "shell/file_dialogs.h"
#include "shell/qt_platform.h"
#include "shell/toolbar_icons.h"
#include "view/drive_dump.h"

namespace {
CMainFrame* g_instance = nullptr;

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

CChildFrame::CChildFrame(CCellforgeDoc* doc, QWidget* parent) : QMdiSubWindow(parent), doc_(doc) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(applicationIcon());
    view_ = new CCellforgeView(doc, this);
    setWidget(view_);
}

CMainFrame* CMainFrame::instance() { return g_instance; }

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
    g_instance = this;
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

    createActions();
    createMenus();
    createToolBar();
    createStatusBar();
    connectCommands();
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
    while (!documents_.empty()) closeDocument(documents_.back());
    if (g_instance == this) g_instance = nullptr;
}

// ------------------------------------------------------------------ actions

QAction* CMainFrame::makeAction(int id, const QString& text, const QString& prompt) {
    auto* a = new QAction(text, this);
    a->setData(id);
    a->setObjectName(QStringLiteral("command%1").arg(id));
    if (!prompt.isEmpty()) {
        const qsizetype nl = prompt.indexOf(QLatin1Char('\n'));
        a->setStatusTip(nl < 0 ? prompt : prompt.left(nl));
        if (nl >= 0) a->setToolTip(prompt.mid(nl + 1));
    }
    actions_.insert(id, a);
    return a;
}

void CMainFrame::createActions() {
    using namespace cmd;
    makeAction(FileOpen, QStringLiteral("&Open...\tCtrl+O"), QStringLiteral("Open an existing document\nOpen"))
        ->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
    makeAction(FileNew, QStringLiteral("&New\tCtrl+N"), QStringLiteral("Create a new document\nNew"))
        ->setShortcut(QKeySequence(QStringLiteral("Ctrl+N")));
    makeAction(RunAnimation, QStringLiteral("Run animation..."));
    for (int i = 0; i < RecentFileList::kSize; ++i)
        makeAction(RecentFile1 + i, QString(), QStringLiteral("Open this document"));
    recentPlaceholder_ = new QAction(QStringLiteral("Recent File"), this);
    recentPlaceholder_->setEnabled(false);
    makeAction(Exit, QStringLiteral("E&xit"), QStringLiteral("Quit the application; prompts to save documents\nExit"));
    auto* tb = makeAction(ViewToolbar, QStringLiteral("&Toolbar"), QStringLiteral("Show or hide the toolbar\nToggle ToolBar"));
    tb->setCheckable(true);
    tb->setChecked(true);
    auto* sb = makeAction(ViewStatusBar, QStringLiteral("&Status Bar"),
                          QStringLiteral("Show or hide the status bar\nToggle StatusBar"));
    sb->setCheckable(true);
    sb->setChecked(true);
    makeAction(About, QStringLiteral("&About Cellforge..."),
               QStringLiteral("Display program information, version number and copyright\nAbout"));

    makeAction(FileClose, QStringLiteral("&Close"), QStringLiteral("Close the active document\nClose"));
    makeAction(FileSaveAs, QStringLiteral("Save &As..."), QStringLiteral("Save the active document with a new name\nSave As"));
    makeAction(SaveTerminals, QStringLiteral("Save terminals..."));
    makeAction(WriteDriveCoordinates, QStringLiteral("Write EPS..."),
               QStringLiteral("Write graphics to encapsulated postscript file"));
    makeAction(Regions, QStringLiteral("Regions..."));
    makeAction(CentreOfMass, QStringLiteral("Centre of Mass"));
    // The run keys are the usual debugger keys; F6 stays the pane
    // accelerator, so Go Slow takes F8. Menus list a shortcut beside the
    // item, so the item texts themselves are unchanged.
    makeAction(Go, QStringLiteral("Go"))->setShortcut(QKeySequence(Qt::Key_F5));
    makeAction(Stop, QStringLiteral("Stop"))->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5));
    makeAction(Step, QStringLiteral("Step"))->setShortcut(QKeySequence(Qt::Key_F10));
    makeAction(GoSlow, QStringLiteral("Go Slow"))->setShortcut(QKeySequence(Qt::Key_F8));
    makeAction(FitAll, QStringLiteral("Fit All"), QStringLiteral("Show every drawn part of the universe\nFit All"))
        ->setShortcut(QKeySequence(Qt::Key_Home));
    makeAction(Settings, QStringLiteral("Settings..."));
    makeAction(SaveBitmap, QStringLiteral("Save &Bitmap..."));
    makeAction(AnimationSettings, QStringLiteral("&Animation..."));
    makeAction(WriteMemory, QStringLiteral("Memory..."));
    makeAction(WindowNew, QStringLiteral("&New Window"), QStringLiteral("Open another window for the active document\nNew Window"));
    makeAction(WindowCascade, QStringLiteral("&Cascade"), QStringLiteral("Arrange windows so they overlap\nCascade Windows"));
    makeAction(WindowTileHorz, QStringLiteral("&Tile"), QStringLiteral("Arrange windows as non-overlapping tiles\nTile Windows"));
    makeAction(WindowArrange, QStringLiteral("&Arrange Icons"), QStringLiteral("Arrange icons at the bottom of the window\nArrange Icons"));

    // Commands without a handler: they exist so their buttons and
    // accelerators are there, and stay disabled.
    makeAction(NoHandlerButton, QString());
    makeAction(FilePrint, QStringLiteral("&Print...\tCtrl+P"), QStringLiteral("Print the active document\nPrint"))
        ->setShortcut(QKeySequence(QStringLiteral("Ctrl+P")));
    makeAction(EditCopy, QStringLiteral("&Copy"), QStringLiteral("Copy the selection and put it on the Clipboard\nCopy"))
        ->setShortcuts({QKeySequence(QStringLiteral("Ctrl+C")), QKeySequence(QStringLiteral("Ctrl+Ins"))});
    makeAction(EditPaste, QStringLiteral("&Paste"), QStringLiteral("Insert Clipboard contents\nPaste"))
        ->setShortcuts({QKeySequence(QStringLiteral("Ctrl+V")), QKeySequence(QStringLiteral("Shift+Ins"))});
    makeAction(EditCut, QStringLiteral("Cu&t"), QStringLiteral("Cut the selection and put it on the Clipboard\nCut"))
        ->setShortcuts({QKeySequence(QStringLiteral("Ctrl+X")), QKeySequence(QStringLiteral("Shift+Del"))});
    makeAction(EditUndo, QStringLiteral("&Undo"), QStringLiteral("Undo the last action\nUndo"))
        ->setShortcuts({QKeySequence(QStringLiteral("Ctrl+Z")), QKeySequence(QStringLiteral("Alt+Backspace"))});
    makeAction(NextPane, QStringLiteral("Next Pane"), QStringLiteral("Switch to the next window pane\nNext Pane"))
        ->setShortcut(QKeySequence(QStringLiteral("F6")));
    makeAction(PrevPane, QStringLiteral("Previous Pane"),
               QStringLiteral("Switch back to the previous window pane\nPrevious Pane"))
        ->setShortcut(QKeySequence(QStringLiteral("Shift+F6")));
    for (int id : {int(NoHandlerButton), int(FilePrint), int(EditCopy), int(EditPaste), int(EditCut), int(EditUndo),
                   int(NextPane), int(PrevPane)}) {
        actions_[id]->setEnabled(false);
        addAction(actions_[id]);
    }
    // Ctrl+N has no menu item: the accelerator lives on the window.
    addAction(actions_[FileNew]);
    addAction(actions_[FileOpen]);
    // The run keys and Home work wherever the keyboard focus is in the window.
    for (int id : {int(Go), int(Stop), int(Step), int(GoSlow), int(FitAll)}) addAction(actions_[id]);
}

void CMainFrame::createMenus() {
    using namespace cmd;
    auto addRecentSection = [this](QMenu* m) {
        m->addSeparator();
        m->addAction(recentPlaceholder_);
        for (int i = 0; i < RecentFileList::kSize; ++i) m->addAction(actions_[RecentFile1 + i]);
        m->addSeparator();
        connect(m, &QMenu::aboutToShow, this, [this] {
            updateRecentMenu();
            updateCommandStates();
        });
    };
    auto viewToggles = [this](QMenu* m) {
        m->addAction(actions_[ViewToolbar]);
        m->addAction(actions_[ViewStatusBar]);
    };
    auto help = [this] {
        auto* m = new QMenu(QStringLiteral("&Help"), this);
        m->addAction(actions_[About]);
        return m;
    };

    // ---- no document
    auto* file0 = new QMenu(QStringLiteral("&File"), this);
    file0->addAction(actions_[FileOpen]);
    file0->addAction(actions_[RunAnimation]);
    addRecentSection(file0);
    file0->addAction(actions_[Exit]);
    auto* view0 = new QMenu(QStringLiteral("&View"), this);
    viewToggles(view0);
    noDocumentMenus_ = {file0, view0, help()};

    // ---- a document is open
    auto* file1 = new QMenu(QStringLiteral("&File"), this);
    file1->addAction(actions_[FileOpen]);
    file1->addAction(actions_[FileClose]);
    file1->addAction(actions_[FileSaveAs]);
    file1->addAction(actions_[SaveTerminals]);
    file1->addSeparator();
    file1->addAction(actions_[WriteDriveCoordinates]);
    addRecentSection(file1);
    file1->addAction(actions_[Exit]);
    auto* view1 = new QMenu(QStringLiteral("&View"), this);
    viewToggles(view1);
    view1->addSeparator();
    view1->addAction(actions_[Regions]);
    view1->addAction(actions_[CentreOfMass]);
    view1->addAction(actions_[FitAll]);
    savedViewsMenu_ = new QMenu(QStringLiteral("Saved Views"), this);
    savedViewsMenu_->menuAction()->setData(int(SavedViews));
    savedViewsMenu_->menuAction()->setObjectName(QStringLiteral("command%1").arg(int(SavedViews)));
    savedViewsMenu_->menuAction()->setStatusTip(QStringLiteral("Show one of the project's saved views"));
    view1->addMenu(savedViewsMenu_);
    connect(savedViewsMenu_, &QMenu::aboutToShow, this, &CMainFrame::rebuildSavedViewsMenu);
    auto* run = new QMenu(QStringLiteral("Run"), this);
    for (int id : {Go, Stop, Step, GoSlow}) run->addAction(actions_[id]);
    run->addSeparator();
    run->addAction(actions_[Settings]);
    auto* tools = new QMenu(QStringLiteral("&Tools"), this);
    for (int id : {SaveBitmap, AnimationSettings, WriteMemory}) tools->addAction(actions_[id]);
    auto* window = new QMenu(QStringLiteral("&Window"), this);
    for (int id : {WindowNew, WindowCascade, WindowTileHorz, WindowArrange}) window->addAction(actions_[id]);
    documentMenus_ = {file1, view1, run, tools, window, help()};

    for (QMenu* m : documentMenus_)
        connect(m, &QMenu::aboutToShow, this, &CMainFrame::updateCommandStates);
    for (QMenu* m : noDocumentMenus_)
        connect(m, &QMenu::aboutToShow, this, &CMainFrame::updateCommandStates);
}

void CMainFrame::createToolBar() {
    using namespace cmd;
    toolBar_ = new QToolBar(QStringLiteral("Standard"), this);
    toolBar_->setObjectName(QStringLiteral("toolbar128"));
    toolBar_->setMovable(true);
    toolBar_->setFloatable(true);
    toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
    toolBar_->setIconSize(QSize(16, 15));
    toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    const int order[] = {FileOpen, NoHandlerButton, 0, FilePrint, 0, About, 0, Go, Stop, Step, GoSlow, 0, Settings, 0,
                         WriteDriveCoordinates, 0, FitAll};
    for (int id : order) {
        if (id == 0) {
            toolBar_->addSeparator();
            continue;
        }
        QAction* a = actions_[id];
        a->setIcon(toolbarIcon(id));
        toolBar_->addAction(a);
    }
    addToolBar(Qt::TopToolBarArea, toolBar_);
    connect(actions_[ViewToolbar], &QAction::toggled, toolBar_, &QToolBar::setVisible);
    connect(toolBar_, &QToolBar::visibilityChanged, actions_[ViewToolbar], [this](bool visible) {
        if (!isHidden()) actions_[cmd::ViewToolbar]->setChecked(visible);
    });
}

void CMainFrame::createStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusbar59393"));
    readyPane_ = new QLabel(QStringLiteral("Ready"), bar);
    readyPane_->setObjectName(QStringLiteral("pane0"));
    bar->addWidget(readyPane_, 1);
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
    connect(actions_[cmd::ViewStatusBar], &QAction::toggled, bar, &QStatusBar::setVisible);
}

QLabel* CMainFrame::statusPane(int index) const {
    switch (index) {
    case 0: return readyPane_;
    case 1: return linePane_;
    case 2: return speedPane_;
    default: return nullptr;
    }
}

void CMainFrame::showTransient(const QString& text) {
    hoverText_.clear();
    statusBar()->showMessage(text, kTransientMs);
}

void CMainFrame::showHover(const QString& text) {
    QStatusBar* bar = statusBar();
    if (text.isEmpty()) {
        if (!hoverText_.isEmpty() && bar->currentMessage() == hoverText_) bar->clearMessage();
        hoverText_.clear();
        return;
    }
    // Pointing at a part is asking about it: its line takes the place of
    // whatever message was showing.
    if (text == hoverText_ && bar->currentMessage() == text) return;
    hoverText_ = text;
    bar->showMessage(text);
}

QString CMainFrame::stateText() const {
    CCellforgeDoc* d = activeDocument();
    if (!d) return QStringLiteral("Ready");
    SteppingDriver& driver = d->engine().driver();
    if (driver.slow.load()) return QStringLiteral("Go Slow");
    return d->engine().canGo() ? QStringLiteral("Stopped") : QStringLiteral("Running");
}

void CMainFrame::updateSpeedPane() {
    CCellforgeView* v = activeView();
    const QString text = v ? QStringLiteral("%1 gen/s  %2 fps")
                                 .arg(qRound64(v->generationsPerSecond()))
                                 .arg(v->framesPerSecond(), 0, 'f', 1)
                           : QString();
    if (speedPane_->text() != text) speedPane_->setText(text);
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
        const SavedViewRecord record{QString(), sv.x, sv.y, sv.z, sv.alt, sv.az};
        connect(a, &QAction::triggered, this, [target, record] {
            if (!target) return;
            const SavedViewLineFields f = parseSavedViewLine(formatSavedViewLine(record));
            Camera c;
            c.x = f.x ? f.x->toFloat() : 0.0f;
            c.y = f.y ? f.y->toFloat() : 0.0f;
            c.z = f.z ? f.z->toFloat() : 0.0f;
            c.alt = f.alt ? f.alt->toFloat() : 0.0f;
            c.az = f.az ? f.az->toFloat() : 0.0f;
            target->setCamera(c);
        });
    }
}

void CMainFrame::cascadeWindows() {
    // Each window is offset by a title bar from the one before and sized so
    // that all of them fit, but never below two thirds of the area: a
    // cascade is for choosing among overlapping, usable windows.
    QList<QMdiSubWindow*> windows;
    for (QMdiSubWindow* w : mdi_->subWindowList(QMdiArea::CreationOrder))
        if (!w->isMinimized() && !w->isHidden()) windows << w;
    if (windows.isEmpty()) return;
    const QSize area = mdi_->viewport()->size();
    const int step = std::max(16, style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, windows.front()) + 4);
    const int n = int(windows.size());
    const int w = std::max(std::min(area.width(), 200), std::max(area.width() * 2 / 3, area.width() - step * (n - 1)));
    const int h = std::max(std::min(area.height(), 150), std::max(area.height() * 2 / 3, area.height() - step * (n - 1)));
    const int room = std::max(1, std::min((area.width() - w) / step, (area.height() - h) / step) + 1);
    for (int i = 0; i < n; ++i) {
        QMdiSubWindow* sub = windows[i];
        if (sub->isMaximized()) sub->showNormal();
        const int k = i % room;
        sub->setGeometry(k * step, k * step, w, h);
        sub->raise();
    }
    mdi_->setActiveSubWindow(windows.back());
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

void CMainFrame::connectCommands() {
    using namespace cmd;
    auto on = [this](int id, auto handler) { connect(actions_[id], &QAction::triggered, this, handler); };
    on(FileOpen, &CMainFrame::onFileOpen);
    on(FileNew, [this] { newDocument(); });
    on(RunAnimation, &CMainFrame::onRunAnimation);
    for (int i = 0; i < RecentFileList::kSize; ++i) on(RecentFile1 + i, [this, i] { openRecentProject(i + 1); });
    on(Exit, [this] { close(); });
    on(About, &CMainFrame::onAbout);
    on(FileClose, [this] {
        if (CCellforgeDoc* d = activeDocument()) closeDocument(d);
    });
    on(FileSaveAs, &CMainFrame::onFileSaveAs);
    on(SaveTerminals, &CMainFrame::onSaveTerminals);
    on(WriteDriveCoordinates, &CMainFrame::onWriteDriveCoordinates);
    on(Regions, &CMainFrame::onRegions);
    on(CentreOfMass, &CMainFrame::onCentreOfMass);
    on(Go, [this] {
        if (CCellforgeDoc* d = activeDocument(); d && d->engine().canGo()) d->engine().runCommand();
        updateCommandStates();
    });
    on(Stop, [this] {
        if (CCellforgeDoc* d = activeDocument(); d && d->engine().canStop()) d->engine().stopCommand();
        updateCommandStates();
    });
    on(Step, [this] {
        if (CCellforgeDoc* d = activeDocument(); d && d->engine().canStep()) d->engine().stepCommand();
        updateCommandStates();
    });
    on(GoSlow, [this] {
        if (CCellforgeDoc* d = activeDocument(); d && d->engine().canGoSlow()) d->engine().slowCommand();
        updateCommandStates();
    });
    on(Settings, &CMainFrame::onSettings);
    on(SaveBitmap, &CMainFrame::onSaveBitmap);
    on(AnimationSettings, &CMainFrame::onAnimationDialog);
    on(WriteMemory, &CMainFrame::onWriteMemory);
    on(WindowNew, [this] {
        if (CCellforgeDoc* d = activeDocument()) newWindow(d);
    });
    on(WindowCascade, &CMainFrame::cascadeWindows);
    on(FitAll, &CMainFrame::onFitAll);
    on(WindowTileHorz, [this] { mdi_->tileSubWindows(); });
    on(WindowArrange, &CMainFrame::onArrangeIcons);
}

// ------------------------------------------------------------------ state

void CMainFrame::updateMenuSet() {
    const bool wantDocument = !documents_.empty();
    if (!menuBar()->actions().isEmpty() && wantDocument == showingDocumentMenus_) return;
    menuBar()->clear();
    for (QMenu* m : wantDocument ? documentMenus_ : noDocumentMenus_) menuBar()->addMenu(m);
    showingDocumentMenus_ = wantDocument;
}

void CMainFrame::updateRecentMenu() {
    const QStringList& entries = recent_.entries();
    for (int i = 0; i < RecentFileList::kSize; ++i) {
        QAction* a = actions_[cmd::RecentFile1 + i];
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
    setWindowTitle(d ? QStringLiteral("Cellforge - %1").arg(d->title()) : QStringLiteral("Cellforge"));
}

CCellforgeView* CMainFrame::activeView() const {
    // currentSubWindow keeps its answer while a dialog or another
    // application has the focus, unlike activeSubWindow.
    auto* frame = qobject_cast<CChildFrame*>(mdi_->currentSubWindow());
    if (!frame) {
        const auto list = mdi_->subWindowList(QMdiArea::ActivationHistoryOrder);
        if (!list.isEmpty()) frame = qobject_cast<CChildFrame*>(list.last());
    }
    return frame ? frame->view() : nullptr;
}

CCellforgeDoc* CMainFrame::activeDocument() const {
    CCellforgeView* v = activeView();
    return v ? v->document() : nullptr;
}

void CMainFrame::updateCommandStates() {
    using namespace cmd;
    CCellforgeDoc* d = activeDocument();
    const bool haveDoc = d != nullptr;
    // Every command that works on a view or its document needs an active
    // view; without one they are all off, toolbar buttons included.
    for (int id : {FileClose, FileSaveAs, SaveTerminals, WriteDriveCoordinates, SaveBitmap, AnimationSettings, CentreOfMass,
                   Regions, WriteMemory, WindowNew, WindowCascade, WindowTileHorz, WindowArrange, FitAll})
        actions_[id]->setEnabled(haveDoc);
    savedViewsMenu_->menuAction()->setEnabled(haveDoc);
    const QString state = stateText();
    if (readyPane_->text() != state) readyPane_->setText(state);
    const bool canGo = haveDoc && d->engine().canGo();
    actions_[Go]->setEnabled(canGo);
    actions_[Step]->setEnabled(haveDoc && d->engine().canStep());
    actions_[GoSlow]->setEnabled(haveDoc && d->engine().canGoSlow());
    actions_[Settings]->setEnabled(canGo);
    actions_[Stop]->setEnabled(haveDoc && d->engine().canStop());
}

// ------------------------------------------------------------------ timer

void CMainFrame::tick() {
    for (CCellforgeDoc* d : documents_) d->updateAllViews();
    updateCommandStates();
    updateSpeedPane();
    // A run waits while a dialog is open: the dialog may be working on the
    // very document the run is about to close.
    if (!QApplication::activeModalWidget()) {
        const bool wasRunning = runner_.installed();
        const AnimationSpec* plan = runner_.plan();
        const QString folder = plan ? QString::fromStdString(plan->folder) : QString();
        const size_t entries = plan ? plan->entries.size() : 0;
        runner_.advance(*this);
        if (wasRunning && !runner_.installed())
            showTransient(QStringLiteral("Animation: finished, %1 entries, pictures in %2").arg(entries).arg(folder));
    }
}

// ------------------------------------------------------------------ documents

CChildFrame* CMainFrame::addChildWindow(CCellforgeDoc* doc) {
    auto* frame = new CChildFrame(doc);
    mdi_->addSubWindow(frame);
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
        frame->setWindowTitle(views.size() == 1 ? doc->title() : QStringLiteral("%1:%2").arg(doc->title()).arg(i + 1));
    }
}
}  // namespace

void CMainFrame::watchDocument(CCellforgeDoc* doc) {
    connect(doc, &CCellforgeDoc::titleChanged, this, [this, doc] {
        retitleWindows(doc);
        updateTitle();
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
                updateTitle();
                updateCommandStates();
            },
            Qt::QueuedConnection);
    });
}

CCellforgeDoc* CMainFrame::newDocument() {
    auto* doc = new CCellforgeDoc(this);
    if (!doc->onNewDocument()) {
        delete doc;
        return nullptr;
    }
    doc->setTitle(QStringLiteral("Forge%1").arg(++untitledCount_));
    watchDocument(doc);
    documents_.push_back(doc);
    updateMenuSet();
    addChildWindow(doc);
    updateTitle();
    updateCommandStates();
    return doc;
}

CCellforgeDoc* CMainFrame::openDocument(const QString& path) { return openDocument(path, true); }

CCellforgeDoc* CMainFrame::openDocument(const QString& path, bool addToRecent) {
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
            if (CCellforgeView* v = d->firstView()) mdi_->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(v->parentWidget()));
            if (addToRecent) recent_.add(full);
            return d;
        }
    }
    auto* doc = new CCellforgeDoc(this);
    if (!doc->onOpenDocument(path)) {
        delete doc;
        return nullptr;
    }
    watchDocument(doc);
    documents_.push_back(doc);
    updateMenuSet();
    addChildWindow(doc);
    if (addToRecent) recent_.add(full);
    updateRecentMenu();
    updateTitle();
    updateCommandStates();
    return doc;
}

CCellforgeView* CMainFrame::newWindow(CCellforgeDoc* doc) {
    CChildFrame* frame = addChildWindow(doc);
    return frame->view();
}

void CMainFrame::closeDocument(CCellforgeDoc* doc) {
    auto it = std::find(documents_.begin(), documents_.end(), doc);
    if (it == documents_.end()) return;
    documents_.erase(it);
    // Windows first: each view unregisters its centre from the worker.
    std::vector<QWidget*> frames;
    for (CCellforgeView* v : doc->views())
        if (v->parentWidget()) frames.push_back(v->parentWidget());
    for (QWidget* f : frames) {
        mdi_->removeSubWindow(f);
        delete f;
    }
    delete doc;  // stops the worker, then frees the run objects and the universe
    if (!closing_) {
        updateMenuSet();
        updateTitle();
        updateCommandStates();
    }
}

bool CMainFrame::hasDocument(uintptr_t doc) const {
    for (CCellforgeDoc* d : documents_)
        if (reinterpret_cast<uintptr_t>(d) == doc) return true;
    return false;
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // Exit never asks to save: documents are closed as they are.
    timer_.stop();
    closing_ = true;
    while (!documents_.empty()) closeDocument(documents_.back());
    event->accept();
}

// ------------------------------------------------------------------ messages

void CMainFrame::showMessage(const QString& text) {
    auto show = [text] {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Cellforge"), text, QMessageBox::Ok, g_instance);
        box.exec();
    };
    if (QThread::currentThread() == qApp->thread())
        show();
    else
        QMetaObject::invokeMethod(qApp, show, Qt::QueuedConnection);
}

void CMainFrame::setFileDialogs(FileDialogs* dialogs) { dialogs_ = dialogs ? dialogs : ownDialogs_.get(); }

// ------------------------------------------------------------------ application commands

namespace {
// Why a path cannot be read as a project, or empty when it can be tried.
// A folder opens as a stream on this system and would reach the reader.
QString unreadableReason(const QFileInfo& info) {
    if (!info.exists()) return QStringLiteral("no such file");
    if (info.isDir()) return QStringLiteral("it is a folder");
    if (!info.isFile()) return QStringLiteral("it is not a regular file");
    if (!info.isReadable()) return QStringLiteral("it cannot be read");
    return QString();
}
}  // namespace

void CMainFrame::reportProjectLoad(const QString& projectPath, const ProjectLoadResult& result) {
    const QString name = QFileInfo(projectPath).fileName();
    if (!result.files.grid) {
        showTransient(QStringLiteral("Project %1 names no grid file; nothing was opened").arg(name));
        return;
    }
    const QString grid = QString::fromStdString(*result.files.grid);
    CCellforgeDoc* doc = nullptr;
    for (CCellforgeDoc* d : documents_)
        if (&d->engine() == result.document) doc = d;
    if (!doc) {
        showTransient(QStringLiteral("Project %1: the grid %2 could not be opened").arg(name, grid));
        return;
    }
    if (!QFileInfo(grid).isFile()) {
        showTransient(QStringLiteral("Project %1: the grid %2 is missing; the universe is empty").arg(name, grid));
        return;
    }
    size_t parts = 0;
    doc->engine().withUniverse([&](Universe& u) { parts = u.partCount(); });
    const ViewList* views = doc->engine().savedViews();
    const size_t saved = views ? views->views.size() : 0;
    QString text = QStringLiteral("Opened %1: %2 parts. Home (View > Fit All) shows them all").arg(name).arg(parts);
    if (saved > 0) text += QStringLiteral("; View > Saved Views lists %1 views").arg(saved);
    showTransient(text);
}

bool CMainFrame::openProjectFile(const QString& path) {
    QFileInfo info(path);
    // Checked before any reader sees the path; a path that failed here is
    // not put on the recent-file list.
    const QString why = unreadableReason(info);
    if (!why.isEmpty()) {
        showTransient(QStringLiteral("Could not open project %1: %2").arg(QDir::toNativeSeparators(path), why));
        return false;
    }
    // Opened without blocking: the path may have turned into a FIFO since
    // it was checked.
    InputFile in(info.absoluteFilePath().toStdString());
    if (!in.isOpen()) {
        showTransient(QStringLiteral("Could not open project %1").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    // Project files name their files relative to the project's folder.
    QDir::setCurrent(info.absolutePath());
    recent_.add(info.absoluteFilePath());
    QtPlatform platform(*this);
    const ProjectLoadResult result = loadProject(platform, in, info.absolutePath().toStdString());
    updateRecentMenu();
    reportProjectLoad(info.absoluteFilePath(), result);
    return true;
}

bool CMainFrame::openRecentProject(int n) {
    const QString entry = recent_.entry(n);
    if (entry.isEmpty()) return false;
    const QString why = unreadableReason(QFileInfo(entry));
    if (!why.isEmpty()) {
        showTransient(QStringLiteral("Could not open project %1: %2").arg(QDir::toNativeSeparators(entry), why));
        return false;
    }
    QtPlatform platform(*this);
    ProjectLoadResult result;
    const bool ok = loadProjectFromPath(platform, entry.toStdString(), &result);
    updateRecentMenu();
    if (ok)
        reportProjectLoad(entry, result);
    else
        showTransient(QStringLiteral("Could not open project %1").arg(QDir::toNativeSeparators(entry)));
    return ok;
}

void CMainFrame::onFileOpen() {
    auto path = dialogs_->openFile(this, QStringLiteral("prj"), QStringLiteral("Cellforge project file (*.prj)|*.prj||"));
    if (path) openProjectFile(*path);
}

bool CMainFrame::runAnimationFile(const QString& path) {
    const QString why = unreadableReason(QFileInfo(path));
    InputFile in(path.toStdString());
    if (!why.isEmpty() || !in.isOpen()) {
        showTransient(QStringLiteral("Could not open animation file %1%2")
                          .arg(QDir::toNativeSeparators(path), why.isEmpty() ? QString() : QString(QStringLiteral(": ") + why)));
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
    if (d->onSaveDocument(*path))
        showTransient(QStringLiteral("Saved the universe as %1").arg(shown));
    else
        showTransient(QStringLiteral("Could not save the universe as %1").arg(shown));
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
        showTransient(QStringLiteral("Could not write terminals to %1").arg(shown));
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
    showTransient(v->saveBitmap(*path) ? QStringLiteral("Saved the picture as %1").arg(shown)
                                       : QStringLiteral("Could not save the picture as %1").arg(shown));
}

void CMainFrame::onWriteDriveCoordinates() {
    CCellforgeView* v = activeView();
    if (!v) return;
    const QString path = QString::fromLatin1(kDriveDumpFile);
    const QString shown = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    showTransient(v->writeDriveCoordinates(path) ? QStringLiteral("Wrote Drive coordinates to %1").arg(shown)
                                                 : QStringLiteral("Could not write Drive coordinates to %1").arg(shown));
}

void CMainFrame::onFitAll() {
    CCellforgeView* v = activeView();
    if (!v) return;
    if (!v->fitAll()) showTransient(QStringLiteral("Fit All: nothing to show"));
}

void CMainFrame::onAnimationDialog() {
    CCellforgeView* v = activeView();
    if (!v) return;
    AnimationDialog d(this);
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
    Camera nc;
    nc.x = f.x;
    nc.y = f.y;
    nc.z = f.z;
    nc.alt = f.alt;
    nc.az = f.az;
    v->setCamera(nc);
    v->setDescription(dialog.description());
}

void CMainFrame::onCentreOfMass() {
    CCellforgeView* v = activeView();
    if (!v) return;
    double cx, cy, cz;
    // An empty universe has no centre; the camera then stays where it is.
    if (!v->document()->engine().centreOfMass(cx, cy, cz)) return;
    Camera c;
    c.x = float(cx);
    c.y = float(cy);
    c.z = float(cz + 50.0);
    c.alt = 0;
    c.az = 0;
    v->setCamera(c);
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
    // A folder would open as a stream and reach the reader.
    const QString why = unreadableReason(QFileInfo(f.path));
    InputFile in(f.path.toStdString());
    if (!why.isEmpty() || !in.isOpen()) {
        showTransient(QStringLiteral("Memory: could not open %1%2")
                          .arg(shown, why.isEmpty() ? QString() : QString(QStringLiteral(": ") + why)));
        return;
    }
    std::vector<int32_t> image = readProgramImage(in);
    if (image.empty()) {
        showTransient(QStringLiteral("Memory: %1 holds no program image; nothing written").arg(shown));
        return;
    }
    // Count the modules the image covers that are there (any memory part
    // on a module's loop): the writer skips positions without one, so
    // "nothing written" is worth saying.
    const size_t pages = (image.size() + 255) / 256;
    size_t present = 0;
    d->engine().withUniverse([&](Universe& u) {
        constexpr int64_t lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
        for (size_t i = 0; i < pages; ++i) {
            bool found = false;
            for (int p = 0; p < 256 && !found; ++p) {
                int64_t y = 0, z = 0;
                memoryLoopPosition(f.y, f.z, p, y, z);
                for (int b = 0; b < 6 && !found; ++b) {
                    const int64_t x = int64_t(f.x) + 6 * int64_t(i) + b;
                    if (x < lo || x > hi || y < lo || y > hi || z < lo || z > hi) continue;
                    CellRef c = u.findCell(int32_t(x), int32_t(y), int32_t(z));
                    if (!c) continue;
                    const int32_t type = c.block->partType(c.slot);
                    found = type == NorGate || type == Conductor;
                }
            }
            present += found;
        }
    });
    d->engine().writeMemory(f.x, f.y, f.z, uint32_t(f.offset), image);
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
    return reinterpret_cast<uintptr_t>(openDocument(QString::fromStdString(path), false));
}

void CMainFrame::showEntry(uintptr_t handle, const AnimationEntry& entry) {
    if (!hasDocument(handle)) return;
    auto* d = reinterpret_cast<CCellforgeDoc*>(handle);
    CCellforgeView* v = d->firstView();
    if (!v) return;
    int32_t ax = 0, ay = 0, az = 0;
    d->engine().withUniverse([&](Universe& u) { u.findMarker(ax, ay, az); });
    Camera c;
    c.alt = entry.alt;
    c.az = entry.az;
    c.x = float(double(entry.x) + ax);
    c.y = float(double(entry.y) + ay);
    c.z = float(double(entry.z) + az);
    v->setCamera(c);
    if (QWidget* frame = v->parentWidget()) frame->showMaximized();
    v->renderNow();
}

bool CMainFrame::saveFirstViewBitmap(uintptr_t handle, const std::string& path) {
    if (!hasDocument(handle)) return false;
    CCellforgeView* v = reinterpret_cast<CCellforgeDoc*>(handle)->firstView();
    const bool ok = v && v->saveBitmap(QString::fromStdString(path));
    if (const AnimationSpec* plan = runner_.plan()) {
        const QString progress =
            QStringLiteral("Animation: frame %1 of %2").arg(plan->currentIndex + 1).arg(plan->entries.size());
        showTransient(ok ? progress
                         : QString(progress + QStringLiteral(" could not be written to %1").arg(QString::fromStdString(path))));
    }
    return ok;
}

void CMainFrame::closeDocument(uintptr_t handle) {
    if (hasDocument(handle)) closeDocument(reinterpret_cast<CCellforgeDoc*>(handle));
}
