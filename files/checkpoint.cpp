// Checkpoint files; see checkpoint.h for the layout and the matching rules.
#include "files/checkpoint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <utility>

#include "files/document.h"
#include "files/input_file.h"
#include "files/monitor.h"
#include "files/terminals.h"
#include "universe/byte_codec.h"
#include "universe/checkpoint.h"

namespace {

constexpr char kMagic[8] = {'C', 'F', 'C', 'K', 'P', 'T', '\r', '\n'};
constexpr size_t kHeaderBytes = 8 + 4 + 8;
constexpr size_t kTrailerBytes = 4;
// A block's origin, flags, cell columns and extras' mask, with room for a
// few extras: enough that writing a checkpoint rarely grows its buffer.
constexpr size_t kBytesPerBlockEstimate = 224;
// About 160 million parts; beyond this a file is refused before it is read.
constexpr uint64_t kMaxCheckpointBytes = uint64_t(4) << 30;

using Out = ByteWriter;
using In = ByteReader;

uint32_t crcOf(const void* data, size_t n, uint32_t crc = 0) {
    const auto* p = static_cast<const Bytef*>(data);
    if (crc == 0) crc = uint32_t(crc32(0L, Z_NULL, 0));
    while (n > 0) {
        const uInt chunk = uInt(std::min<size_t>(n, 1u << 30));
        crc = uint32_t(crc32(crc, p, chunk));
        p += chunk;
        n -= chunk;
    }
    return crc;
}

uint32_t eventsCrc(const StimulusChannel& ch) {
    std::string bytes;
    Out o{bytes};
    for (const BitEvent& e : ch.bitEvents) {
        o.u32(e.time);
        o.u8(e.on);
    }
    for (const PartEvent& e : ch.partEvents) {
        o.u32(e.time);
        o.i32(e.partType);
        o.i32(e.front);
        o.i32(e.side);
    }
    return crcOf(bytes.data(), bytes.size());
}

std::string channelName(const StimulusChannel& ch) { return ch.terminal ? ch.terminal->name : std::string(); }

// "the k-th entry named n": the key under which run objects are matched.
using NameKey = std::pair<std::string, size_t>;
template <class NameOf>
std::vector<NameKey> occurrenceKeys(size_t count, NameOf nameOf) {
    std::map<std::string, size_t> seen;
    std::vector<NameKey> keys;
    keys.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        std::string name = nameOf(i);
        const size_t k = seen[name]++;
        keys.emplace_back(std::move(name), k);
    }
    return keys;
}

std::string describe(const NameKey& key, const char* what) {
    std::string s = std::string(what) + (key.first.empty() ? " without a terminal" : " '" + key.first + "'");
    if (key.second > 0) s += " (occurrence " + std::to_string(key.second + 1) + ")";
    return s;
}

std::string systemError(const std::string& what, const std::string& path) {
    return what + " '" + path + "': " + std::strerror(errno);
}

}  // namespace

// ---------------------------------------------------------------- writing

