// Animation runs: one picture per stored grid of a run list file.
//
// A run list (.asf) is a stream of tokens: folder, prefix, then groups
// of name x y z alt az. The main frame's timer drives a four-step machine per
// entry: decompress, (rename), open, save-and-close.
//
// Stored grids are the user's data, so the run never consumes them: name.gz
// is inflated in-process into a temporary grid (name + ".grd", or a file in
// the temporary folder when that name is already taken by another file), and
// only that temporary grid is deleted again. An entry whose grid cannot be
// inflated or opened is skipped; after the last entry the run list is
// uninstalled, so the machine never reads past the end of its entries.
//
// The machine talks to the windowing side only through AnimationHost, which
// keeps it independent of Qt widgets and lets it run against a test host.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

struct AnimationEntry {
    std::string name;  // grid path without extension; the stored file is name + ".gz"
    float x = 0, y = 0, z = 0;
    float alt = 0, az = 0;
};

struct AnimationSpec {
    std::string folder;
    std::string prefix;
    std::vector<AnimationEntry> entries;
    size_t currentIndex = 0;
};

AnimationSpec readAnimationSpec(std::istream& in);

// folder/prefixNNNNNN.bmp with at least six digits.
std::string frameFileName(const std::string& folder, const std::string& prefix, long long number);

// Inflates a gzip file into `to`; false (and no output file left) on any
// failure. The source is never changed.
bool gunzipFile(const std::string& from, const std::string& to);

class AnimationHost {
public:
    virtual ~AnimationHost() = default;
    // Opens the grid as a new document window; an opaque non-zero handle, or 0.
    virtual uintptr_t openGridDocument(const std::string& path) = 0;
    // Places the first view's camera relative to the universe's marker,
    // maximises its window and draws a frame at once.
    virtual void showEntry(uintptr_t doc, const AnimationEntry& entry) = 0;
    // Saves the first view's picture; false when the document is gone.
    virtual bool saveFirstViewBitmap(uintptr_t doc, const std::string& path) = 0;
    virtual void closeDocument(uintptr_t doc) = 0;
    // An entry that gives no picture, and why ("cannot read g1.gz").
    virtual void entryMissing(size_t /*index*/, const AnimationEntry& /*entry*/, const std::string& /*why*/) {}
};

class AnimationRunner {
public:
    static constexpr int kTickMs = 50;
    static constexpr int kStepWaitMs = 100;

    void install(std::unique_ptr<AnimationSpec> plan);
    bool installed() const { return plan_ != nullptr; }
    const AnimationSpec* plan() const { return plan_.get(); }
    int step() const { return step_; }
    bool waiting() const { return waiting_; }
    // The last installed run's account, kept after it finished: pictures
    // written, and one line per entry that gave none.
    size_t picturesWritten() const { return written_; }
    const std::vector<std::string>& missingEntries() const { return missing_; }

    // One timer tick.
    void advance(AnimationHost& host);

private:
    void finishEntry();
    void removeTemporaryGrid();

    std::unique_ptr<AnimationSpec> plan_;
    bool waiting_ = false;
    int step_ = 0;
    int elapsedMs_ = 0;
    uintptr_t document_ = 0;
    uintptr_t staleDocument_ = 0;  // left open by a replaced run
    std::string temporaryGrid_;
    bool entryFailed_ = false;
    bool busy_ = false;
    size_t written_ = 0;
    std::vector<std::string> missing_;
};
