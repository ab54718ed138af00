// Project lines, the load sequence with a headless platform, saved views.
#include <sstream>

#include "files/document.h"
#include "files/platform.h"
#include "files/project.h"
#include "test_util.h"

namespace {
ProjectFiles linesOf(const std::string& text) {
    std::istringstream in(text);
    return readProjectLines(in);
}
}  // namespace

TEST(ProjectLines, AdvanceCountCountsOnlyOnAnUnterminatedLastLine) {
    EXPECT_EQ(linesOf("g.grd\n250").advanceCount, 250u);
    EXPECT_EQ(linesOf("g.grd\n250\n").advanceCount, 0u);
    EXPECT_EQ(linesOf("250\ng.grd").advanceCount, 250u) << "the count read last survives without a final break";
    EXPECT_EQ(linesOf("250\ng.grd\n").advanceCount, 0u);
    EXPECT_EQ(linesOf("12\n\n7").advanceCount, 7u);
    EXPECT_EQ(linesOf("g.grd\r\n31\r\n").advanceCount, 0u);
    EXPECT_EQ(linesOf("31\r").advanceCount, 31u) << "a carriage return is dropped";
    EXPECT_EQ(linesOf("99999999999999999999").advanceCount, 4294967295u);
    EXPECT_EQ(linesOf("-5").advanceCount, 0u) << "a sign is not a digit";
}

TEST(ProjectLines, SuffixesAreExactCaseSensitiveAndLastOneWins) {
    auto f = linesOf("a.grd \nB.GRD\nx.trm\none.sti\ntwo.sti\nsettings.ini\nv.uvw\nm.mon\nreadme\n.grd\n");
    ASSERT_TRUE(f.grid);
    EXPECT_EQ(*f.grid, ".grd") << "trailing blank and capitals do not match";
    EXPECT_EQ(f.terminals.value_or(""), "x.trm");
    EXPECT_EQ(f.stimulus.value_or(""), "two.sti");
    EXPECT_EQ(f.ini.value_or(""), "settings.ini");
    EXPECT_EQ(f.views.value_or(""), "v.uvw");
    EXPECT_EQ(f.monitor.value_or(""), "m.mon");
    EXPECT_FALSE(linesOf("grd\n.gr\n").grid);
    EXPECT_EQ(linesOf(" my grid.grd").grid.value_or(""), " my grid.grd") << "the whole line is the name";
}

TEST(ProjectLines, OverlongLineIsBoundedAndReadingGoesOn) {
    std::string text(100000, 'x');
    text += ".grd\nok.trm\n";
    auto f = linesOf(text);
    EXPECT_FALSE(f.grid);
    EXPECT_EQ(f.terminals.value_or(""), "ok.trm");
}

class ProjectLoad : public ::testing::Test {
protected:
    void SetUp() override {
        writeText(dir.file("g.grd"), "0 0 0 1 1 1\n9 1 0 1 0 0 0 0 0 0 0 0 0 0 0\n");
        writeText(dir.file("t.trm"), "object m { a 0 0 0 1 0 b 5 5 5 0 1 }\n");
        writeText(dir.file("one.sti"), "m.a { t=0 1 1 loop }\n");
        writeText(dir.file("two.sti"), "m.b { t=0 1 1 0 1 1 1 }\n");
        writeText(dir.file("v.uvw"), "1 2 3 4 5 first view\n");
        writeText(dir.file("m.mon"), "out.txt\ng m.a : m.b end\n");
    }
    ProjectLoadResult load(const std::string& text) {
        writeText(dir.file("p.prj"), text);
        ProjectLoadResult r;
        EXPECT_TRUE(loadProjectFromPath(platform, dir.file("p.prj"), &r));
        return r;
    }
    KeepCwd keep;
    ScratchDir dir;
    HeadlessPlatform platform;
};

TEST_F(ProjectLoad, BuildsAndHandsOverEveryObjectRelativeToTheProjectFolder) {
    auto r = load("g.grd\nt.trm\none.sti\ntwo.sti\nsettings.ini\nv.uvw\nm.mon\n3");
    ASSERT_NE(r.document, nullptr);
    CellforgeDocument& doc = *r.document;
    ASSERT_NE(doc.terminals(), nullptr);
    EXPECT_EQ(doc.terminals()->size(), 2u);
    ASSERT_NE(doc.stimulus(), nullptr);
    ASSERT_EQ(doc.stimulus()->channels.size(), 1u);
    EXPECT_EQ(doc.stimulus()->channels[0]->terminal->name, "m.b") << "the second .sti line wins";
    EXPECT_EQ(doc.stimulus()->channels[0]->clock, 3u) << "skipped ahead by the advance count";
    ASSERT_NE(doc.savedViews(), nullptr);
    ASSERT_EQ(doc.savedViews()->views.size(), 1u);
    EXPECT_EQ(doc.savedViews()->views[0].description, "first view");
    ASSERT_NE(doc.monitor(), nullptr);
    EXPECT_TRUE(std::filesystem::exists(dir.file("out.txt")));
    EXPECT_EQ(doc.universe().blockCount(), 2u) << "the grid block and the bound terminal's block";
}

