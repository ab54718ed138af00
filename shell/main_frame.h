// The main window: menus, toolbar, status bar, the 50 ms timer, the
// application-level commands and the animation runner.
//
// Design note
//   Every command is a QAction whose data is its command identifier, built
//   from the command table (action_table.h), so the same action serves a
//   menu item, a toolbar button and an accelerator, and can be found by
//   identifier. Enable states are recomputed from the active view and
//   document (on every tick, on activation and before a menu opens) rather
//   than pushed by each change, so no path can leave a stale state.
//
//   Two menu sets exist at once; the menu bar shows the "no document" set or
//   the document set depending on whether any document is open. Actions that
//   appear in both sets are the same objects.
//
//   The documents belong to a DocumentManager (document_manager.h); the
//   main window shows what it and the views report through their signals.
//   The command handlers live in main_frame_commands.cpp.
#pragma once

#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

#include "shell/action_table.h"
#include "shell/animation_run.h"
#include "shell/cellforge_doc.h"
#include "shell/document_manager.h"
#include "shell/recent_files.h"
#include "shell/statistics.h"

class QAction;
class QButtonGroup;
class QComboBox;
class QDockWidget;
class QSlider;
class ElidedLabel;
class QLabel;
class QMdiArea;
class QMenu;
class QToolBar;
class CCellforgeDoc;
class CCellforgeView;
class FileDialogs;

class CMainFrame : public QMainWindow, private AnimationHost {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    QAction* action(int commandId) const { return (*actions_)[commandId]; }
    QMdiArea* mdiArea() const { return mdi_; }
    QToolBar* toolBar() const { return toolBar_; }
    // Status panes: 0 the run state, 1 the counters line, 2 the speed, 3 the
    // part under the pointer.
    QLabel* statusPane(int index) const;
    // Titles of the menus in the menu bar, in order.
    QStringList menuTitles() const;
    QMenu* menu(const QString& title) const;

    // ---- documents (kept by the document manager)
    DocumentManager& documentManager() { return *docs_; }
    const std::vector<CCellforgeDoc*>& documents() const { return docs_->documents(); }
    CCellforgeView* activeView() const { return docs_->activeView(); }
    CCellforgeDoc* activeDocument() const { return docs_->activeDocument(); }
    // The framework's new-document operation (Ctrl+N).
    CCellforgeDoc* newDocument() { return docs_->newDocument(); }
    // The open-document operation: a new document, window and view reading
    // the grid; none (and no window) when the path is not a grid. Adds the
    // path to the recent-file list on success.
    CCellforgeDoc* openDocument(const QString& path) { return docs_->openDocument(path, true); }
    void closeDocument(CCellforgeDoc* doc) { docs_->closeDocument(doc); }
    // Another child window with its own view on the document ("&New Window").
    CCellforgeView* newWindow(CCellforgeDoc* doc) { return docs_->newWindow(doc); }

    // ---- application commands, callable directly (tests, command line)
    // Opens and loads a project file as "&Open..." does after its dialog.
    bool openProjectFile(const QString& path) { return docs_->openProjectFile(path); }
    // A recent entry: the project's folder becomes the current directory.
    bool openRecentProject(int n) { return docs_->openRecentProject(n); }
    // Reads and installs an animation run list; false when unreadable.
    bool runAnimationFile(const QString& path);

    RecentFileList& recentFiles() { return recent_; }
    AnimationRunner& animationRunner() { return runner_; }
    // Dialog provider; the frame keeps using the given one until replaced.
    void setFileDialogs(FileDialogs* dialogs);
    FileDialogs& fileDialogs() const { return *dialogs_; }

    // Panes: 0 the run state, 1 the counters line, 2 the speed, 3 the part
    // under the pointer.
    // Status pane 1 text (the line written after every frame).
    void setStatusLine(const QString& text);
    // A message in the status bar's left part for a few seconds (what a
    // file operation did, or why it could not).
    void showTransient(const QString& text);
    static constexpr int kTransientMs = 6000;
    // The hover line for the part under the pointer, in its own pane;
    // empty takes it away.
    void showHover(const QString& text);
    QString hoverText() const;
    // The text pane 0 shows while no message covers it: "Ready" without a
    // document, else the active document's run state.
    QString stateText() const;
    // The View menu's saved-views submenu, rebuilt from the active document
    // each time it opens.
    QMenu* savedViewsMenu() const { return savedViewsMenu_; }
    void rebuildSavedViewsMenu();
    // Cascades the child windows with every title bar in sight.
    void cascadeWindows();
    // The Window menu's list of child windows, rebuilt each time it opens.
    void rebuildWindowList();
    const std::vector<QAction*>& windowListActions() const { return windowListActions_; }

    // One timer tick, exposed so tests can drive time deterministically.
    void tick();
    QTimer& timer() { return timer_; }

    // Recomputes every command's enabled state from the active view.
    void updateCommandStates();

