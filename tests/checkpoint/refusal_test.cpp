// Refused checkpoints: another format version, a wrong magic, every cut,
// flipped bytes, trailing bytes, records that are well framed but describe
// an impossible universe, run objects that do not match, and paths that are
// not regular files. A refusal changes nothing.
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>

#include "checkpoint_support.h"
#include "files/checkpoint.h"
#include "files/document.h"
#include "files/platform.h"
#include "files/project.h"
#include "random_universe.h"
#include "test_util.h"

namespace {

struct RideDoc {
    ScratchDir dir;
    KeepCwd keep;
    HeadlessPlatform platform;
    CellforgeDocument* doc = nullptr;

    RideDoc(const std::string& terminals = RideProject::terminals(), const std::string& stimulus = RideProject::stimulus()) {
        writeText(dir.file("ride.grd"), RideProject::grid());
        writeText(dir.file("ride.trm"), terminals);
        writeText(dir.file("ride.sti"), stimulus);
        writeText(dir.file("ride.prj"), "ride.grd\nride.trm\nride.sti\n");
        ProjectLoadResult r;
        EXPECT_TRUE(loadProjectFromPath(platform, dir.file("ride.prj"), &r));
        doc = r.document;
    }
    void run(int n) {
        const bool p = doc->pauseForRead();
        for (int i = 0; i < n; ++i) doc->driver().runGeneration();
        doc->resumeAfterRead(p);
    }
    std::string state() {
        std::string bytes, error;
        EXPECT_TRUE(writeCheckpointBytes(*doc, bytes, error)) << error;
        return bytes;
    }
};

// Re-seals a changed payload with a valid checksum, as a careful forger would.
std::string reseal(std::string bytes) {
    const size_t n = bytes.size() - 4;
    const uint32_t crc = uint32_t(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()), uInt(n)));
    for (int k = 0; k < 4; ++k) bytes[n + size_t(k)] = char(crc >> (8 * k));
    return bytes;
}

void putU32(std::string& s, size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) s[at + size_t(k)] = char(v >> (8 * k));
}

}  // namespace

TEST(CheckpointRefusal, FramingFaultsAreRefusedAndChangeNothing) {
    RideDoc ride;
    ASSERT_NE(ride.doc, nullptr);
    ride.run(12);
    const std::string good = ride.state();
    ride.run(5);
    const std::string before = ride.state();
    auto refused = [&](const std::string& bytes, const char* expect) {
        std::string error;
        EXPECT_FALSE(readCheckpointBytes(*ride.doc, bytes, error));
        EXPECT_NE(error.find(expect), std::string::npos) << "message: " << error;
        EXPECT_EQ(ride.state(), before) << "a refused checkpoint changed the document";
    };

    std::string magic = good;
    magic[0] = 'X';
    refused(magic, "not a checkpoint");
    std::string version = good;
    putU32(version, 8, kCheckpointVersion + 1);
    refused(reseal(version), "version");
    refused(good + "x", "after its end");
    refused(reseal(good + "xxxx"), "");  // the length field no longer covers the payload

    // Every cut is refused.
    for (size_t len = 0; len < good.size(); ++len) {
        CheckpointImage image;
        std::string error;
        ASSERT_FALSE(parseCheckpoint(std::string_view(good).substr(0, len), image, error)) << "cut at " << len;
        ASSERT_FALSE(error.empty());
    }
    // Every single flipped bit in a sample of bytes (and every byte once).
    for (size_t i = 0; i < good.size(); ++i) {
        std::string bad = good;
        bad[i] = char(bad[i] ^ (1 << (i % 8)));
        CheckpointImage image;
        std::string error;
        ASSERT_FALSE(parseCheckpoint(bad, image, error)) << "flip at " << i;
    }
    std::string error;
    EXPECT_TRUE(readCheckpointBytes(*ride.doc, good, error)) << error;
}

