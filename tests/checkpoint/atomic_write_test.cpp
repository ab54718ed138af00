// The atomic write: a checkpoint is replaced whole or not at all, and a
// failed write leaves no temporary file behind.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>

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

TEST(CheckpointAtomicWrite, OnlyARegularFileIsReplaced) {
    ScratchDir dir;
    std::string error;
    // A FIFO: refused at once (never opened, so never blocking) and left a FIFO.
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0644), 0);
    errno = 0;
    EXPECT_FALSE(writeFileAtomically(dir.file("pipe"), "x", error));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_fifo(dir.file("pipe")));
    // A folder: EISDIR, the folder stays.
    fs::create_directory(dir.file("folder"));
    errno = 0;
    EXPECT_FALSE(writeFileAtomically(dir.file("folder"), "x", error));
    EXPECT_EQ(errno, EISDIR);
    // A device node (a copy of /dev/null made in the scratch folder, so a
    // faulty rename could only replace the copy); only root may make one.
    if (::mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        EXPECT_FALSE(writeFileAtomically(dir.file("null"), "x", error));
        EXPECT_TRUE(fs::is_character_file(dir.file("null")));
    }
    // A link to any of them is refused the same way.
    fs::create_symlink("pipe", dir.file("to-pipe"));
    EXPECT_FALSE(writeFileAtomically(dir.file("to-pipe"), "x", error));
    EXPECT_TRUE(fs::is_fifo(dir.file("pipe")));
    std::vector<std::string> expected{"folder", "pipe", "to-pipe"};
    if (fs::exists(dir.file("null"))) expected.insert(expected.begin() + 1, "null");
    EXPECT_EQ(entries(dir.path()), expected);
}

TEST(CheckpointAtomicWrite, ALinkIsFollowedAndTheFileItNamesIsReplacedInItsOwnFolder) {
    ScratchDir dir;
    fs::create_directories(dir.file("store"));
    fs::create_directories(dir.file("links"));
    writeText(dir.file("store/run.ckpt"), "old");
    // Two links in a chain, the first one relative to its own folder.
    fs::create_symlink("../store/run.ckpt", dir.file("links/hop.ckpt"));
    fs::create_symlink(dir.file("links/hop.ckpt"), dir.file("links/run.ckpt"));
    std::string error;
    ASSERT_TRUE(writeFileAtomically(dir.file("links/run.ckpt"), "new", error)) << error;
    EXPECT_EQ(readText(dir.file("store/run.ckpt")), "new");
    EXPECT_TRUE(fs::is_symlink(dir.file("links/run.ckpt")));
    EXPECT_TRUE(fs::is_symlink(dir.file("links/hop.ckpt")));
    EXPECT_EQ(entries(dir.file("links")), (std::vector<std::string>{"hop.ckpt", "run.ckpt"}));
    EXPECT_EQ(entries(dir.file("store")), std::vector<std::string>{"run.ckpt"});
    // A loop of links is refused.
    fs::create_symlink("b", dir.file("a"));
    fs::create_symlink("a", dir.file("b"));
    EXPECT_FALSE(writeFileAtomically(dir.file("a"), "x", error));
    EXPECT_TRUE(fs::is_symlink(dir.file("a")) && fs::is_symlink(dir.file("b")));
}