TEST_F(ProjectLoad, WithoutGridNothingOpens) {
    auto r = load("t.trm\none.sti\nm.mon\n");
    EXPECT_EQ(r.document, nullptr);
    EXPECT_TRUE(platform.documents().empty());
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.txt")));
}

TEST_F(ProjectLoad, MissingFilesLeaveObjectsAbsentAndMonitorNeedsTerminals) {
    auto r = load("g.grd\nmissing.trm\none.sti\nmissing.uvw\nm.mon\n");
    ASSERT_NE(r.document, nullptr);
    EXPECT_EQ(r.document->terminals(), nullptr);
    ASSERT_NE(r.document->stimulus(), nullptr);
    EXPECT_EQ(r.document->stimulus()->channels[0]->terminal, nullptr);
    ASSERT_NE(r.document->savedViews(), nullptr) << "a view list always remembers its name";
    // Resolved in the project's folder, so Settings writes it back there
    // whatever the current folder is by then.
    EXPECT_EQ(r.document->savedViews()->fileName, dir.file("missing.uvw"));
    ASSERT_NE(r.document->monitor(), nullptr);
    EXPECT_TRUE(r.document->monitor()->groups.empty());
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.txt")));
}

TEST_F(ProjectLoad, SecondLoadReplacesAndDropsUnnamedObjects) {
    auto first = load("g.grd\nt.trm\none.sti\nm.mon\n");
    ASSERT_NE(first.document, nullptr);
    first.document->runCommand();  // the second load meets a running worker
    auto second = load("g.grd\nt.trm\n");
    EXPECT_EQ(second.document, first.document) << "the open document is handed back";
    EXPECT_EQ(platform.documents().size(), 1u);
    EXPECT_EQ(second.document->stimulus(), nullptr);
    EXPECT_EQ(second.document->monitor(), nullptr);
    ASSERT_NE(second.document->terminals(), nullptr);
    second.document->stopCommand();
    second.document->driver().waitUntilStopped();
}

TEST_F(ProjectLoad, RecentListKeepsItsOrderAndTheGridFallsOffAFullList) {
    for (const char* p : {"/d.prj", "/c.prj", "/b.prj", "/a.prj"}) platform.addRecentFile(p);
    load("g.grd\n");
    EXPECT_EQ(platform.recentFiles(), (std::vector<std::string>{"/a.prj", "/b.prj", "/c.prj", "/d.prj"}));

    HeadlessPlatform fresh;
    fresh.addRecentFile("/x.prj");
    writeText(dir.file("q.prj"), "g.grd\n");
    ASSERT_TRUE(loadProjectFromPath(fresh, dir.file("q.prj")));
    EXPECT_EQ(fresh.recentFiles(), (std::vector<std::string>{"/x.prj", fullPath(dir.file("g.grd"))}));
}

TEST(SavedViews, ReadAndWriteBack) {
    ScratchDir dir;
    writeText(dir.file("v.uvw"),
              "1 2 3 4 5   leading blanks go\n"
              "-1.5 2.25\n3 4 5\n"
              "7 8 9 10 11\n" +
                  std::string("0 0 0 0 0 ") + std::string(300, 'x') + "\n" + "1 1 1 1 1 never read\n");
    ViewList l = readViewFile(dir.file("v.uvw"));
    ASSERT_EQ(l.views.size(), 3u);
    EXPECT_EQ(l.views[0].description, "leading blanks go");
    EXPECT_FLOAT_EQ(l.views[1].x, -1.5f);
    EXPECT_FLOAT_EQ(l.views[1].az, 5.0f);
    EXPECT_EQ(l.views[1].description, "");
    EXPECT_EQ(l.views[2].description, "");

    l.fileName = dir.file("w.uvw");
    l.views[0].x = 0.1f;
    l.views[0].y = 1234567.0f;
    ASSERT_TRUE(writeViewFile(l));
    EXPECT_EQ(readText(dir.file("w.uvw")),
              "0.1 1.23457e+06 3 4 5 leading blanks go\n-1.5 2.25 3 4 5 \n7 8 9 10 11 \n");

    ViewList missing = readViewFile(dir.file("none.uvw"));
    EXPECT_EQ(missing.fileName, dir.file("none.uvw"));
    EXPECT_TRUE(missing.views.empty());
    ViewList unwritable{dir.file("no/dir/x.uvw"), {}};
    EXPECT_FALSE(writeViewFile(unwritable));

    writeText(dir.file("last.uvw"), "1 2 3 4 5 no break at the end");
    EXPECT_EQ(readViewFile(dir.file("last.uvw")).views.size(), 1u);
}
