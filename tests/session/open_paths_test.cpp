// Opening under one rule set: the session's decision for every row of the
// shared table, the runner's answer to the same paths, and opening projects
// on one thread while another uses relative paths.
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "session/open_table.h"
#include "session/session.h"

namespace fs = std::filesystem;

namespace {

const char* faultName(OpenFault f) {
    switch (f) {
        case OpenFault::None: return "None";
        case OpenFault::Missing: return "Missing";
        case OpenFault::Folder: return "Folder";
        case OpenFault::NotRegular: return "NotRegular";
        case OpenFault::Unreadable: return "Unreadable";
        case OpenFault::WrongSuffix: return "WrongSuffix";
        case OpenFault::NoGrid: return "NoGrid";
        case OpenFault::Incomplete: return "Incomplete";
        case OpenFault::TooDeep: return "TooDeep";
    }
    return "?";
}

fs::path scratch(const std::string& tag) {
    return fs::temp_directory_path() / ("cellforge-open-" + tag + "-" + std::to_string(::getpid()));
}

struct Outcome {
    int status = -1;
    std::string err;
};

#ifdef CELLFORGE_RUN_PATH
Outcome runRunner(const std::string& path, const fs::path& folder) {
    const std::string errFile = (folder.parent_path() / "runner-err.txt").string();
    const std::string cmd = std::string(CELLFORGE_RUN_PATH) + " '" + path + "' -n 1 2> '" + errFile + "' > /dev/null";
    Outcome o;
    const int raw = std::system(cmd.c_str());
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream in(errFile);
    std::getline(in, o.err, '\0');
    return o;
}
#endif

}  // namespace

TEST(OpenTable, EveryFrontEndMakesTheSessionsDecision) {
    const auto cases = readOpenTable(CELLFORGE_OPEN_TABLE);
    ASSERT_GE(cases.size(), 15u);
    const fs::path root = scratch("table");
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = root / "case";
        const std::string path = makeOpenCase(c, folder);
        OpenProblem problem;
        std::unique_ptr<Session> s = Session::open(path, {}, problem);
        const bool opens = c.fault == "None" || c.fault == "None+note";
        ASSERT_EQ(s != nullptr, opens) << problem.message();
        std::string said;
        if (opens) {
            EXPECT_EQ(bool(s->loadNote()), c.fault == "None+note") << s->loadNote().message();
            if (s->loadNote()) {
                EXPECT_EQ(s->loadNote().fault, OpenFault::Incomplete);
                EXPECT_GT(s->loadNote().line, 0u);
                said = s->loadNote().message();
            }
            s.reset();
        } else {
            EXPECT_STREQ(faultName(problem.fault), c.fault.c_str()) << problem.message();
            EXPECT_FALSE(problem.message().empty());
            said = problem.message();
            // The file named is the one at fault, not always the one opened.
            EXPECT_NE(said.find(fs::path(problem.path).filename().string()), std::string::npos) << said;
        }
        // Strict opening refuses exactly what opens with a note.
        SessionOptions strict;
        strict.strict = true;
        OpenProblem strictProblem;
        EXPECT_EQ(Session::open(path, strict, strictProblem) != nullptr, c.fault == "None");
        if (c.fault == "None+note") {
            EXPECT_EQ(strictProblem.fault, OpenFault::Incomplete);
        }

#ifdef CELLFORGE_RUN_PATH
        const Outcome r = runRunner(path, folder);
        EXPECT_EQ(r.status, opens ? 0 : 2) << r.err;
        if (!said.empty()) {
            EXPECT_NE(r.err.find(said), std::string::npos) << "runner said: " << r.err;
        }
#endif
    }
    fs::remove_all(root);
}

TEST(OpenTable, AnErrorNumberForEveryFileSystemFault) {
    OpenProblem p;
    for (OpenFault f : {OpenFault::Missing, OpenFault::Folder, OpenFault::NotRegular, OpenFault::Unreadable}) {
        p.fault = f;
        EXPECT_NE(p.errorNumber(), 0) << faultName(f);
    }
    for (OpenFault f : {OpenFault::WrongSuffix, OpenFault::NoGrid, OpenFault::Incomplete, OpenFault::TooDeep}) {
        p.fault = f;
        EXPECT_EQ(p.errorNumber(), 0) << faultName(f);
    }
}

TEST(OpenTable, RegionsNestedPastTheLimitAreRefusedWithTheLine) {
    // This file once took the reader to gigabytes and an uncaught bad_alloc.
    const std::string deep = std::string(CELLFORGE_FINDINGS) + "/grid/regions-nested-200000-deep";
    const fs::path folder = scratch("deep");
    fs::create_directories(folder);
    const std::string grid = (folder / "deep.grd").string();
    fs::copy_file(deep, grid, fs::copy_options::overwrite_existing);
    OpenProblem problem;
    EXPECT_EQ(Session::open(grid, {}, problem), nullptr);
    EXPECT_EQ(problem.fault, OpenFault::TooDeep);
    EXPECT_EQ(problem.line, size_t(kMaxRegionDepth) + 1);
    // As a project's grid too.
    std::ofstream(folder / "p.prj") << "deep.grd\n";
    EXPECT_EQ(Session::open((folder / "p.prj").string(), {}, problem), nullptr);
    EXPECT_EQ(problem.fault, OpenFault::TooDeep);
    // Just inside the depth limit still opens, with every level.
    std::ofstream(folder / "ok.grd") << [] {
        std::string s;
        for (int i = 0; i < kMaxRegionDepth; ++i) s += "record identifier r\n";
        return s + "0 0 0 1 1 1 1 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n";
    }();
    auto ok = Session::open((folder / "ok.grd").string(), {}, problem);
    ASSERT_NE(ok, nullptr) << problem.message();
    EXPECT_EQ(ok->document().universe().regionEntries().size(), size_t(kMaxRegionDepth));
    EXPECT_EQ(ok->document().universe().partCount(), 1u);
    ok.reset();
    fs::remove_all(folder);
}

TEST(OpenTable, OpeningProjectsLeavesEveryThreadsFolderAlone) {
    // Opening used to make the project's folder current for the whole
    // process; a relative open on another thread then missed its file.
    const fs::path folder = scratch("threads");
    fs::create_directories(folder / "project");
    std::ofstream(folder / "project" / "p.prj") << "g.grd\nt.trm\n";
    std::ofstream(folder / "project" / "g.grd") << "0 0 0 1 1 1 1 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n";
    std::ofstream(folder / "project" / "t.trm") << "a 0 0 0 0 1\n";
    std::ofstream(folder / "rel.txt") << "here\n";
    const fs::path before = fs::current_path();
    fs::current_path(folder);
    std::atomic<bool> done{false};
    std::atomic<int> opened{0};
    std::thread opener([&] {
        for (int i = 0; i < 150; ++i) {
            OpenProblem problem;
            if (Session::open((folder / "project" / "p.prj").string(), {}, problem)) ++opened;
        }
        done = true;
    });
    int misses = 0, tries = 0;
    while (!done || tries < 100) {
        std::ifstream in("rel.txt");
        misses += !in;
        ++tries;
    }
    opener.join();
    EXPECT_EQ(opened.load(), 150);
    EXPECT_EQ(misses, 0) << "of " << tries;
    EXPECT_EQ(fs::current_path(), folder);
    fs::current_path(before);
    fs::remove_all(folder);
}
