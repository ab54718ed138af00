// The windowing operations the engine side needs from the application shell.
//
// Kept deliberately small and stable: the desktop shell implements it with
// its toolkit, the headless runner and the tests with HeadlessPlatform. All
// calls come from the user-interface thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "files/grid_file.h"
#include "files/input_file.h"

class CellforgeDocument;

class Platform {
public:
    static constexpr size_t kRecentFileCount = 4;

    virtual ~Platform() = default;

    // How the loader opens the files it writes (the monitor's output). A
    // program with a window to keep responsive asks for RegularOnly, so a
    // FIFO without a reader can never block it.
    OutputPolicy outputPolicy = OutputPolicy::AnyFile;
    // Load the monitor with its output held back (see Monitor::outputHeld):
    // for callers that may still refuse the load.
    bool holdMonitorOutput = false;

    // Creates (or finds, when one is already open under that path) the
    // document for a grid path and reads the grid into it; adds the path to
    // the recent-file list. None when the path is not a grid (no ".grd"
    // suffix, in any case). The platform owns the document.
    virtual CellforgeDocument* openDocument(const std::string& path) = 0;
    // Closes the document's windows and destroys it; never asks to save.
    virtual void closeDocument(CellforgeDocument* document) = 0;

    // Recent-file list, newest first, at most kRecentFileCount entries.
    // Adding a path already on the list moves it to the top.
    virtual std::vector<std::string> recentFiles() const = 0;
    virtual void addRecentFile(const std::string& path) = 0;

    // Modal message with an OK button; returns when dismissed. May be called
    // from a document's worker (a part event's placement conflict), so an
    // implementation must hand the text over to its user-interface thread.
    virtual void messageBox(const std::string& text) = 0;
};

// Documents in memory, recent files in memory, messages collected (and
// passed to `messageSink` when set).
class HeadlessPlatform : public Platform {
public:
    HeadlessPlatform();
    ~HeadlessPlatform() override;

    CellforgeDocument* openDocument(const std::string& path) override;
    void closeDocument(CellforgeDocument* document) override;
    std::vector<std::string> recentFiles() const override { return recent_; }
    void addRecentFile(const std::string& path) override;
    void messageBox(const std::string& text) override;

    // What the last grid read by openDocument found (a project's grid).
    GridReadResult lastGridRead;

    // Set before any document runs; called under the message lock.
    std::function<void(const std::string&)> messageSink;
    std::vector<std::string> messages() const;

    const std::vector<std::unique_ptr<CellforgeDocument>>& documents() const { return documents_; }
    // Takes a document made elsewhere (a new, empty one) into the platform's care.
    CellforgeDocument* adopt(std::unique_ptr<CellforgeDocument> document);

private:
    std::vector<std::unique_ptr<CellforgeDocument>> documents_;
    std::vector<std::string> recent_;
    mutable std::mutex messageLock_;
    std::vector<std::string> messages_;
};