TEST(CheckpointRefusal, ImpossibleUniverseRecords) {
    // Two adjacent blocks with a part each, linked across the block face.
    Universe u;
    loadGrid(u, "0 0 0 1 1 4\n1 4 0 0 0 0 0 0 0 0 0 0 0 0 0\n0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
                "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n1 5 0 0 0 0 0 0 0 0 0 0 0 0 0\n");
    ASSERT_EQ(u.blockCount(), 2u);
    // The first version's layout (which still reads): 34 bytes of counters,
    // u32 region count (0), u64 block count, then blocks of 12 + 4 + 132 + 1
    // bytes (no extras here), then the lists.
    const std::string good = snapshot(u, 1);
    const size_t blocks = 34 + 4 + 8, blockBytes = 12 + 4 + 132 + 1;
    const size_t secondBlock = blocks + blockBytes;
    const size_t lists = blocks + 2 * blockBytes;
    const size_t linksOf = 16 + 10 * 12;  // the links column inside a block

    Universe target;
    loadGrid(target, random_universe::generate(5));
    const std::string before = snapshot(target);
    auto refused = [&](const std::string& bytes, const char* expect) {
        std::string error;
        EXPECT_FALSE(UniverseCheckpoint::read(target, bytes, {}, error));
        EXPECT_NE(error.find(expect), std::string::npos) << "message: " << error;
        EXPECT_EQ(snapshot(target), before);
    };
    std::string error;
    {
        Universe ok;
        ASSERT_TRUE(UniverseCheckpoint::read(ok, good, {}, error)) << error;
    }
    std::string dup = good;
    std::memcpy(dup.data() + secondBlock, good.data() + blocks, 12);
    refused(dup, "twice");
    std::string far = good;
    putU32(far, blocks, 0x7fffffffu);
    refused(far, "coordinate range");
    std::string flags = good;
    putU32(flags, blocks + 12, 64);
    refused(flags, "unknown list flags");
    std::string unlisted = good;
    putU32(unlisted, blocks + 12, good[blocks + 12] ^ OnNext);
    refused(unlisted, "list");
    std::string badIndex = good;
    putU32(badIndex, lists + 8, 7);  // first member of the current list
    refused(badIndex, "list");
    std::string longList = good;
    putU32(longList, lists, 1000);
    refused(longList, "longer than the universe");
    std::string hugeCount = good;
    putU32(hugeCount, blocks - 8, 0xffffffffu);
    putU32(hugeCount, blocks - 4, 0xffffu);
    refused(hugeCount, "cut off");
    std::string hugeRegions = good;
    putU32(hugeRegions, 34, 0x7fffffffu);
    refused(hugeRegions, "cut off");
    // A link toward a block that is not there would be followed blindly by the rules.
    for (int s = 0; s < 12; ++s) {
        std::string link = good;
        link[blocks + linksOf + size_t(s)] = char(0x3f);
        refused(link, "inconsistent");
    }
    // Extras that name a region or a channel that does not exist.
    std::string region = good;
    region[blocks + 16 + 132] = 1;
    region.insert(blocks + 16 + 133, std::string(48, '\0'));
    putU32(region, blocks + 16 + 133, 1);
    refused(region, "region 0 of 0");
    std::string binding = good;
    binding[blocks + 16 + 132] = 2;
    binding.insert(blocks + 16 + 133, std::string(48, '\0'));
    putU32(binding, blocks + 16 + 133 + 4, 3);
    refused(binding, "channel 2 of 0");
    std::string version = good;
    putU32(version, 0, 99);
    refused(version, "version 99");

    // The second version writes the extras byte before the columns, and
    // columns seen before as the index of their first appearance. Both
    // blocks here differ, so the second is written out. Made to name the
    // first's columns it is refused all the same, since their link then
    // points at nothing; made to name itself or a later one, it is refused
    // before anything is read from the index.
    const std::string good2 = snapshot(u);
    ASSERT_EQ(good2.size(), good.size());
    const size_t extras2 = blocks + blockBytes + 16;
    ASSERT_EQ(good2[extras2], 0);
    auto naming = [&](uint32_t index) {
        std::string bytes = good2.substr(0, extras2);
        bytes += char(8);
        bytes.append(4, '\0');
        putU32(bytes, extras2 + 1, index);
        return bytes + good2.substr(extras2 + 1 + 132);
    };
    refused(naming(0), "one-sided link");
    refused(naming(1), "names cell contents 1, of which only 1 came before");
    refused(naming(0xffffffffu), "of which only 1");
    std::string cut2 = naming(0);
    refused(cut2.substr(0, extras2 + 3), "cut off");
}

TEST(CheckpointRefusal, RandomDamageNeverCrashes) {
    // Damaged snapshots without the file checksum: whatever is accepted must
    // be a universe the engine can run.
    random_universe::Rng rng(2024);
    for (int round = 0; round < 300; ++round) {
        Universe u;
        loadGrid(u, random_universe::generate(uint64_t(round % 20) + 1));
        for (int g = 0; g < round % 7; ++g) u.stepGeneration();
        std::string bytes = snapshot(u);
        const int edits = int(rng.range(1, 4));
        for (int e = 0; e < edits; ++e) {
            const size_t at = size_t(rng.range(0, int64_t(bytes.size()) - 1));
            switch (rng.range(0, 2)) {
            case 0: bytes[at] = char(rng.range(0, 255)); break;
            case 1: bytes.erase(at, size_t(rng.range(1, 16))); break;
            default: bytes.insert(at, size_t(rng.range(1, 8)), char(rng.range(0, 255)));
            }
        }
        Universe target;
        std::string error;
        if (UniverseCheckpoint::read(target, bytes, {}, error)) {
            ASSERT_EQ(target.verifyConsistency(), "");
            for (int g = 0; g < 5; ++g) target.stepGeneration();
            ASSERT_EQ(target.verifyConsistency(), "");
        } else {
            ASSERT_FALSE(error.empty());
        }
    }
}

