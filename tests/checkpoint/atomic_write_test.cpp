// The atomic write: a checkpoint is replaced whole or not at all, and a
// failed write leaves no temporary file behind.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "files/checkpoint.h"
#include "test_util.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(CheckpointAtomicWrite, ReplacesWholeAndLeavesNothingElse) {
    ScratchDir dir;
    const std::string path = dir.file("run.ckpt");
    std::string error;
    ASSERT_TRUE(writeFileAtomically(path, "first", error)) << error;
    ASSERT_TRUE(writeFileAtomically(path, std::string(100000, 'z'), error)) << error;
    EXPECT_EQ(readText(path), std::string(100000, 'z'));
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"run.ckpt"});
}

TEST(CheckpointAtomicWrite, AFailedWriteKeepsTheOldFile) {
    ScratchDir dir;
    const std::string path = dir.file("run.ckpt");
    writeText(path, "the old checkpoint");
    // Cap the file size so that the write itself fails halfway, as a full disk would.
    struct rlimit old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool ok = writeFileAtomically(path, std::string(50000, 'n'), error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_EQ(readText(path), "the old checkpoint");
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"run.ckpt"});
}

TEST(CheckpointAtomicWrite, TargetsThatCannotBeReplaced) {
    ScratchDir dir;
    std::string error;
    // A folder in the way: refused, the folder stays, no temporary file stays.
    fs::create_directories(dir.file("taken/inner"));
    EXPECT_FALSE(writeFileAtomically(dir.file("taken"), "x", error));
    EXPECT_TRUE(fs::is_directory(dir.file("taken/inner")));
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"taken"});
    // A folder that does not exist.
    EXPECT_FALSE(writeFileAtomically(dir.file("nowhere/run.ckpt"), "x", error));
    EXPECT_FALSE(fs::exists(dir.file("nowhere")));
    EXPECT_FALSE(writeFileAtomically(dir.file("taken") + "/", "x", error));
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"taken"});
}
