// Checkpoint files. A checksum guards the whole file, so raw mutations
// almost never get past it; the first byte therefore chooses between the
// input as it is (odd) and the rest of the input as a payload that the
// harness seals with a correct header and checksum (even), which is what
// puts the record parsers themselves under the fuzzer. An accepted image
// must hold a consistent universe that runs.
#include <zlib.h>

#include <cstring>
#include <string>
#include <string_view>

#include "files/checkpoint.h"
#include "fuzz/fuzz_support.h"
#include "universe/universe.h"

namespace {

void put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xff));
}

std::string seal(std::string_view payload) {
    static const char magic[8] = {'C', 'F', 'C', 'K', 'P', 'T', '\r', '\n'};
    std::string out(magic, sizeof magic);
    put32(out, kCheckpointVersion);
    const uint64_t n = payload.size();
    put32(out, uint32_t(n));
    put32(out, uint32_t(n >> 32));
    out.append(payload);
    put32(out, uint32_t(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(out.data()), uInt(out.size()))));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string bytes = (data[0] & 1) ? std::string(rest) : seal(rest);
    CheckpointImage image;
    std::string error;
    if (!parseCheckpoint(bytes, image, error)) {
        if (error.empty()) fuzz::fail("a refused checkpoint gave no reason");
        return 0;
    }
    Universe* u = image.universe.get();
    if (!u) fuzz::fail("an accepted checkpoint holds no universe");
    std::string why = u->verifyConsistency();
    if (!why.empty()) fuzz::fail("accepted checkpoint: " + why);
    for (int g = 0; g < 8; ++g) {
        u->stepGeneration();
        why = u->verifyConsistency();
        if (!why.empty()) fuzz::fail("after resuming: " + why);
    }
    return 0;
}