TEST(CheckpointRefusal, RunObjectsThatDoNotMatch) {
    std::string bytes;
    {
        RideDoc ride;
        ASSERT_NE(ride.doc, nullptr);
        ride.run(9);
        bytes = ride.state();
    }
    auto refusedBy = [&](RideDoc& other, const char* expect) {
        ASSERT_NE(other.doc, nullptr);
        other.run(3);
        const std::string before = other.state();
        std::string error;
        EXPECT_FALSE(readCheckpointBytes(*other.doc, bytes, error));
        EXPECT_NE(error.find(expect), std::string::npos) << "message: " << error;
        EXPECT_EQ(other.state(), before);
    };
    {
        std::string renamed = RideProject::terminals();
        renamed.replace(renamed.find("nose"), 4, "tail");
        RideDoc other(renamed, "car.body { t=0 1 1 0 2 1 1 0 3 loop }\nfixed.probe { t=2 1 4 0 5 loop }\n");
        refusedBy(other, "terminal 'car.nose' is not in the loaded table");
    }
    {
        std::string stimulus = RideProject::stimulus();
        stimulus.replace(stimulus.find("b=40"), 4, "b=41");
        RideDoc other(RideProject::terminals(), stimulus);
        refusedBy(other, "stimulus channel 'car.nose' has other events");
    }
    {
        std::string turned = RideProject::terminals();
        turned.replace(turned.find("6 2 0 0 1"), 9, "6 2 0 2 1");
        RideDoc other(turned);
        refusedBy(other, "terminal 'fixed.probe' has another direction");
    }
    {
        // A bare grid document has no run objects at all.
        KeepCwd keep;
        ScratchDir dir;
        writeText(dir.file("ride.grd"), RideProject::grid());
        CellforgeDocument doc;
        doc.withUniverse([&](Universe& u) { openGridDocument(u, dir.file("ride.grd")); });
        std::string error;
        EXPECT_FALSE(readCheckpointBytes(doc, bytes, error));
        EXPECT_NE(error.find("terminal table"), std::string::npos) << error;
    }
    {
        // The same project with its stimulus file repeated in another order
        // of channels still matches: entries go by name, not by position.
        std::string reordered = "fixed.probe { t=2 1 4 0 5 loop }\ncar.nose { b=40 1 1 0 }\ncar.body { t=0 1 1 0 2 1 1 0 3 loop }\n";
        RideDoc other(RideProject::terminals(), reordered);
        ASSERT_NE(other.doc, nullptr);
        std::string error;
        EXPECT_TRUE(readCheckpointBytes(*other.doc, bytes, error)) << error;
    }
}

TEST(CheckpointRefusal, PathsThatAreNotRegularFiles) {
    ScratchDir dir;
    CheckpointImage image;
    std::string error;
    EXPECT_FALSE(readCheckpointFile(dir.file("missing"), image, error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
    EXPECT_FALSE(readCheckpointFile(dir.path().string(), image, error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    // Would block forever if the reader opened it like a file.
    EXPECT_FALSE(readCheckpointFile(dir.file("fifo"), image, error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_FALSE(readCheckpointFile("/dev/null", image, error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    writeText(dir.file("empty"), "");
    EXPECT_FALSE(readCheckpointFile(dir.file("empty"), image, error));
    EXPECT_NE(error.find("not a checkpoint"), std::string::npos) << error;
}

TEST(CheckpointRefusal, FilesWhoseSizeDisagreesWithTheirHeader) {
    ScratchDir dir;
    KeepCwd keep;
    writeText(dir.file("ride.grd"), RideProject::grid());
    CellforgeDocument doc;
    doc.withUniverse([&](Universe& u) { openGridDocument(u, dir.file("ride.grd")); });
    const std::string path = dir.file("run.ckpt");
    std::string error, bytes;
    ASSERT_TRUE(writeCheckpoint(doc, path, error)) << error;
    bytes = readText(path);
    CheckpointImage image;
    ASSERT_TRUE(readCheckpointFile(path, image, error)) << error;
    writeText(path, bytes + "tail");
    EXPECT_FALSE(readCheckpointFile(path, image, error));
    EXPECT_NE(error.find("after its end"), std::string::npos) << error;
    writeText(path, bytes.substr(0, bytes.size() - 1));
    EXPECT_FALSE(readCheckpointFile(path, image, error));
    EXPECT_NE(error.find("cut off"), std::string::npos) << error;
    // A header announcing terabytes is refused without reading (or allocating) them.
    std::string huge = bytes.substr(0, 20);
    for (int k = 0; k < 8; ++k) huge[12 + size_t(k)] = char(k == 5 ? 1 : 0);
    writeText(path, huge);
    EXPECT_FALSE(readCheckpointFile(path, image, error));
    EXPECT_NE(error.find("larger than"), std::string::npos) << error;
    // A part beyond the coordinate edge never enters the universe, so every
    // checkpoint that is written reads back.
    size_t before = 0, after = 0;
    doc.withUniverse([&](Universe& u) {
        before = u.partCount();
        UniverseCell c;
        c.x = 1 << 30;
        c.partType = Conductor;
        u.placeCell(c);
        after = u.partCount();
    });
    EXPECT_EQ(after, before);
    ASSERT_TRUE(writeCheckpoint(doc, path, error)) << error;
    EXPECT_TRUE(readCheckpointFile(path, image, error)) << error;
}
