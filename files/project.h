// Project files: a list of lines naming the data files of one experiment,
// and the load sequence that opens the grid as a document and hands it the
// run objects built from the other files.
//
// Names are opened relative to the project's folder, which the caller
// passes in: the loader never changes the process's current folder, so a
// thread that loads a project cannot disturb another thread's relative
// paths.
//
// Lines are matched by their last four characters, exactly and
// case-sensitively; the whole line is the file name. Lines are read while
// the stream is good (not failed, not at its end), so a file ending in a line
// break yields one extra empty line (an advance count of 0) and one that does
// not yields none. Lines are capped at kMaxProjectLine characters (the rest
// of a longer line is read and dropped), so no line can exhaust memory.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

class CellforgeDocument;
class Platform;

constexpr size_t kMaxProjectLine = 4096;

struct ProjectFiles {
    std::optional<std::string> grid, terminals, stimulus, ini, views, monitor;
    // Digits-only lines; a value beyond 32 bits counts as 4294967295.
    uint32_t advanceCount = 0;
};

// The line roles of a project stream.
ProjectFiles readProjectLines(std::istream& in);

struct ProjectLoadResult {
    ProjectFiles files;
    CellforgeDocument* document = nullptr;  // none when no grid or the open failed
};

// The load sequence, with every relative name resolved against `folder`
// (the saved-views list keeps the resolved name, so it is written back
// beside the project). Reports nothing to the user.
ProjectLoadResult loadProject(Platform& platform, std::istream& project, const std::string& folder);

// Resolve `path`, open and load it against its own folder. False (nothing
// changed) when it does not open.
bool loadProjectFromPath(Platform& platform, const std::string& path, ProjectLoadResult* result = nullptr);

// A project file's name as it is opened: as written when absolute, else
// inside `folder`.
std::string resolveInFolder(const std::string& folder, const std::string& name);

// Full path of `path` against the current directory, and its folder (the
// text before the last '/'; "/" for a file at the root).
std::string fullPath(const std::string& path);
std::string folderOf(const std::string& full);