bool writeCheckpointBytes(CellforgeDocument& doc, std::string& out, std::string& error) {
    bool ok = false;
    doc.withUniverse([&](Universe& u) {
        // Written once, straight into a buffer sized for it: a keyframe is
        // taken while the run waits, and every reallocation of a megabyte
        // string is a fresh mapping to fault in page by page. A caller that
        // brings room of its own (a keyframe's ready buffer) knows best.
        const size_t start = out.size();
        if (out.capacity() - start < kHeaderBytes + kTrailerBytes + 4096)
            out.reserve(start + kHeaderBytes + kTrailerBytes + 4096 + u.blockCount() * kBytesPerBlockEstimate);
        out.append(kMagic, sizeof kMagic);
        Out h{out};
        h.u32(kCheckpointVersion);
        const size_t lengthAt = out.size();
        h.u64(0);  // the payload's length, once it is known
        const size_t payloadAt = out.size();
        std::string& payload = out;
        Out o{payload};
        o.str(doc.source());
        const TerminalTable* terminals = doc.terminals();
        o.u8(terminals != nullptr);
        o.u32(terminals ? uint32_t(terminals->size()) : 0);
        if (terminals)
            for (const auto& t : terminals->terminals) {
                o.str(t->name);
                o.i32(t->x);
                o.i32(t->y);
                o.i32(t->z);
                o.i32(t->direction);
                o.u8(t->flag);
            }
        std::vector<const StimulusChannel*> channels;
        const Stimulus* stimulus = doc.stimulus();
        o.u8(stimulus != nullptr);
        o.u32(stimulus ? uint32_t(stimulus->channels.size()) : 0);
        if (stimulus)
            for (const auto& ch : stimulus->channels) {
                channels.push_back(ch.get());
                o.str(channelName(*ch));
                o.u8(ch->terminal != nullptr);
                o.u32(uint32_t(ch->bitEvents.size()));
                o.u32(uint32_t(ch->partEvents.size()));
                o.u32(eventsCrc(*ch));
                o.u8(ch->loop);
                o.u32(ch->bitIndex);
                o.u32(ch->partIndex);
                o.u32(ch->clock);
            }
        Monitor* monitor = doc.monitor();
        o.u8(monitor != nullptr);
        if (monitor) {
            o.str(monitor->outputName);
            const bool open = monitor->output.is_open();
            o.u8(open);
            // Every line is flushed as it is written, so the position is what the file holds.
            const std::streamoff at = open ? std::streamoff(monitor->output.tellp()) : 0;
            o.u64(at > 0 ? uint64_t(at) : 0);
            o.u32(uint32_t(monitor->groups.size()));
        }
        if (!UniverseCheckpoint::write(u, channels, payload, error)) {
            out.resize(start);
            return;
        }
        const uint64_t length = out.size() - payloadAt;
        for (int i = 0; i < 8; ++i) out[lengthAt + size_t(i)] = char(length >> (8 * i));
        h.u32(crcOf(out.data() + start, out.size() - start));
        ok = true;
    });
    return ok;
}

namespace {

// The file `path` names, through any symbolic links (a relative link is read
// from the link's own folder), so that the file is replaced and the link
// stays. False on a loop of links.
bool followLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string target(size_t(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) return false;
        target.resize(size_t(n));
        if (!target.empty() && target[0] == '/') {
            path = target;
        } else {
            const std::filesystem::path folder = std::filesystem::path(path).parent_path();
            path = folder.empty() ? target : (folder / target).string();
        }
    }
    errno = ELOOP;
    return false;
}

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string& error) {
    namespace fs = std::filesystem;
    if (fs::path(path).filename().empty()) {
        errno = EISDIR;
        error = "'" + path + "' names a folder, not a file";
        return false;
    }
    std::string file = path;
    if (!followLinks(file)) {
        error = systemError("cannot follow the links of", path);
        return false;
    }
    // A rename would put a regular file in place of a FIFO, a device or a
    // folder's entry; whatever stands there is left as it is.
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        const bool folder = S_ISDIR(st.st_mode);
        errno = folder ? EISDIR : EINVAL;
        error = "'" + path + "' is " + (folder ? "a folder" : "a FIFO, device or socket") +
                ", not a regular file; it is left as it is";
        return false;
    }
    const fs::path target(file);
    std::string temp = file + ".tmp-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = systemError("cannot create a temporary file beside", path);
        return false;
    }
    auto fail = [&](const std::string& what) {
        error = systemError(what, path);
        ::unlink(temp.c_str());
        return false;
    };
    ::fchmod(fd, 0644);
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            const int saved = errno;
            ::close(fd);
            errno = saved;
            return fail("cannot write");
        }
        p += n;
        left -= size_t(n);
    }
    int synced;
    while ((synced = ::fsync(fd)) != 0 && errno == EINTR) {
    }
    if (synced != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return fail("cannot sync");
    }
    if (::close(fd) != 0) return fail("cannot write");
    if (::rename(temp.c_str(), file.c_str()) != 0) return fail("cannot replace");
    // The rename itself is durable only once the folder is synced.
    fs::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

bool writeCheckpoint(CellforgeDocument& doc, const std::string& path, std::string& error) {
    std::string bytes;
    if (!writeCheckpointBytes(doc, bytes, error)) return false;
    return writeFileAtomically(path, bytes, error);
}

