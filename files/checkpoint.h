// Checkpoint files: everything a document's next generation depends on, so
// that "run N, checkpoint, resume, run M" ends exactly like "run N + M".
//
// A grid file describes a machine; a checkpoint freezes a run. Beyond the
// universe snapshot (universe/checkpoint.h) it holds the run objects' moving
// parts, keyed by terminal name so that a checkpoint is resumed into the same
// project's freshly loaded run objects:
//   * every terminal's position (bound terminals travel with their parts),
//     with its direction and flag;
//   * every stimulus channel's clock and event indexes, with its event counts
//     and a checksum of its events;
//   * the monitor's output name and how many bytes it had written.
// Names repeat in real tables, so an entry means "the k-th terminal (or
// channel) of this name". Resuming refuses, naming the first difference,
// when the loaded run objects do not match one for one: a partial resume
// would silently be a different run.
//
// File layout (little-endian): 8-byte magic, u32 format version, u64 payload
// length, payload, CRC-32 of all that. The payload is the run-object record
// followed by the universe record. Anything else - another version, a cut,
// a flipped byte, trailing bytes - is refused before a single field changes.
//
// Writing goes to a temporary file in the target's folder, is synced, and is
// renamed over the target: a crash leaves the old checkpoint or the new one,
// never half of one.
//
// Monitor output: loading a project starts its monitor file afresh. To
// continue it, read the checkpoint first and call keepMonitorOutput before
// the project is loaded; applying then writes the kept bytes back, so the
// file reads as if the run had never stopped. Without it the monitor simply
// continues in the file the load started.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/stimulus.h"
#include "universe/universe.h"

class CellforgeDocument;

// Version 2 adds the source record (see sourceFingerprint); version 1 files
// still read, without that check.
constexpr uint32_t kCheckpointVersion = 2;
constexpr uint32_t kOldestCheckpointVersion = 1;

// What a run was loaded from, as text: one line per input that decides the
// run ("grid", "terminals", "stimulus", "monitor", "advance"), each with the
// file's size and CRC-32. A document keeps the fingerprint of its load; a
// checkpoint carries it, and resuming refuses a run loaded from other files,
// naming the first input that differs. An empty fingerprint is a document
// built in memory.
struct SourceInput {
    std::string role;
    std::string path;  // empty for a value without a file (the advance count)
    std::string value;
};
std::string sourceFingerprint(const std::vector<SourceInput>& inputs);

// A checkpoint read and checked, not yet applied to a document.
struct CheckpointImage {
    struct TerminalRecord {
        std::string name;
        int32_t x = 0, y = 0, z = 0;
        int32_t direction = 0;
        uint8_t flag = 0;
    };
    struct ChannelRecord {
        std::string name;  // the terminal's name; empty when the channel has none
        bool hasTerminal = false;
        uint32_t bitEvents = 0, partEvents = 0, eventsCrc = 0;
        uint8_t loop = 0;
    };

    bool hasTerminals = false;
    std::vector<TerminalRecord> terminals;
    bool hasStimulus = false;
    std::vector<ChannelRecord> channels;
    // Stand-ins for the channels, carrying the saved clock and indexes; the
    // staged universe's bindings point at them until the image is applied.
    std::vector<std::unique_ptr<StimulusChannel>> standIns;
    bool hasMonitor = false;
    std::string monitorOutput;
    bool monitorOpen = false;
    uint64_t monitorBytes = 0;
    uint32_t monitorGroups = 0;
    std::optional<std::string> monitorPrefix;  // set by keepMonitorOutput
    uint32_t version = kCheckpointVersion;
    std::string source;  // the loaded run's fingerprint (version 2 on)
    std::unique_ptr<Universe> universe;  // after the stand-ins: goes first
    uint32_t generation() const { return universe ? universe->generation : 0; }
};

// ---- writing
// The document's state as checkpoint bytes (appended to `out`).
bool writeCheckpointBytes(CellforgeDocument& doc, std::string& out, std::string& error);
// Written atomically to `path` (see above).
bool writeCheckpoint(CellforgeDocument& doc, const std::string& path, std::string& error);

// ---- reading
// Parses and checks bytes or a file (which must be a regular file).
bool parseCheckpoint(std::string_view bytes, CheckpointImage& image, std::string& error);
bool readCheckpointFile(const std::string& path, CheckpointImage& image, std::string& error);
// Reads the part of the monitor output that the checkpoint accounts for,
// from `folder` (the project's folder) when the name is relative. Call before
// loading the project, which truncates that file.
bool keepMonitorOutput(CheckpointImage& image, const std::string& folder, std::string& error);
// Replaces the document's universe and run-object positions. All checks come
// first: on false nothing has changed. The image's universe is used up.
// `anySource` skips the check that the document was loaded from the files
// the checkpointed run was loaded from.
bool applyCheckpoint(CellforgeDocument& doc, CheckpointImage& image, std::string& error, bool anySource = false);

// Parse + apply in one step.
bool readCheckpointBytes(CellforgeDocument& doc, std::string_view bytes, std::string& error);
bool readCheckpoint(CellforgeDocument& doc, const std::string& path, std::string& error);

// Writes `bytes` to `path` through a synced temporary file in the same
// folder and a rename. A symbolic link is followed: the file it names is
// replaced, in that file's own folder, and the link stays. Anything but a
// regular file in the way (a folder, FIFO, device or socket) is refused and
// left as it is. On failure no temporary file is left, an existing `path` is
// untouched, and errno says why (EISDIR or EINVAL for a refused target).
bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string& error);
