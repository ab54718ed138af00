#include "python/document.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "files/grid_file.h"
#include "files/project.h"

DocumentCall::DocumentCall(PyDocument& d) : d_(d) {
    if (d.closed()) raise(PyExc_ValueError, "the document is closed");
    if (d.owner_.load() == std::this_thread::get_id())
        raise(PyExc_RuntimeError, "the document is busy with another call on this thread "
                                  "(a progress callback cannot use the document it reports on)");
    if (!d.lock_.try_lock()) {
        py::gil_scoped_release nogil;
        d.lock_.lock();
    }
    if (d.closed()) {
        d.lock_.unlock();
        raise(PyExc_ValueError, "the document is closed");
    }
    d.owner_.store(std::this_thread::get_id());
}

DocumentCall::~DocumentCall() {
    d_.owner_.store(std::thread::id{});
    d_.lock_.unlock();
}

CellforgeDocument& DocumentCall::doc() { return *d_.doc_; }

namespace {
std::mutex folderLock;  // the current folder is process-wide

// Restores the current folder when it goes out of scope.
class FolderKeeper {
public:
    FolderKeeper() : fd_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~FolderKeeper() {
        if (fd_ >= 0) {
            if (fchdir(fd_) != 0) {
                // The folder went away while we were elsewhere; nothing to go back to.
            }
            ::close(fd_);
        }
    }
    FolderKeeper(const FolderKeeper&) = delete;
    FolderKeeper& operator=(const FolderKeeper&) = delete;

private:
    int fd_;
};

bool endsWith(const std::string& s, const char* ext) {
    const size_t n = std::strlen(ext);
    return s.size() >= n && s.compare(s.size() - n, n, ext) == 0;
}

}  // namespace

std::unique_ptr<PyDocument> PyDocument::open(const std::string& path) {
    const bool isProject = endsWith(path, ".prj");
    if (!isProject && !hasGridSuffix(path))
        raise(PyExc_ValueError, "'" + path + "' is neither a grid file (*.grd) nor a project file (*.prj)");
    requireReadableFile(path);
    const std::string full = fullPath(path);

    if (!isProject) {
        auto d = std::unique_ptr<PyDocument>(new PyDocument());
        GridReadResult rr;
        {
            py::gil_scoped_release nogil;
            d->doc_->withUniverse([&](Universe& u) { openGridDocument(u, full, &rr); });
            d->doc_->setPath(full);
            // The default camera is that of the loaded universe.
            d->doc_->withUniverse([&](Universe& u) { centreOfMass(d->camera_, u); });
            d->centre_.set(d->camera_.x, d->camera_.y, d->camera_.z);
        }
        d->source_ = full;
        d->flushMessages();
        if (rr.skippedParts) {
            // Not a placement conflict: the runner's note, as a plain warning.
            const std::string note = "skipped " + std::to_string(rr.skippedParts) +
                                     " parts outside the coordinate range of +-1000000000";
            if (PyErr_WarnEx(PyExc_UserWarning, note.c_str(), 1) != 0) throw py::error_already_set();
        }
        return d;
    }

    // Check the project's input files first, so a script hears which one is
    // missing instead of getting the desktop's silent empty universe.
    ProjectFiles files;
    {
        std::ifstream in(full);
        files = readProjectLines(in);
    }
    if (!files.grid) raise(PyExc_ValueError, "project '" + path + "' names no grid file (*.grd)");
    const std::string folder = folderOf(full);
    for (const auto* name : {&files.grid, &files.terminals, &files.stimulus, &files.monitor}) {
        if (!*name) continue;
        const std::string& n = **name;
        requireReadableFile(!n.empty() && n[0] == '/' ? n : folder + "/" + n);
    }

    auto platform = std::make_unique<HeadlessPlatform>();
    auto messages = std::make_shared<std::vector<std::string>>();
    auto messagesLock = std::make_shared<std::mutex>();
    platform->messageSink = [messages, messagesLock](const std::string& m) {
        std::lock_guard<std::mutex> g(*messagesLock);
        messages->push_back(m);
    };
    ProjectLoadResult loaded;
    bool ok = false;
    {
        py::gil_scoped_release nogil;
        std::lock_guard<std::mutex> g(folderLock);
        FolderKeeper keep;
        ok = loadProjectFromPath(*platform, full, &loaded);
    }
    if (!ok) raiseOsError(errno, path, "cannot open project");
    if (!loaded.document) raise(PyExc_OSError, "cannot open grid '" + *loaded.files.grid + "'");
    auto d = std::unique_ptr<PyDocument>(new PyDocument(std::move(platform), loaded.document, full));
    {
        std::lock_guard<std::mutex> g(*messagesLock);
        for (const auto& m : *messages) d->queueMessage(m);
    }
    // From here on the platform's sink is not needed: conflicts go to the queue.
    d->platform_->messageSink = [raw = d.get()](const std::string& m) { raw->queueMessage(m); };
    d->flushMessages();
    return d;
}