    // ---- editing (main_frame_edit.cpp)
    QToolBar* editToolBar() const { return editBar_; }
    QButtonGroup* partPalette() const { return paletteGroup_; }
    QSlider* timelineSlider() const { return timelineSlider_; }
    // Puts the active view's selection on the clipboard as grid text.
    bool copySelection();
    // Places the clipboard's grid text with its low corner on the empty cell
    // in front of what lies under `pos` (one undo step); the pasted parts
    // become the view's selection.
    bool pasteAt(CCellforgeView* view, QPoint pos);
    // Goes to a generation of the active document (its worker stops).
    void jumpToGeneration(uint32_t generation);
    void updateTimelineBar();
    // Asks whether to save an edited document; false when the user cancels
    // (or the save fails). Unedited documents pass without a question.
    bool confirmClose(CCellforgeDoc* doc);

    // ---- panes and pictures
    // The legend dock (View > Legend); hidden until asked for.
    QDockWidget* legendDock() const { return legendDock_; }
    // The Signals dock (View > Signals) and its pane, which follows the
    // active document; hidden until asked for. While it shows, every
    // document records its lanes.
    QDockWidget* signalsDock() const { return signalsDock_; }
    class SignalsPane* signalsPane() const { return signalsPane_; }
    void refreshSignals();
    // Puts the active view's picture on the clipboard; false without a view
    // or before its first frame.
    bool copyPicture();
    // The active document's counts, read with its worker held, and the
    // active view's rate; none without a view.
    std::optional<UniverseStatistics> statistics();
    // Go Slow's pace for the active document, in the status bar: 0 is one
    // generation per frame, each step 100 ms more, up to one per second.
    QSlider* paceSlider() const { return paceSlider_; }
    static constexpr int kPaceStepMs = 100;

    // Shows a modal message box with an OK button; safe to call from any
    // thread (off the user-interface thread it is queued, not waited for).
    static void showMessage(const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // AnimationHost
    uintptr_t openGridDocument(const std::string& path) override;
    void showEntry(uintptr_t doc, const AnimationEntry& entry) override;
    bool saveFirstViewBitmap(uintptr_t doc, const std::string& path) override;
    void closeDocument(uintptr_t doc) override;
    void entryMissing(size_t index, const AnimationEntry& entry, const std::string& why) override;

    void createMenus();
    QMenu* buildMenu(const MenuSpec& entry);
    void createToolBar();
    void createStatusBar();
    void connectCommands();
    void connectView(CCellforgeView* view);
    void documentsChanged();
    void updateMenuSet();
    void updateRecentMenu();
    void updateTitle();

    // command handlers (main_frame_commands.cpp)
    void onFileOpen();
    void onRunAnimation();
    void onFileSaveAs();
    void onSaveTerminals();
    void onSaveBitmap();
    void onWriteDriveCoordinates();
    void onAnimationDialog();
    void onSettings();
    void onCentreOfMass();
    void onRegions();
    void onWriteMemory();
    void onAbout();
    void onArrangeIcons();
    void onFitAll(bool everything);
    void onRunCommand(int id);
    void updateSpeedPane();
    void createEditBar();
    void createPanes();
    void createPaceControl();
    void connectEditCommands();
    void onUndoRedo(bool redo);
    bool clipboardHoldsGrid();
    void showTimeline(const CCellforgeDoc::TimelineState* state);

    RecentFileList recent_;
    QMdiArea* mdi_ = nullptr;
    std::unique_ptr<DocumentManager> docs_;
    std::unique_ptr<ActionSet> actions_;
    QToolBar* toolBar_ = nullptr;
    QToolBar* editBar_ = nullptr;
    QToolBar* paletteBar_ = nullptr;
    QToolBar* timelineBar_ = nullptr;
    QDockWidget* legendDock_ = nullptr;
    QDockWidget* signalsDock_ = nullptr;
    class SignalsPane* signalsPane_ = nullptr;
    QSlider* paceSlider_ = nullptr;
    QButtonGroup* paletteGroup_ = nullptr;
    QComboBox* frontBox_ = nullptr;
    QComboBox* sideBox_ = nullptr;
    QSlider* timelineSlider_ = nullptr;
    QLabel* timelineLabel_ = nullptr;
    CCellforgeDoc::TimelineState lastTimeline_;  // as the last refresh read it
    bool clipboardChecked_ = false;
    bool clipboardHoldsGrid_ = false;
    QLabel* readyPane_ = nullptr;
    QLabel* linePane_ = nullptr;
    QLabel* speedPane_ = nullptr;
    ElidedLabel* hoverPane_ = nullptr;
    QPointer<CCellforgeDoc> limitReported_;  // the document whose run-until stop was announced
    uint32_t limitReportedValue_ = 0;        // and at which limit
    QMenu* savedViewsMenu_ = nullptr;
    QMenu* windowMenu_ = nullptr;
    std::vector<QAction*> windowListActions_;  // separator, then one per child window
    QAction* recentPlaceholder_ = nullptr;  // shown while the list is empty
    std::vector<QMenu*> noDocumentMenus_;
    std::vector<QMenu*> documentMenus_;
    bool showingDocumentMenus_ = false;
    std::unique_ptr<FileDialogs> ownDialogs_;
    FileDialogs* dialogs_ = nullptr;
    AnimationRunner runner_;
    QTimer timer_;
    bool closing_ = false;
};
