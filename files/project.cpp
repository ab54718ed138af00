#include "files/project.h"

#include <filesystem>
#include <fstream>
#include <istream>

#include "files/document.h"
#include "files/input_file.h"
#include "files/platform.h"

namespace {

// getline with a bounded result: the rest of an over-long line is consumed
// and dropped. Same stream states as std::getline.
void readBoundedLine(std::istream& in, std::string& line) {
    line.clear();
    std::istream::sentry ok(in, true);
    if (!ok) return;
    std::streambuf* sb = in.rdbuf();
    using Traits = std::char_traits<char>;
    bool any = false;
    for (;;) {
        const int c = nextByteOrEnd(sb);
        if (c == Traits::eof()) {
            in.setstate(any ? std::ios::eofbit : std::ios::eofbit | std::ios::failbit);
            return;
        }
        any = true;
        if (c == '\n') return;
        if (line.size() < kMaxProjectLine) line.push_back(char(c));
    }
}

bool endsWith(const std::string& line, const char* ext) {
    return line.size() >= 4 && line.compare(line.size() - 4, 4, ext) == 0;
}

}  // namespace

ProjectFiles readProjectLines(std::istream& in) {
    ProjectFiles f;
    std::string line;
    while (in.good()) {
        readBoundedLine(in, line);
        // Text mode drops the carriage return of a CR LF pair.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (endsWith(line, ".grd")) {
            f.grid = line;
        } else if (endsWith(line, ".trm")) {
            f.terminals = line;
        } else if (endsWith(line, ".sti")) {
            f.stimulus = line;
        } else if (endsWith(line, ".ini")) {
            f.ini = line;
        } else if (endsWith(line, ".uvw")) {
            f.views = line;
        } else if (endsWith(line, ".mon")) {
            f.monitor = line;
        } else if (line.find_first_not_of("0123456789") == std::string::npos) {
            uint64_t v = 0;
            for (char c : line) {
                v = v * 10 + uint64_t(c - '0');
                if (v > UINT32_MAX) {
                    v = UINT32_MAX;
                    break;
                }
            }
            f.advanceCount = uint32_t(v);
        }
    }
    return f;
}

std::string resolveInFolder(const std::string& folder, const std::string& name) {
    if (name.empty() || name[0] == '/' || folder.empty()) return name;
    return folder == "/" ? "/" + name : folder + "/" + name;
}

ProjectLoadResult loadProject(Platform& platform, std::istream& project, const std::string& folder) {
    ProjectLoadResult r;
    r.files = readProjectLines(project);
    const std::vector<std::string> recent = platform.recentFiles();
    if (!r.files.grid) return r;
    auto named = [&folder](const std::optional<std::string>& name) { return resolveInFolder(folder, *name); };
    CellforgeDocument* doc = platform.openDocument(named(r.files.grid));
    if (!doc) return r;
    r.document = doc;
    for (auto it = recent.rbegin(); it != recent.rend(); ++it) platform.addRecentFile(*it);

    // The document may be one already open and running: hold its worker while
    // the stimulus binds cells and the objects change hands.
    const bool pausedHere = doc->pauseForRead();
    std::unique_ptr<TerminalTable> terminals;
    if (r.files.terminals) {
        InputFile in(named(r.files.terminals));
        if (in.isOpen()) terminals = readTerminalFile(in);
    }
    std::unique_ptr<Stimulus> stimulus;
    if (r.files.stimulus) {
        InputFile in(named(r.files.stimulus));
        if (in.isOpen()) {
            stimulus = readStimulusFile(in, terminals.get(), doc->universe());
            advanceStimulus(*stimulus, r.files.advanceCount);
        }
    }
    std::unique_ptr<ViewList> views;
    if (r.files.views) views = std::make_unique<ViewList>(readViewFile(named(r.files.views)));
    std::unique_ptr<Monitor> monitor;
    if (r.files.monitor) {
        InputFile in(named(r.files.monitor));
        if (in.isOpen()) monitor = readMonitorFile(in, terminals.get(), platform.outputPolicy, folder, platform.holdMonitorOutput);
    }
    doc->setRunObjects(std::move(terminals), std::move(stimulus), std::move(views), std::move(monitor));
    doc->resumeAfterRead(pausedHere);
    return r;
}

std::string fullPath(const std::string& path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path, ec);
    if (ec) return path;
    return p.lexically_normal().string();
}

std::string folderOf(const std::string& full) {
    const size_t slash = full.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return full.substr(0, slash);
}

bool loadProjectFromPath(Platform& platform, const std::string& path, ProjectLoadResult* result) {
    const std::string full = fullPath(path);
    InputFile in(full);
    if (!in.isOpen()) return false;
    ProjectLoadResult r = loadProject(platform, in, folderOf(full));
    if (result) *result = r;
    return true;
}
