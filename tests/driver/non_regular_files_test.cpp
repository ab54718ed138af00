// Inputs that are no files: directories, FIFOs, devices, and unreadable
// files, for every reader, the load sequence and the output policy. None may
// crash, block or read without end; each reads like a file that cannot be
// opened. (A FIFO test that blocked would hang here, and ctest's timeout
// would fail it.)
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "files/document.h"
#include "files/grid_file.h"
#include "files/input_file.h"
#include "files/memory_image.h"
#include "files/monitor.h"
#include "files/platform.h"
#include "files/project.h"
#include "files/saved_views.h"
#include "files/stimulus.h"
#include "files/terminals.h"
#include "test_util.h"
#include "universe/universe.h"

namespace {

class NonRegularFiles : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir.file("folder.grd"));
        ASSERT_EQ(::mkfifo(dir.file("pipe.grd").c_str(), 0600), 0);
        writeText(dir.file("g.grd"), "0 0 0 1 1 1 1 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n");
    }
    // Every kind of path that is not a readable regular file.
    std::vector<std::string> nonRegularPaths() const {
        return {dir.file("folder.grd"), dir.file("pipe.grd"), "/dev/null", "/dev/zero", dir.file("missing.grd")};
    }
    KeepCwd keep;
    ScratchDir dir;
};

}  // namespace

TEST_F(NonRegularFiles, InputFileOpensOnlyRegularFilesAndNeverBlocks) {
    EXPECT_EQ(checkInputFile(dir.file("g.grd")), FileCheck::Regular);
    EXPECT_EQ(checkInputFile(dir.file("folder.grd")), FileCheck::NotRegular);
    EXPECT_EQ(checkInputFile(dir.file("pipe.grd")), FileCheck::NotRegular);
    EXPECT_EQ(checkInputFile("/dev/null"), FileCheck::NotRegular);
    EXPECT_EQ(checkInputFile("/dev/zero"), FileCheck::NotRegular);
    EXPECT_EQ(checkInputFile(dir.file("missing.grd")), FileCheck::Missing);
    EXPECT_EQ(checkInputFile(dir.file("g.grd/below")), FileCheck::Missing) << "a file used as a folder";

    InputFile in(dir.file("g.grd"));
    ASSERT_TRUE(in.isOpen());
    std::string first;
    in >> first;
    EXPECT_EQ(first, "0");
    for (const std::string& p : nonRegularPaths()) {
        InputFile s(p);
        EXPECT_FALSE(s.isOpen()) << p;
        EXPECT_TRUE(s.fail()) << p;
        std::string w;
        EXPECT_FALSE(s >> w) << p;
    }
}

// chmod 000 does not stop root from reading, so the refusal can only be
// tested as another user.
TEST_F(NonRegularFiles, UnreadableFileIsRefused) {
    writeText(dir.file("locked.grd"), "0 0 0 1 1 1 1 0 1 0 0 0 0 0 0 0 0 0 0 0 0\n");
    ::chmod(dir.file("locked.grd").c_str(), 0);
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions do not stop reads";
    EXPECT_EQ(checkInputFile(dir.file("locked.grd")), FileCheck::Unreadable);
    Universe u;
    GridReadResult r;
    EXPECT_TRUE(openGridDocument(u, dir.file("locked.grd"), &r));
    EXPECT_EQ(r.file, FileCheck::Unreadable);
    EXPECT_EQ(u.partCount(), 0u);
}

TEST_F(NonRegularFiles, ReadersByNameTreatThemAsFilesThatDoNotOpen) {
    for (const std::string& p : nonRegularPaths()) {
        SCOPED_TRACE(p);
        Universe u;
        GridReadResult r;
        if (hasGridSuffix(p)) {
            EXPECT_TRUE(openGridDocument(u, p, &r)) << "still counts as opened";
        }
        EXPECT_EQ(u.partCount(), 0u);
        EXPECT_EQ(u.blockCount(), 0u);
        const ViewList views = readViewFile(p);
        EXPECT_TRUE(views.views.empty());
        EXPECT_EQ(views.fileName, p);
    }
    Universe u;
    GridReadResult r;
    openGridDocument(u, dir.file("folder.grd"), &r);
    EXPECT_EQ(r.file, FileCheck::NotRegular);
    openGridDocument(u, dir.file("g.grd"), &r);
    EXPECT_EQ(r.file, FileCheck::Regular);
    EXPECT_EQ(u.partCount(), 1u);
}

// A stream that fails inside its buffer (an ifstream on a directory throws
// from underflow) reads like the end of input in every stream reader.
TEST_F(NonRegularFiles, StreamReadersTakeAReadErrorAsTheEnd) {
    auto folder = [&] { return std::ifstream(dir.file("folder.grd")); };
    {
        auto in = folder();
        EXPECT_TRUE(readProgramImage(in).empty());
    }
    {
        auto in = folder();
        const ProjectFiles f = readProjectLines(in);
        EXPECT_FALSE(f.grid);
    }
    {
        auto in = folder();
        Universe u;
        const GridReadResult r = readGridFile(u, in);
        EXPECT_EQ(r.placedParts, 0u);
    }
    {
        auto in = folder();
        EXPECT_EQ(readTerminalFile(in)->size(), 0u);
    }
    TerminalTable table;
    table.add(Terminal{"a", 0, 0, 0, 0, 1});
    {
        auto in = folder();
        Universe u;
        EXPECT_TRUE(readStimulusFile(in, &table, u)->channels.empty());
    }
    {
        auto in = folder();
        EXPECT_TRUE(readMonitorFile(in, &table)->groups.empty());
    }
    // The same with exceptions asked for: the scanner still ends quietly.
    {
        auto in = folder();
        in.exceptions(std::ios::badbit);
        Universe u;
        EXPECT_NO_THROW(readGridFile(u, in));
    }
}