// ---------------------------------------------------------------- reading

bool parseCheckpoint(std::string_view bytes, CheckpointImage& image, std::string& error) {
    if (bytes.size() < sizeof kMagic || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        error = "not a checkpoint file";
        return false;
    }
    In h{reinterpret_cast<const unsigned char*>(bytes.data()) + sizeof kMagic, bytes.size() - sizeof kMagic};
    const uint32_t version = h.u32();
    const uint64_t length = h.u64();
    if (h.failed) {
        error = "the checkpoint is cut off";
        return false;
    }
    if (version < kOldestCheckpointVersion || version > kCheckpointVersion) {
        error = "checkpoint format version " + std::to_string(version) + ", this program reads versions " +
                std::to_string(kOldestCheckpointVersion) + " to " + std::to_string(kCheckpointVersion);
        return false;
    }
    const size_t body = bytes.size() - kHeaderBytes;
    if (body < kTrailerBytes || length > body - kTrailerBytes) {
        error = "the checkpoint is cut off";
        return false;
    }
    if (length != body - kTrailerBytes) {
        error = "the checkpoint has bytes after its end";
        return false;
    }
    const size_t crcAt = kHeaderBytes + size_t(length);
    In t{reinterpret_cast<const unsigned char*>(bytes.data()) + crcAt, kTrailerBytes};
    if (t.u32() != crcOf(bytes.data(), crcAt)) {
        error = "the checkpoint is damaged (checksum mismatch)";
        return false;
    }

    CheckpointImage img;
    In in{reinterpret_cast<const unsigned char*>(bytes.data()) + kHeaderBytes, size_t(length)};
    auto damaged = [&](const char* what) {
        error = std::string("the checkpoint's ") + what + " record is malformed";
        return false;
    };
    img.version = version;
    if (version >= 2) {
        in.str(img.source);
        if (in.failed) return damaged("source");
    }
    img.hasTerminals = in.u8() != 0;
    uint32_t n = in.u32();
    if (in.failed || n > in.left / 21 || (!img.hasTerminals && n)) return damaged("terminal");
    img.terminals.resize(n);
    for (auto& t : img.terminals) {
        in.str(t.name);
        t.x = in.i32();
        t.y = in.i32();
        t.z = in.i32();
        t.direction = in.i32();
        t.flag = in.u8();
        if (in.failed) return damaged("terminal");
    }
    img.hasStimulus = in.u8() != 0;
    n = in.u32();
    if (in.failed || n > in.left / 30 || (!img.hasStimulus && n)) return damaged("stimulus");
    img.channels.resize(n);
    for (auto& c : img.channels) {
        in.str(c.name);
        c.hasTerminal = in.u8() != 0;
        c.bitEvents = in.u32();
        c.partEvents = in.u32();
        c.eventsCrc = in.u32();
        c.loop = in.u8();
        auto standIn = std::make_unique<StimulusChannel>();
        standIn->loop = c.loop;
        standIn->bitIndex = in.u32();
        standIn->partIndex = in.u32();
        standIn->clock = in.u32();
        if (in.failed || standIn->bitIndex > c.bitEvents || standIn->partIndex > c.partEvents ||
            (!c.hasTerminal && !c.name.empty()))
            return damaged("stimulus");
        img.standIns.push_back(std::move(standIn));
    }
    img.hasMonitor = in.u8() != 0;
    if (img.hasMonitor) {
        in.str(img.monitorOutput);
        img.monitorOpen = in.u8() != 0;
        img.monitorBytes = in.u64();
        img.monitorGroups = in.u32();
    }
    if (in.failed) return damaged("monitor");

    std::vector<StimulusChannel*> standIns;
    for (auto& s : img.standIns) standIns.push_back(s.get());
    size_t used = 0;
    img.universe =
        UniverseCheckpoint::load(std::string_view(reinterpret_cast<const char*>(in.p), in.left), standIns, error, &used);
    if (!img.universe) return false;
    if (used != in.left) return damaged("universe");
    image = std::move(img);
    return true;
}

