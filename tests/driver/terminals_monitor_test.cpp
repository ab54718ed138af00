// Terminal names, write-back, and the monitor's line format and triggers.
#include <sstream>

#include "files/monitor.h"
#include "files/terminals.h"
#include "test_util.h"
#include "universe/universe.h"

namespace {
std::unique_ptr<TerminalTable> terminalsFrom(const std::string& text) {
    std::istringstream in(text);
    return readTerminalFile(in);
}
std::vector<std::string> namesOf(const TerminalTable& t) {
    std::vector<std::string> v;
    for (auto& p : t.terminals) v.push_back(p->name);
    return v;
}
}  // namespace

TEST(Terminals, NestedObjectsBuildDottedNames) {
    auto t = terminalsFrom(
        "object a {\n  object b {\n    t 1 2 3 4 1\n  }\n  u 5 6 7 2 0\n}\nv -1 -2 -3 0 7\n"
        "object pc1 { object mc { i0 3 4 5 2 1 } }\n");
    ASSERT_EQ(t->size(), 4u);
    EXPECT_EQ(namesOf(*t), (std::vector<std::string>{"a.b.t", "a.u", "v", "pc1.mc.i0"}));
    const Terminal& a = t->at(0);
    EXPECT_EQ(a.x, 1);
    EXPECT_EQ(a.y, 2);
    EXPECT_EQ(a.z, 3);
    EXPECT_EQ(a.direction, 4);
    EXPECT_EQ(a.flag, 1);
    EXPECT_EQ(t->at(2).flag, 1) << "any non-zero flag value is set";
    EXPECT_EQ(t->at(1).flag, 0);
    EXPECT_EQ(findTerminal(t.get(), "pc1.mc.i0"), &t->at(3));
    EXPECT_EQ(findTerminal(t.get(), "PC1.mc.i0"), nullptr);
    EXPECT_EQ(findTerminal(nullptr, "v"), nullptr);
}

TEST(Terminals, MalformedInputKeepsWhatCameBefore) {
    // "object" without "{" ends the reading after that object.
    auto t = terminalsFrom("x 1 1 1 1 1\nobject a b 2 2 2 2 2\n");
    EXPECT_EQ(namesOf(*t), (std::vector<std::string>{"x"}));
    // A line cut short by the end of input is not added.
    t = terminalsFrom("x 1 1 1 1 1\ny 2 2 2");
    EXPECT_EQ(namesOf(*t), (std::vector<std::string>{"x"}));
    // A non-number ends the reading.
    t = terminalsFrom("x 1 1 1 1 1\ny 2 two 2 2 2\nz 3 3 3 3 3\n");
    EXPECT_EQ(namesOf(*t), (std::vector<std::string>{"x"}));
    // A stray "}" leaves the prefix empty; "{" where a name is expected is a name.
    t = terminalsFrom("} } x 1 1 1 1 1 { 2 2 2 2 2\n");
    EXPECT_EQ(namesOf(*t), (std::vector<std::string>{"x", "{"}));
    // Numbers beyond 32 bits fail like the stream does.
    t = terminalsFrom("x 99999999999 1 1 1 1\n");
    EXPECT_EQ(t->size(), 0u);
}

TEST(Terminals, DeepNestingIsBoundedByTheNameLimit) {
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "object abcdefgh {\n";
    text += "t 1 1 1 1 1\n";
    auto t = terminalsFrom(text);
    EXPECT_EQ(t->size(), 0u);
}

TEST(Terminals, WriteBackRoundTripsDottedNames) {
    auto t = terminalsFrom("object pc1 { object mc { i0 3 4 5 2 1 } } solo -7 8 -9 5 0\n");
    std::ostringstream out;
    ASSERT_TRUE(writeTerminalFile(t.get(), out));
    EXPECT_EQ(out.str(),
              "object pc1.mc\n{\ni0\n3 4 5\n2\n1\n}\n"
              "object solo\n{\nsolo\n-7 8 -9\n5\n0\n}\n");
    auto back = terminalsFrom(out.str());
    EXPECT_EQ(namesOf(*back), (std::vector<std::string>{"pc1.mc.i0", "solo.solo"}));
    EXPECT_EQ(back->at(1).x, -7);
    EXPECT_EQ(back->at(1).direction, 5);

    std::ostringstream none;
    EXPECT_TRUE(writeTerminalFile(nullptr, none));
    EXPECT_EQ(none.str(), "");
}

