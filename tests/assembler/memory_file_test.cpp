// cranetalk's standard output read back as a memory file.
#include <gtest/gtest.h>

#include "test_support.h"

using namespace cranetalk_test;

TEST(MemoryFile, EmptyProgramReadsBackEmpty) {
    EXPECT_TRUE(parseMemoryFile(initialiserOf(assemble("END").r)).empty());
}

TEST(MemoryFile, ReaderRuleOnTheInitialiserList) {
    EXPECT_EQ(parseMemoryFile("unsigned prog[] = {\n33,\n32,\n0,\n};\n"), (std::vector<std::int32_t>{33, 32, 0}));
}

TEST(MemoryFile, RandomProgramsReadBackToTheSameImage) {
    SourceGenerator gen(99);
    for (int i = 0; i < 300; ++i) {
        auto a = assemble(gen.source(static_cast<int>(gen.pick(200))));
        expectSameImage(a.r, parseMemoryFile(initialiserOf(a.r)));
        if (HasFatalFailure()) return;
    }
}

#ifdef CRANETALK_BINARY
TEST(MemoryFile, ProgramStandardOutputReadsBack) {
    TempDir dir;
    const std::string src = "CALL sub O SF NOP sub: RETURN ORG 300 GATHER MBK END";
    auto r = runProcess(CRANETALK_BINARY, {}, src, dir.path());
    ASSERT_EQ(r.exitStatus, 0);
    expectSameImage(assemble(src).r, parseMemoryFile(r.out));
}
#endif

// The simulator's own reader (readProgramImage, files/memory_image.h) is
// checked on the same outputs in interop_test.cpp, built when the files
// library exists.