bool readCheckpointFile(const std::string& path, CheckpointImage& image, std::string& error) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        error = systemError("cannot open", path);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "'" + path + "' is not a regular file";
        return false;
    }
    // Non-blocking, so that a FIFO swapped in after the check cannot stall us.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = systemError("cannot open", path);
        return false;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "'" + path + "' is not a regular file";
        return false;
    }
    auto readUpTo = [&](std::string& into, size_t want) {
        while (into.size() < want) {
            char buf[1 << 16];
            const ssize_t r = ::read(fd, buf, std::min(sizeof buf, want - into.size()));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) {
                error = systemError("cannot read", path);
                return false;
            }
            if (r == 0) break;
            into.append(buf, size_t(r));
        }
        return true;
    };
    // The header first: a file that is not a checkpoint, or whose size does
    // not match what its header announces, costs no more than these bytes.
    std::string bytes;
    if (!readUpTo(bytes, kHeaderBytes)) return false;
    if (bytes.size() == kHeaderBytes && std::memcmp(bytes.data(), kMagic, sizeof kMagic) == 0) {
        In h{reinterpret_cast<const unsigned char*>(bytes.data()) + sizeof kMagic, kHeaderBytes - sizeof kMagic};
        const uint32_t version = h.u32();
        const uint64_t length = h.u64();
        const bool known = version >= kOldestCheckpointVersion && version <= kCheckpointVersion;
        if (known && length <= kMaxCheckpointBytes) {
            // One byte more than announced, so that a longer file shows as such.
            const uint64_t want = std::min<uint64_t>(uint64_t(st.st_size), kHeaderBytes + length + kTrailerBytes + 1);
            bytes.reserve(size_t(want));
            if (!readUpTo(bytes, size_t(want))) return false;
        } else if (known) {
            error = "the checkpoint is larger than this program reads (" + std::to_string(kMaxCheckpointBytes) +
                    " bytes)";
            return false;
        }
    }
    // Anything else is refused by the parser with the fitting message.
    return parseCheckpoint(bytes, image, error);
}

bool keepMonitorOutput(CheckpointImage& image, const std::string& folder, std::string& error) {
    image.monitorPrefix.reset();
    if (!image.hasMonitor || !image.monitorOpen || image.monitorOutput.empty()) return true;
    std::string path = image.monitorOutput;
    if (path[0] != '/' && !folder.empty()) path = folder + (folder.back() == '/' ? "" : "/") + path;
    std::string kept;
    if (image.monitorBytes > 0) {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) < image.monitorBytes) {
            error = "the monitor output '" + path + "' no longer holds the " + std::to_string(image.monitorBytes) +
                    " bytes the checkpoint continues";
            return false;
        }
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            error = systemError("cannot read the monitor output", path);
            return false;
        }
        kept.resize(size_t(image.monitorBytes));
        size_t got = 0;
        while (got < kept.size()) {
            const ssize_t r = ::read(fd, kept.data() + got, kept.size() - got);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += size_t(r);
        }
        ::close(fd);
        if (got != kept.size()) {
            error = "cannot read the monitor output '" + path + "'";
            return false;
        }
    }
    image.monitorPrefix = std::move(kept);
    return true;
}

namespace {
// The first input whose line differs between two fingerprints, as words.
std::string firstSourceDifference(const std::string& saved, const std::string& loaded) {
    auto lines = [](const std::string& text) {
        std::map<std::string, std::string> byRole;
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(at, end - at);
            byRole[line.substr(0, line.find(' '))] = line;
            at = end + 1;
        }
        return byRole;
    };
    const auto a = lines(saved), b = lines(loaded);
    if (a.empty()) return "the checkpoint's run was built in memory, this one was loaded from files";
    if (b.empty()) return "the checkpoint's run was loaded from files, this one was built in memory";
    for (const char* role : {"grid", "terminals", "stimulus", "monitor", "advance"}) {
        const auto x = a.find(role), y = b.find(role);
        const bool inA = x != a.end(), inB = y != b.end();
        if (inA != inB) return std::string("only ") + (inA ? "the checkpoint's" : "this") + " run has a " + role;
        if (inA && x->second != y->second) return std::string("the ") + role + " differs";
    }
    return "the inputs differ";
}
}  // namespace

