// The open documents of the desktop program and the ways they come and go:
// new, open (a grid as a document, a project through the loader, a recent
// entry), find, close, and another window on one.
//
// Design note
//   The manager owns the documents; their windows are sub-windows of the
//   main window's area, and a document goes when its last window is closed.
//   It knows nothing of menus or panes: it says what changed through
//   signals (documentsChanged, message, viewCreated), and the main window
//   decides what that means for the menu set, the title and the status bar.
//   Closing a document closes its windows first, so that each view
//   unregisters its centre from the worker before the worker is stopped.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

class QMdiArea;
class CellforgeDocument;
class CCellforgeDoc;
class CCellforgeView;
class CChildFrame;
class RecentFileList;
struct ProjectLoadResult;

class DocumentManager : public QObject {
    Q_OBJECT
public:
    DocumentManager(QMdiArea* area, RecentFileList& recent, QObject* parent = nullptr);
    ~DocumentManager() override;

    const std::vector<CCellforgeDoc*>& documents() const { return documents_; }
    bool hasDocument(uintptr_t handle) const;
    CCellforgeDoc* find(const CellforgeDocument* engine) const;
    CCellforgeView* activeView() const;
    CCellforgeDoc* activeDocument() const;

    // The framework's new-document operation (Ctrl+N).
    CCellforgeDoc* newDocument();
    // A new document, window and view reading the grid; none (and no
    // window) when the path is not a grid. An already open grid is
    // activated and returned instead.
    CCellforgeDoc* openDocument(const QString& path, bool addToRecent);
    void closeDocument(CCellforgeDoc* doc);
    // Closes every document (exit); no signals afterwards.
    void closeAll();
    // Another child window with its own view on the document.
    CCellforgeView* newWindow(CCellforgeDoc* doc);

    // Opens and loads a project file as "&Open..." does after its dialog.
    bool openProjectFile(const QString& path);
    // A recent entry, opened the same way.
    bool openRecentProject(int n);

    RecentFileList& recentFiles() { return recent_; }

    // Asked before a window closes an edited document (its last window);
    // false keeps it open. Unset: documents close without a question.
    std::function<bool(CCellforgeDoc*)> confirmClose;

protected:
    // Windows that fill the area keep filling it when it is resized.
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // A document came or went, or a title changed.
    void documentsChanged();
    void recentFilesChanged();
    // A one-line report of what an operation did, or why it could not.
    void message(const QString& text);
    // A view was created; the main window connects to its signals.
    void viewCreated(CCellforgeView* view);

private:
    CChildFrame* addChildWindow(CCellforgeDoc* doc);
    void watchDocument(CCellforgeDoc* doc);
    void adopt(CCellforgeDoc* doc);
    void reportProjectLoad(const QString& projectPath, const ProjectLoadResult& result);

    QMdiArea* area_;
    RecentFileList& recent_;
    std::vector<CCellforgeDoc*> documents_;
    int untitledCount_ = 0;
    bool closing_ = false;
};