// Found by fuzzing: an object path longer than a plain word was written in
// one word that the reader then refused, so a saved table lost terminals.
TEST(Terminals, LongObjectPathsSurviveWriteBack) {
    const std::string object(300, 'o');
    auto t = terminalsFrom("object " + object + " { object m { i0 1 2 3 4 1 } } object p { q 5 6 7 0 0 }\n");
    ASSERT_EQ(t->size(), 2u);
    std::ostringstream out;
    ASSERT_TRUE(writeTerminalFile(t.get(), out));
    auto back = terminalsFrom(out.str());
    EXPECT_EQ(namesOf(*back), (std::vector<std::string>{object + ".m.i0", "p.q"}));

    // Names stay bounded: a word past the full-name limit still ends the read.
    auto huge = terminalsFrom("a 1 1 1 1 1 " + std::string(kMaxTerminalName + 1, 'x') + " 1 1 1 1 1 b 2 2 2 2 2\n");
    EXPECT_EQ(namesOf(*huge), (std::vector<std::string>{"a"}));
}

// Found by fuzzing: a name the seven-line form cannot hold (".x" has an
// empty object part) made the reader stop, losing every terminal after it.
TEST(Terminals, NamesTheBlockFormCannotHoldAreWrittenAsPlainLines) {
    auto t = terminalsFrom(".ob5 5 0 0 4 0 a.x. 1 2 3 0 1 a.object 4 5 6 1 0 a.} 7 8 9 2 1 object p { q 1 1 1 3 0 }\n");
    ASSERT_EQ(namesOf(*t), (std::vector<std::string>{".ob5", "a.x.", "a.object", "a.}", "p.q"}));
    std::ostringstream out;
    ASSERT_TRUE(writeTerminalFile(t.get(), out));
    EXPECT_EQ(out.str().substr(0, 15), ".ob5 5 0 0 4 0\n");
    auto back = terminalsFrom(out.str());
    EXPECT_EQ(namesOf(*back), namesOf(*t));
    EXPECT_EQ(back->at(3).z, 9);
    EXPECT_EQ(back->at(3).flag, 1);
}

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        table = terminalsFrom("a 0 0 0 1 0\nb 0 0 2 1 0\nc 0 0 4 1 0\nd 0 0 6 1 0\n");
    }
    void show(const char* name, bool on) {
        const Terminal* t = findTerminal(table.get(), name);
        u.cellForUpdate(t->x, t->y, t->z).core().outputs = on ? uint8_t(1u << t->direction) : 0;
    }
    std::unique_ptr<Monitor> monitorFrom(const std::string& groups) {
        std::istringstream in(out.file("m.txt") + "\n" + groups);
        return readMonitorFile(in, table.get());
    }
    ScratchDir out;
    Universe u;
    std::unique_ptr<TerminalTable> table;
};

TEST_F(MonitorTest, LineFormatAndTriggerRules) {
    auto m = monitorFrom(
        "two a b : c d a end\n"
        "onlytrig c END\n"
        "ghost nosuch alsonot : a end\n"
        "colons a : b : c end\n");
    ASSERT_EQ(m->groups.size(), 4u);
    EXPECT_EQ(m->groups[1].values.size(), 0u);
    EXPECT_EQ(m->groups[2].triggers.size(), 0u);
    EXPECT_EQ(m->groups[3].values.size(), 2u) << "every further ':' stays in values";

    show("a", true);  // gen 1
    sampleMonitor(*m, &u);
    show("a", false);
    show("b", true);
    show("c", true);  // gen 2
    sampleMonitor(*m, &u);
    show("b", false);
    show("c", false);  // gen 3: nothing fires
    sampleMonitor(*m, &u);
    sampleMonitor(*m, nullptr);
    EXPECT_EQ(readText(out.file("m.txt")),
              "two 10 001\n"
              "colons 1 00\n"
              "two 01 100\n"
              "onlytrig 1 \n");
}

TEST_F(MonitorTest, TriggerHeldOnFiveGenerationsGivesFiveFlushedLines) {
    auto m = monitorFrom("g d end");
    show("d", true);
    for (int i = 0; i < 5; ++i) {
        sampleMonitor(*m, &u);
        // Flushed per line: the file is complete while the monitor lives.
        EXPECT_EQ(readText(out.file("m.txt")).size(), size_t(5 * (i + 1)));
    }
}

TEST_F(MonitorTest, UnclosedGroupIsKeptAndNoTableMeansNoFile) {
    auto m = monitorFrom("g a b : c");
    ASSERT_EQ(m->groups.size(), 1u);
    EXPECT_EQ(m->groups[0].triggers.size(), 2u);
    EXPECT_EQ(m->groups[0].values.size(), 1u);

    std::istringstream in(out.file("none.txt") + "\ng a end\n");
    auto empty = readMonitorFile(in, nullptr);
    EXPECT_TRUE(empty->groups.empty());
    EXPECT_FALSE(std::filesystem::exists(out.file("none.txt")));
}

TEST_F(MonitorTest, UncreatableOutputStillReadsGroupsAndDropsLines) {
    std::istringstream in(out.file("no/such/dir/m.txt") + "\ng a end\n");
    auto m = readMonitorFile(in, table.get());
    ASSERT_EQ(m->groups.size(), 1u);
    show("a", true);
    sampleMonitor(*m, &u);  // must not crash
    EXPECT_FALSE(m->output.is_open());
}