std::string sourceFingerprint(const std::vector<SourceInput>& inputs) {
    std::string out;
    for (const SourceInput& in : inputs) {
        out += in.role;
        if (in.path.empty()) {
            out += " " + in.value + "\n";
            continue;
        }
        // Read without blocking and only when it is a regular file; what
        // cannot be read is fingerprinted as such.
        InputFile f(in.path);
        uint64_t size = 0;
        uint32_t crc = 0;
        char buf[1 << 16];
        while (f.isOpen()) {
            f.read(buf, sizeof buf);
            const std::streamsize got = f.gcount();
            if (got <= 0) break;
            crc = crcOf(buf, size_t(got), crc);
            size += uint64_t(got);
        }
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08x", crc);
        out += f.isOpen() ? " " + std::to_string(size) + " " + hex + "\n" : std::string(" unreadable\n");
    }
    return out;
}

bool applyCheckpoint(CellforgeDocument& doc, CheckpointImage& image, std::string& error, bool anySource) {
    if (!image.universe) {
        error = "the checkpoint has already been applied";
        return false;
    }
    if (!anySource && image.version >= 2 && image.source != doc.source()) {
        error = "the checkpoint was taken from a run loaded from other files: " +
                firstSourceDifference(image.source, doc.source());
        return false;
    }
    bool ok = false;
    doc.withUniverse([&](Universe& u) {
        auto mismatch = [&](const std::string& what) {
            error = "the checkpoint does not match the loaded run objects: " + what;
            // Loading the project restarted the monitor file the checkpoint
            // continues; a refusal gives it back what it held.
            Monitor* m = doc.monitor();
            if (m && image.monitorPrefix && m->outputName == image.monitorOutput && m->output.is_open()) {
                m->output.close();
                m->output.clear();
                m->output.open(m->outputPath, std::ios::out | std::ios::trunc | std::ios::binary);
                m->output << *image.monitorPrefix << std::flush;
            }
        };
        // ---- every check first
        TerminalTable* terminals = doc.terminals();
        if (image.hasTerminals != (terminals != nullptr)) {
            mismatch(image.hasTerminals ? "it has a terminal table, the project none"
                                        : "the project has a terminal table, the checkpoint none");
            return;
        }
        std::vector<Terminal*> terminalFor(image.terminals.size(), nullptr);
        if (terminals) {
            if (terminals->size() != image.terminals.size()) {
                mismatch(std::to_string(image.terminals.size()) + " terminals in the checkpoint, " +
                         std::to_string(terminals->size()) + " loaded");
                return;
            }
            std::map<NameKey, Terminal*> loaded;
            const auto keys = occurrenceKeys(terminals->size(), [&](size_t i) { return terminals->at(i).name; });
            for (size_t i = 0; i < keys.size(); ++i) loaded[keys[i]] = &terminals->at(i);
            const auto saved = occurrenceKeys(image.terminals.size(), [&](size_t i) { return image.terminals[i].name; });
            for (size_t i = 0; i < saved.size(); ++i) {
                auto it = loaded.find(saved[i]);
                if (it == loaded.end()) {
                    mismatch(describe(saved[i], "terminal") + " is not in the loaded table");
                    return;
                }
                const auto& rec = image.terminals[i];
                if (it->second->direction != rec.direction || it->second->flag != rec.flag) {
                    mismatch(describe(saved[i], "terminal") + " has another direction or flag");
                    return;
                }
                terminalFor[i] = it->second;
            }
        }
        Stimulus* stimulus = doc.stimulus();
        if (image.hasStimulus != (stimulus != nullptr)) {
            mismatch(image.hasStimulus ? "it has a stimulus, the project none"
                                       : "the project has a stimulus, the checkpoint none");
            return;
        }
        std::vector<StimulusChannel*> channelFor(image.channels.size(), nullptr);
        if (stimulus) {
            if (stimulus->channels.size() != image.channels.size()) {
                mismatch(std::to_string(image.channels.size()) + " stimulus channels in the checkpoint, " +
                         std::to_string(stimulus->channels.size()) + " loaded");
                return;
            }
            auto& chs = stimulus->channels;
            std::map<NameKey, StimulusChannel*> loaded;
            const auto keys = occurrenceKeys(chs.size(), [&](size_t i) { return channelName(*chs[i]); });
            for (size_t i = 0; i < keys.size(); ++i) loaded[keys[i]] = chs[i].get();
            const auto saved = occurrenceKeys(image.channels.size(), [&](size_t i) { return image.channels[i].name; });
            for (size_t i = 0; i < saved.size(); ++i) {
                auto it = loaded.find(saved[i]);
                if (it == loaded.end()) {
                    mismatch(describe(saved[i], "stimulus channel") + " is not in the loaded stimulus");
                    return;
                }
                const StimulusChannel& ch = *it->second;
                const auto& rec = image.channels[i];
                if ((ch.terminal != nullptr) != rec.hasTerminal || ch.bitEvents.size() != rec.bitEvents ||
                    ch.partEvents.size() != rec.partEvents || ch.loop != rec.loop || eventsCrc(ch) != rec.eventsCrc) {
                    mismatch(describe(saved[i], "stimulus channel") + " has other events");
                    return;
                }
                channelFor[i] = it->second;
            }
        }
        Monitor* monitor = doc.monitor();
        if (image.hasMonitor != (monitor != nullptr)) {
            mismatch(image.hasMonitor ? "it has a monitor, the project none"
                                      : "the project has a monitor, the checkpoint none");
            return;
        }
        if (monitor && (monitor->outputName != image.monitorOutput || monitor->groups.size() != image.monitorGroups)) {
            mismatch("the monitor writes '" + monitor->outputName + "' with " + std::to_string(monitor->groups.size()) +
                     " groups, the checkpoint's wrote '" + image.monitorOutput + "' with " +
                     std::to_string(image.monitorGroups));
            return;
        }

        // ---- nothing below can fail
        std::map<const StimulusChannel*, StimulusChannel*> real;
        for (size_t i = 0; i < channelFor.size(); ++i) real[image.standIns[i].get()] = channelFor[i];
        UniverseCheckpoint::remapBindings(*image.universe, [&](StimulusChannel* c) {
            auto it = real.find(c);
            return it == real.end() ? nullptr : it->second;
        });
        UniverseCheckpoint::exchange(u, *image.universe);
        image.universe.reset();
        for (size_t i = 0; i < terminalFor.size(); ++i) {
            terminalFor[i]->x = image.terminals[i].x;
            terminalFor[i]->y = image.terminals[i].y;
            terminalFor[i]->z = image.terminals[i].z;
        }
        for (size_t i = 0; i < channelFor.size(); ++i) {
            channelFor[i]->bitIndex = image.standIns[i]->bitIndex;
            channelFor[i]->partIndex = image.standIns[i]->partIndex;
            channelFor[i]->clock = image.standIns[i]->clock;
        }
        if (monitor && monitor->outputHeld) {
            // Held back while the checkpoint was judged: opened only now.
            startMonitorOutput(*monitor);
            if (image.monitorPrefix && monitor->output.is_open()) monitor->output << *image.monitorPrefix << std::flush;
        } else if (monitor && image.monitorPrefix && monitor->output.is_open()) {
            monitor->output.close();
            monitor->output.clear();
            monitor->output.open(monitor->outputPath, std::ios::out | std::ios::trunc | std::ios::binary);
            monitor->output << *image.monitorPrefix << std::flush;
        }
        ok = true;
    });
    return ok;
}

bool readCheckpointBytes(CellforgeDocument& doc, std::string_view bytes, std::string& error) {
    CheckpointImage image;
    return parseCheckpoint(bytes, image, error) && applyCheckpoint(doc, image, error);
}

bool readCheckpoint(CellforgeDocument& doc, const std::string& path, std::string& error) {
    CheckpointImage image;
    return readCheckpointFile(path, image, error) && applyCheckpoint(doc, image, error);
}