TEST_F(NonRegularFiles, LoadSequenceSkipsNonRegularFilesWithoutBlocking) {
    std::filesystem::create_directory(dir.file("t.trm"));
    ASSERT_EQ(::mkfifo(dir.file("s.sti").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("v.uvw"));
    ASSERT_EQ(::mkfifo(dir.file("m.mon").c_str(), 0600), 0);
    writeText(dir.file("p.prj"), "g.grd\nt.trm\ns.sti\nv.uvw\nm.mon\n");
    HeadlessPlatform platform;
    ProjectLoadResult r;
    ASSERT_TRUE(loadProjectFromPath(platform, dir.file("p.prj"), &r));
    ASSERT_NE(r.document, nullptr);
    EXPECT_EQ(r.document->universe().partCount(), 1u) << "the grid still loads";
    EXPECT_EQ(r.document->terminals(), nullptr);
    EXPECT_EQ(r.document->stimulus(), nullptr);
    EXPECT_EQ(r.document->monitor(), nullptr);
    ASSERT_NE(r.document->savedViews(), nullptr);
    EXPECT_TRUE(r.document->savedViews()->views.empty());

    // A project that is a directory, FIFO or device does not load, and the
    // documents already open stay as they were.
    std::filesystem::create_directory(dir.file("folder.prj"));
    ASSERT_EQ(::mkfifo(dir.file("pipe.prj").c_str(), 0600), 0);
    for (const std::string& p : {dir.file("folder.prj"), dir.file("pipe.prj"), std::string("/dev/zero")})
        EXPECT_FALSE(loadProjectFromPath(platform, p)) << p;
    ASSERT_EQ(platform.documents().size(), 1u);
    EXPECT_EQ(platform.documents()[0]->universe().partCount(), 1u);

    // A grid named by a project that is a directory opens an empty document,
    // like a missing grid.
    writeText(dir.file("q.prj"), "folder.grd\n");
    ProjectLoadResult q;
    ASSERT_TRUE(loadProjectFromPath(platform, dir.file("q.prj"), &q));
    ASSERT_NE(q.document, nullptr);
    EXPECT_EQ(q.document->universe().partCount(), 0u);
}

TEST_F(NonRegularFiles, RegularOnlyOutputsNeverOpenAFifo) {
    const std::string pipe = dir.file("pipe.grd");
    EXPECT_TRUE(outputAllowed(pipe, OutputPolicy::AnyFile));
    EXPECT_FALSE(outputAllowed(pipe, OutputPolicy::RegularOnly));
    EXPECT_FALSE(outputAllowed(dir.file("folder.grd"), OutputPolicy::RegularOnly));
    EXPECT_FALSE(outputAllowed("/dev/null", OutputPolicy::RegularOnly));
    EXPECT_FALSE(outputAllowed(dir.file("g.grd/below"), OutputPolicy::RegularOnly));
    EXPECT_TRUE(outputAllowed(dir.file("g.grd"), OutputPolicy::RegularOnly));
    EXPECT_TRUE(outputAllowed(dir.file("new.grd"), OutputPolicy::RegularOnly));

    // The monitor's output named as a FIFO with no reader: the groups are
    // read, nothing is opened (opening would wait for a reader).
    TerminalTable table;
    table.add(Terminal{"a", 0, 0, 0, 0, 1});
    std::istringstream mon(pipe + "\ng a end\n");
    auto m = readMonitorFile(mon, &table, OutputPolicy::RegularOnly);
    EXPECT_EQ(m->groups.size(), 1u);
    EXPECT_FALSE(m->output.is_open());

    // The same through a platform that asks for it, as the desktop does.
    writeText(dir.file("t.trm"), "a 0 0 0 0 1\n");
    writeText(dir.file("m.mon"), pipe + "\ng a end\n");
    writeText(dir.file("p.prj"), "g.grd\nt.trm\nm.mon\n");
    HeadlessPlatform platform;
    platform.outputPolicy = OutputPolicy::RegularOnly;
    ProjectLoadResult r;
    ASSERT_TRUE(loadProjectFromPath(platform, dir.file("p.prj"), &r));
    ASSERT_NE(r.document, nullptr);
    ASSERT_NE(r.document->monitor(), nullptr);
    EXPECT_EQ(r.document->monitor()->groups.size(), 1u);
    EXPECT_FALSE(r.document->monitor()->output.is_open());

    // Saving a grid or the views onto a FIFO is refused the same way.
    EXPECT_FALSE(r.document->saveGrid(pipe, OutputPolicy::RegularOnly));
    EXPECT_TRUE(r.document->saveGrid(dir.file("saved.grd"), OutputPolicy::RegularOnly));
    ViewList views;
    views.fileName = pipe;
    EXPECT_FALSE(writeViewFile(views, OutputPolicy::RegularOnly));
}
